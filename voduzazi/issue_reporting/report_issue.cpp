#include "voduzazi/issue_reporting/report_issue.hpp"

#include <cstdio>

namespace voduzazi {

void reportIssue(LazyMessage message, SourceLocation location) {
  const std::string text = message.evaluate().value_or("");
  std::fprintf(stderr, "%s:%u: %s\n", location.fileID.c_str(), location.line, text.c_str());
}

}  // namespace voduzazi
