// Placeholder functions: what their calls report, return and throw.
#include "voduzazi/issue_reporting/unimplemented.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "tests/issue_reporting/recording_reporter.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"

namespace voduzazi {
namespace {

using testing::RecordingReporter;

const FunctionLocation kMadeIn{"load()", {"App/model.cpp", "/src/app/model.cpp", 40, 17}};

class NotFound : public std::runtime_error {
 public:
  NotFound() : std::runtime_error("NotFound()") {}
};

class Unimplemented : public ::testing::Test {
 protected:
  template <class Body>
  void inScope(Body&& body) {
    withReporters({reporter}, std::forward<Body>(body));
  }
  std::shared_ptr<RecordingReporter> reporter = std::make_shared<RecordingReporter>();
};

TEST_F(Unimplemented, CallReportsDescriptionDefinitionAndArguments) {
  const auto fetch = unimplemented<int(int, std::string)>("Client.fetch", 5, kMadeIn);
  int result = 0;
  inScope([&] { result = fetch(42, "x"); });
  EXPECT_EQ(result, 5);
  const auto reports = reporter->reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].message,
            "Unimplemented: Client.fetch \u2026\n\n  Defined in 'load()' at:\n    "
            "App/model.cpp:40\n\n  Invoked with:\n    (42, \"x\")");
  EXPECT_EQ(reports[0].location, kMadeIn.location);
}

TEST_F(Unimplemented, EmptyDescriptionAndNoArguments) {
  const auto tick = unimplemented<void()>({}, Placeholder<void>(), kMadeIn);
  inScope([&] { tick(); });
  EXPECT_EQ(reporter->messages().at(0),
            "Unimplemented \u2026\n\n  Defined in 'load()' at:\n    App/model.cpp:40\n\n"
            "  Invoked with:\n    ()");
}

TEST_F(Unimplemented, SingleStringArgumentIsQuotedNotATuple) {
  const auto name = unimplemented<std::string(const std::string&)>("name", "", kMadeIn);
  inScope([&] { name("a\"b"); });
  EXPECT_TRUE(reporter->messages().at(0).ends_with("Invoked with:\n    \"a\\\"b\""));
}

TEST_F(Unimplemented, EachCallReportsAndEvaluatesAgain) {
  std::atomic<int> evaluations{0};
  std::atomic<int> placeholders{0};
  const auto next = unimplemented<int()>([&] { return "next #" + std::to_string(++evaluations); },
                                         [&] { return ++placeholders; }, kMadeIn);
  EXPECT_EQ(evaluations, 0);  // making it evaluates nothing
  inScope([&] {
    EXPECT_EQ(next(), 1);
    EXPECT_EQ(next(), 2);
  });
  const auto messages = reporter->messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].starts_with("Unimplemented: next #1 "));
  EXPECT_TRUE(messages[1].starts_with("Unimplemented: next #2 "));
}

TEST_F(Unimplemented, IssueContextMovesTheReportButNotTheDefinition) {
  const auto fetch = unimplemented<int()>("fetch", 0, kMadeIn);
  const IssueContext context{"Other/place.cpp", "/src/other/place.cpp", 1, 2};
  inScope([&] { withIssueContext(context, [&] { fetch(); }); });
  const auto report = reporter->reports().at(0);
  EXPECT_EQ(report.location, context.location());
  EXPECT_NE(report.message->find("Defined in 'load()' at:\n    App/model.cpp:40"),
            std::string::npos);
}

TEST_F(Unimplemented, ThrowingFormsThrowAfterReporting) {
  const auto save = unimplemented<void(int)>("Store.save", kMadeIn);
  const auto load = unimplemented<std::string()>("load", throwing([] { return NotFound(); }));
  inScope([&] {
    try {
      save(1);
      FAIL() << "expected UnimplementedFailure";
    } catch (const UnimplementedFailure& failure) {
      EXPECT_EQ(failure.description, "Store.save");
      EXPECT_STREQ(failure.what(), "UnimplementedFailure(description: \"Store.save\")");
    }
    EXPECT_THROW(load(), NotFound);
  });
  EXPECT_EQ(reporter->reports().size(), 2u);
  EXPECT_EQ(UnimplementedFailure("").description, "");
}

TEST_F(Unimplemented, ValueFormReportsAtOnceWithoutArguments) {
  int value = 0;
  inScope([&] { value = unimplemented<int>("Config.limit", 10, kMadeIn); });
  EXPECT_EQ(value, 10);
  EXPECT_EQ(
      reporter->messages().at(0),
      "Unimplemented: Config.limit \u2026\n\n  Defined in 'load()' at:\n    App/model.cpp:40");
}

TEST_F(Unimplemented, DefaultDefinitionSiteIsTheEnclosingFunction) {
  const auto fetch = unimplemented<int()>("fetch", 0);
  inScope([&] { fetch(); });
  const auto report = reporter->reports().at(0);
  EXPECT_EQ(report.location.fileID, "issue_reporting/unimplemented_test.cpp");
  EXPECT_NE(report.message->find("Defined in 'virtual void voduzazi::"), std::string::npos);
}

}  // namespace
}  // namespace voduzazi
