// IssueReporters: the reporters that issues reach outside test runs, scoped per task. By default
// one runtime-warning reporter; withReporters binds another list for the extent of an operation.
//
//   withReporters({std::make_shared<BreakpointReporter>()}, [&] { client.run(); });
//   withReporters({}, [&] { noisyCall(); });            // issues go nowhere
//   IssueReporters::setCurrent({IssueReporter::fatalError()});   // outside a scope: every task
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/concurrency/task_local.hpp"
#include "voduzazi/issue_reporting/issue_reporter.hpp"

namespace voduzazi {

using IssueReporterList = std::vector<std::shared_ptr<IssueReporter>>;

// Every member is safe from any thread; the list box's lock is held only to copy or replace it.
class IssueReporters {
 public:
  using Box = LockIsolated<IssueReporterList>;

  // A copy of the list of the box bound on this task (the process-wide default box when none).
  static IssueReporterList current();
  // Replaces the list of the box bound on this task: inside a withReporters scope that scope's
  // list only, outside every scope the default list that all unscoped tasks see.
  static void setCurrent(IssueReporterList reporters);
  // Reads the list, lets `change` edit the copy, and writes it back as setCurrent does.
  static void modifyCurrent(const std::function<void(IssueReporterList&)>& change);

  // The box bound on this task (null for the default box); withReporters binds it.
  static const TaskLocal<std::shared_ptr<Box>>& local();
};

// Runs `operation` with `reporters` as the task's list and returns its result; rethrows. The
// list is visible to child tasks created inside; the previous list is back afterwards.
template <class Operation>
decltype(auto) withReporters(IssueReporterList reporters, Operation&& operation) {
  return IssueReporters::local().withValue(
      std::make_shared<IssueReporters::Box>(std::move(reporters)),
      std::forward<Operation>(operation));
}

}  // namespace voduzazi
