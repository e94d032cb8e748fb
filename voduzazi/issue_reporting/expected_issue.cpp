#include "voduzazi/issue_reporting/expected_issue.hpp"

#include "voduzazi/issue_reporting/app_host_warning.hpp"
#include "voduzazi/issue_reporting/failure_observer.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/issue_reporting/test_bridge.hpp"
#include "voduzazi/issue_reporting/test_context.hpp"

namespace voduzazi {
namespace {

void expectInKnownIssueScope(const ExpectedIssueOptions& options, const std::function<void()>& body,
                             const SourceLocation& location) {
  bridge::withKnownIssue(options.message, options.isIntermittent, location.fileID,
                         location.filePath, static_cast<int>(location.line),
                         static_cast<int>(location.column), body);
}

void expectInExpectedFailureScope(const ExpectedIssueOptions& options,
                                  const std::function<void()>& body,
                                  const SourceLocation& location) {
  // The framework counts failures; a thrown error becomes one.
  const auto failingBlock = [&] {
    try {
      body();
    } catch (...) {
      reportIssue(std::current_exception(), {}, location);
    }
  };
  bridge::XCTExpectFailure<void>(withAppHostWarningIfNeeded(options.message), std::nullopt,
                                 !options.isIntermittent, location.filePath, location.line,
                                 failingBlock);
}

// Outside tests: counts the body's issues with a fresh observer.
void expectWithoutTestFramework(const ExpectedIssueOptions& options,
                                const std::function<void()>& body, const SourceLocation& location) {
  const auto observer = std::make_shared<FailureObserver>();
  std::exception_ptr error;
  FailureObserver::local().withValue(observer, [&] {
    try {
      body();
    } catch (...) {
      error = std::current_exception();
    }
  });
  const SourceLocation at = applyIssueContext(location);
  const LazyMessage message =
      options.message ? LazyMessage(*options.message) : LazyMessage(std::nullopt);
  if (error) {
    for (const auto& reporter : IssueReporters::current()) {
      reporter->expectIssue(error, message, at);
    }
    return;
  }
  const auto count = observer->withLock([](std::int64_t& value) { return value; });
  if (count != 0 || options.isIntermittent) return;
  const LazyMessage complaint(knownIssueNotRecordedText(options.message));
  for (const auto& reporter : IssueReporters::current()) reporter->reportIssue(complaint, at);
}

}  // namespace

std::string knownIssueNotRecordedText(const std::optional<std::string>& message) {
  std::string text = "Known issue was not recorded";
  if (message) text += ": " + *message;
  return text;
}

void withExpectedIssue(ExpectedIssueOptions options, const std::function<void()>& body,
                       SourceLocation location) {
  const auto context = TestContext::current();
  if (!context) return expectWithoutTestFramework(options, body, location);
  if (context->isSwiftTesting()) return expectInKnownIssueScope(options, body, location);
  expectInExpectedFailureScope(options, body, location);
}

void withExpectedIssue(const std::function<void()>& body, SourceLocation location) {
  withExpectedIssue(ExpectedIssueOptions{}, body, std::move(location));
}

}  // namespace voduzazi
