#include "voduzazi/clocks/test_clock.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "voduzazi/clocks/system_clocks.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/detail/quiescence.hpp"
#include "voduzazi/concurrency/task_group.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"

namespace voduzazi {
namespace {

// How long a wake-up waits, beyond megaYield's rounds, for the tasks it set going.
constexpr std::chrono::seconds kSettlePatience{10};

// Gives the other tasks megaYield's rounds, then waits on until every tracked task has reached a
// runtime wait again: on a loaded machine a woken task may get no processor within the rounds,
// and a caller of advance() must still find what that task does once it wakes (a timer's work
// posted, the next sleep registered). Never fails: a task blocked outside the runtime (a socket,
// a plain mutex) only makes this wait out its patience.
void letOtherTasksRun() {
  this_task::megaYield();
  detail::Quiescence::shared().waitUntilQuiet(std::chrono::steady_clock::now() + kSettlePatience);
}

std::string runTimeoutMessage(Duration timeout) {
  const std::string text = describeDuration(timeout);
  std::string message;
  message.reserve(319);
  message += "Expected all sleeps to finish, but some are still suspending after " + text + ".\n";
  message += "\n";
  message +=
      "There are sleeps suspending. This could mean you are not advancing the test clock far "
      "enough for your feature to execute its logic, or there could be a bug in your feature's "
      "logic.\n";
  message += "\n";
  message += "You can also increase the timeout of 'run' to be greater than " + text + ".";
  return message;
}

}  // namespace

TestClock::Instant TestClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

Duration TestClock::minimumResolution() const {
  std::lock_guard lock(mutex_);
  return minimumResolution_;
}

void TestClock::setMinimumResolution(Duration resolution) {
  std::lock_guard lock(mutex_);
  minimumResolution_ = resolution;
}

void TestClock::sleep(Instant deadline, std::optional<Duration>) {
  this_task::checkCancellation();
  std::optional<AsyncThrowingStream<std::monostate>> woken;
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    if (deadline < now_) return;
    id = nextID_++;
    auto [stream, wake] = AsyncThrowingStream<std::monostate>::makeStream();
    suspensions_.push_back({id, deadline, std::move(wake)});
    woken.emplace(std::move(stream));
  }
  try {
    while (woken->next()) {
    }
    this_task::checkCancellation();
  } catch (const CancellationError&) {
    removeSuspension(id);
    throw;
  }
}

void TestClock::advance(Duration by) {
  Instant target;
  {
    std::lock_guard lock(mutex_);
    target = now_.advanced(by);
  }
  advanceTo(target);
}

void TestClock::advanceTo(Instant target) {
  while (now() <= target) {
    letOtherTasksRun();
    std::optional<Wake> wake;
    {
      std::lock_guard lock(mutex_);
      std::stable_sort(
          suspensions_.begin(), suspensions_.end(),
          [](const Suspension& a, const Suspension& b) { return a.deadline < b.deadline; });
      if (suspensions_.empty() || !(target >= suspensions_.front().deadline)) {
        now_ = target;
      } else {
        now_ = suspensions_.front().deadline;
        wake.emplace(std::move(suspensions_.front().wake));
        suspensions_.erase(suspensions_.begin());
      }
    }
    if (!wake) break;
    wake->finish();
  }
  letOtherTasksRun();
}

void TestClock::run(Duration timeout, SourceLocation location) {
  // Set before the sleepers are failed: the advancing child may then finish first, and the timeout
  // must still be reported.
  auto timedOut = std::make_shared<std::atomic<bool>>(false);
  {
    TaskGroup<void> group;
    group.addTask([this, timeout, timedOut] {
      this_task::sleepFor(timeout);
      timedOut->store(true);
      failAllSuspensions();
      throw CancellationError();
    });
    group.addTask([this] {
      letOtherTasksRun();
      while (const auto deadline = firstDeadline()) {
        this_task::checkCancellation();
        advance(now().durationTo(*deadline));
      }
    });
    try {
      group.next();
    } catch (...) {
      timedOut->store(true);
    }
  }
  if (timedOut->load()) reportIssue([timeout] { return runTimeoutMessage(timeout); }, location);
}

void TestClock::checkSuspension() {
  letOtherTasksRun();
  std::lock_guard lock(mutex_);
  if (!suspensions_.empty()) throw SuspensionError();
}

std::optional<TestClock::Instant> TestClock::firstDeadline() const {
  std::lock_guard lock(mutex_);
  if (suspensions_.empty()) return std::nullopt;
  return suspensions_.front().deadline;
}

void TestClock::removeSuspension(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  std::erase_if(suspensions_, [id](const Suspension& s) { return s.id == id; });
}

void TestClock::failAllSuspensions() {
  std::vector<Wake> wakes;
  {
    std::lock_guard lock(mutex_);
    for (const Suspension& s : suspensions_) wakes.push_back(s.wake);
  }
  for (const Wake& wake : wakes) wake.finish(std::make_exception_ptr(CancellationError()));
}

}  // namespace voduzazi
