#include "voduzazi/helpers/observation_token.hpp"

#include <utility>

namespace voduzazi {

ObservationToken::ObservationToken(std::function<void()> onCancel)
    : onCancel_(std::move(onCancel)) {}

ObservationToken::~ObservationToken() { cancel(); }

bool ObservationToken::isCancelled() const {
  std::lock_guard lock(mutex_);
  return isCancelled_;
}

void ObservationToken::cancel() {
  std::lock_guard lock(mutex_);
  if (isCancelled_) return;
  // Marked first, so that a re-entrant cancel from inside the action finds it done.
  isCancelled_ = true;
  if (onCancel_) onCancel_();
}

std::function<void()> ObservationToken::onCancel() const {
  std::lock_guard lock(mutex_);
  return onCancel_;
}

void ObservationToken::setOnCancel(std::function<void()> action) {
  std::lock_guard lock(mutex_);
  onCancel_ = std::move(action);
}

void ObservationToken::store(std::vector<std::shared_ptr<ObservationToken>>& tokens) {
  tokens.push_back(shared_from_this());
}

void ObservationToken::store(std::unordered_set<std::shared_ptr<ObservationToken>>& tokens) {
  tokens.insert(shared_from_this());
}

}  // namespace voduzazi
