// FatalErrorReporter: stops the program at the first issue, naming the file path and line.
// Ignores expected issues.
//
//   withReporters({IssueReporter::fatalError()}, [&] { client.run(); });
//   // stderr: "/src/client/client.cpp:42: Fatal error: Channel already subscribed", then abort
#pragma once

#include "voduzazi/issue_reporting/issue_reporter.hpp"

namespace voduzazi {

// Shared objects: safe (stateless).
class FatalErrorReporter final : public IssueReporter {
 public:
  using IssueReporter::reportIssue;
  [[noreturn]] void reportIssue(const LazyMessage& message,
                                const SourceLocation& location) override;
  void expectIssue(const LazyMessage&, const SourceLocation&) override {}
  void expectIssue(const std::exception_ptr&, const LazyMessage&, const SourceLocation&) override {}
};

}  // namespace voduzazi
