// XCTCurrentTestCase and XCTIsTesting: what the platform's test framework says about the run.
//
//   if (test_overlay::XCTIsTesting()) { /* running tests */ }
//   std::any testCase = test_overlay::XCTCurrentTestCase();   // empty: no such framework here
#pragma once

#include <any>

namespace voduzazi::test_overlay {

// The framework's running test-case object. The framework's observation center is found through
// its class runtime by name, which this platform lacks: always empty.
std::any XCTCurrentTestCase();

// Whether the process runs tests (isTesting()).
bool XCTIsTesting();

}  // namespace voduzazi::test_overlay
