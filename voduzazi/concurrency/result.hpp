// Result: the outcome of a throwing body kept as a value (its result or its exception).
//
//   auto result = Result<int>::catching([] { return parse(text); });
//   if (result.isSuccess()) use(result.get());   // get() rethrows a failure
#pragma once

#include <exception>
#include <type_traits>
#include <utility>
#include <variant>

namespace voduzazi {

template <class T>
class Result {
 public:
  template <class F>
  static Result catching(F&& body) {
    try {
      return Result(std::forward<F>(body)());
    } catch (...) {
      return Result(std::current_exception());
    }
  }

  explicit Result(T value) : outcome_(std::move(value)) {}
  explicit Result(std::exception_ptr error) : outcome_(std::move(error)) {}

  bool isSuccess() const { return std::holds_alternative<T>(outcome_); }
  // The value, or the failure rethrown.
  const T& get() const {
    if (auto* error = std::get_if<std::exception_ptr>(&outcome_)) std::rethrow_exception(*error);
    return std::get<T>(outcome_);
  }
  std::exception_ptr error() const {
    auto* error = std::get_if<std::exception_ptr>(&outcome_);
    return error ? *error : nullptr;
  }

 private:
  std::variant<T, std::exception_ptr> outcome_;
};

}  // namespace voduzazi
