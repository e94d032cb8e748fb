// Counts the tracked tasks that are runnable, so that megaYield can tell when every other task
// has reached a runtime wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace voduzazi::detail {

// Process-wide and never destroyed: detached task threads may still touch it at exit.
class Quiescence {
 public:
  static Quiescence& shared();

  void taskSpawned();   // a new tracked task is runnable from the moment it is spawned
  void taskFinished();  // its body has ended
  void blocked();       // a tracked task entered a runtime wait
  void unblocked();     // it was woken (counted back in by its waker, or by itself)

  // Waits up to `rounds` rounds of `round` each until no tracked task other than the caller is
  // runnable. Returns true when that state was reached.
  bool waitUntilQuiet(int rounds, std::chrono::microseconds round);
  // The same with one bound: waits until that state or `deadline`, whichever comes first.
  bool waitUntilQuiet(std::chrono::steady_clock::time_point deadline);

  long runnable() const;

 private:
  Quiescence() = default;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  long runnable_ = 0;
};

// True on the threads of tasks spawned through the runtime.
bool currentThreadIsTracked();
void markCurrentThreadTracked();

}  // namespace voduzazi::detail
