#include "voduzazi/concurrency/serial_executor.hpp"

#include <exception>
#include <future>

namespace voduzazi {

SerialExecutor::SerialExecutor() : thread_([this] { run(); }) {}

SerialExecutor::~SerialExecutor() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (isCurrent()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void SerialExecutor::post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  wake_.notify_one();
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

void SerialExecutor::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    auto work = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    try {
      work();
    } catch (...) {
      // A failing item must not take the queue (and every later item) down with it.
    }
    work = nullptr;  // its captures go before the next item runs
    lock.lock();
  }
}

}  // namespace voduzazi
