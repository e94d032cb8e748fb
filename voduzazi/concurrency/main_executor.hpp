// MainExecutor: where work meant for the "main thread" runs. The library's default runs its own
// thread; an application installs one that posts into its event loop; tests install a
// ManualMainExecutor and drain it by hand.
//
//   MainExecutor::current()->post([] { updateState(); });
//   auto manual = std::make_shared<ManualMainExecutor>();
//   MainExecutor::install(manual);
//   manual->runPending();   // runs what was posted, on the calling thread
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "voduzazi/concurrency/serial_executor.hpp"

namespace voduzazi {

// Implementations: safe to post to from any thread; work runs one item at a time, in order.
class MainExecutor : public Executor {
 public:
  // The installed executor, or the library's default (made on first use, never destroyed).
  static std::shared_ptr<MainExecutor> current();
  // Replaces the executor for later posts; nullptr goes back to the default. Work already posted
  // stays with the executor it was posted to.
  static void install(std::shared_ptr<MainExecutor> executor);
};

// The library's default: a thread of its own. Shared objects: safe.
class ThreadMainExecutor final : public MainExecutor {
 public:
  void post(std::function<void()> work) override { thread_.post(std::move(work)); }

 private:
  SerialExecutor thread_;
};

// Holds posted work until runPending() runs it on the caller's thread. Shared objects: safe.
class ManualMainExecutor final : public MainExecutor {
 public:
  void post(std::function<void()> work) override;
  // Runs the queued work, including work posted while it runs; returns how many items ran.
  std::size_t runPending();
  std::size_t pendingCount() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace voduzazi
