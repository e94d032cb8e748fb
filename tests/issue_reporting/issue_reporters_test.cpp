// The reporter list and its scopes, and the three reporters the library provides.
#include "voduzazi/issue_reporting/issue_reporters.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "tests/issue_reporting/captured_output.hpp"
#include "tests/issue_reporting/recording_reporter.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/issue_reporting/breakpoint_reporter.hpp"
#include "voduzazi/issue_reporting/detail/process_info.hpp"
#include "voduzazi/issue_reporting/fatal_error_reporter.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/issue_reporting/runtime_warning_reporter.hpp"

namespace voduzazi {
namespace {

using testing::CapturedOutput;
using testing::RecordingLogSink;
using testing::RecordingReporter;

const SourceLocation kAt{"Helpers/LoggerInterceptor.cpp", "/src/helpers/logger_interceptor.cpp", 12,
                         5};
const auto kCancelled = std::make_exception_ptr(CancellationError());

TEST(IssueReporters, DefaultListHoldsOneRuntimeWarningReporter) {
  const auto reporters = IssueReporters::current();
  ASSERT_EQ(reporters.size(), 1u);
  EXPECT_NE(dynamic_cast<RuntimeWarningReporter*>(reporters[0].get()), nullptr);
}

TEST(IssueReporters, ScopedListIsGoneAfterTheScopeWithItsWrites) {
  const auto outer = IssueReporters::current();
  auto inner = std::make_shared<RecordingReporter>();
  withReporters({}, [&] {
    reportIssue("nowhere");
    IssueReporters::setCurrent({inner});
    EXPECT_EQ(IssueReporters::current().size(), 1u);
    IssueReporters::modifyCurrent([&](IssueReporterList& list) { list.push_back(inner); });
    reportIssue("twice");
  });
  EXPECT_EQ(inner->messages(), (std::vector<std::string>{"twice", "twice"}));
  EXPECT_EQ(IssueReporters::current(), outer);
}

TEST(IssueReporters, WriteOutsideEveryScopeIsSeenByEveryUnscopedTask) {
  const auto original = IssueReporters::current();
  auto shared = std::make_shared<RecordingReporter>();
  IssueReporters::setCurrent({shared});
  Task<void>::detached([] { reportIssue("from a detached task"); }).value();
  IssueReporters::setCurrent(original);
  EXPECT_EQ(shared->messages(), std::vector<std::string>{"from a detached task"});
}

TEST(IssueReporters, DetachedTasksDoNotInheritTheScopedList) {
  auto scoped = std::make_shared<RecordingReporter>();
  withReporters({scoped}, [] {
    const auto inherited = Task<std::size_t>([] { return IssueReporters::current().size(); });
    const auto detached =
        Task<IssueReporterList>::detached([] { return IssueReporters::current(); });
    EXPECT_EQ(inherited.value(), 1u);
    EXPECT_NE(dynamic_cast<RuntimeWarningReporter*>(detached.value().at(0).get()), nullptr);
  });
}

std::atomic<long> lateReports{0};

class LateReporter final : public IssueReporter {
 public:
  void reportIssue(const LazyMessage&, const SourceLocation&) override { ++lateReports; }
};

// Detached tasks may still report while the process runs its exit handlers.
TEST(IssueReportersDeathTest, TasksMayReportWhileTheProcessExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        IssueReporters::setCurrent({std::make_shared<LateReporter>()});
        std::thread([] {
          for (;;) reportIssue("late");
        }).detach();
        while (lateReports == 0) std::this_thread::yield();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(IssueReporter, ErrorFormsDescribeTheCaughtError) {
  auto reporter = std::make_shared<RuntimeWarningReporter>(std::make_shared<RecordingLogSink>());
  auto sink = std::static_pointer_cast<RecordingLogSink>(reporter->sink());
  reporter->reportIssue(kCancelled, "polling", kAt);
  reporter->reportIssue(kCancelled, {}, kAt);
  reporter->expectIssue(kCancelled, {}, kAt);
  const auto entries = sink->entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].text, "Caught error: CancellationError(): polling");
  EXPECT_EQ(entries[1].text, "Caught error: CancellationError()");
  EXPECT_EQ(entries[2].text, "Caught error: CancellationError()");
  EXPECT_EQ(entries[2].level, LogLevel::info);
}

TEST(RuntimeWarningReporter, LogsIssuesAsFaultsUnderRuntimeIssues) {
  auto sink = std::make_shared<RecordingLogSink>();
  RuntimeWarningReporter reporter(sink);
  reporter.reportIssue("Bad header", kAt);
  reporter.reportIssue("", {"NoSlash", "/src/x.cpp", 1, 1});
  const auto entries = sink->entries();
  ASSERT_EQ(entries.size(), 2u);
  // Not a test run (no test support linked): no location prefix.
  EXPECT_EQ(entries[0],
            (LogEntry{"com.apple.runtime-issues", "Helpers", LogLevel::fault, "Bad header"}));
  EXPECT_EQ(entries[1],
            (LogEntry{"com.apple.runtime-issues", "NoSlash", LogLevel::fault, "Issue reported"}));
}

TEST(RuntimeWarningReporter, LogsExpectedIssuesAsInformation) {
  auto sink = std::make_shared<RecordingLogSink>();
  RuntimeWarningReporter reporter(sink);
  reporter.expectIssue({}, kAt);
  EXPECT_EQ(sink->entries().at(0), (LogEntry{"co.quillmoor.expected-issues", "Helpers",
                                             LogLevel::info, "Issue expected"}));
}

TEST(RuntimeWarningReporter, PrintsToStandardOutputUnderPreviewsOnly) {
  auto sink = std::make_shared<RecordingLogSink>();
  RuntimeWarningReporter reporter(sink);
  setenv("XCODE_RUNNING_FOR_PREVIEWS", "1", 1);
  CapturedOutput output(stdout);
  reporter.reportIssue("Bad header", kAt);
  reporter.reportIssue({}, kAt);
  const std::string printed = output.text();
  setenv("XCODE_RUNNING_FOR_PREVIEWS", "0", 1);
  reporter.reportIssue("logged", kAt);
  unsetenv("XCODE_RUNNING_FOR_PREVIEWS");
  EXPECT_EQ(printed,
            "\U0001F7E3 Helpers/LoggerInterceptor.cpp:12: Bad header\n"
            "\U0001F7E3 Helpers/LoggerInterceptor.cpp:12: \n");
  ASSERT_EQ(sink->entries().size(), 1u);
  EXPECT_EQ(sink->entries()[0].text, "logged");
}

TEST(SystemLogSink, WritesOneLineWithSubsystemCategoryAndLevel) {
  const LogEntry entry{"com.apple.runtime-issues", "Helpers", LogLevel::fault, "Bad header"};
  EXPECT_EQ(formatLogLine(entry), "[com.apple.runtime-issues:Helpers] fault: Bad header");
  CapturedOutput output;
  systemLogSink()->write(entry);
  EXPECT_EQ(output.text(), formatLogLine(entry) + "\n");
}

TEST(BreakpointReporter, WithoutDebuggerPrintsTheIssueAndGoesOn) {
  BreakpointReporter reporter;
  CapturedOutput output;
  reporter.reportIssue("Bad header", kAt);
  reporter.reportIssue("", kAt);
  reporter.reportIssue(kCancelled, {}, kAt);
  reporter.expectIssue("ignored", kAt);
  reporter.expectIssue(kCancelled, "ignored", kAt);
  EXPECT_EQ(output.text(),
            "Helpers/LoggerInterceptor.cpp:12: Bad header\n"
            "Helpers/LoggerInterceptor.cpp:12: Issue reported\n"
            "Helpers/LoggerInterceptor.cpp:12: Caught error: CancellationError()\n");
}

TEST(BreakpointReporterDeathTest, WithDebuggerStopsOnATrap) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BreakpointReporter reporter([] { return true; });
  EXPECT_EXIT(reporter.reportIssue("Bad header", kAt), ::testing::KilledBySignal(SIGTRAP),
              "Bad header\n\nCaught debug breakpoint. Type \"continue\" \\(\"c\"\\) to resume");
}

TEST(FatalErrorReporterDeathTest, StopsNamingTheFilePath) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FatalErrorReporter reporter;
  reporter.expectIssue("ignored", kAt);
  reporter.expectIssue(kCancelled, "ignored", kAt);
  EXPECT_DEATH(reporter.reportIssue("Bad header", kAt),
               "/src/helpers/logger_interceptor.cpp:12: Fatal error: Bad header");
  EXPECT_DEATH(reporter.reportIssue(kCancelled, {}, kAt),
               "logger_interceptor.cpp:12: Fatal error: Caught error: CancellationError\\(\\)");
  EXPECT_DEATH(withReporters({IssueReporter::fatalError()}, [] { reportIssue(); }),
               "Fatal error: Issue reported");
}

TEST(DebuggerDetection, ReadsTheTracerFromProcessStatus) {
  EXPECT_EQ(detail::tracerPidFromStatus("Name:\tx\nTracerPid:\t4242\nUid:\t0\n"), 4242);
  EXPECT_EQ(detail::tracerPidFromStatus("Name:\tx\nTracerPid:\t0\n"), 0);
  EXPECT_EQ(detail::tracerPidFromStatus("Name:\tx\n"), 0);
}

}  // namespace
}  // namespace voduzazi
