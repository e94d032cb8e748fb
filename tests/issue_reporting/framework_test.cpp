// Issue reporting inside a GoogleTest run: this executable links the test-support object, so
// issues become test failures and expected-issue scopes are the framework's known-issue scopes.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/issue_reporting/issue_recorder.hpp"
#include "tests/issue_reporting/recording_reporter.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/issue_reporting/expected_issue.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/issue_reporting/runtime_warning_reporter.hpp"
#include "voduzazi/issue_reporting/test_bridge.hpp"
#include "voduzazi/issue_reporting/test_context.hpp"
#include "voduzazi/issue_reporting/test_detection.hpp"
#include "voduzazi/issue_reporting/unimplemented.hpp"

namespace voduzazi {
namespace {

const SourceLocation kAt{"Helpers/logger.cpp", "/src/helpers/logger.cpp", 12, 5};

struct Failure {
  std::string file;
  int line = 0;
  std::string message;  // without the "Failed\n" that GoogleTest puts first
};

// The failures `body` records on any thread, kept from the running test.
template <class Body>
std::vector<Failure> failuresOf(Body&& body) {
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
    body();
  }
  std::vector<Failure> failures;
  for (int i = 0; i < results.size(); ++i) {
    const auto& result = results.GetTestPartResult(i);
    if (!result.failed()) continue;
    std::string message = result.message();
    if (message.starts_with("Failed\n")) message.erase(0, 7);
    failures.push_back(
        {result.file_name() ? result.file_name() : "", result.line_number(), message});
  }
  return failures;
}

TEST(TestFramework, RunningTestIsTheSwiftTestingContextNamedSuiteDotName) {
  EXPECT_TRUE(isTesting());
  const auto context = TestContext::current();
  ASSERT_TRUE(context.has_value());
  ASSERT_NE(context->testing(), nullptr);
  EXPECT_EQ(
      context->testing()->test.id.rawValue,
      AnyHashableSendable("TestFramework.RunningTestIsTheSwiftTestingContextNamedSuiteDotName"));
}

TEST(TestFramework, IssuesFailTheRunningTestAtTheirFileAndLine) {
  const auto failures = failuresOf([] {
    reportIssue("Channel already subscribed", kAt);
    reportIssue(std::make_exception_ptr(CancellationError()), "while polling", kAt);
    reportIssue({}, kAt);
  });
  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[0].file, "/src/helpers/logger.cpp");
  EXPECT_EQ(failures[0].line, 12);
  EXPECT_EQ(failures[0].message, "Channel already subscribed");
  EXPECT_EQ(failures[1].message, "Caught error: CancellationError(): while polling");
  EXPECT_EQ(failures[2].message, "Issue recorded");
}

TEST(TestFramework, IssuesOfOtherThreadsFailTheTestToo) {
  const auto failures =
      failuresOf([] { Task<void>([] { reportIssue("from a task", kAt); }).value(); });
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].message, "from a task");
}

TEST(TestFramework, ReportersAreNotAskedDuringTestRuns) {
  auto reporter = std::make_shared<testing::RecordingReporter>();
  failuresOf([&] { withReporters({reporter}, [] { reportIssue("to the framework"); }); });
  EXPECT_TRUE(reporter->reports().empty());
}

TEST(TestFramework, KnownIssueScopeAbsorbsTheIssue) {
  const auto failures = failuresOf([] {
    withExpectedIssue([] { reportIssue("known"); });
    withExpectedIssue([] { ADD_FAILURE() << "an expectation that is known to fail"; });
    withExpectedIssue([] { throw std::runtime_error("known error"); });
    withExpectedIssue([] { Task<void>([] { reportIssue("from a task"); }).value(); });
    withExpectedIssue({.isIntermittent = true}, [] {});
  });
  EXPECT_TRUE(failures.empty());
}

TEST(TestFramework, KnownIssueScopeFailsWhenTheIssueStaysAway) {
  const auto failures = failuresOf([] {
    withExpectedIssue(
        {.message = "Flaky upstream"}, [] {}, kAt);
    withExpectedIssue([] {}, kAt);
  });
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].message, "Known issue was not recorded: Flaky upstream");
  EXPECT_EQ(failures[0].file, "/src/helpers/logger.cpp");
  EXPECT_EQ(failures[0].line, 12);
  EXPECT_EQ(failures[1].message, "Known issue was not recorded");
}

