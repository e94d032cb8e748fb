#include "voduzazi/concurrency/main_executor.hpp"

namespace voduzazi {

namespace {

struct Installed {
  std::mutex mutex;
  std::shared_ptr<MainExecutor> executor;
};

Installed& installed() {
  static auto* value = new Installed;  // never destroyed: detached work may still post at exit
  return *value;
}

std::shared_ptr<MainExecutor> defaultExecutor() {
  static auto* value = new std::shared_ptr<MainExecutor>(std::make_shared<ThreadMainExecutor>());
  return *value;
}

}  // namespace

std::shared_ptr<MainExecutor> MainExecutor::current() {
  auto& slot = installed();
  {
    std::lock_guard lock(slot.mutex);
    if (slot.executor) return slot.executor;
  }
  return defaultExecutor();
}

void MainExecutor::install(std::shared_ptr<MainExecutor> executor) {
  auto& slot = installed();
  std::lock_guard lock(slot.mutex);
  slot.executor = std::move(executor);
}

void ManualMainExecutor::post(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(work));
}

std::size_t ManualMainExecutor::runPending() {
  std::size_t ran = 0;
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return ran;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
    ++ran;
  }
}

std::size_t ManualMainExecutor::pendingCount() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

}  // namespace voduzazi
