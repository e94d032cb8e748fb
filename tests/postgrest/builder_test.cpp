// Execution: the prepared headers, the profile headers by method, HEAD for one execution only,
// the count, decoding, and the mapping of unsuccessful statuses to errors.
#include "voduzazi/postgrest/builder.hpp"

#include <gtest/gtest.h>

#include "tests/helpers/test_support.hpp"
#include "tests/postgrest/recording_fetch.hpp"
#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi {
namespace {

using testing::RecordingFetch;
using testing::Reply;

struct Row {
  int id = 0;
  friend Row tag_invoke(boost::json::value_to_tag<Row>, const boost::json::value& json) {
    return Row{static_cast<int>(json.at("id").to_number<std::int64_t>())};
  }
};

class PostgrestBuilderTest : public ::testing::Test {
 protected:
  RecordingFetch fetch_;
  PostgrestClient client_ = fetch_.client();
};

TEST_F(PostgrestBuilderTest, PreparesAcceptAndContentTypeAndNoPrefer) {
  client_.from("t").select().execute();
  const URLRequest request = fetch_.last();
  EXPECT_EQ(request.value("Accept"), "application/json");
  EXPECT_EQ(request.value("Content-Type"), "application/json");
  EXPECT_EQ(request.value("Prefer"), std::nullopt);
  EXPECT_EQ(request.value("Accept-Profile"), std::nullopt);
  EXPECT_EQ(request.value("Content-Profile"), std::nullopt);
}

TEST_F(PostgrestBuilderTest, CountElementIsUpdatedNotRepeated) {
  auto builder = client_.from("t").insert(JSONObject{}, PostgrestReturningOptions::minimal);
  builder.execute(FetchOptions{.count = CountOption::exact});
  builder.execute(FetchOptions{.count = CountOption::exact});
  EXPECT_EQ(fetch_.last().value("Prefer"), "return=minimal,count=exact");
  builder.execute(FetchOptions{.count = CountOption::planned});
  EXPECT_EQ(fetch_.last().value("Prefer"), "return=minimal,count=planned");
}

TEST_F(PostgrestBuilderTest, SchemaGoesToTheProfileHeaderOfTheMethod) {
  RecordingFetch fetch;
  PostgrestClient client = fetch.client("api");
  client.from("t").select().execute();
  EXPECT_EQ(fetch.last().value("Accept-Profile"), "api");
  EXPECT_EQ(fetch.last().value("Content-Profile"), std::nullopt);
  for (const auto& builder : {client.from("t").insert(JSONObject{}),
                              client.from("t").update(JSONObject{}), client.from("t").delete_()}) {
    builder.execute();
    EXPECT_EQ(fetch.last().value("Content-Profile"), "api") << fetch.last().httpMethod;
    EXPECT_EQ(fetch.last().value("Accept-Profile"), std::nullopt);
  }
  client.from("t").insert(JSONObject{}).execute(FetchOptions{.head = true});
  EXPECT_EQ(fetch.last().httpMethod, "HEAD");
  EXPECT_EQ(fetch.last().value("Accept-Profile"), "api");
}

TEST_F(PostgrestBuilderTest, HeadAppliesToOneExecutionOnly) {
  auto builder = client_.from("t").select();
  fetch_.reply({200, "", {{"Content-Range", "0-1/2"}}});
  EXPECT_EQ(builder.execute(FetchOptions{.head = true, .count = CountOption::exact}).count, 2);
  EXPECT_EQ(fetch_.last().httpMethod, "HEAD");
  fetch_.reply({200, R"([{"id":1},{"id":2}])", {}});
  const auto rows = builder.execute<std::vector<Row>>();
  EXPECT_EQ(fetch_.last().httpMethod, "GET");
  ASSERT_EQ(rows.value.size(), 2u);
  EXPECT_EQ(rows.value[1].id, 2);
}

TEST_F(PostgrestBuilderTest, SetHeaderReplacesEveryValueAndRefusesBadNames) {
  auto builder = client_.from("t").select();
  builder.setHeader("X-Tag", "a").setHeader("x-tag", "b");
  builder.execute();
  EXPECT_EQ(fetch_.last().value("X-Tag"), "b");
  EXPECT_THROW(builder.setHeader("bad name", "x"), http_types::InvalidFieldNameError);
}

TEST_F(PostgrestBuilderTest, ReturnsBodyStatusAndCount) {
  fetch_.reply({201, "", {{"content-range", "*/0"}}});
  const auto response = client_.from("t").insert(JSONObject{}).execute();
  EXPECT_EQ(response.status(), 201);
  EXPECT_TRUE(response.data.empty());
  EXPECT_EQ(response.count, 0);
  EXPECT_EQ(response.string(), "");
}

TEST(PostgrestResponse, ReadsTheTotalOfContentRange) {
  EXPECT_EQ(countFromContentRange("0-24/3573"), 3573);
  EXPECT_EQ(countFromContentRange("0-9/100"), 100);
  EXPECT_EQ(countFromContentRange("*/0"), 0);
  EXPECT_EQ(countFromContentRange("7"), 7);
  for (const char* none : {"0-24/*", "0-9/", "/", "", "0-9/x", "0-9/-5", "0-9/ 5", "0-9/5 ",
                           "0-9/99999999999999999999"}) {
    EXPECT_EQ(countFromContentRange(none), std::nullopt) << none;
  }
  const auto http =
      std::make_shared<HTTPURLResponse>(boost::urls::url("https://x"), 200, HeaderFieldList{});
  EXPECT_EQ(PostgrestResponse<>("", http).count, std::nullopt);
  EXPECT_EQ(PostgrestResponse<>("\xff", http).string(), std::nullopt);
}

TEST_F(PostgrestBuilderTest, DatabaseErrorBodyBecomesPostgrestError) {
  fetch_.reply({404, R"({"message":"gone"})", {}});
  try {
    client_.from("t").select().execute();
    FAIL() << "no error";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.message(), "gone");
    EXPECT_EQ(error.code(), std::nullopt);
    EXPECT_EQ(error.detail(), std::nullopt);
    EXPECT_EQ(error.hint(), std::nullopt);
  }
  fetch_.reply(
      {403, R"({"code":"42501","message":"no","details":"d","detail":"d","hint":null})", {}});
  try {
    client_.from("t").select().execute();
    FAIL() << "no error";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.code(), "42501");
    EXPECT_EQ(error.detail(), "d");
  }
}

