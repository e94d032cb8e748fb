#include <gtest/gtest.h>

#include <stdexcept>

#include "test_support.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi {
namespace {

using testing::RecordingLogger;

VoduzaziLogMessage authRecord() {
  return {
      "auth", VoduzaziLogLevel::warning, "x", "auth/auth_client.cpp", "signOut", 7, 1709622489.123,
      {}};
}

TEST(VoduzaziLogMessage, RendersOneLineWithoutContext) {
  EXPECT_EQ(authRecord().description(),
            "2024-03-05T07:08:09.123 [warning] [auth] [auth/auth_client.signOut:7] x");
}

TEST(VoduzaziLogMessage, RendersTheContextOnASecondLine) {
  VoduzaziLogMessage record = authRecord();
  record.additionalContext = {{"requestID", "AB"}, {"n", 2}};
  EXPECT_EQ(record.description(),
            "2024-03-05T07:08:09.123 [warning] [auth] [auth/auth_client.signOut:7] x\n"
            "context: [\"n\": 2, \"requestID\": AB]");
}

TEST(VoduzaziLogMessage, CodesAllEightKeysInOrder) {
  VoduzaziLogMessage record = authRecord();
  record.additionalContext = {{"a", 1.5}};
  const Data text = AnyJSON::encoder()->encode(record);
  EXPECT_EQ(text, R"({"system":"auth","level":2,"message":"x","fileID":"auth/auth_client.cpp",)"
                  R"("function":"signOut","line":7,"timestamp":1709622489.123,)"
                  R"("additionalContext":{"a":1.5}})");
  EXPECT_EQ(AnyJSON::decoder()->decode<VoduzaziLogMessage>(text), record);
}

TEST(VoduzaziLogMessage, DecodingRejectsMissingKeysAndUnknownLevels) {
  EXPECT_THROW(AnyJSON::decoder()->decode<VoduzaziLogMessage>(R"({"system":"a"})"), DecodingError);
  boost::json::value json = authRecord().toJSON();
  json.as_object()["level"] = 4;
  try {
    VoduzaziLogMessage::fromJSON(json);
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
  }
}

TEST(VoduzaziLogLevel, HasFourRawValues) {
  EXPECT_EQ(logLevelFromRawValue(0), VoduzaziLogLevel::verbose);
  EXPECT_EQ(logLevelFromRawValue(3), VoduzaziLogLevel::error);
  EXPECT_FALSE(logLevelFromRawValue(4));
  EXPECT_FALSE(logLevelFromRawValue(-1));
  EXPECT_EQ(toString(VoduzaziLogLevel::debug), "debug");
}

TEST(VoduzaziLogger, FillsTheRecordFromTheCallSite) {
  RecordingLogger logger;
  const int line = __LINE__ + 1;
  logger.error("failed", {{"status", 500}});
  const auto messages = logger.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].level, VoduzaziLogLevel::error);
  EXPECT_EQ(messages[0].system, "helpers");
  EXPECT_EQ(messages[0].fileID, "helpers/logging_test.cpp");
  EXPECT_EQ(messages[0].function, "TestBody");
  EXPECT_EQ(messages[0].line, static_cast<std::uint32_t>(line));
  EXPECT_EQ(messages[0].additionalContext, (JSONObject{{"status", 500}}));
  EXPECT_GT(messages[0].timestamp, 1.7e9);
}

TEST(VoduzaziLogger, TaskScopedContextWinsAndReachesChildTasks) {
  RecordingLogger logger;
  VoduzaziLoggerTaskLocal::withValue({{"a", 2}, {"b", 3}}, [&] {
    logger.debug("inside", {{"a", 1}});
    Task<void>([&] { logger.debug("child"); }).value();
  });
  logger.debug("outside");
  const auto messages = logger.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].additionalContext, (JSONObject{{"a", 2}, {"b", 3}}));
  EXPECT_EQ(messages[1].additionalContext, (JSONObject{{"a", 2}, {"b", 3}}));
  EXPECT_TRUE(messages[2].additionalContext.empty());
}

TEST(VoduzaziLoggerTaskLocal, MergingBindsAndRestores) {
  VoduzaziLoggerTaskLocal::withValue({{"requestID", "y"}, {"user", "u"}}, [] {
    VoduzaziLoggerTaskLocal::withValue({{"requestID", "x"}}, [] {
      EXPECT_EQ(VoduzaziLoggerTaskLocal::additionalContext(),
                (JSONObject{{"requestID", "x"}, {"user", "u"}}));
    });
    EXPECT_EQ(VoduzaziLoggerTaskLocal::additionalContext(),
              (JSONObject{{"requestID", "y"}, {"user", "u"}}));
  });
  EXPECT_TRUE(VoduzaziLoggerTaskLocal::additionalContext().empty());
}

TEST(Trace, LogsBeginErrorAndEndThenRethrows) {
  auto logger = std::make_shared<RecordingLogger>();
  EXPECT_EQ(trace(logger, [] { return 5; }), 5);
  EXPECT_THROW(trace(logger, []() -> int { throw std::runtime_error("boom"); }),
               std::runtime_error);
  std::vector<std::string> texts;
  for (const auto& message : logger->messages()) {
    EXPECT_EQ(message.level, VoduzaziLogLevel::debug);
    texts.push_back(message.message);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"begin", "end", "begin", "error: boom", "end"}));
  EXPECT_EQ(trace(nullptr, [] { return 1; }), 1);
}

TEST(ShortFunctionName, KeepsTheBareName) {
  EXPECT_EQ(
      detail::shortFunctionName("voduzazi::helpers::HTTPResponse voduzazi::LoggerInterceptor::"
                                "intercept(const voduzazi::helpers::HTTPRequest&)"),
      "intercept");
  EXPECT_EQ(detail::shortFunctionName("void {anonymous}::run()"), "run");
  EXPECT_EQ(detail::shortFunctionName("int main(int, char**)"), "main");
  EXPECT_EQ(detail::shortFunctionName("std::vector<int> f<std::vector<int> >(int)"),
            "f<std::vector<int> >");
}

}  // namespace
}  // namespace voduzazi
