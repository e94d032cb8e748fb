// reportIssue: reports a developer-facing problem without stopping the program.
//
//   reportIssue("Channel already subscribed");
//   reportIssue([&] { return "Unexpected status " + status; }, SourceLocation::current());
#pragma once

#include "voduzazi/issue_reporting/lazy_message.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

// Safe from any thread. Never throws towards the caller.
void reportIssue(LazyMessage message = {}, SourceLocation location = SourceLocation::current());

}  // namespace voduzazi
