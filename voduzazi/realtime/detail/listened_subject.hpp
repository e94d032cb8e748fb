// ListenedSubject: a current value with streams of its changes (an AsyncValueSubject) whose
// changes also reach listeners, called on a ListenerQueue: each listener gets the current value
// when it starts listening, then every later one, in order.
//
//   detail::ListenedSubject<Status> status(Status::disconnected, queue);
//   auto token = status.listen([](const Status& s) { show(s); });   // disconnected first
//   status.yield(Status::connected);                                  // then connected
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/helpers/async_value_subject.hpp"
#include "voduzazi/helpers/observation_token.hpp"
#include "voduzazi/realtime/detail/listener_queue.hpp"

namespace voduzazi::realtime::detail {

// Shared objects: safe. Lifetime: listeners are called while the queue is open; tokens may
// outlive the subject.
template <class T>
class ListenedSubject {
 public:
  ListenedSubject(T initial, std::shared_ptr<ListenerQueue> queue)
      : subject_(std::move(initial)), queue_(std::move(queue)) {}

  T value() const { return subject_.value(); }
  AsyncStream<T> values() { return subject_.values(); }

  // Makes `value` current, for the streams and the listeners alike; ignored after finish().
  void yield(T value) {
    std::lock_guard lock(listeners_->mutex);
    if (listeners_->finished) return;
    subject_.yield(value);
    for (const auto& listener : listeners_->list) post(listener, value);
  }
  // Ends the streams; later values reach nobody.
  void finish() {
    std::lock_guard lock(listeners_->mutex);
    listeners_->finished = true;
    listeners_->list.clear();
    subject_.finish();
  }

  // Calls `listener` on the queue with the current value, then with each later one, until the
  // token is cancelled or released.
  std::shared_ptr<ObservationToken> listen(std::function<void(const T&)> listener) {
    auto entry = std::make_shared<Listener>(std::move(listener));
    {
      std::lock_guard lock(listeners_->mutex);
      post(entry, subject_.value());
      if (!listeners_->finished) listeners_->list.push_back(entry);
    }
    return std::make_shared<ObservationToken>([entry, weak = std::weak_ptr<Listeners>(listeners_)] {
      entry->cancelled = true;
      if (const auto listeners = weak.lock()) {
        std::lock_guard lock(listeners->mutex);
        std::erase(listeners->list, entry);
      }
    });
  }

 private:
  struct Listener {
    explicit Listener(std::function<void(const T&)> f) : call(std::move(f)) {}
    const std::function<void(const T&)> call;
    std::atomic<bool> cancelled{false};
  };
  struct Listeners {
    std::mutex mutex;  // taken before the subject's lock and the queue's
    std::vector<std::shared_ptr<Listener>> list;
    bool finished = false;
  };

  void post(const std::shared_ptr<Listener>& listener, T value) {
    queue_->post([listener, value = std::move(value)] {
      if (!listener->cancelled) listener->call(value);
    });
  }

  AsyncValueSubject<T> subject_;
  const std::shared_ptr<ListenerQueue> queue_;
  const std::shared_ptr<Listeners> listeners_ = std::make_shared<Listeners>();
};

}  // namespace voduzazi::realtime::detail
