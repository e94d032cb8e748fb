// ObservationToken: a cancellation handle for one registration. Its cancel action runs at most
// once: when cancel() or remove() is called, or when the last reference to the token goes away.
//
//   std::shared_ptr<ObservationToken> token = emitter.attach([](const Event& e) { show(e); });
//   std::vector<std::shared_ptr<ObservationToken>> bag;
//   token->store(bag);     // the registration lasts as long as `bag` holds it
//   token->cancel();       // or drop every reference: the listener is removed either way
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace voduzazi {

// Shared objects: safe. Lifetime: held by shared_ptr; the destructor cancels the token.
class ObservationToken : public std::enable_shared_from_this<ObservationToken> {
 public:
  explicit ObservationToken(std::function<void()> onCancel = {});
  ~ObservationToken();
  ObservationToken(const ObservationToken&) = delete;
  ObservationToken& operator=(const ObservationToken&) = delete;

  bool isCancelled() const;
  // Runs the cancel action under the token's lock unless it has run already; an action that
  // cancels its own token again does not run a second time.
  void cancel();
  // The same as cancel().
  void remove() { cancel(); }

  std::function<void()> onCancel() const;
  void setOnCancel(std::function<void()> action);

  // Keeps this token alive in `tokens`. The token must be owned by a shared_ptr.
  void store(std::vector<std::shared_ptr<ObservationToken>>& tokens);
  void store(std::unordered_set<std::shared_ptr<ObservationToken>>& tokens);

 private:
  mutable std::recursive_mutex mutex_;
  bool isCancelled_ = false;
  std::function<void()> onCancel_;
};

}  // namespace voduzazi
