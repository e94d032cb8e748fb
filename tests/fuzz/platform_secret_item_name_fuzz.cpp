// The secret store's reading of item file names: a name either stands for no item, or for
// exactly the item whose name it is (so no two names share an item and no key escapes the
// folder).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "voduzazi/platform/secret_store.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voduzazi;
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  if (auto query = SecretStore::itemQuery(name)) {
    if (SecretStore::fileName(*query) != name) __builtin_trap();
  }
  // Any key, read as an account, gives a name without "/" or NUL that reads back.
  const SecretItemQuery query{std::nullopt, std::string(name), std::nullopt};
  const std::string encoded = SecretStore::fileName(query);
  if (encoded.find('/') != std::string::npos || encoded.find('\0') != std::string::npos) {
    __builtin_trap();
  }
  if (SecretStore::itemQuery(encoded) != query) __builtin_trap();
  return 0;
}
