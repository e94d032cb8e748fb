// The reporting road outside test runs: reporters, observers, issue contexts, reportingErrors.
#include "voduzazi/issue_reporting/report_issue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "tests/issue_reporting/recording_reporter.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/issue_reporting/failure_observer.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/issue_reporting/reporting_errors.hpp"
#include "voduzazi/issue_reporting/test_context.hpp"
#include "voduzazi/issue_reporting/test_detection.hpp"

namespace voduzazi {
namespace {

using testing::RecordingReporter;
using testing::Report;

const SourceLocation kAt{"Helpers/logger.cpp", "/src/helpers/logger.cpp", 12, 5};

class HTTPStatusError : public std::runtime_error {
 public:
  HTTPStatusError() : std::runtime_error("HTTPError(status: 500)") {}
};

class ReportIssueTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingReporter> first = std::make_shared<RecordingReporter>();
  std::shared_ptr<RecordingReporter> second = std::make_shared<RecordingReporter>();
  IssueReporterList both{first, second};
};

TEST_F(ReportIssueTest, OutsideTestsThereIsNoTestContext) {
  EXPECT_FALSE(isTesting());
  EXPECT_FALSE(TestContext::current().has_value());
}

TEST_F(ReportIssueTest, EveryReporterReceivesTheIssueInOrder) {
  withReporters(both, [] { reportIssue("Channel already subscribed", kAt); });
  for (const auto& reporter : {first, second}) {
    const auto reports = reporter->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, Report::Kind::issue);
    EXPECT_EQ(reports[0].message, "Channel already subscribed");
    EXPECT_EQ(reports[0].location, kAt);
  }
}

TEST_F(ReportIssueTest, DefaultLocationIsTheCallersOwn) {
  const std::uint32_t line = __LINE__ + 1;
  withReporters(both, [] { reportIssue(); });
  const auto report = first->reports().at(0);
  EXPECT_EQ(report.message, std::nullopt);
  EXPECT_EQ(report.location.fileID, "issue_reporting/report_issue_test.cpp");
  EXPECT_EQ(report.location.line, line);
}

TEST_F(ReportIssueTest, BoundIssueContextReplacesAllFourLocationValues) {
  const IssueContext context{"Clocks/TestClock", "/src/clocks/test_clock.cpp", 99, 7};
  withReporters(both, [&] {
    withIssueContext(context, [] {
      reportIssue("late", kAt);
      reportIssue(std::make_exception_ptr(CancellationError()), {}, kAt);
    });
  });
  for (const auto& report : first->reports()) EXPECT_EQ(report.location, context.location());
  EXPECT_FALSE(IssueContext::current().has_value());
}

TEST(IssueContext, ScopeReturnsOrRethrowsAndEndsWithTheOperation) {
  const IssueContext outer{"A/outer.cpp", "/src/a/outer.cpp", 1, 1};
  const IssueContext inner{"A/inner.cpp", "/src/a/inner.cpp", 2, 2};
  withIssueContext(outer, [&] {
    EXPECT_EQ(withIssueContext(inner, [] { return IssueContext::current()->fileID; }),
              "A/inner.cpp");
    EXPECT_THROW(withIssueContext(inner, [] { throw CancellationError(); }), CancellationError);
    EXPECT_EQ(IssueContext::current()->fileID, "A/outer.cpp");
  });
  EXPECT_FALSE(IssueContext::current().has_value());
}

TEST_F(ReportIssueTest, ErrorsReachReportersWithTheirDescription) {
  withReporters(both, [] {
    reportIssue(std::make_exception_ptr(CancellationError()), "while polling", kAt);
    try {
      throw HTTPStatusError();
    } catch (const std::exception& error) {
      reportIssue(error, {}, kAt);  // through a base reference: the description survives
    }
  });
  const auto reports = first->reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].kind, Report::Kind::error);
  EXPECT_EQ(reports[0].error, "CancellationError()");
  EXPECT_EQ(reports[0].message, "while polling");
  EXPECT_EQ(reports[1].error, "HTTPError(status: 500)");
  EXPECT_EQ(reports[1].message, std::nullopt);
}

