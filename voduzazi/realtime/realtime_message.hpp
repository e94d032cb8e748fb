// RealtimeMessage: one message of the older realtime client, read from a five-element array
// frame [join_ref, ref, topic, event, payload], and the frame coding in both directions.
//
//   std::optional<RealtimeMessage> message = decodeArrayFrame(R"([null,"1","t","phx_reply",{}])");
//   if (message && message->status() == PushStatus::ok) use(message->payload());
//   Data frame = encodeArrayFrame("1", "2", "realtime:room", "phx_join", {});
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/data.hpp"
#include "voduzazi/realtime/push_status.hpp"

namespace voduzazi::realtime {

struct RealtimeMessage {
  std::string ref;                     // "" when the frame had none
  std::optional<std::string> joinRef;  // library-internal
  std::string topic;
  std::string event;
  JSONObject rawPayload;  // library-internal: the payload exactly as decoded

  // From a decoded frame: nothing unless it has at least five elements, a string topic and event
  // and an object payload. A join reference or reference that is not a string counts as absent
  // (the reference then is ""); elements after the fifth are ignored.
  static std::optional<RealtimeMessage> fromJSON(const JSONArray& frame);

  // rawPayload's "response" when that is an object, else rawPayload itself.
  const JSONObject& payload() const;
  // rawPayload's "status" when it is one of the status texts.
  std::optional<PushStatus> status() const;

  friend bool operator==(const RealtimeMessage&, const RealtimeMessage&) = default;
};

// The message in a received text frame; nothing when the text is not JSON, not an array, or not
// a frame's shape.
std::optional<RealtimeMessage> decodeArrayFrame(std::string_view text);
// As above, with another decoder of the text into JSON.
using FrameDecoder = std::function<std::optional<AnyJSON>(std::string_view)>;
std::optional<RealtimeMessage> decodeArrayFrame(std::string_view text, const FrameDecoder& decode);

// The compact array frame; an absent reference is written as null.
Data encodeArrayFrame(const std::optional<std::string>& joinRef,
                      const std::optional<std::string>& ref, std::string_view topic,
                      std::string_view event, const JSONObject& payload);
// As above, with another encoder of the JSON array.
using FrameEncoder = std::function<Data(const AnyJSON&)>;
Data encodeArrayFrame(const std::optional<std::string>& joinRef,
                      const std::optional<std::string>& ref, std::string_view topic,
                      std::string_view event, const JSONObject& payload,
                      const FrameEncoder& encode);

}  // namespace voduzazi::realtime
