#include "local_backend/realtime_frame.hpp"

#include <boost/json/array.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

namespace local_backend {

namespace json = boost::json;

namespace {

std::optional<std::string> reference(const json::value* value, std::string_view name) {
  if (value == nullptr || value->is_null()) return std::nullopt;
  if (value->is_string()) return std::string(value->as_string());
  if (value->is_int64()) return std::to_string(value->as_int64());
  if (value->is_uint64()) return std::to_string(value->as_uint64());
  throw FrameError("\"" + std::string(name) + "\" must be a string or null");
}

std::string text(const json::value* value, std::string_view name) {
  if (value == nullptr || !value->is_string()) {
    throw FrameError("\"" + std::string(name) + "\" must be a string");
  }
  return std::string(value->as_string());
}

json::object payloadOf(const json::value* value) {
  if (value == nullptr || !value->is_object()) throw FrameError("\"payload\" must be an object");
  return value->as_object();
}

json::value orNull(const std::optional<std::string>& text) {
  return text ? json::value(*text) : json::value(nullptr);
}

}  // namespace

std::optional<FrameFormat> frameFormatOf(std::string_view vsn) {
  if (vsn == "2.0.0") return FrameFormat::array;
  if (vsn == "1.0.0") return FrameFormat::object;
  return std::nullopt;
}

json::value parseFrameJSON(std::string_view text, boost::system::error_code& error) {
  json::parse_options options;
  options.max_depth = kFrameMaxDepth;
  return json::parse(text, error, {}, options);
}

Frame parseFrame(std::string_view textFrame, FrameFormat format) {
  boost::system::error_code error;
  const json::value parsed = parseFrameJSON(textFrame, error);
  if (error) throw FrameError("the frame is not JSON: " + error.message());
  Frame frame;
  if (format == FrameFormat::array) {
    if (!parsed.is_array() || parsed.as_array().size() != 5) {
      throw FrameError("a frame must be an array of five elements");
    }
    const auto& items = parsed.as_array();
    frame.joinRef = reference(&items[0], "join_ref");
    frame.ref = reference(&items[1], "ref");
    frame.topic = text(&items[2], "topic");
    frame.event = text(&items[3], "event");
    frame.payload = payloadOf(&items[4]);
  } else {
    if (!parsed.is_object()) throw FrameError("a frame must be a JSON object");
    const auto& members = parsed.as_object();
    frame.joinRef = reference(members.if_contains("join_ref"), "join_ref");
    frame.ref = reference(members.if_contains("ref"), "ref");
    frame.topic = text(members.if_contains("topic"), "topic");
    frame.event = text(members.if_contains("event"), "event");
    frame.payload = payloadOf(members.if_contains("payload"));
  }
  return frame;
}

std::string writeFrame(const Frame& frame, FrameFormat format) {
  if (format == FrameFormat::array) {
    return json::serialize(json::array{orNull(frame.joinRef), orNull(frame.ref), frame.topic,
                                       frame.event, frame.payload});
  }
  json::object members;
  if (frame.joinRef) members["join_ref"] = *frame.joinRef;
  if (frame.ref) members["ref"] = *frame.ref;
  members["topic"] = frame.topic;
  members["event"] = frame.event;
  members["payload"] = frame.payload;
  return json::serialize(members);
}

}  // namespace local_backend
