// The five table operations: method, body, "select", "columns", "on_conflict" and "Prefer".
#include "voduzazi/postgrest/query_builder.hpp"

#include <gtest/gtest.h>

#include "tests/postgrest/recording_fetch.hpp"
#include "tests/support/checked_list.hpp"

namespace voduzazi {
namespace {

using testing::queryOf;
using Items = std::vector<std::string>;
using testing::firstOf;

struct Friend {
  std::string userId;
  std::string friendId;
  std::optional<std::string> note = std::nullopt;
  friend void tag_invoke(boost::json::value_from_tag, boost::json::value& json, const Friend& row) {
    boost::json::object object{{"user_id", row.userId}, {"friend_id", row.friendId}};
    if (row.note) object["note"] = *row.note;
    json = std::move(object);
  }
};

using PostgrestQueryBuilderTest = testing::PostgrestRequestTest;

TEST_F(PostgrestQueryBuilderTest, SelectCleansTheColumnListOutsideQuotes) {
  const URLRequest request = sent(client_.from("messages").select(" id,\n name ,\"full  name\""));
  EXPECT_EQ(request.httpMethod, "GET");
  EXPECT_EQ(request.url.path(), "/rest/v1/messages");
  EXPECT_EQ(queryOf(request), Items{"select=id,name,\"full  name\""});
  EXPECT_EQ(request.value("Prefer"), std::nullopt);
  // Unicode white space counts too; text that is not UTF-8 passes unchanged.
  EXPECT_EQ(queryOf(sent(client_.from("t").select("a,\u00A0b\u2028"))), Items{"select=a,b"});
  // Dropping the form feed here would join the bytes around it into U+2000, another white space.
  const std::string notUTF8("a,\xe2\x80\x0c\x80 b", 8);
  auto builder = client_.from("t").select(notUTF8);
  EXPECT_EQ(firstOf(builder.request().query, "the query items").value, notUTF8);
}

TEST_F(PostgrestQueryBuilderTest, SelectWithCountAndHeadAsksForTheCountOnly) {
  const URLRequest request = sent(client_.from("t").select("*", true, CountOption::exact));
  EXPECT_EQ(request.httpMethod, "HEAD");
  EXPECT_EQ(request.value("Prefer"), "count=exact");
}

TEST_F(PostgrestQueryBuilderTest, InsertOfOneRecordSendsItAsBody) {
  const URLRequest request = sent(client_.from("friends").insert(Friend{"u", "f"}));
  EXPECT_EQ(request.httpMethod, "POST");
  EXPECT_EQ(request.httpBody, R"({"user_id":"u","friend_id":"f"})");
  EXPECT_EQ(request.value("Prefer"), std::nullopt);
  EXPECT_TRUE(queryOf(request).empty());
}

TEST_F(PostgrestQueryBuilderTest, BulkInsertNamesEveryKeyOnceSorted) {
  const URLRequest request =
      sent(client_.from("friends").insert(std::vector<Friend>{{"u", "f"}, {"f", "u", "n"}}));
  EXPECT_EQ(queryOf(request), Items{"columns=friend_id,note,user_id"});
  const URLRequest empty = sent(client_.from("friends").insert(std::vector<Friend>{}));
  EXPECT_EQ(empty.httpBody, "[]");
  EXPECT_EQ(queryOf(empty), Items{"columns="});
  // An array that is not all objects names no columns.
  EXPECT_TRUE(queryOf(sent(client_.from("t").insert(JSONArray{JSONObject{}, 1}))).empty());
}

TEST_F(PostgrestQueryBuilderTest, ComposesPreferAfterAnEarlierValue) {
  EXPECT_EQ(sent(client_.from("t").insert(JSONObject{}, PostgrestReturningOptions::representation,
                                          CountOption::exact))
                .value("Prefer"),
            "return=representation,count=exact");
  auto query = client_.from("t");
  query.setHeader("Prefer", "a=b");
  EXPECT_EQ(sent(query.insert(JSONObject{}, PostgrestReturningOptions::representation,
                              CountOption::exact))
                .value("Prefer"),
            "a=b,return=representation,count=exact");
}

TEST_F(PostgrestQueryBuilderTest, UpsertAsksForResolutionAndConflictTarget) {
  const URLRequest request =
      sent(client_.from("profiles")
               .upsert(JSONObject{{"id", 1}}, "id", PostgrestReturningOptions::minimal,
                       std::nullopt, true));
  EXPECT_EQ(request.httpMethod, "POST");
  EXPECT_EQ(request.value("Prefer"), "resolution=ignore-duplicates,return=minimal");
  EXPECT_EQ(queryOf(request), Items{"on_conflict=id"});
  EXPECT_EQ(sent(client_.from("p").upsert(JSONArray{JSONObject{{"b", 1}, {"a", 2}}}, std::nullopt,
                                          PostgrestReturningOptions::representation,
                                          CountOption::planned))
                .value("Prefer"),
            "resolution=merge-duplicates,return=representation,count=planned");
}

TEST_F(PostgrestQueryBuilderTest, UpdateAndDeleteUseTheirMethods) {
  const URLRequest update = sent(client_.from("t").update(
      JSONObject{{"a", 1}}, PostgrestReturningOptions::minimal, CountOption::exact));
  EXPECT_EQ(update.httpMethod, "PATCH");
  EXPECT_EQ(update.httpBody, R"({"a":1})");
  EXPECT_EQ(update.value("Prefer"), "return=minimal,count=exact");
  const URLRequest removal = sent(client_.from("t").delete_());
  EXPECT_EQ(removal.httpMethod, "DELETE");
  EXPECT_EQ(removal.httpBody, std::nullopt);
  EXPECT_EQ(removal.value("Prefer"), "return=representation");
}

TEST_F(PostgrestQueryBuilderTest, LaterOperationsBuildOnEarlierOnesButNotOnFilters) {
  auto query = client_.from("t");
  auto read = query.select("id");
  read.eq("id", 1);
  const URLRequest write = sent(query.insert(JSONObject{{"id", 2}}));
  EXPECT_EQ(write.httpMethod, "POST");
  EXPECT_EQ(queryOf(write), Items{"select=id"});
}

TEST_F(PostgrestQueryBuilderTest, EncodingFailureChangesNothing) {
  auto query = client_.from("t");
  EXPECT_THROW(query.insert(JSONObject{{"n", std::nan("")}}), EncodingError);
  EXPECT_EQ(query.request().method, HTTPMethod::get);
  EXPECT_EQ(query.request().body, std::nullopt);
}

}  // namespace
}  // namespace voduzazi
