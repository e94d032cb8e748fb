// Stops the process when a caller breaks a documented precondition of the message model.
//
//   detail::precondition(position < size(), "HTTPFields position out of range");
#pragma once

namespace voduzazi::http_types::detail {

// Writes `what` to standard error and aborts. Used only for programming errors, never for
// data that came from outside.
[[noreturn]] void contractViolation(const char* what) noexcept;

inline void precondition(bool holds, const char* what) noexcept {
  if (!holds) contractViolation(what);
}

}  // namespace voduzazi::http_types::detail
