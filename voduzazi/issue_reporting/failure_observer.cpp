#include "voduzazi/issue_reporting/failure_observer.hpp"

namespace voduzazi {

const TaskLocal<std::shared_ptr<FailureObserver>>& FailureObserver::local() {
  static const TaskLocal<std::shared_ptr<FailureObserver>> bound{nullptr};
  return bound;
}

std::shared_ptr<FailureObserver> FailureObserver::current() { return local().get(); }

}  // namespace voduzazi
