// The test-framework bridge without a test framework (fallback texts), with hooks a test installs,
// and the pieces that decide the test context.
#include "voduzazi/issue_reporting/test_bridge.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <unordered_set>

#include "tests/issue_reporting/captured_output.hpp"
#include "tests/issue_reporting/issue_recorder.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/issue_reporting/app_host_warning.hpp"
#include "voduzazi/issue_reporting/expected_issue.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/issue_reporting/test_context.hpp"
#include "voduzazi/issue_reporting/test_detection.hpp"

namespace voduzazi {
namespace {

using testing::CapturedOutput;
using testing::InstalledHooks;

const std::string kHint =
    "\n\nTo fix this, add \"IssueReportingTestSupport\" as a dependency to your test target.\n";

TEST(TestBridge, WithoutSupportIssuesAndErrorsExplainTheMissingLink) {
  CapturedOutput output;
  bridge::recordIssue("Bad header", "Helpers/x.cpp", "/src/helpers/x.cpp", 12, 3);
  bridge::recordError(std::make_exception_ptr(CancellationError()), std::nullopt, "Helpers/x.cpp",
                      "/src/helpers/x.cpp", 13, 3);
  const std::string text = "An issue was recorded without linking the Testing framework.";
  EXPECT_EQ(output.text(),
            "Helpers/x.cpp:12: " + text + kHint + "Helpers/x.cpp:13: " + text + kHint);
}

TEST(TestBridge, WithoutSupportFailuresExplainTheMissingLink) {
  CapturedOutput output;
  bridge::XCTFail("", "/src/helpers/x.cpp", 7);
  bridge::XCTFail("Bad header", "/src/helpers/x.cpp", 8);
  const std::string text = "A failure was recorded without linking the XCTest framework";
  EXPECT_EQ(output.text(), "/src/helpers/x.cpp:7: " + text + kHint +
                               "/src/helpers/x.cpp:8: " + text + ": Bad header" + kHint);
}

TEST(TestBridge, WithoutSupportKnownIssueScopesStillRunTheirBody) {
  int runs = 0;
  CapturedOutput output;
  bridge::withKnownIssue("flaky", false, "A/b.cpp", "/src/a/b.cpp", 4, 1, [&] {
    ++runs;
    throw std::runtime_error("discarded");
  });
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(output.text(),
            "A/b.cpp:4: A known issue was recorded without linking the Testing framework." + kHint);
}

TEST(TestBridge, WithoutSupportExpectedFailuresReturnOrRethrowTheBlocksOutcome) {
  CapturedOutput output;
  const int value =
      bridge::XCTExpectFailure<int>("reason", {}, {}, "/src/a/b.cpp", 5, [] { return 7; });
  EXPECT_EQ(value, 7);
  EXPECT_THROW(bridge::XCTExpectFailure<void>(std::nullopt, {}, {}, "/src/a/b.cpp", 6,
                                              [] { throw CancellationError(); }),
               CancellationError);
  const std::string text = "An expected failure was recorded without linking the XCTest framework.";
  EXPECT_EQ(output.text(), "/src/a/b.cpp:5: " + text + kHint + "/src/a/b.cpp:6: " + text + kHint);
  EXPECT_FALSE(bridge::currentTest().has_value());
}

TEST(TestBridge, InstalledHooksReceiveTheCallsArguments) {
  std::vector<std::string> calls;
  bridge::TestSupportHooks hooks;
  hooks.recordIssue = [&](const std::optional<std::string>& message, const std::string& fileID,
                          const std::string& filePath, int line, int column) {
    calls.push_back(message.value_or("<none>") + " " + fileID + " " + filePath + " " +
                    std::to_string(line) + ":" + std::to_string(column));
  };
  hooks.XCTExpectFailure = [&](const std::optional<std::string>& reason,
                               std::optional<bool> enabled, std::optional<bool> strict,
                               const std::string& file, std::uint32_t line,
                               const std::function<void()>& block) {
    calls.push_back(reason.value_or("<none>") + " " + std::to_string(enabled.has_value()) +
                    std::to_string(strict.value_or(false)) + " " + file + ":" +
                    std::to_string(line));
    block();
  };
  InstalledHooks installed(std::move(hooks));
  bridge::recordIssue(std::nullopt, "A/b.cpp", "/src/a/b.cpp", 4, 2);
  EXPECT_EQ(bridge::XCTExpectFailure<int>("why", {}, true, "/src/a/b.cpp", 9, [] { return 3; }), 3);
  EXPECT_EQ(calls,
            (std::vector<std::string>{"<none> A/b.cpp /src/a/b.cpp 4:2", "why 01 /src/a/b.cpp:9"}));
}

TEST(TestBridgeDeathTest, ExpectedFailureHookThatThrowsOrSkipsTheBlockStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  bridge::TestSupportHooks throwing;
  throwing.XCTExpectFailure = [](auto&&...) { throw std::runtime_error("framework broke"); };
  EXPECT_DEATH(
      {
        InstalledHooks installed(throwing);
        bridge::XCTExpectFailure<void>({}, {}, {}, "/src/a.cpp", 3, [] {});
      },
      "/src/a.cpp:3: Fatal error: .*framework broke");
  bridge::TestSupportHooks skipping;
  skipping.XCTExpectFailure = [](auto&&...) {};
  EXPECT_DEATH(
      {
        InstalledHooks installed(skipping);
        bridge::XCTExpectFailure<int>({}, {}, {}, "/src/a.cpp", 4, [] { return 1; });
      },
      "/src/a.cpp:4: Fatal error: .*did not run its block");
}

// A test run (here marked by the environment) that links no test support: every issue and every
// expected-issue scope explains the missing link, with the host-application warning.
TEST(TestBridgeDeathTest, TestRunWithoutSupportExplainsEachIssueOnStandardError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("XCTestSessionIdentifier", "", 1);
        reportIssue("Bad header", {"Helpers/x.cpp", "/src/helpers/x.cpp", 12, 3});
        withExpectedIssue([] {}, {"Helpers/x.cpp", "/src/helpers/x.cpp", 13, 3});
        std::exit(0);
      },
      ::testing::ExitedWithCode(0),
      "^/src/helpers/x.cpp:12: A failure was recorded without linking the XCTest framework: "
      "Bad header\n\n.*This issue was emitted from tests running in a host application "
      "\\(issue_reporting_tests\\)\\..*\n\nTo fix this, add \"IssueReportingTestSupport\" "
      "as a dependency to your test target\\.\n"
      "/src/helpers/x.cpp:13: An expected failure was recorded without linking the XCTest "
      "framework\\.\n\nTo fix this, add \"IssueReportingTestSupport\" as a dependency to your "
      "test target\\.\n$");
}