TEST_F(PostgrestBuilderTest, AnyOtherUnsuccessfulBodyBecomesHTTPError) {
  for (const char* body : {"<html>Bad gateway</html>", "", R"({"message":"cut)", R"({"code":"1"})",
                           R"({"message":7})", "[]", "\xff\xfe"}) {
    fetch_.reply({502, body, {}});
    try {
      client_.from("t").select().execute();
      ADD_FAILURE() << "no error for " << body;
    } catch (const HTTPError& error) {
      EXPECT_EQ(error.data(), body);
      EXPECT_EQ(error.response()->statusCode(), 502);
    }
  }
}

TEST_F(PostgrestBuilderTest, TransportErrorsPassThrough) {
  PostgrestClient client(
      boost::urls::url("https://example.com/rest/v1"), std::nullopt, {},
      [](const URLRequest&) -> FetchResult { throw URLError(URLError::Code::timedOut); });
  EXPECT_THROW(client.from("t").select().execute(), URLError);
}

TEST_F(PostgrestBuilderTest, DecodingFailureIsLoggedOnlyWithALogger) {
  auto logger = std::make_shared<testing::RecordingLogger>();
  RecordingFetch fetch;
  PostgrestClient logged = fetch.client(std::nullopt, {}, logger);
  fetch.reply({200, R"({"id":1})", {}});
  EXPECT_THROW(logged.from("t").select().execute<std::vector<Row>>(), DecodingError);
  std::vector<VoduzaziLogMessage> errors;
  for (const auto& message : logger->messages()) {
    if (message.level == VoduzaziLogLevel::error) errors.push_back(message);
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].message.starts_with("Fail to decode type 'vector<"));
  EXPECT_NE(errors[0].message.find("' with error: "), std::string::npos);

  fetch_.reply({200, "not json", {}});
  EXPECT_THROW(client_.from("t").select().execute<std::vector<Row>>(), DecodingError);
}

TEST_F(PostgrestBuilderTest, CustomDecodeStepSeesTheBody) {
  fetch_.reply({200, "abc", {}});
  const auto response = client_.from("t").select().execute<std::size_t>(
      {}, [](const Data& data) { return data.size(); });
  EXPECT_EQ(response.value, 3u);
}

TEST(PostgrestTypeName, DropsNamespacesOutsideTemplateArguments) {
  EXPECT_EQ(detail::unqualifiedTypeName("app::Message"), "Message");
  EXPECT_EQ(detail::unqualifiedTypeName("std::vector<app::Message>"), "vector<app::Message>");
  EXPECT_EQ(detail::unqualifiedTypeName("int"), "int");
}

}  // namespace
}  // namespace voduzazi
