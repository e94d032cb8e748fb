#include "voduzazi/clocks/unimplemented_clock.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/issue_reporting/issue_recorder.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using testing::IssueRecorder;

const SourceLocation kAt{"App/model.cpp", "/src/app/model.cpp", 7, 9};

TEST(UnimplementedClock, ReadingNowReportsEachTimeAndKeepsTheInstant) {
  const auto clock = UnimplementedClock::unimplemented(kAt);
  IssueRecorder recorder;
  const auto first = clock.now();
  const auto second = clock.now();
  EXPECT_EQ(first, second);
  EXPECT_EQ(recorder.messages(),
            (std::vector<std::string>{"Unimplemented: Clock.now", "Unimplemented: Clock.now"}));
  EXPECT_EQ(recorder.issues().at(0).location, kAt);
}

TEST(UnimplementedClock, SleepReportsThenReturnsAtTheDeadline) {
  const auto clock = UnimplementedClock::unimplemented(kAt);
  IssueRecorder recorder;
  const auto deadline = clock.now().advanced(5s);
  clock.sleep(deadline);
  EXPECT_EQ(clock.now(), deadline);
  EXPECT_EQ(recorder.messages(),
            (std::vector<std::string>{"Unimplemented: Clock.now", "Unimplemented: Clock.sleep",
                                      "Unimplemented: Clock.now"}));
}

TEST(UnimplementedClock, CancelledSleepReportsFirstThenFails) {
  const auto clock = UnimplementedClock::unimplemented(kAt);
  IssueRecorder recorder;
  Task<void> sleeper([&] {
    while (!this_task::isCancelled()) std::this_thread::yield();
    clock.sleep(UnimplementedClock::Instant{}.advanced(1s));
  });
  sleeper.cancel();
  EXPECT_THROW(sleeper.value(), CancellationError);
  EXPECT_EQ(recorder.messages(), std::vector<std::string>{"Unimplemented: Clock.sleep"});
}

TEST(UnimplementedClock, NamedClockReportsAtTheLibrarysOwnLocation) {
  const UnimplementedClock clock("Scheduler.clock");
  IssueRecorder recorder;
  EXPECT_EQ(clock.minimumResolution(), Duration::zero());
  const auto issue = recorder.issues().at(0);
  EXPECT_EQ(issue.message, "Unimplemented: Scheduler.clock.minimumResolution");
  EXPECT_EQ(issue.location.fileID, "Clocks/UnimplementedClock");
  EXPECT_TRUE(issue.location.filePath.ends_with("clocks/unimplemented_clock.cpp"));
  EXPECT_EQ(issue.location.line, 163u);
  EXPECT_EQ(issue.location.column, 16u);
}

TEST(UnimplementedClock, IssueContextReplacesTheStoredLocation) {
  const UnimplementedClock clock("Scheduler.clock");
  const IssueContext context{"Other/place.cpp", "/src/other/place.cpp", 1, 2};
  IssueRecorder recorder;
  withIssueContext(context, [&] { clock.now(); });
  EXPECT_EQ(recorder.issues().at(0).location, context.location());
}

TEST(UnimplementedClock, ForwardsToAWrappedBaseThatCopiesShare) {
  auto base = std::make_shared<ImmediateClock>(ImmediateClock::Instant{10s});
  const UnimplementedClock clock(base, "Poller.clock", kAt);
  const UnimplementedClock copy = clock;
  const UnimplementedClock started("Started", ImmediateClock::Instant{3s}, kAt);
  IssueRecorder recorder;
  copy.sleep(clock.now().advanced(2s));
  EXPECT_EQ(base->now(), ImmediateClock::Instant{12s});
  EXPECT_EQ(clock.now().rawValue.offset, 2s);  // instants count from the wrapping moment
  started.sleep(started.now().advanced(1s));
  EXPECT_EQ(recorder.messages().at(1), "Unimplemented: Poller.clock.sleep");
  EXPECT_EQ(recorder.messages().back(), "Unimplemented: Started.sleep");
}

}  // namespace
}  // namespace voduzazi
