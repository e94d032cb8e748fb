// waitForEnd: waits until a task has ended, whatever its outcome, for an owner that has stopped
// its tasks and needs only to know they are gone (whoever wants the outcome takes it from value()).
//
//   loop.cancel();
//   detail::waitForEnd(loop);   // returns once the loop has ended, however it ended
#pragma once

#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::detail {

template <class T>
void waitForEnd(const Task<T>& task) {
  try {
    (void)task.value();
  } catch (...) {
    // How it ended does not matter here, only that it has.
  }
}

}  // namespace voduzazi::detail
