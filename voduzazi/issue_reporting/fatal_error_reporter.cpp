#include "voduzazi/issue_reporting/fatal_error_reporter.hpp"

#include "voduzazi/issue_reporting/fatal_error.hpp"

namespace voduzazi {

void FatalErrorReporter::reportIssue(const LazyMessage& message, const SourceLocation& location) {
  voduzazi::fatalError(messageText(message, "Issue reported"), location.filePath, location.line);
}

}  // namespace voduzazi
