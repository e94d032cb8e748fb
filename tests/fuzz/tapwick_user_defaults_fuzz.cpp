// The app's stored settings file, and the last-seen markers kept in it.
#include <boost/json/serialize.hpp>
#include <cstdint>
#include <stdexcept>

#include "tapwick/last_seen.hpp"
#include "tapwick/user_defaults.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const auto values = tapwick::UserDefaults::parse(FuzzInput::all(data, size));
    // What is read writes back to text that reads back equal.
    FUZZ_CHECK(tapwick::UserDefaults::parse(boost::json::serialize(values)) == values);
    for (const auto& entry : values) {
      const auto seen = tapwick::LastSeen::fromJSON(entry.value());
      FUZZ_CHECK(tapwick::LastSeen::fromJSON(seen.toJSON()) == seen);
      if (const auto* perUser = entry.value().if_object()) {
        for (const auto& user : *perUser) tapwick::LastSeen::fromJSON(user.value());
      }
    }
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