TEST(TestFramework, UnimplementedCallsFailTheTest) {
  const auto fetch = unimplemented<int(int)>("Client.fetch", 0);
  withExpectedIssue([&] { fetch(1); });
  const auto failures = failuresOf([&] { fetch(2); });
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_TRUE(failures[0].message.starts_with("Unimplemented: Client.fetch"));
}

TEST(TestFramework, RuntimeWarningsCarryTheirLocationDuringTestRuns) {
  auto sink = std::make_shared<testing::RecordingLogSink>();
  RuntimeWarningReporter(sink).reportIssue("Bad header", kAt);
  EXPECT_EQ(sink->entries().at(0).text, "Helpers/logger.cpp:12: Bad header");
}

// The swiftTesting road hands the framework the message and the error as they are.
TEST(TestFramework, FrameworkReceivesTheMessageAndTheErrorItself) {
  std::vector<std::string> calls;
  std::exception_ptr received;
  bridge::TestSupportHooks hooks;
  hooks.currentTest = [] { return bridge::Test{std::string("Fake.test"), {}}; };
  hooks.recordIssue = [&](const std::optional<std::string>& message, const std::string& fileID,
                          const std::string& filePath, int line, int column) {
    calls.push_back(message.value_or("<none>") + "|" + fileID + "|" + filePath + "|" +
                    std::to_string(line) + "|" + std::to_string(column));
  };
  hooks.recordError = [&](const std::exception_ptr& error,
                          const std::optional<std::string>& message, auto&&...) {
    received = error;
    calls.push_back("error|" + message.value_or("<none>"));
  };
  const auto error = std::make_exception_ptr(CancellationError());
  {
    testing::InstalledHooks installed(std::move(hooks));
    reportIssue({}, kAt);
    withIssueContext({"Clocks/TestClock", "/src/clocks/test_clock.cpp", 3, 4},
                     [] { reportIssue("moved", kAt); });
    reportIssue(error, {}, kAt);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "<none>|Helpers/logger.cpp|/src/helpers/logger.cpp|12|5",
                       "moved|Clocks/TestClock|/src/clocks/test_clock.cpp|3|4", "error|<none>"}));
  EXPECT_EQ(received, error);
}

// Without a named test the road is the plain-failure one.
TEST(TestFramework, WithoutANamedTestIssuesBecomePlainFailures) {
  std::vector<std::string> failures;
  std::vector<std::string> expectations;
  bridge::TestSupportHooks hooks;
  hooks.XCTFail = [&](const std::string& message, const std::string& file, std::uint32_t line) {
    failures.push_back(message + "|" + file + ":" + std::to_string(line));
  };
  hooks.XCTExpectFailure = [&](const std::optional<std::string>& reason,
                               std::optional<bool> enabled, std::optional<bool> strict,
                               const std::string&, std::uint32_t,
                               const std::function<void()>& block) {
    expectations.push_back(reason.value_or("<none>") + "|" + (enabled ? "enabled" : "default") +
                           "|" + (strict.value_or(true) ? "strict" : "lenient"));
    block();
  };
  {
    testing::InstalledHooks installed(std::move(hooks));
    EXPECT_EQ(TestContext::current(), TestContext::xcTest());
    reportIssue({}, kAt);
    reportIssue(std::make_exception_ptr(CancellationError()), "polling", kAt);
    withExpectedIssue(
        {.message = "flaky", .isIntermittent = true}, [] { throw std::runtime_error("boom"); },
        kAt);
  }
  EXPECT_EQ(failures, (std::vector<std::string>{
                          "|/src/helpers/logger.cpp:12",
                          "Caught error: CancellationError(): polling|/src/helpers/logger.cpp:12",
                          "Caught error: boom|/src/helpers/logger.cpp:12"}));
  EXPECT_EQ(expectations, std::vector<std::string>{"flaky|default|lenient"});
}

}  // namespace
}  // namespace voduzazi
