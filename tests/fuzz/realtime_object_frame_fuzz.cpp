// The second-generation realtime client's object frames from untrusted text, and the payloads a
// channel reads from them: row changes, presence entries and confirmed subscriptions.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/keyed_coding.hpp"
#include "voduzazi/realtime/postgres_actions.hpp"
#include "voduzazi/realtime/presence_v2.hpp"
#include "voduzazi/realtime/realtime_error.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

namespace {

using namespace voduzazi;
using namespace voduzazi::realtime;

const AnyJSON* member(const JSONObject& object, std::string_view key) {
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &found->second;
}

void readPayload(const RealtimeMessageV2& message) {
  if (const AnyJSON* data = member(message.payload, "data")) {
    try {
      const AnyAction action = makePostgresAction(*data, message);
      FUZZ_CHECK(action.rawMessage() == message);
    } catch (const DecodingError&) {
    } catch (const RealtimeError&) {
    }
  }
  try {
    (void)decodePresences(message.payload);
  } catch (const DecodingError&) {
  }
  const AnyJSON* response = member(message.payload, "response");
  const JSONObject* object = response ? response->objectValue() : nullptr;
  const AnyJSON* changes = object ? member(*object, "postgres_changes") : nullptr;
  if (changes == nullptr) return;
  try {
    const auto confirmed =
        decodeValue<std::vector<PostgresJoinConfig>>(changes->toJSON(), *AnyJSON::decoder(), {});
    for (const auto& change : confirmed) {
      // A confirmed entry (it has an id) reads back as itself.
      if (change.id == 0) continue;
      const auto back = PostgresJoinConfig::fromJSON(change.toJSON(JSONEncoder()), JSONDecoder());
      FUZZ_CHECK(back == change && back.id == change.id);
    }
  } catch (const DecodingError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = voduzazi::fuzz::FuzzInput::all(data, size);
  RealtimeMessageV2 message;
  try {
    message = decodeObjectFrame(text);
  } catch (const DecodingError&) {
    return 0;  // the client reconnects on such a frame
  }
  // What is read writes and reads back the same; only a number past the double range (read as
  // infinity) has no JSON form to write.
  try {
    const RealtimeMessageV2 again = decodeObjectFrame(encodeObjectFrame(message));
    FUZZ_CHECK(again == message && again.hashValue() == message.hashValue());
  } catch (const EncodingError&) {
  }
  (void)message.eventType();
  (void)message.status();
  readPayload(message);
  return 0;
}
