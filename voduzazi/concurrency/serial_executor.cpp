#include "voduzazi/concurrency/serial_executor.hpp"

#include <exception>

namespace voduzazi {

SerialExecutor::SerialExecutor() : thread_([state = state_] { run(*state); }) {}

SerialExecutor::~SerialExecutor() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_one();
  if (isCurrent()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void SerialExecutor::post(std::function<void()> work) {
  {
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back(std::move(work));
  }
  state_->wake.notify_one();
}

void SerialExecutor::sync(const std::function<void()>& work) {
  if (isCurrent()) return work();
  // Kept by this call too: `work` may drop the last reference to the executor.
  const std::shared_ptr<State> state = state_;
  bool finished = false;
  std::exception_ptr error;
  post([&] {
    std::exception_ptr thrown;
    try {
      work();
    } catch (...) {
      thrown = std::current_exception();
    }
    std::lock_guard lock(state->mutex);
    error = thrown;
    finished = true;
    state->synced.notifyAll();
  });
  // A join: no stop token ends it, since `work` refers to this frame until it has run.
  std::unique_lock lock(state->mutex);
  state->synced.wait(lock, std::stop_token(), [&] { return finished; });
  if (error) std::rethrow_exception(error);
}

void SerialExecutor::run(State& state) {
  std::unique_lock lock(state.mutex);
  for (;;) {
    state.wake.wait(lock, [&] { return state.stopping || !state.queue.empty(); });
    if (state.queue.empty()) return;
    auto work = std::move(state.queue.front());
    state.queue.pop_front();
    lock.unlock();
    try {
      work();
    } catch (...) {
      // A failing item must not take the queue (and every later item) down with it.
    }
    work = nullptr;  // its captures go before the next item runs (they may end the executor)
    lock.lock();
  }
}

}  // namespace voduzazi
