// IssueContext: a location that replaces the reporting call's own location for every issue
// reported while it is bound on the task (and its child tasks).
//
//   withIssueContext({"Clocks/TestClock", "/src/clocks/test_clock.cpp", 12, 3}, [&] {
//     reportIssue("Late sleep");        // reported at Clocks/TestClock:12:3
//   });
//   std::optional<IssueContext> bound = IssueContext::current();
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "voduzazi/concurrency/task_local.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

struct IssueContext {
  std::string fileID;
  std::string filePath;
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  // The context bound on the calling task, or absent.
  static std::optional<IssueContext> current();
  // The task-local behind current(); withIssueContext binds it.
  static const TaskLocal<std::optional<IssueContext>>& local();

  SourceLocation location() const { return {fileID, filePath, line, column}; }
};

// The bound context's location when there is one, else `location`.
SourceLocation applyIssueContext(SourceLocation location);

// Runs `operation` with `context` bound and returns its result; rethrows what it throws. The
// previous context is current again afterwards.
template <class Operation>
decltype(auto) withIssueContext(IssueContext context, Operation&& operation) {
  return IssueContext::local().withValue(std::move(context), std::forward<Operation>(operation));
}

}  // namespace voduzazi
