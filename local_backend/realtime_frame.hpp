// The frames of the realtime websocket: JSON arrays [join_ref, ref, topic, event, payload] for
// protocol "2.0.0" and JSON objects {"join_ref", "ref", "topic", "event", "payload"} for "1.0.0".
//
//   Frame frame = parseFrame(text, FrameFormat::object);     // throws FrameError
//   std::string reply = writeFrame(Frame{frame.joinRef, frame.ref, frame.topic, "phx_reply",
//                                        {{"status", "ok"}, {"response", object{}}}},
//                                  FrameFormat::object);
#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace local_backend {

enum class FrameFormat { array, object };

// The format of a protocol version: "2.0.0" speaks arrays, "1.0.0" objects; nothing otherwise.
std::optional<FrameFormat> frameFormatOf(std::string_view vsn);

struct Frame {
  std::optional<std::string> joinRef;
  std::optional<std::string> ref;
  std::string topic;
  std::string event;
  boost::json::object payload;
};

// A frame that is not JSON or not a frame's shape; what() says which.
class FrameError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How deeply a frame (or an HTTP broadcast) may nest: far beyond real payloads, so that a deep
// broadcast is relayed rather than refused.
inline constexpr std::size_t kFrameMaxDepth = 512;

// Parses JSON text nested at most kFrameMaxDepth levels; null with `error` set on failure.
boost::json::value parseFrameJSON(std::string_view text, boost::system::error_code& error);

// References may be strings, numbers (read as their decimal text) or null; topic and event must
// be strings and the payload an object. Throws FrameError.
Frame parseFrame(std::string_view text, FrameFormat format);

// Absent references are null in arrays and left out of objects.
std::string writeFrame(const Frame& frame, FrameFormat format);

}  // namespace local_backend
