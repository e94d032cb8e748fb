// TestContext: the test framework the calling code runs under, computed on every read.
//
//   if (auto context = TestContext::current()) {
//     if (context->isSwiftTesting()) { /* a test of the framework with per-test identity */ }
//   }
//   TestContext::swiftTesting() == *TestContext::current();   // any swiftTesting context
#pragma once

#include <any>
#include <cstddef>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "voduzazi/concurrency/any_hashable_sendable.hpp"

namespace voduzazi {

struct TestContext {
  struct Testing {
    struct Test {
      struct ID {
        AnyHashableSendable rawValue;
        friend bool operator==(const ID&, const ID&) = default;
      };
      ID id;
      std::vector<std::any> traits;  // as the framework gives them; no part in equality

      friend bool operator==(const Test& a, const Test& b) { return a.id == b.id; }
    };
    Test test;

    friend bool operator==(const Testing&, const Testing&) = default;
  };

  // A framework that names its running test (when it knows it).
  struct SwiftTesting {
    std::optional<Testing> testing;
  };
  // A framework reached only through plain failures.
  struct XCTest {};

  std::variant<SwiftTesting, XCTest> kind;

  static TestContext swiftTesting(std::optional<Testing> testing = std::nullopt) {
    return {SwiftTesting{std::move(testing)}};
  }
  static TestContext xcTest() { return {XCTest{}}; }

  bool isSwiftTesting() const { return std::holds_alternative<SwiftTesting>(kind); }
  // The running test of a swiftTesting context, or null.
  const Testing* testing() const;

  // Absent outside test runs; swiftTesting when the framework names a running test; otherwise
  // xcTest.
  static std::optional<TestContext> current();

  // xcTest equals xcTest only; two swiftTesting contexts are equal when either names no test, or
  // when both name tests with equal ids.
  friend bool operator==(const TestContext& a, const TestContext& b);
};

}  // namespace voduzazi

template <>
struct std::hash<voduzazi::TestContext::Testing::Test::ID> {
  std::size_t operator()(const voduzazi::TestContext::Testing::Test::ID& id) const {
    return id.rawValue.hash();
  }
};

template <>
struct std::hash<voduzazi::TestContext::Testing::Test> {
  std::size_t operator()(const voduzazi::TestContext::Testing::Test& test) const {
    return std::hash<voduzazi::TestContext::Testing::Test::ID>()(test.id);
  }
};
