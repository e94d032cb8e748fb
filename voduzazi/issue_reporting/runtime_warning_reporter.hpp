// RuntimeWarningReporter: the default reporter. Logs each issue as a fault under the subsystem
// "com.apple.runtime-issues" (category: the module part of the file id), and each expected issue
// as an informational entry under "co.quillmoor.expected-issues". Under previews
// ("XCODE_RUNNING_FOR_PREVIEWS" = "1") issues are printed to standard output instead.
//
//   auto reporter = std::make_shared<RuntimeWarningReporter>();        // the system log sink
//   auto capturing = std::make_shared<RuntimeWarningReporter>(mySink);  // any LogSink
//   reporter->reportIssue("Bad header", SourceLocation::current());
#pragma once

#include <memory>
#include <string>

#include "voduzazi/issue_reporting/issue_reporter.hpp"
#include "voduzazi/issue_reporting/log_sink.hpp"

namespace voduzazi {

// Shared objects: safe as far as the sink is (the system sink is).
class RuntimeWarningReporter final : public IssueReporter {
 public:
  explicit RuntimeWarningReporter(std::shared_ptr<LogSink> sink = systemLogSink());

  using IssueReporter::expectIssue;
  using IssueReporter::reportIssue;
  void reportIssue(const LazyMessage& message, const SourceLocation& location) override;
  void expectIssue(const LazyMessage& message, const SourceLocation& location) override;

  const std::shared_ptr<LogSink>& sink() const { return sink_; }

 private:
  std::shared_ptr<LogSink> sink_;
};

// The text of a file id up to its first "/" (the whole text when it has none).
std::string logCategory(const std::string& fileID);

}  // namespace voduzazi
