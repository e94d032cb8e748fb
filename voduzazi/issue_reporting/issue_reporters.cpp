#include "voduzazi/issue_reporting/issue_reporters.hpp"

namespace voduzazi {
namespace {

// Never destroyed: detached tasks may still report while the process exits.
const std::shared_ptr<IssueReporters::Box>& defaultBox() {
  static const auto* box = new std::shared_ptr<IssueReporters::Box>(
      std::make_shared<IssueReporters::Box>(IssueReporterList{IssueReporter::runtimeWarning()}));
  return *box;
}

std::shared_ptr<IssueReporters::Box> boundBox() {
  auto box = IssueReporters::local().get();
  return box ? box : defaultBox();
}

}  // namespace

const TaskLocal<std::shared_ptr<IssueReporters::Box>>& IssueReporters::local() {
  static const TaskLocal<std::shared_ptr<Box>> bound{nullptr};
  return bound;
}

IssueReporterList IssueReporters::current() { return boundBox()->value(); }

void IssueReporters::setCurrent(IssueReporterList reporters) {
  boundBox()->setValue(std::move(reporters));
}

void IssueReporters::modifyCurrent(const std::function<void(IssueReporterList&)>& change) {
  IssueReporterList reporters = current();
  change(reporters);
  setCurrent(std::move(reporters));
}

}  // namespace voduzazi
