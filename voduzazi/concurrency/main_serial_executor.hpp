// The main-serial-executor switch. Threads here are scheduled by the operating system and cannot be
// serialised onto one thread, so the switch is a stored process-wide flag: code that sets and
// restores it works, but scheduling does not change.
//
//   withMainSerialExecutor([] { runOrderSensitiveTest(); });
//   assert(!uncheckedUseMainSerialExecutor());   // restored afterwards
#pragma once

#include <utility>

namespace voduzazi {

bool uncheckedUseMainSerialExecutor();
void setUncheckedUseMainSerialExecutor(bool enabled);

// Sets the flag for the run of `operation` and restores the earlier value afterwards, also when
// `operation` throws.
template <class F>
decltype(auto) withMainSerialExecutor(F&& operation) {
  struct Restore {
    bool previous = uncheckedUseMainSerialExecutor();
    ~Restore() { setUncheckedUseMainSerialExecutor(previous); }
  } restore;
  setUncheckedUseMainSerialExecutor(true);
  return std::forward<F>(operation)();
}

}  // namespace voduzazi
