// IssueReporter: where issues go outside test runs. Override reportIssue(message) at least; the
// error forms and the expected-issue forms have defaults.
//
//   class CollectingReporter : public IssueReporter {
//    public:
//     void reportIssue(const LazyMessage& message, const SourceLocation& at) override {...}
//   };
//   withReporters({std::make_shared<CollectingReporter>()}, [&] { client.run(); });
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/issue_reporting/lazy_message.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

// Implementations may be called from any thread at the same time.
class IssueReporter {
 public:
  virtual ~IssueReporter() = default;

  // An issue. The message is evaluated only if the reporter needs it.
  virtual void reportIssue(const LazyMessage& message, const SourceLocation& location) = 0;
  // An error. Default: reportIssue with caughtErrorText(error, message).
  virtual void reportIssue(const std::exception_ptr& error, const LazyMessage& message,
                           const SourceLocation& location);
  // An issue raised inside an expected-issue scope. Default: nothing.
  virtual void expectIssue(const LazyMessage& message, const SourceLocation& location);
  // An error raised inside an expected-issue scope. Default: expectIssue with
  // caughtErrorText(error, message).
  virtual void expectIssue(const std::exception_ptr& error, const LazyMessage& message,
                           const SourceLocation& location);

  // A new runtime-warning reporter (the default reporter).
  static std::shared_ptr<IssueReporter> runtimeWarning();
  // A new fatal-error reporter.
  static std::shared_ptr<IssueReporter> fatalError();
};

// "Caught error: " + the error's description, then ": " + the message when one is given.
std::string caughtErrorText(const std::exception_ptr& error, const LazyMessage& message);

// The message as reporters show it: absent or empty becomes `placeholder`.
std::string messageText(const LazyMessage& message, const std::string& placeholder);

}  // namespace voduzazi
