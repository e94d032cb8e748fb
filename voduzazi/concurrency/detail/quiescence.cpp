#include "voduzazi/concurrency/detail/quiescence.hpp"

namespace voduzazi::detail {
namespace {
thread_local bool tracked = false;
}  // namespace

Quiescence& Quiescence::shared() {
  static Quiescence* instance = new Quiescence();
  return *instance;
}

void Quiescence::taskSpawned() {
  std::lock_guard lock(mutex_);
  ++runnable_;
}

void Quiescence::taskFinished() {
  std::lock_guard lock(mutex_);
  --runnable_;
  changed_.notify_all();
}

void Quiescence::blocked() { taskFinished(); }

void Quiescence::unblocked() { taskSpawned(); }

long Quiescence::runnable() const {
  std::lock_guard lock(mutex_);
  return runnable_;
}

bool Quiescence::waitUntilQuiet(int rounds, std::chrono::microseconds round) {
  return waitUntilQuiet(std::chrono::steady_clock::now() + rounds * round);
}

bool Quiescence::waitUntilQuiet(std::chrono::steady_clock::time_point deadline) {
  const long self = currentThreadIsTracked() ? 1 : 0;
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [&] { return runnable_ - self <= 0; });
}

bool currentThreadIsTracked() { return tracked; }

void markCurrentThreadTracked() { tracked = true; }

}  // namespace voduzazi::detail
