// App-host warning: a note appended to test-failure messages that may come from a host
// application's own start-up code rather than from the test.
//
//   std::string text = withAppHostWarningIfNeeded("Unexpected call");
//   std::optional<std::string> maybe = withAppHostWarningIfNeeded(std::optional<std::string>{});
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voduzazi {

// The message, with the warning appended when tests run inside a host application and no test
// frame is on the calling thread's stack.
std::string withAppHostWarningIfNeeded(std::string message);
// A present message as above; an absent one becomes the warning alone, or stays absent.
std::optional<std::string> withAppHostWarningIfNeeded(std::optional<std::string> message);

// Whether one call-stack line is the frame of a test method of a test-case class.
bool isTestFrame(std::string_view frame);

namespace detail {

// What the warning decision reads from the process.
struct AppHostFacts {
  bool isTesting = false;
  // The process is the test runner itself, not an application that hosts tests.
  bool runsInTestTool = false;
  std::optional<std::string> hostIdentifier;
  std::function<std::vector<std::string>()> callStack;
};

AppHostFacts currentAppHostFacts();
std::string withAppHostWarningIfNeeded(std::string message, const AppHostFacts& facts);

}  // namespace detail
}  // namespace voduzazi
