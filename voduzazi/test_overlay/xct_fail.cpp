#include "voduzazi/test_overlay/xct_fail.hpp"

#include "voduzazi/issue_reporting/report_issue.hpp"

namespace voduzazi::test_overlay {

const TaskLocal<std::optional<XCTFailContext>>& XCTFailContext::local() {
  static const TaskLocal<std::optional<XCTFailContext>> bound{std::nullopt};
  return bound;
}

std::optional<XCTFailContext> XCTFailContext::current() { return local().get(); }

void XCTFail(const std::string& message, const SourceLocation& location) {
  const auto context = XCTFailContext::current();
  reportIssue(LazyMessage(message), SourceLocation{"XCTestDynamicOverlay/Deprecations.cpp",
                                                   context ? context->file : location.filePath,
                                                   context ? context->line : location.line, 14});
}

}  // namespace voduzazi::test_overlay
