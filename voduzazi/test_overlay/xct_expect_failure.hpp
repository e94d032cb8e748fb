// XCTExpectFailure: marks failures as expected in the platform's test framework, where that
// framework is present; here the block simply runs. XCTIssue: one issue as a matcher sees it.
//
//   int value = test_overlay::XCTExpectFailure({.failureReason = "Known bug"}, [] { return 7; });
//   test_overlay::XCTExpectFailure({.strict = false});
//   XCTIssue issue{XCTIssue::IssueType::thrownError, "Caught error", std::nullopt};
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace voduzazi::test_overlay {

// One issue of the platform's test framework, as an issue matcher sees it.
struct XCTIssue {
  // The framework's issue types, with its raw values.
  enum class IssueType {
    assertionFailure = 0,
    performanceRegression = 3,
    system = 4,
    thrownError = 1,
    uncaughtException = 2,
    unmatchedExpectedFailure = 5,
  };

  IssueType type = IssueType::assertionFailure;
  std::string compactDescription;
  std::optional<std::string> detailedDescription;

  friend bool operator==(const XCTIssue&, const XCTIssue&) = default;
};

// The issue type with raw value `rawValue` (0 to 5), or absent.
std::optional<XCTIssue::IssueType> issueTypeFromRawValue(int rawValue);
int rawValue(XCTIssue::IssueType type);
// Feeds the raw type, the compact description, then 0, or 1 and the detailed description.
std::size_t hashValue(const XCTIssue& issue);

struct XCTExpectFailureOptions {
  std::optional<std::string> failureReason{};
  std::optional<bool> enabled{};  // absent counts as true
  std::optional<bool> strict{};   // absent counts as true
  std::function<bool(const XCTIssue&)> issueMatcher{};
};

// The framework's expected-failure scope is found through its class runtime by name. This platform
// has no such runtime, so every lookup fails and the calls fall back: the block runs directly
// (exactly as when `enabled` is false) and the options take no effect.

// Runs `failingBlock` once and returns its value or rethrows its error.
template <class Block>
decltype(auto) XCTExpectFailure(const XCTExpectFailureOptions&, Block&& failingBlock) {
  return std::forward<Block>(failingBlock)();
}

// Expects failures for the rest of the running test where the framework offers it; nothing here.
inline void XCTExpectFailure(const XCTExpectFailureOptions& = {}) {}

}  // namespace voduzazi::test_overlay

template <>
struct std::hash<voduzazi::test_overlay::XCTIssue> {
  std::size_t operator()(const voduzazi::test_overlay::XCTIssue& issue) const {
    return voduzazi::test_overlay::hashValue(issue);
  }
};