TEST(TestDetection, EnvironmentVariablesMarkATestRunWhateverTheirValue) {
  for (const char* name :
       {"XCTestBundlePath", "XCTestConfigurationFilePath", "XCTestSessionIdentifier"}) {
    EXPECT_TRUE(detectTesting({{name, ""}}, {"/usr/bin/app"})) << name;
  }
  EXPECT_FALSE(detectTesting({{"XCTestOther", "1"}, {"PATH", "/bin"}}, {"/usr/bin/app"}));
}

TEST(TestDetection, ArgumentsMarkATestRun) {
  const std::map<std::string, std::string, std::less<>> none;
  EXPECT_TRUE(detectTesting(none, {"/usr/bin/app", "--testing-library", "swift-testing"}));
  EXPECT_TRUE(detectTesting(none, {"/usr/libexec/swiftpm-testing-helper"}));
  EXPECT_TRUE(detectTesting(none, {"/usr/bin/xctest", "x"}));
  EXPECT_TRUE(detectTesting(none, {"/usr/bin/runner", "/build/AppTests.xctest"}));
  EXPECT_TRUE(detectTesting(none, {"/usr/bin/runner", "/build/AppTests.xctest/"}));
  EXPECT_FALSE(detectTesting(none, {"/usr/bin/app", "--testing", "xctest-results", "a.xctests"}));
  EXPECT_FALSE(detectTesting(none, {}));
}

