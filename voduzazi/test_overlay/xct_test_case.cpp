#include "voduzazi/test_overlay/xct_test_case.hpp"

#include "voduzazi/issue_reporting/test_detection.hpp"

namespace voduzazi::test_overlay {

std::any XCTCurrentTestCase() { return {}; }

bool XCTIsTesting() { return isTesting(); }

}  // namespace voduzazi::test_overlay
