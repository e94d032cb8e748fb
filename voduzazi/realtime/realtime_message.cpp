#include "voduzazi/realtime/realtime_message.hpp"

#include "voduzazi/realtime/defaults.hpp"

namespace voduzazi::realtime {

std::optional<RealtimeMessage> RealtimeMessage::fromJSON(const JSONArray& frame) {
  if (frame.size() < 5) return std::nullopt;
  RealtimeMessage message;
  if (const auto* joinRef = frame[0].stringValue()) message.joinRef = *joinRef;
  if (const auto* ref = frame[1].stringValue()) message.ref = *ref;
  const auto* topic = frame[2].stringValue();
  if (topic == nullptr) return std::nullopt;
  const auto* event = frame[3].stringValue();
  if (event == nullptr) return std::nullopt;
  const auto* payload = frame[4].objectValue();
  if (payload == nullptr) return std::nullopt;
  message.topic = *topic;
  message.event = *event;
  message.rawPayload = *payload;
  return message;
}

const JSONObject& RealtimeMessage::payload() const {
  if (auto found = rawPayload.find("response"); found != rawPayload.end()) {
    if (const auto* response = found->second.objectValue()) return *response;
  }
  return rawPayload;
}

std::optional<PushStatus> RealtimeMessage::status() const {
  auto found = rawPayload.find("status");
  if (found == rawPayload.end()) return std::nullopt;
  const auto* text = found->second.stringValue();
  if (text == nullptr) return std::nullopt;
  return pushStatusFromString(*text);
}

std::optional<RealtimeMessage> decodeArrayFrame(std::string_view text) {
  return decodeArrayFrame(text, Defaults::decode);
}

std::optional<RealtimeMessage> decodeArrayFrame(std::string_view text, const FrameDecoder& decode) {
  auto json = decode(text);
  if (!json) return std::nullopt;
  const auto* frame = json->arrayValue();
  if (frame == nullptr) return std::nullopt;
  return RealtimeMessage::fromJSON(*frame);
}

Data encodeArrayFrame(const std::optional<std::string>& joinRef,
                      const std::optional<std::string>& ref, std::string_view topic,
                      std::string_view event, const JSONObject& payload) {
  return encodeArrayFrame(joinRef, ref, topic, event, payload, Defaults::encode);
}

Data encodeArrayFrame(const std::optional<std::string>& joinRef,
                      const std::optional<std::string>& ref, std::string_view topic,
                      std::string_view event, const JSONObject& payload,
                      const FrameEncoder& encode) {
  auto orNull = [](const std::optional<std::string>& text) {
    return text ? AnyJSON(*text) : AnyJSON(nullptr);
  };
  return encode(AnyJSON(JSONArray{orNull(joinRef), orNull(ref), topic, event, payload}));
}

}  // namespace voduzazi::realtime