TEST_F(ReportIssueTest, ObserverCountsOncePerIssueAndReportersSeeExpectedIssues) {
  for (const auto& list : {IssueReporterList{}, both}) {
    auto observer = std::make_shared<FailureObserver>();
    withReporters(list, [&] {
      FailureObserver::local().withValue(observer, [] {
        reportIssue("one", kAt);
        reportIssue(std::make_exception_ptr(CancellationError()), {}, kAt);
      });
    });
    EXPECT_EQ(observer->withLock([](std::int64_t& count) { return count; }), 2);
  }
  const auto reports = first->reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].kind, Report::Kind::expectedIssue);
  EXPECT_EQ(reports[1].kind, Report::Kind::expectedError);
}

TEST_F(ReportIssueTest, NullTextIsNoMessage) {
  const char* none = nullptr;
  withReporters(both, [&] { reportIssue(none, kAt); });
  EXPECT_EQ(first->reports().at(0).message, std::nullopt);
}

TEST_F(ReportIssueTest, MessageIsNotEvaluatedWhenNoReporterNeedsIt) {
  std::atomic<int> evaluations{0};
  withReporters({}, [&] {
    reportIssue([&] {
      ++evaluations;
      return std::string("expensive");
    });
  });
  EXPECT_EQ(evaluations, 0);
}

TEST_F(ReportIssueTest, ChildTasksReportToTheScopedReporters) {
  withReporters(both, [] { Task<void>([] { reportIssue("from a child", kAt); }).value(); });
  EXPECT_EQ(first->messages(), std::vector<std::string>{"from a child"});
}

TEST(ErrorDescription, DescribesAnyThrownValue) {
  EXPECT_EQ(describeError(std::make_exception_ptr(std::runtime_error("boom"))), "boom");
  EXPECT_EQ(describeError(std::make_exception_ptr(std::string("text"))), "text");
  EXPECT_EQ(describeError(std::make_exception_ptr(42)), "int");
  EXPECT_EQ(describeError(nullptr), "nil");
}

TEST(ErrorDescription, CaptureKeepsTheHandledObjectOrItsDescription) {
  try {
    throw HTTPStatusError();
  } catch (const std::exception& error) {
    const auto kept = captureError(error);
    EXPECT_THROW(std::rethrow_exception(kept), HTTPStatusError);
  }
  const HTTPStatusError standalone;
  EXPECT_EQ(describeError(captureError(standalone)), "HTTPError(status: 500)");
}

TEST_F(ReportIssueTest, ReportingErrorsReturnsTheBodysValue) {
  const auto value = withReporters(both, [] { return reportingErrors([] { return 42; }); });
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(first->reports().empty());
}

TEST_F(ReportIssueTest, ReportingErrorsReportsAThrownErrorOnceAndReturnsNothing) {
  const auto value = withReporters(both, [] {
    return reportingErrors(
        {.message = "Saving failed"}, []() -> int { throw CancellationError(); }, kAt);
  });
  EXPECT_EQ(value, std::nullopt);
  const auto reports = first->reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].error, "CancellationError()");
  EXPECT_EQ(reports[0].message, "Saving failed");
  EXPECT_EQ(reports[0].location, kAt);
}

TEST_F(ReportIssueTest, ReportingErrorsUsesTheGivenReportersForTheRun) {
  auto given = std::make_shared<RecordingReporter>();
  const bool ran = withReporters(both, [&] {
    return reportingErrors({.reporters = IssueReporterList{given}},
                           [] { throw std::runtime_error("disk full"); });
  });
  EXPECT_FALSE(ran);
  EXPECT_EQ(given->reports().size(), 1u);
  EXPECT_TRUE(first->reports().empty());
  EXPECT_TRUE(withReporters(both, [] { return reportingErrors([] {}); }));
}

}  // namespace
}  // namespace voduzazi
