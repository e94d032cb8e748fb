// unimplemented: placeholder functions for dependencies that a test or preview does not supply.
// Calling one reports an "Unimplemented" issue that names it, where it was made and the
// arguments, then returns a placeholder, throws UnimplementedFailure, or throws a chosen error.
//
//   std::function<User(int)> fetch = unimplemented<User(int)>("Client.fetch", User{});
//   std::function<void()> save = unimplemented<void()>("Store.save");   // throws after reporting
//   auto load = unimplemented<Data()>("Loader.load", throwing([] { return NotFound(); }));
//   int limit = unimplemented<int>("Config.limit", 10);   // reports now, returns 10
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

#include "voduzazi/concurrency/debug_description.hpp"
#include "voduzazi/issue_reporting/lazy_message.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

// What the throwing placeholders throw: the evaluated description of the placeholder.
class UnimplementedFailure : public std::exception {
 public:
  explicit UnimplementedFailure(std::string description);
  // "UnimplementedFailure(description: " + the quoted description + ")".
  const char* what() const noexcept override { return text_.c_str(); }

  std::string description;

 private:
  std::string text_;
};

// The value a placeholder function returns: a value, or a function that makes one per call.
template <class R>
class Placeholder {
 public:
  template <class V>
  requires std::is_convertible_v<V, R> Placeholder(V&& value)
      : make_([value = R(std::forward<V>(value))] { return value; }) {}
  template <class F>
  requires(std::is_invocable_r_v<R, F> && !std::is_convertible_v<F, R>) Placeholder(F make)
      : make_(std::move(make)) {}

  R operator()() const { return make_(); }

 private:
  std::function<R()> make_;
};

// A void function's placeholder: nothing, or a function run per call.
template <>
class Placeholder<void> {
 public:
  Placeholder() = default;
  template <class F>
  requires std::is_invocable_v<F> Placeholder(F run) : run_(std::move(run)) {}

  void operator()() const {
    if (run_) run_();
  }

 private:
  std::function<void()> run_;
};

// The error a placeholder function throws, made per call.
template <class E>
struct Throwing {
  std::function<E()> make;
};
template <class F>
Throwing<std::invoke_result_t<F>> throwing(F make) {
  return {std::move(make)};
}

// Reports "Unimplemented" (": " + description when it is not empty), then where the placeholder
// was made ("Defined in '<function>' at: <fileID>:<line>", which a bound IssueContext does not
// change), then the arguments when given, at `at`'s location through reportIssue.
void reportUnimplemented(const std::string& description,
                         const std::optional<std::string>& arguments, const FunctionLocation& at);

namespace detail {

template <class Signature>
struct UnimplementedFunction;

template <class R, class... Args>
struct UnimplementedFunction<R(Args...)> {
  using Result = R;

  // A function that reports each call, then returns then(evaluated description).
  template <class Then>
  static std::function<R(Args...)> make(LazyMessage description, FunctionLocation at, Then then) {
    return [description = std::move(description), at = std::move(at),
            then = std::move(then)](Args... args) -> R {
      const std::string text = description.evaluate().value_or("");
      reportUnimplemented(text, argumentsDescription(args...), at);
      return then(text);
    };
  }
};

template <class Signature>
using UnimplementedResult = typename UnimplementedFunction<Signature>::Result;

}  // namespace detail

// A function that reports each call, then returns the placeholder.
template <class Signature>
requires std::is_function_v<Signature> std::function<Signature> unimplemented(
    LazyMessage description, Placeholder<detail::UnimplementedResult<Signature>> placeholder,
    FunctionLocation at = FunctionLocation::current()) {
  return detail::UnimplementedFunction<Signature>::make(
      std::move(description), std::move(at),
      [placeholder = std::move(placeholder)](const std::string&) { return placeholder(); });
}

// A function that reports each call, then throws UnimplementedFailure.
template <class Signature>
requires std::is_function_v<Signature> std::function<Signature> unimplemented(
    LazyMessage description = {}, FunctionLocation at = FunctionLocation::current()) {
  return detail::UnimplementedFunction<Signature>::make(
      std::move(description), std::move(at),
      [](const std::string& text) -> detail::UnimplementedResult<Signature> {
        throw UnimplementedFailure(text);
      });
}

// A function that reports each call, then throws the error `throwing` makes.
template <class Signature, class E>
requires std::is_function_v<Signature> std::function<Signature> unimplemented(
    LazyMessage description, Throwing<E> throwing,
    FunctionLocation at = FunctionLocation::current()) {
  return detail::UnimplementedFunction<Signature>::make(
      std::move(description), std::move(at),
      [throwing = std::move(throwing)](
          const std::string&) -> detail::UnimplementedResult<Signature> { throw throwing.make(); });
}

// Reports at once (without an arguments section) and returns the placeholder.
template <class T>
requires(!std::is_function_v<T>) T
    unimplemented(LazyMessage description, Placeholder<T> placeholder,
                  FunctionLocation at = FunctionLocation::current()) {
  reportUnimplemented(description.evaluate().value_or(""), std::nullopt, at);
  return placeholder();
}

}  // namespace voduzazi
