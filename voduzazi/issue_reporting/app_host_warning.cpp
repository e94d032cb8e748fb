#include "voduzazi/issue_reporting/app_host_warning.hpp"

#include <algorithm>
#include <filesystem>

#include "voduzazi/issue_reporting/detail/process_info.hpp"
#include "voduzazi/issue_reporting/test_bridge.hpp"
#include "voduzazi/issue_reporting/test_detection.hpp"

namespace voduzazi {
namespace {

constexpr std::string_view kSeparator = "\n\n\u2501\u2501\u2509\u2505\n";

std::string warningText(const std::optional<std::string>& hostIdentifier) {
  std::string text = "This issue was emitted from tests running in a host application";
  if (hostIdentifier) text += " (" + *hostIdentifier + ")";
  text +=
      ".\n\nThis can lead to false positives, where failures could have emitted from live "
      "application code at launch time, and not from the current test.\n\nFor more information "
      "(and workarounds), see \"Testing gotchas\":\n\n"
      "https://voduzazi.dev/docs/testing-gotchas";
  return text;
}

bool anyFrameIsFromTests(const std::vector<std::string>& frames) {
  return std::any_of(frames.begin(), frames.end(), [](const std::string& frame) {
    return frame.find("  XCTestCore ") != std::string::npos || isTestFrame(frame);
  });
}

}  // namespace

std::string withAppHostWarningIfNeeded(std::string message) {
  return detail::withAppHostWarningIfNeeded(std::move(message), detail::currentAppHostFacts());
}

std::optional<std::string> withAppHostWarningIfNeeded(std::optional<std::string> message) {
  if (message) return withAppHostWarningIfNeeded(std::move(*message));
  std::string alone = withAppHostWarningIfNeeded(std::string());
  if (alone.empty()) return std::nullopt;
  return alone;
}

bool isTestFrame(std::string_view) {
  // Test methods are recognised through the class runtime's test-case class, which this
  // platform does not have: no frame qualifies.
  return false;
}

namespace detail {

AppHostFacts currentAppHostFacts() {
  AppHostFacts facts;
  facts.isTesting = isTesting();
  // A test executable that links the support library is the runner itself.
  facts.runsInTestTool = bridge::testSupportInstalled();
  const auto arguments = processArguments();
  if (!arguments.empty()) {
    facts.hostIdentifier = std::filesystem::path(arguments.front()).filename().string();
  }
  facts.callStack = &callStackSymbols;
  return facts;
}

std::string withAppHostWarningIfNeeded(std::string message, const AppHostFacts& facts) {
  if (!facts.isTesting || facts.runsInTestTool) return message;
  if (facts.callStack && anyFrameIsFromTests(facts.callStack())) return message;
  const std::string warning = warningText(facts.hostIdentifier);
  if (message.empty()) return warning;
  return message + std::string(kSeparator) + warning;
}

}  // namespace detail
}  // namespace voduzazi
