#include "voduzazi/issue_reporting/breakpoint_reporter.hpp"

#include <csignal>
#include <string>

#include "voduzazi/issue_reporting/detail/process_info.hpp"
#include "voduzazi/issue_reporting/detail/standard_streams.hpp"

namespace voduzazi {

BreakpointReporter::BreakpointReporter(std::function<bool()> debuggerAttached)
    : debuggerAttached_(debuggerAttached ? std::move(debuggerAttached)
                                         : std::function<bool()>(detail::isDebuggerAttached)) {}

void BreakpointReporter::reportIssue(const LazyMessage& message, const SourceLocation& location) {
  detail::printError(location.fileID + ":" + std::to_string(location.line) + ": " +
                     messageText(message, "Issue reported"));
  if (!debuggerAttached_()) return;
  detail::printError("\nCaught debug breakpoint. Type \"continue\" (\"c\") to resume execution.");
  std::raise(SIGTRAP);
}

}  // namespace voduzazi
