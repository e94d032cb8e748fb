#include "voduzazi/issue_reporting/issue_context.hpp"

namespace voduzazi {

const TaskLocal<std::optional<IssueContext>>& IssueContext::local() {
  static const TaskLocal<std::optional<IssueContext>> bound{std::nullopt};
  return bound;
}

std::optional<IssueContext> IssueContext::current() { return local().get(); }

SourceLocation applyIssueContext(SourceLocation location) {
  if (auto context = IssueContext::current()) return context->location();
  return location;
}

}  // namespace voduzazi
