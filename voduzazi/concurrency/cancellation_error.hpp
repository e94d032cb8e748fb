// CancellationError: what a cancelled wait or sleep throws.
//
//   try { this_task::sleepFor(5s); }
//   catch (const CancellationError&) { /* the task was cancelled */ }
#pragma once

#include <exception>

namespace voduzazi {

// Thrown by every runtime wait that ends because its task was cancelled.
class CancellationError : public std::exception {
 public:
  const char* what() const noexcept override { return "CancellationError()"; }
};

}  // namespace voduzazi
