#include "voduzazi/concurrency/serial_executor.hpp"

#include <exception>
#include <future>

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
  std::promise<void> done;
  post([&] {
    try {
      work();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  done.get_future().get();
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
