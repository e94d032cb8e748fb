#include "voduzazi/realtime/detail/listener_queue.hpp"

namespace voduzazi::realtime::detail {

void ListenerQueue::post(std::function<void()> call) {
  std::lock_guard lock(mutex_);
  if (shared_->closed) return;
  if (!thread_) thread_ = std::make_unique<SerialExecutor>();
  // Checked again when its turn comes: a call queued before the close is dropped too.
  thread_->post([shared = shared_, call = std::move(call)] {
    if (!shared->closed) call();
  });
}

void ListenerQueue::close() {
  std::unique_ptr<SerialExecutor> thread;
  {
    std::lock_guard lock(mutex_);
    shared_->closed = true;
    thread = std::move(thread_);
  }
  // Joins the thread, or, from that thread, lets it end by itself once the current call returns.
  thread.reset();
}

}  // namespace voduzazi::realtime::detail
