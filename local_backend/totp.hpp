// Time-based one-time passwords (RFC 6238 over RFC 4226): HMAC-SHA-1, 30-second steps, six
// digits, secrets as unpadded base32.
//
//   std::string secret = totp::newSecret();                  // "JBSWY3DPEHPK3PXP..."
//   std::string code = totp::code(secret, totp::stepAt(now));
//   auto step = totp::matchingStep(secret, "123456", now);   // the step it belongs to, if any
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace local_backend::totp {

inline constexpr std::int64_t kStepSeconds = 30;

// 20 random bytes in base32.
std::string newSecret();
std::string base32Encode(std::string_view bytes);
// Accepts upper or lower case, no padding; nothing for other characters.
std::optional<std::string> base32Decode(std::string_view text);

std::int64_t stepAt(std::int64_t unixSeconds);
// The six-digit code of `secret` (base32) for the time step; empty for a secret that is not
// base32.
std::string code(std::string_view secret, std::int64_t step);
// The step within one step of `unixSeconds` whose code `candidate` is; nothing otherwise.
std::optional<std::int64_t> matchingStep(std::string_view secret, std::string_view candidate,
                                         std::int64_t unixSeconds);

// "otpauth://totp/<issuer>:<account>?secret=...&issuer=..." for authenticator apps.
std::string provisioningURI(std::string_view secret, std::string_view issuer,
                            std::string_view account);

}  // namespace local_backend::totp
