#include "voduzazi/platform/application_lifecycle.hpp"

#include <utility>

namespace voduzazi {

ApplicationLifecycle::ApplicationLifecycle(ApplicationActivity initial)
    : activity_(initial), changes_(initial, /*emitsLastEventWhenAttaching=*/false) {}

const std::shared_ptr<ApplicationLifecycle>& ApplicationLifecycle::shared() {
  // Never destroyed: clients may still unsubscribe while the process exits.
  static const auto* process = new std::shared_ptr<ApplicationLifecycle>(
      std::make_shared<ApplicationLifecycle>());
  return *process;
}

ApplicationActivity ApplicationLifecycle::activity() const { return activity_.value(); }

void ApplicationLifecycle::setActivity(ApplicationActivity activity) {
  const bool changed = activity_.withValue([&](ApplicationActivity& current) {
    return std::exchange(current, activity) != activity;
  });
  if (changed) changes_.emit(activity);
}

std::shared_ptr<ObservationToken> ApplicationLifecycle::observe(Observer observer) {
  auto token = changes_.attach(observer);
  if (activity() == ApplicationActivity::active) observer(ApplicationActivity::active);
  return token;
}

}  // namespace voduzazi
