// TaskLocal: a value bound for the extent of a scope on the current task, inherited by the child
// tasks spawned inside that scope (not by detached tasks).
//
//   inline const TaskLocal<std::string> requestID{""};
//   {
//     TaskLocal<std::string>::Binding bind(requestID, "r-1");
//     Task<void> child([] { assert(requestID.get() == "r-1"); });
//   }
#pragma once

#include <memory>
#include <utility>

namespace voduzazi {
namespace detail {

// An immutable list of bindings, newest first; a task copies its parent's head at spawn.
struct LocalBinding {
  const void* key;
  std::shared_ptr<const void> value;
  std::shared_ptr<const LocalBinding> next;
};
using LocalBindings = std::shared_ptr<const LocalBinding>;

// The bindings of the calling thread's task.
LocalBindings& currentBindings();

}  // namespace detail

// Distinct objects: safe. One object: safe to read and bind from any thread.
// Lifetime: declare it with static storage; bindings refer to it by address.
template <class T>
class TaskLocal {
 public:
  explicit TaskLocal(T defaultValue) : default_(std::move(defaultValue)) {}
  TaskLocal(const TaskLocal&) = delete;
  TaskLocal& operator=(const TaskLocal&) = delete;

  // The innermost value bound on this task, or the default.
  T get() const {
    for (const detail::LocalBinding* b = detail::currentBindings().get(); b; b = b->next.get()) {
      if (b->key == this) return *static_cast<const T*>(b->value.get());
    }
    return default_;
  }

  // Binds a value for the lifetime of this object, on the thread that creates it.
  class Binding {
   public:
    Binding(const TaskLocal& local, T value) : previous_(detail::currentBindings()) {
      detail::currentBindings() = std::make_shared<const detail::LocalBinding>(
          detail::LocalBinding{&local, std::make_shared<const T>(std::move(value)), previous_});
    }
    ~Binding() { detail::currentBindings() = previous_; }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

   private:
    detail::LocalBindings previous_;
  };

  // Runs `body` with `value` bound and returns its result.
  template <class F>
  decltype(auto) withValue(T value, F&& body) const {
    Binding binding(*this, std::move(value));
    return std::forward<F>(body)();
  }

 private:
  T default_;
};

}  // namespace voduzazi
