#include "voduzazi/issue_reporting/test_detection.hpp"

#include <array>
#include <filesystem>
#include <string_view>

#include "voduzazi/issue_reporting/detail/process_info.hpp"
#include "voduzazi/issue_reporting/test_bridge.hpp"

namespace voduzazi {
namespace {

bool isTestArgument(std::string_view argument) {
  while (argument.size() > 1 && argument.ends_with('/')) argument.remove_suffix(1);
  const std::filesystem::path path(argument);
  const std::string last = path.filename().string();
  return last == "swiftpm-testing-helper" || argument == "--testing-library" || last == "xctest" ||
         path.extension() == ".xctest";
}

}  // namespace

bool detectTesting(const std::map<std::string, std::string, std::less<>>& environment,
                   const std::vector<std::string>& arguments) {
  constexpr std::array<std::string_view, 3> variables = {
      "XCTestBundlePath", "XCTestConfigurationFilePath", "XCTestSessionIdentifier"};
  for (const std::string_view name : variables) {
    if (environment.contains(name)) return true;
  }
  for (const std::string& argument : arguments) {
    if (isTestArgument(argument)) return true;
  }
  return false;
}

bool isTesting() {
  static const bool testing =
      detectTesting(detail::processEnvironment(), detail::processArguments()) ||
      bridge::testSupportInstalled();
  return testing;
}

}  // namespace voduzazi
