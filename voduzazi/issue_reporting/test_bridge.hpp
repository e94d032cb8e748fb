// The test-framework bridge: turns issues into failures of the running test framework through
// hooks that a test-support library installs at start-up. Without hooks every operation falls
// back to a line on standard error (and still runs the body it was given).
//
//   bridge::recordIssue("Bad header", "Helpers/x.cpp", "/src/helpers/x.cpp", 12, 3);
//   bridge::withKnownIssue(std::nullopt, false, "A/b.cpp", "/src/a/b.cpp", 1, 1, [] { flaky(); });
//   int value = bridge::XCTExpectFailure<int>("flaky", {}, {}, "/src/a.cpp", 7, [] { return 1; });
//   auto previous = bridge::installTestSupport(std::make_shared<bridge::TestSupportHooks>(hooks));
#pragma once

#include <any>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "voduzazi/concurrency/any_hashable_sendable.hpp"
#include "voduzazi/issue_reporting/error_description.hpp"
#include "voduzazi/issue_reporting/fatal_error.hpp"

namespace voduzazi::bridge {

// The running test as the framework names it.
struct Test {
  AnyHashableSendable id;
  std::vector<std::any> traits;
};

// What a test-support library offers. Any member may be empty; the bridge then falls back.
// Every function must be safe to call from any thread.
struct TestSupportHooks {
  // The running test, or none outside a test.
  std::function<std::optional<Test>()> currentTest;
  // message, fileID, filePath, line, column
  std::function<void(const std::optional<std::string>&, const std::string&, const std::string&, int,
                     int)>
      recordIssue;
  // error, message, fileID, filePath, line, column
  std::function<void(const std::exception_ptr&, const std::optional<std::string>&,
                     const std::string&, const std::string&, int, int)>
      recordError;
  // message, isIntermittent, fileID, filePath, line, column, body (may throw)
  std::function<void(const std::optional<std::string>&, bool, const std::string&,
                     const std::string&, int, int, const std::function<void()>&)>
      withKnownIssue;
  // message, file path, line
  std::function<void(const std::string&, const std::string&, std::uint32_t)> XCTFail;
  // reason, enabled, strict, file path, line, block (never throws); must run the block before
  // returning
  std::function<void(const std::optional<std::string>&, std::optional<bool>, std::optional<bool>,
                     const std::string&, std::uint32_t, const std::function<void()>&)>
      XCTExpectFailure;
};

// Installs `hooks` (null uninstalls) and returns the previous ones. Safe from any thread; later
// bridge calls see the new hooks.
std::shared_ptr<const TestSupportHooks> installTestSupport(
    std::shared_ptr<const TestSupportHooks> hooks);
// The installed hooks, or null.
std::shared_ptr<const TestSupportHooks> testSupport();
bool testSupportInstalled();

// Records an issue in the running test; without a hook writes "<fileID>:<line>: An issue was
// recorded without linking the Testing framework." and a hint to standard error.
void recordIssue(const std::optional<std::string>& message, const std::string& fileID,
                 const std::string& filePath, int line, int column);
// As recordIssue, handing the framework the error itself.
void recordError(const std::exception_ptr& error, const std::optional<std::string>& message,
                 const std::string& fileID, const std::string& filePath, int line, int column);
// Runs `body` in the framework's known-issue scope; without a hook writes the fallback line and
// runs `body`, discarding what it throws. Never throws.
void withKnownIssue(const std::optional<std::string>& message, bool isIntermittent,
                    const std::string& fileID, const std::string& filePath, int line, int column,
                    const std::function<void()>& body);
// The running test, or none (also without a hook).
std::optional<Test> currentTest();
// Fails the running test; without a hook writes "<file>:<line>: A failure was recorded without
// linking the XCTest framework", ": " and the message when it is not empty, and a hint.
void XCTFail(const std::string& message, const std::string& file, std::uint32_t line);

// Runs `block` in the framework's expected-failure scope and returns its value or rethrows its
// error. Without a hook writes the fallback line and runs `block` directly. A hook that throws,
// or that returns without running the block, stops the program.
template <class R, class Block>
R XCTExpectFailure(const std::optional<std::string>& reason, std::optional<bool> enabled,
                   std::optional<bool> strict, const std::string& file, std::uint32_t line,
                   Block&& block);

namespace detail {

using ExpectFailureHook = std::function<void(const std::function<void()>&)>;
// The installed expected-failure hook bound to reason, enabled and strict, or empty after
// writing the fallback line for `file` and `line`.
ExpectFailureHook expectFailureHook(const std::optional<std::string>& reason,
                                    std::optional<bool> enabled, std::optional<bool> strict,
                                    const std::string& file, std::uint32_t line);

}  // namespace detail

template <class R, class Block>
R XCTExpectFailure(const std::optional<std::string>& reason, std::optional<bool> enabled,
                   std::optional<bool> strict, const std::string& file, std::uint32_t line,
                   Block&& block) {
  const detail::ExpectFailureHook hook =
      detail::expectFailureHook(reason, enabled, strict, file, line);
  if (!hook) return std::forward<Block>(block)();

  using Slot = std::conditional_t<std::is_void_v<R>, bool, R>;
  std::optional<Slot> value;
  std::exception_ptr error;
  try {
    hook([&]() noexcept {
      try {
        if constexpr (std::is_void_v<R>) {
          block();
          value = true;
        } else {
          value.emplace(block());
        }
      } catch (...) {
        error = std::current_exception();
      }
    });
  } catch (...) {
    fatalError("The expected-failure scope of the test framework failed: " +
                   describeError(std::current_exception()),
               file, line);
  }
  if (error) std::rethrow_exception(error);
  if (!value) fatalError("The expected-failure scope did not run its block", file, line);
  if constexpr (!std::is_void_v<R>) return std::move(*value);
}

}  // namespace voduzazi::bridge
