// reportIssue: reports a developer-facing problem without stopping the program. Inside a test
// run the issue fails the running test; otherwise it goes to the task's reporters (by default a
// runtime warning), or counts as expected inside withExpectedIssue.
//
//   reportIssue("Channel already subscribed");
//   reportIssue([&] { return "Unexpected status " + status; }, SourceLocation::current());
//   catch (const HTTPError& error) { reportIssue(error, "Refresh failed"); }
//   catch (...) { reportIssue(std::current_exception()); }
#pragma once

#include <exception>

#include "voduzazi/issue_reporting/lazy_message.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

// Safe from any thread. Never throws towards the caller (a reporter may stop the program).
// A bound IssueContext replaces `location`. The message is evaluated only where it is needed.
void reportIssue(LazyMessage message = {}, SourceLocation location = SourceLocation::current());

// An error, with an optional message; shown as "Caught error: " + its description + ": " + message
// where a text is needed.
void reportIssue(const std::exception_ptr& error, LazyMessage message = {},
                 SourceLocation location = SourceLocation::current());
void reportIssue(const std::exception& error, LazyMessage message = {},
                 SourceLocation location = SourceLocation::current());

}  // namespace voduzazi
