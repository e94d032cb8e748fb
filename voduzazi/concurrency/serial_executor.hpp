// SerialExecutor: one thread running posted work one item at a time, in the order it was posted.
//
//   auto queue = std::make_shared<SerialExecutor>();
//   queue->post([] { tick(); });
//   queue->sync([] { stopTicking(); });   // runs on the queue's thread and waits for it
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "voduzazi/concurrency/detail/wait_queue.hpp"

namespace voduzazi {

// Anything that runs posted work somewhere else. Implementations are safe to share.
class Executor {
 public:
  virtual ~Executor() = default;
  // Never blocks on the work itself; the work runs later, on the executor's thread.
  virtual void post(std::function<void()> work) = 0;
};

// Shared objects: safe. Lifetime: the destructor runs what is already queued, then joins the
// thread (or detaches it when the last owner lets go from the queue's own thread). Work that
// throws is dropped with its exception; the queue goes on.
class SerialExecutor final : public Executor {
 public:
  SerialExecutor();
  ~SerialExecutor() override;
  SerialExecutor(const SerialExecutor&) = delete;
  SerialExecutor& operator=(const SerialExecutor&) = delete;

  void post(std::function<void()> work) override;

  // Runs `work` on the queue's thread after everything queued before it and waits for it; from
  // the queue's own thread it runs at once. Rethrows what `work` throws. The wait is a join: a
  // runtime wait that the calling task's cancellation does not end.
  void sync(const std::function<void()>& work);

  bool isCurrent() const noexcept { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  // Shared with the thread, which may outlive the executor when its own work destroyed it.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    detail::WaitQueue synced;  // callers of sync() waiting for their work
  };
  static void run(State& state);

  const std::shared_ptr<State> state_ = std::make_shared<State>();
  std::thread thread_;
};

}  // namespace voduzazi
