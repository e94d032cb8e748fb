#include "voduzazi/issue_reporting/test_bridge.hpp"

#include <mutex>

#include "voduzazi/issue_reporting/detail/standard_streams.hpp"

namespace voduzazi::bridge {
namespace {

constexpr const char* kLinkHint =
    "\n\nTo fix this, add \"IssueReportingTestSupport\" as a dependency to your test target.";

struct Installed {
  std::mutex mutex;
  std::shared_ptr<const TestSupportHooks> hooks;
};

// Never destroyed: detached tasks may still report while the process exits.
Installed& installed() {
  static auto* state = new Installed;
  return *state;
}

std::string at(const std::string& file, std::int64_t line) {
  return file + ":" + std::to_string(line) + ": ";
}

void printUnlinkedTesting(const std::string& fileID, int line, const char* what) {
  voduzazi::detail::printError(at(fileID, line) + what + " without linking the Testing framework." +
                               kLinkHint);
}

}  // namespace

std::shared_ptr<const TestSupportHooks> installTestSupport(
    std::shared_ptr<const TestSupportHooks> hooks) {
  std::lock_guard lock(installed().mutex);
  std::swap(installed().hooks, hooks);
  return hooks;
}

std::shared_ptr<const TestSupportHooks> testSupport() {
  std::lock_guard lock(installed().mutex);
  return installed().hooks;
}

bool testSupportInstalled() { return testSupport() != nullptr; }

void recordIssue(const std::optional<std::string>& message, const std::string& fileID,
                 const std::string& filePath, int line, int column) {
  const auto hooks = testSupport();
  if (!hooks || !hooks->recordIssue)
    return printUnlinkedTesting(fileID, line, "An issue was recorded");
  hooks->recordIssue(message, fileID, filePath, line, column);
}

void recordError(const std::exception_ptr& error, const std::optional<std::string>& message,
                 const std::string& fileID, const std::string& filePath, int line, int column) {
  const auto hooks = testSupport();
  if (!hooks || !hooks->recordError)
    return printUnlinkedTesting(fileID, line, "An issue was recorded");
  hooks->recordError(error, message, fileID, filePath, line, column);
}

void withKnownIssue(const std::optional<std::string>& message, bool isIntermittent,
                    const std::string& fileID, const std::string& filePath, int line, int column,
                    const std::function<void()>& body) {
  const auto hooks = testSupport();
  if (hooks && hooks->withKnownIssue) {
    hooks->withKnownIssue(message, isIntermittent, fileID, filePath, line, column, body);
    return;
  }
  printUnlinkedTesting(fileID, line, "A known issue was recorded");
  try {
    body();
  } catch (...) {
    // Without the framework there is nowhere to record the error; the scope never throws.
  }
}

std::optional<Test> currentTest() {
  const auto hooks = testSupport();
  if (!hooks || !hooks->currentTest) return std::nullopt;
  return hooks->currentTest();
}

void XCTFail(const std::string& message, const std::string& file, std::uint32_t line) {
  const auto hooks = testSupport();
  if (hooks && hooks->XCTFail) return hooks->XCTFail(message, file, line);
  std::string text = at(file, line) + "A failure was recorded without linking the XCTest framework";
  if (!message.empty()) text += ": " + message;
  voduzazi::detail::printError(text + kLinkHint);
}

namespace detail {

ExpectFailureHook expectFailureHook(const std::optional<std::string>& reason,
                                    std::optional<bool> enabled, std::optional<bool> strict,
                                    const std::string& file, std::uint32_t line) {
  const auto hooks = testSupport();
  if (!hooks || !hooks->XCTExpectFailure) {
    voduzazi::detail::printError(
        at(file, line) + "An expected failure was recorded without linking the XCTest framework." +
        kLinkHint);
    return {};
  }
  return [hooks, reason, enabled, strict, file, line](const std::function<void()>& block) {
    hooks->XCTExpectFailure(reason, enabled, strict, file, line, block);
  };
}

}  // namespace detail
}  // namespace voduzazi::bridge
