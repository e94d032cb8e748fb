// Installs the test-framework bridge's hooks for GoogleTest when a test executable starts: the
// running test ("Suite.Name"), issues and errors as non-fatal failures at their file and line,
// and known-issue scopes that intercept the failures of every thread.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>

#include "voduzazi/issue_reporting/expected_issue.hpp"
#include "voduzazi/issue_reporting/issue_reporter.hpp"
#include "voduzazi/issue_reporting/test_bridge.hpp"

namespace voduzazi::test_support {
namespace {

void addFailure(const std::string& file, int line, const std::string& text) {
  ADD_FAILURE_AT(file.c_str(), line) << text;
}

std::optional<bridge::Test> currentTest() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return std::nullopt;
  return bridge::Test{std::string(info->test_suite_name()) + "." + info->name(), {}};
}

int failureCount(const ::testing::TestPartResultArray& results) {
  int failures = 0;
  for (int i = 0; i < results.size(); ++i) failures += results.GetTestPartResult(i).failed();
  return failures;
}

// Runs `body` with every failure of every thread intercepted; an error it throws is one more
// failure. Without any failure (and unless the issue is intermittent) the scope itself fails.
void expectFailures(const std::optional<std::string>& message, bool isIntermittent,
                    const std::string& filePath, int line, const std::function<void()>& body) {
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
    try {
      body();
    } catch (...) {
      addFailure(filePath, line, caughtErrorText(std::current_exception(), {}));
    }
  }
  if (failureCount(results) != 0 || isIntermittent) return;
  addFailure(filePath, line, knownIssueNotRecordedText(message));
}

bridge::TestSupportHooks googleTestHooks() {
  bridge::TestSupportHooks hooks;
  hooks.currentTest = currentTest;
  hooks.recordIssue = [](const std::optional<std::string>& message, const std::string&,
                         const std::string& filePath, int line,
                         int) { addFailure(filePath, line, message.value_or("Issue recorded")); };
  hooks.recordError = [](const std::exception_ptr& error, const std::optional<std::string>& message,
                         const std::string&, const std::string& filePath, int line, int) {
    addFailure(filePath, line,
               caughtErrorText(error, message ? LazyMessage(*message) : LazyMessage()));
  };
  hooks.withKnownIssue = [](const std::optional<std::string>& message, bool isIntermittent,
                            const std::string&, const std::string& filePath, int line, int,
                            const std::function<void()>& body) {
    expectFailures(message, isIntermittent, filePath, line, body);
  };
  hooks.XCTFail = [](const std::string& message, const std::string& file, std::uint32_t line) {
    addFailure(file, static_cast<int>(line), message);
  };
  hooks.XCTExpectFailure = [](const std::optional<std::string>& reason, std::optional<bool> enabled,
                              std::optional<bool> strict, const std::string& file,
                              std::uint32_t line, const std::function<void()>& block) {
    if (!enabled.value_or(true)) return block();
    expectFailures(reason, !strict.value_or(true), file, static_cast<int>(line), block);
  };
  return hooks;
}

// Runs before main: every test executable that links this object has the hooks from the start.
const bool installed = [] {
  bridge::installTestSupport(std::make_shared<const bridge::TestSupportHooks>(googleTestHooks()));
  return true;
}();

}  // namespace
}  // namespace voduzazi::test_support
