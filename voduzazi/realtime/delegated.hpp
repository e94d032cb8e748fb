// Delegated: a callback box through which an object calls back into its owner without keeping
// the owner alive (or, when asked, keeping it alive). Input and Output may be void.
//
//   Delegated<int, double> delay;
//   delay.delegate(socket, [](Socket& s, int tries) { return s.backOff(tries); });
//   std::optional<double> seconds = delay.call(3);    // nothing once `socket` is gone
//   Delegated<void, void> onTimeout;
//   onTimeout.manuallyDelegate([] { retry(); });
//   onTimeout.call();
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace voduzazi::realtime {

namespace detail {

template <class Output>
using DelegatedResult = std::conditional_t<std::is_void_v<Output>, void, std::optional<Output>>;

template <class Input, class Output>
struct DelegatedFunction {
  using type = std::function<DelegatedResult<Output>(const Input&)>;
};
template <class Output>
struct DelegatedFunction<void, Output> {
  using type = std::function<DelegatedResult<Output>()>;
};

}  // namespace detail

// A value: copies share the stored function. It takes no lock: whoever holds the box decides on
// which thread it is set and called. A weakly delegated box is safe to call after its owner died.
template <class Input, class Output>
class Delegated {
 public:
  using Result = detail::DelegatedResult<Output>;
  using Function = typename detail::DelegatedFunction<Input, Output>::type;

  // Keeps `owner` weakly; once it is gone, call() yields nothing without running `action`.
  // `action` takes the owner (Owner&) and, unless Input is void, the input.
  template <class Owner, class Action>
  void delegate(const std::shared_ptr<Owner>& owner, Action action) {
    std::weak_ptr<Owner> weak = owner;
    store([weak, action = std::move(action)](auto&&... input) -> Result {
      if (auto strong = weak.lock()) return run(action, *strong, input...);
      return Result();
    });
  }

  // As delegate(), but the box keeps `owner` alive and always runs `action`.
  template <class Owner, class Action>
  void stronglyDelegate(std::shared_ptr<Owner> owner, Action action) {
    store([owner = std::move(owner), action = std::move(action)](auto&&... input) -> Result {
      return run(action, *owner, input...);
    });
  }

  // Stores `action` itself; it takes the input (nothing when Input is void).
  template <class Action>
  void manuallyDelegate(Action action) {
    store([action = std::move(action)](auto&&... input) -> Result {
      if constexpr (std::is_void_v<Output>) {
        action(input...);
      } else {
        return Result(action(input...));
      }
    });
  }

  void removeDelegate() { function_.reset(); }
  bool isDelegateSet() const noexcept { return function_ != nullptr; }

  // Nothing (or no effect) without a stored function, else the stored function's output.
  template <class... In>
  Result call(In&&... input) const {
    static_assert(sizeof...(In) == (std::is_void_v<Input> ? 0 : 1));
    if (!function_) return Result();
    return (*function_)(std::forward<In>(input)...);
  }

 private:
  template <class F>
  void store(F function) {
    function_ = std::make_shared<const Function>(std::move(function));
  }

  template <class Action, class Owner, class... In>
  static Result run(const Action& action, Owner& owner, const In&... input) {
    if constexpr (std::is_void_v<Output>) {
      action(owner, input...);
    } else {
      return Result(action(owner, input...));
    }
  }

  std::shared_ptr<const Function> function_;
};

}  // namespace voduzazi::realtime
