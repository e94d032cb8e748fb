// The client: default headers, setAuth, rpc and schema.
#include "voduzazi/postgrest/client.hpp"

#include <gtest/gtest.h>

#include "tests/postgrest/recording_fetch.hpp"

namespace voduzazi {
namespace {

using testing::queryOf;
using testing::RecordingFetch;
using Items = std::vector<std::string>;

struct Range {
  std::vector<int> ids;
  std::string name;
  boost::json::value toJSON() const {
    return boost::json::object{{"ids", boost::json::value_from(ids)}, {"name", name}};
  }
};

TEST(PostgrestClient, AddsClientInfoUnlessTheCallerSetOne) {
  RecordingFetch fetch;
  fetch.client(std::nullopt, {}).from("t").select().execute();
  EXPECT_EQ(fetch.last().value("X-Client-Info"), "virevozor-erava/2.33.2");
  fetch.client(std::nullopt, {{"x-client-info", "app/1"}}).from("t").select().execute();
  EXPECT_EQ(fetch.last().value("X-Client-Info"), "app/1");
  const PostgrestClient::Configuration plain(boost::urls::url("https://x"));
  EXPECT_TRUE(plain.headers.empty());
  EXPECT_EQ(&PostgrestClient::Configuration::jsonEncoder(),
            &PostgrestClient::Configuration::jsonEncoder());
  EXPECT_EQ(PostgrestClient::Configuration::jsonDecoder().get(),
            PostgrestClient::Configuration::jsonDecoder().get());
}

TEST(PostgrestClient, SetAuthReachesOnlyLaterBuilders) {
  RecordingFetch fetch;
  PostgrestClient client = fetch.client(std::nullopt, {{"authorization", "Bearer anon"}});
  client.setAuth("t1");
  auto earlier = client.from("t").select();
  client.setAuth(std::nullopt);
  EXPECT_EQ(client.configuration().headers.count("Authorization"), 0u);
  earlier.execute();
  EXPECT_EQ(fetch.last().value("Authorization"), "Bearer t1");
  client.from("t").select().execute();
  EXPECT_EQ(fetch.last().value("Authorization"), std::nullopt);
  client.setAuth("t2");
  client.from("t").select().execute();
  EXPECT_EQ(fetch.last().value("Authorization"), "Bearer t2");
}

TEST(PostgrestClient, RpcPostsItsParametersOrNothing) {
  RecordingFetch fetch;
  PostgrestClient client = fetch.client();
  client.rpc("add").execute();
  EXPECT_EQ(fetch.last().httpMethod, "POST");
  EXPECT_EQ(fetch.last().url.path(), "/rest/v1/rpc/add");
  EXPECT_EQ(fetch.last().httpBody, std::nullopt);
  client.rpc("add", JSONObject{{"a", 1}, {"b", 2}}).execute();
  EXPECT_EQ(fetch.last().httpBody, R"({"a":1,"b":2})");
}

TEST(PostgrestClient, RpcWithGetOrHeadSendsParametersAsQueryItems) {
  RecordingFetch fetch;
  PostgrestClient client = fetch.client();
  client.rpc("add", false, true).execute();
  EXPECT_EQ(fetch.last().httpMethod, "GET");
  EXPECT_TRUE(queryOf(fetch.last()).empty());
  client.rpc("f", Range{{1, 2}, "x y"}, false, true).execute();
  EXPECT_EQ(fetch.last().httpBody, std::nullopt);
  EXPECT_EQ(queryOf(fetch.last()), (Items{"ids={1,2}", "name=x y"}));
  EXPECT_EQ(fetch.last().url.encoded_query(), "ids=%7B1%2C2%7D&name=x%20y");
  client.rpc("f", Range{{}, "x"}, true, true).execute();
  EXPECT_EQ(fetch.last().httpMethod, "HEAD");
  // Filters come after the parameters.
  client.rpc("f", Range{{}, "x"}, false, true).eq("id", 1).execute();
  EXPECT_EQ(queryOf(fetch.last()), (Items{"ids={}", "name=x", "id=eq.1"}));
}

TEST(PostgrestClient, RpcWithGetRefusesParametersThatAreNotAnObject) {
  RecordingFetch fetch;
  try {
    fetch.client().rpc("f", JSONArray{1, 2}, false, true);
    FAIL() << "no error";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.message(),
              "Params should be a key-value type when using `GET` or `HEAD` options.");
    EXPECT_EQ(error.code(), std::nullopt);
  }
  EXPECT_TRUE(fetch.requests().empty());
}

TEST(PostgrestClient, RpcCountSetsPrefer) {
  RecordingFetch fetch;
  fetch.client().rpc("f", false, false, CountOption::planned).execute();
  EXPECT_EQ(fetch.last().value("Prefer"), "count=planned");
}

TEST(PostgrestClient, SchemaMakesAnIndependentClient) {
  RecordingFetch fetch;
  PostgrestClient client = fetch.client();
  PostgrestClient other = client.schema("other");
  other.from("t").select().execute();
  EXPECT_EQ(fetch.last().value("Accept-Profile"), "other");
  other.setAuth("x");
  EXPECT_EQ(client.configuration().schema, std::nullopt);
  EXPECT_EQ(client.configuration().headers.count("Authorization"), 0u);
}

TEST(PostgrestClient, AppendsTablePathsToARootWithOrWithoutSlash) {
  RecordingFetch fetch;
  PostgrestClient client(boost::urls::url("https://example.com/rest/v1/"), std::nullopt, {},
                         fetch.handler());
  client.from("my table").select().execute();
  EXPECT_EQ(fetch.last().url.encoded_path(), "/rest/v1/my%20table");
}

}  // namespace
}  // namespace voduzazi
