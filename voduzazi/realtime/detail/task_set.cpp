#include "voduzazi/realtime/detail/task_set.hpp"

#include "voduzazi/concurrency/detail/wait_for_end.hpp"

namespace voduzazi::realtime::detail {

std::optional<Task<void>> TaskSet::start(std::function<void()> body) {
  std::lock_guard lock(mutex_);
  if (closed_) return std::nullopt;
  std::erase_if(members_, [](const Member& member) { return member.task.isFinished(); });
  auto thread = std::make_shared<std::atomic<std::thread::id>>();
  // The thread is known before the body runs: a release from inside it skips its own task.
  Task<void> task = Task<void>::detached([thread, body = std::move(body)] {
    thread->store(std::this_thread::get_id());
    body();
  });
  members_.push_back(Member{task, std::move(thread)});
  return task;
}

bool TaskSet::isCurrent() const {
  const auto self = std::this_thread::get_id();
  std::lock_guard lock(mutex_);
  for (const auto& member : members_) {
    if (member.thread->load() == self && !member.task.isFinished()) return true;
  }
  return false;
}

void TaskSet::close() {
  std::vector<Member> members;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    members = members_;
  }
  for (const auto& member : members) member.task.cancel();
  const auto self = std::this_thread::get_id();
  for (const auto& member : members) {
    if (member.thread->load() != self) voduzazi::detail::waitForEnd(member.task);
  }
}

}  // namespace voduzazi::realtime::detail
