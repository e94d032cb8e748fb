// withExpectedIssue: runs a body in which an issue is expected. In a test run the framework's
// known-issue scope decides; outside tests the body's issues are told to the reporters as
// expected, and "Known issue was not recorded" is reported when none came.
//
//   withExpectedIssue([&] { client.subscribeTwice(); });
//   withExpectedIssue({.message = "Flaky upstream", .isIntermittent = true}, [&] { sync(); });
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

struct ExpectedIssueOptions {
  std::optional<std::string> message{};  // why the issue is expected
  bool isIntermittent = false;           // no complaint when the issue does not come
};

// Never throws: an error thrown by `body` counts as the expected issue. Safe from any thread.
void withExpectedIssue(ExpectedIssueOptions options, const std::function<void()>& body,
                       SourceLocation location = SourceLocation::current());
void withExpectedIssue(const std::function<void()>& body,
                       SourceLocation location = SourceLocation::current());

// "Known issue was not recorded", then ": " and the message when there is one.
std::string knownIssueNotRecordedText(const std::optional<std::string>& message);

}  // namespace voduzazi
