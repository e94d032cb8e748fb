// The stand-in's token verifier: any text is refused with a JwtError unless it is a token we
// signed, and a signed token changed in one place (a byte replaced, added or removed) never
// verifies.
//
// Input: a mutation (kind, position, byte), then the claims' subject (UTF-8).
#include <string>

#include "local_backend/detail/utf8.hpp"
#include "local_backend/jwt.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;

namespace {

constexpr std::string_view secret = "fuzzing-secret-of-at-least-32-characters";
constexpr std::int64_t now = 1'700'000'000;

bool verifies(std::string_view token) {
  try {
    (void)local_backend::verifyJwt(token, secret, now);
    return true;
  } catch (const local_backend::JwtError&) {
    return false;
  }
}

// The token changed at `position` (taken modulo its length): `kind` 0 replaces the byte there,
// 1 inserts one before it, 2 removes it.
std::string mutated(std::string token, std::uint8_t kind, std::size_t position, char byte) {
  position %= token.size() + (kind % 3 == 1 ? 1 : 0);
  switch (kind % 3) {
    case 0:
      token[position] = byte;
      break;
    case 1:
      token.insert(token.begin() + static_cast<std::ptrdiff_t>(position), byte);
      break;
    default:
      token.erase(position, 1);
  }
  return token;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FUZZ_CHECK(!verifies(FuzzInput::all(data, size)));

  FuzzInput in(data, size);
  const std::uint8_t kind = in.byte();
  const std::size_t position = std::size_t{in.byte()} << 8 | in.byte();
  const char byte = static_cast<char>(in.byte());
  const std::string_view subject = in.rest();
  // Claims hold text the server has already checked, as JSON needs it: UTF-8.
  if (!local_backend::detail::isValidUtf8(subject)) return 0;
  const boost::json::object claims{{"sub", subject}, {"exp", now + 3600}};
  const std::string token = local_backend::signJwt(claims, secret);
  FUZZ_CHECK(verifies(token));
  const std::string changed = mutated(token, kind, position, byte);
  if (changed != token) FUZZ_CHECK(!verifies(changed));
  return 0;
}
