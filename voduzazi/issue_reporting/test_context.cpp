#include "voduzazi/issue_reporting/test_context.hpp"

#include "voduzazi/issue_reporting/test_bridge.hpp"
#include "voduzazi/issue_reporting/test_detection.hpp"

namespace voduzazi {

const TestContext::Testing* TestContext::testing() const {
  const auto* swift = std::get_if<SwiftTesting>(&kind);
  return swift && swift->testing ? &*swift->testing : nullptr;
}

std::optional<TestContext> TestContext::current() {
  if (!isTesting()) return std::nullopt;
  if (auto test = bridge::currentTest()) {
    return swiftTesting(Testing{{{std::move(test->id)}, std::move(test->traits)}});
  }
  return xcTest();
}

bool operator==(const TestContext& a, const TestContext& b) {
  if (a.isSwiftTesting() != b.isSwiftTesting()) return false;
  if (!a.isSwiftTesting()) return true;
  const auto* left = a.testing();
  const auto* right = b.testing();
  return left == nullptr || right == nullptr || *left == *right;
}

}  // namespace voduzazi
