// Salted scrypt password hashes in a self-describing text form.
//
//   std::string stored = hashPassword("hunter22");   // "$scrypt$ln=14,r=8,p=1$<salt>$<key>"
//   if (verifyPassword(attempt, stored)) signIn();
#pragma once

#include <string>
#include <string_view>

namespace local_backend {

// A fresh 16-byte salt per call; throws std::runtime_error when OpenSSL fails.
std::string hashPassword(std::string_view password);

// Recomputes with the stored parameters and salt and compares in constant time. False for a
// wrong password and for a stored text it cannot read.
bool verifyPassword(std::string_view password, std::string_view stored);

}  // namespace local_backend
