// LazyMessage: an optional issue message that is computed only when a reporter needs it.
//
//   reportIssue("plain text");
//   reportIssue([&] { return "Expensive: " + describe(state); });
//   reportIssue();                          // no message
#pragma once

#include <concepts>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace voduzazi {

// Distinct objects: safe. evaluate() may be called from any thread, any number of times.
class LazyMessage {
 public:
  LazyMessage() = default;
  LazyMessage(std::nullopt_t) {}
  // A null text counts as no message.
  LazyMessage(const char* text) {
    if (text != nullptr) *this = LazyMessage(std::string(text));
  }
  LazyMessage(std::string text)
      : make_([text = std::move(text)]() -> std::optional<std::string> { return text; }) {}
  template <class F>
  requires std::is_invocable_r_v<std::optional<std::string>, F> LazyMessage(F make)
      : make_(std::move(make)) {}

  // Computes the message; absent when none was given.
  std::optional<std::string> evaluate() const { return make_ ? make_() : std::nullopt; }

 private:
  std::function<std::optional<std::string>()> make_;
};

}  // namespace voduzazi
