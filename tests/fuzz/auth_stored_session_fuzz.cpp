// Session storage reading whatever bytes a store holds under the session key and the legacy key:
// the migrations and the read never throw, and after one read a second read gives the same
// answer (the migrations reach a fixed point). Input: bytes up to the first NUL go under the
// legacy key, the rest under the session key.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "voduzazi/auth/session_storage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voduzazi::auth;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\0');
  auto store = std::make_shared<InMemoryAuthLocalStorage>();
  if (split != std::string_view::npos) {
    store->store(std::string(legacySessionKey), std::string(input.substr(0, split)));
    store->store("voduzazi.auth.token", std::string(input.substr(split + 1)));
  } else {
    store->store("voduzazi.auth.token", std::string(input));
  }
  auto storage = SessionStorage::live([store] {
    return AuthStorageConfiguration{std::nullopt, store, nullptr};
  });
  auto first = storage.get();
  auto second = storage.get();
  if (first != second) __builtin_trap();
  if (first && !storage.store(*first)) __builtin_trap();
  return 0;
}
