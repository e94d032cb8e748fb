// RealtimeError: the error of both realtime clients' channels, with one optional description:
// what the older channel's subscribe callbacks receive, and what the second-generation channels
// throw and log.
//
//   throw RealtimeError("Maximum retry attempts reached.");
//   catch (const RealtimeError& error) { show(error.errorDescription().value_or("")); }
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace voduzazi::realtime {

// what() is the description or "".
class RealtimeError : public std::runtime_error {
 public:
  explicit RealtimeError(std::optional<std::string> errorDescription)
      : std::runtime_error(errorDescription.value_or("")),
        errorDescription_(std::move(errorDescription)) {}
  const std::optional<std::string>& errorDescription() const noexcept { return errorDescription_; }

 private:
  std::optional<std::string> errorDescription_;
};

}  // namespace voduzazi::realtime
