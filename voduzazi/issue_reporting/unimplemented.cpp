#include "voduzazi/issue_reporting/unimplemented.hpp"

#include "voduzazi/issue_reporting/report_issue.hpp"

namespace voduzazi {

UnimplementedFailure::UnimplementedFailure(std::string description)
    : description(std::move(description)),
      text_("UnimplementedFailure(description: " + quotedDescription(this->description) + ")") {}

void reportUnimplemented(const std::string& description,
                         const std::optional<std::string>& arguments, const FunctionLocation& at) {
  std::string message = "Unimplemented";
  if (!description.empty()) message += ": " + description;
  message += " \u2026\n\n  Defined in '" + at.function + "' at:\n    " + at.location.fileID + ":" +
             std::to_string(at.location.line);
  if (arguments) message += "\n\n  Invoked with:\n    " + *arguments;
  reportIssue(LazyMessage(std::move(message)), at.location);
}

}  // namespace voduzazi
