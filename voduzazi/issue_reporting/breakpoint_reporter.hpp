// BreakpointReporter: prints each issue to standard error and, when a debugger is attached,
// stops in it (SIGTRAP); execution goes on when the developer continues. Ignores expected issues.
//
//   withReporters({std::make_shared<BreakpointReporter>()}, [&] { client.run(); });
//   // stderr: "Client/client.cpp:42: Channel already subscribed"
#pragma once

#include <functional>

#include "voduzazi/issue_reporting/issue_reporter.hpp"

namespace voduzazi {

// Shared objects: safe (immutable). The debugger is looked for afresh on every report.
class BreakpointReporter final : public IssueReporter {
 public:
  // `debuggerAttached` answers whether to trap; by default a tracer of this process is looked up.
  explicit BreakpointReporter(std::function<bool()> debuggerAttached = {});

  using IssueReporter::reportIssue;
  void reportIssue(const LazyMessage& message, const SourceLocation& location) override;
  void expectIssue(const LazyMessage&, const SourceLocation&) override {}
  void expectIssue(const std::exception_ptr&, const LazyMessage&, const SourceLocation&) override {}

 private:
  std::function<bool()> debuggerAttached_;
};

}  // namespace voduzazi