TEST(TestDetection, ThisProcessWithoutTestSupportIsNotTesting) {
  EXPECT_FALSE(bridge::testSupportInstalled());
  EXPECT_FALSE(isTesting());
  setenv("XCTestBundlePath", "", 1);
  EXPECT_FALSE(isTesting());  // fixed at the first read
  unsetenv("XCTestBundlePath");
}

TEST(TestContext, EqualityFollowsTheFrameworkAndTheTestId) {
  using Test = TestContext::Testing::Test;
  const auto named = [](const char* id, std::vector<std::any> traits = {}) {
    return TestContext::Testing{Test{{id}, std::move(traits)}};
  };
  EXPECT_EQ(TestContext::swiftTesting(), TestContext::swiftTesting(named("A.b")));
  EXPECT_EQ(TestContext::swiftTesting(named("A.b")), TestContext::swiftTesting());
  EXPECT_EQ(TestContext::swiftTesting(named("A.b", {1})), TestContext::swiftTesting(named("A.b")));
  EXPECT_NE(TestContext::swiftTesting(named("A.b")), TestContext::swiftTesting(named("A.c")));
  EXPECT_NE(TestContext::xcTest(), TestContext::swiftTesting());
  EXPECT_EQ(TestContext::xcTest(), TestContext::xcTest());
  EXPECT_TRUE(TestContext::swiftTesting().isSwiftTesting());
  EXPECT_FALSE(TestContext::xcTest().isSwiftTesting());
}

TEST(TestContext, TestsWithTheSameIdHashAlike) {
  using Test = TestContext::Testing::Test;
  std::unordered_set<Test> tests{Test{{"A.b"}, {std::any(1)}}, Test{{"A.b"}, {}}};
  EXPECT_EQ(tests.size(), 1u);
}

class AppHostWarning : public ::testing::Test {
 protected:
  detail::AppHostFacts hosted() const {
    detail::AppHostFacts facts;
    facts.isTesting = true;
    facts.hostIdentifier = "tapwick";
    facts.callStack = [] { return std::vector<std::string>{"0 tapwick 0x1 main + 4"}; };
    return facts;
  }
  const std::string warning =
      "This issue was emitted from tests running in a host application (tapwick).\n\nThis can "
      "lead to false positives, where failures could have emitted from live application code "
      "at launch time, and not from the current test.\n\nFor more information (and "
      "workarounds), see \"Testing gotchas\":\n\nhttps://voduzazi.dev/docs/testing-gotchas";
};

TEST_F(AppHostWarning, IsAppendedInAHostApplicationWithoutTestFrames) {
  EXPECT_EQ(detail::withAppHostWarningIfNeeded("Boom", hosted()),
            "Boom\n\n\u2501\u2501\u2509\u2505\n" + warning);
  EXPECT_EQ(detail::withAppHostWarningIfNeeded("", hosted()), warning);
  auto anonymous = hosted();
  anonymous.hostIdentifier.reset();
  EXPECT_TRUE(detail::withAppHostWarningIfNeeded("", anonymous)
                  .starts_with("This issue was emitted from tests running in a host "
                               "application.\n\n"));
}

TEST_F(AppHostWarning, IsLeftOutWhenTheIssueComesFromTheTestRunner) {
  auto facts = hosted();
  facts.isTesting = false;
  EXPECT_EQ(detail::withAppHostWarningIfNeeded("Boom", facts), "Boom");
  facts = hosted();
  facts.runsInTestTool = true;
  EXPECT_EQ(detail::withAppHostWarningIfNeeded("Boom", facts), "Boom");
  facts = hosted();
  facts.callStack = [] { return std::vector<std::string>{"3  XCTestCore  0x1 run + 8"}; };
  EXPECT_EQ(detail::withAppHostWarningIfNeeded("Boom", facts), "Boom");
}

TEST_F(AppHostWarning, LeavesMessagesAloneOutsideTestRuns) {
  EXPECT_EQ(withAppHostWarningIfNeeded(std::string("Boom")), "Boom");
  EXPECT_EQ(withAppHostWarningIfNeeded(std::optional<std::string>()), std::nullopt);
  EXPECT_FALSE(isTestFrame("$s8AppTests0A4CaseC04testB0yyF"));
}

}  // namespace
}  // namespace voduzazi
