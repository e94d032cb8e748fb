// TestClock: a clock whose time moves only when told to. Every sleep waits until advance() (or
// run()) moves `now` to or past its deadline; sleepers wake one at a time, in deadline order.
//
//   auto clock = std::make_shared<TestClock>();
//   Task<void> poller([clock] { clock->sleep(clock->now().advanced(2s)); poll(); });
//   clock->advance(2s);          // wakes the poller and lets it run until it waits again
//   clock->run(500ms);           // or: keep advancing until no sleep is left
#pragma once

#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "voduzazi/clocks/clock.hpp"
#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

// Thrown by TestClock::checkSuspension when sleeps are still pending.
class SuspensionError : public std::exception {
 public:
  const char* what() const noexcept override { return "SuspensionError()"; }
};

// Shared objects: safe; sleep from any number of tasks, advance and run from one driver at a time.
// Lifetime: held by shared_ptr by everything that sleeps on it.
class TestClock {
 public:
  using Instant = OffsetInstant<TestClock>;

  explicit TestClock(Instant now = Instant{}) : now_(now) {}
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;

  Instant now() const;
  Duration minimumResolution() const;
  void setMinimumResolution(Duration resolution);

  // Waits until `now` reaches `deadline` (a deadline already passed returns at once; one equal to
  // `now` waits for the next advance). Throws CancellationError when the task is cancelled or run()
  // times out.
  void sleep(Instant deadline, std::optional<Duration> tolerance = std::nullopt);

  // Moves `now` forward, waking each due sleeper in turn with `now` at its deadline and letting the
  // woken tasks run before the next one. Never moves `now` backwards; ignores cancellation.
  void advance(Duration by = Duration::zero());
  void advanceTo(Instant target);

  // Advances to each pending deadline in turn until no sleep is left. When sleeps are still pending
  // after `timeout` of real time, cancels them and reports an issue at `location`. Never throws.
  void run(Duration timeout, SourceLocation location = SourceLocation::current());

  // Gives the other tasks their chances to run, then throws SuspensionError if a sleep is pending.
  void checkSuspension();

 private:
  using Wake = AsyncThrowingStream<std::monostate>::Continuation;
  struct Suspension {
    std::uint64_t id;
    Instant deadline;
    Wake wake;
  };

  std::optional<Instant> firstDeadline() const;
  void removeSuspension(std::uint64_t id);
  void failAllSuspensions();

  mutable std::recursive_mutex mutex_;
  Instant now_;
  Duration minimumResolution_{};
  std::uint64_t nextID_ = 0;
  std::vector<Suspension> suspensions_;
};

}  // namespace voduzazi
