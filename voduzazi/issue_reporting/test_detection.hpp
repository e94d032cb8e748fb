// Test detection: whether this process runs tests, decided once per process.
//
//   if (isTesting()) { /* issues become test failures */ }
//   bool testing = detectTesting(environment, {"/usr/bin/runner", "--testing-library"});  // true
#pragma once

#include <map>
#include <string>
#include <vector>

namespace voduzazi {

// True when the process runs tests: detectTesting over its environment and arguments, or a test
// framework's support hooks are installed. Computed on first read, fixed afterwards; thread-safe.
bool isTesting();

// The environment and argument rules alone: any of "XCTestBundlePath",
// "XCTestConfigurationFilePath", "XCTestSessionIdentifier" is set (any value), or an argument is
// "--testing-library", has the last path component "swiftpm-testing-helper" or "xctest", or has
// the path extension "xctest".
bool detectTesting(const std::map<std::string, std::string, std::less<>>& environment,
                   const std::vector<std::string>& arguments);

}  // namespace voduzazi
