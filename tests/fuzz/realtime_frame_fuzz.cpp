// Decoding of the older realtime client's array frames from untrusted text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "voduzazi/realtime/realtime_message.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto message = voduzazi::realtime::decodeArrayFrame(text)) {
    // What a decoded message derives must hold up too, and encoding it again must not throw.
    (void)message->payload();
    (void)message->status();
    (void)voduzazi::realtime::encodeArrayFrame(message->joinRef, message->ref, message->topic,
                                               message->event, message->rawPayload);
  }
  return 0;
}
