#include "voduzazi/issue_reporting/issue_reporter.hpp"

#include "voduzazi/issue_reporting/error_description.hpp"
#include "voduzazi/issue_reporting/fatal_error_reporter.hpp"
#include "voduzazi/issue_reporting/runtime_warning_reporter.hpp"

namespace voduzazi {

void IssueReporter::reportIssue(const std::exception_ptr& error, const LazyMessage& message,
                                const SourceLocation& location) {
  reportIssue(LazyMessage(caughtErrorText(error, message)), location);
}

void IssueReporter::expectIssue(const LazyMessage&, const SourceLocation&) {}

void IssueReporter::expectIssue(const std::exception_ptr& error, const LazyMessage& message,
                                const SourceLocation& location) {
  expectIssue(LazyMessage(caughtErrorText(error, message)), location);
}

std::shared_ptr<IssueReporter> IssueReporter::runtimeWarning() {
  return std::make_shared<RuntimeWarningReporter>();
}

std::shared_ptr<IssueReporter> IssueReporter::fatalError() {
  return std::make_shared<FatalErrorReporter>();
}

std::string caughtErrorText(const std::exception_ptr& error, const LazyMessage& message) {
  std::string text = "Caught error: " + describeError(error);
  if (auto extra = message.evaluate()) text += ": " + *extra;
  return text;
}

std::string messageText(const LazyMessage& message, const std::string& placeholder) {
  std::string text = message.evaluate().value_or("");
  return text.empty() ? placeholder : text;
}

}  // namespace voduzazi
