#include "voduzazi/issue_reporting/report_issue.hpp"

#include "voduzazi/issue_reporting/app_host_warning.hpp"
#include "voduzazi/issue_reporting/error_description.hpp"
#include "voduzazi/issue_reporting/failure_observer.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/issue_reporting/test_bridge.hpp"
#include "voduzazi/issue_reporting/test_context.hpp"

namespace voduzazi {
namespace {

// Outside tests: counted by the task's observer and told to the reporters as expected, or told
// to them as a problem. No lock is held while a reporter runs.
template <class Report, class Expect>
void tellReporters(Report report, Expect expect) {
  const auto observer = FailureObserver::current();
  if (observer) observer->withLock([](std::int64_t& count) { ++count; });
  for (const auto& reporter : IssueReporters::current()) {
    if (observer) {
      expect(*reporter);
    } else {
      report(*reporter);
    }
  }
}

}  // namespace

void reportIssue(LazyMessage message, SourceLocation location) {
  location = applyIssueContext(std::move(location));
  if (const auto context = TestContext::current()) {
    auto text = message.evaluate();
    if (context->isSwiftTesting()) {
      bridge::recordIssue(text, location.fileID, location.filePath, static_cast<int>(location.line),
                          static_cast<int>(location.column));
    } else {
      bridge::XCTFail(withAppHostWarningIfNeeded(std::move(text)).value_or(""), location.filePath,
                      location.line);
    }
    return;
  }
  tellReporters([&](IssueReporter& r) { r.reportIssue(message, location); },
                [&](IssueReporter& r) { r.expectIssue(message, location); });
}

void reportIssue(const std::exception_ptr& error, LazyMessage message, SourceLocation location) {
  location = applyIssueContext(std::move(location));
  if (const auto context = TestContext::current()) {
    if (context->isSwiftTesting()) {
      bridge::recordError(error, message.evaluate(), location.fileID, location.filePath,
                          static_cast<int>(location.line), static_cast<int>(location.column));
    } else {
      bridge::XCTFail(withAppHostWarningIfNeeded(caughtErrorText(error, message)),
                      location.filePath, location.line);
    }
    return;
  }
  tellReporters([&](IssueReporter& r) { r.reportIssue(error, message, location); },
                [&](IssueReporter& r) { r.expectIssue(error, message, location); });
}

void reportIssue(const std::exception& error, LazyMessage message, SourceLocation location) {
  reportIssue(captureError(error), std::move(message), std::move(location));
}

}  // namespace voduzazi
