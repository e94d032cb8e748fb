// The per-user rules on the app's tables, each allowed and refused, through the REST API.
#include <boost/json/serialize.hpp>

#include "tests/local_backend/test_client.hpp"

namespace local_backend::testing {
namespace {

class AccessRulesApi : public BackendTest {
 protected:
  AccessRulesApi() : ann_(signUp("ann")), bob_(signUp("bob")), eve_(signUp("eve")) {}

  static std::string upper(std::string id) {
    std::transform(id.begin(), id.end(), id.begin(), ::toupper);
    return id;
  }

  HttpResult insert(const TestUser& as, const std::string& table, const std::string& body) {
    return post("/rest/v1/" + table, body, as.accessToken);
  }

  // The number of rows a user reads from a query.
  std::size_t visible(const TestUser& as, const std::string& query) {
    const auto result = get("/rest/v1/" + query, as.accessToken);
    EXPECT_EQ(result.status, 200) << result.body;
    const auto body = result.json();
    return body.is_array() ? body.as_array().size() : 0;
  }

  static void expectRefused(const HttpResult& result, int status) {
    EXPECT_EQ(result.status, status) << result.body;
    const auto body = result.json();
    EXPECT_TRUE(body.is_object() && body.as_object().contains("code") && body.at("code") == "42501")
        << result.body;
  }

  std::string message(const TestUser& from, const TestUser& to, const std::string& text) {
    return R"({"sender_id":")" + upper(from.id) + R"(","receiver_id":")" + upper(to.id) +
           R"(","content":")" + text + "\"}";
  }

  TestUser ann_;
  TestUser bob_;
  TestUser eve_;
};

TEST_F(AccessRulesApi, ProfilesInsertOwnRowReadByAnySignedInUser) {
  EXPECT_EQ(insert(ann_, "profiles",
                   R"({"id":")" + upper(ann_.id) + R"(","username":"ann","email":"a@x"})")
                .status,
            201);
  expectRefused(insert(ann_, "profiles", R"({"id":")" + upper(bob_.id) + R"(","username":"x"})"),
                403);
  expectRefused(insert(ann_, "profiles", R"({"username":"no id"})"), 403);
  EXPECT_EQ(visible(bob_, "profiles?id=eq." + upper(ann_.id)), 1u);
  EXPECT_EQ(visible(eve_, "profiles"), 1u);
}

TEST_F(AccessRulesApi, InvitesInsertAsInviterReadByCode) {
  EXPECT_EQ(
      insert(ann_, "friend_invites", R"({"inviter":")" + upper(ann_.id) + R"(","code":"AAAA1111"})")
          .status,
      201);
  expectRefused(insert(eve_, "friend_invites",
                       R"({"inviter":")" + upper(ann_.id) + R"(","code":"EEEE1111"})"),
                403);
  EXPECT_EQ(visible(bob_, "friend_invites?select=inviter&code=eq.AAAA1111"), 1u);
  EXPECT_EQ(visible(bob_, "friend_invites?code=eq.aaaa1111"), 0u);
  // Without the code, only one's own invites show: nobody can list the others' codes.
  EXPECT_EQ(visible(bob_, "friend_invites"), 0u);
  EXPECT_EQ(visible(bob_, "friend_invites?code=neq.ZZZZ"), 0u);
  EXPECT_EQ(visible(ann_, "friend_invites"), 1u);
}

TEST_F(AccessRulesApi, FriendsInsertWithOneselfOnEitherSideReadOwnRows) {
  const std::string both = "[" + std::string(R"({"user_id":")") + upper(bob_.id) +
                           R"(","friend_id":")" + upper(ann_.id) + R"("},)" + R"({"user_id":")" +
                           upper(ann_.id) + R"(","friend_id":")" + upper(bob_.id) + R"("}])";
  EXPECT_EQ(insert(bob_, "friends", both).status, 201);
  expectRefused(
      insert(eve_, "friends",
             R"({"user_id":")" + upper(ann_.id) + R"(","friend_id":")" + upper(bob_.id) + "\"}"),
      403);
  // One refused row refuses the whole request.
  const std::string mixed = "[" + std::string(R"({"user_id":")") + upper(eve_.id) +
                            R"(","friend_id":")" + upper(ann_.id) + R"("},)" + R"({"user_id":")" +
                            upper(ann_.id) + R"(","friend_id":")" + upper(bob_.id) + R"("}])";
  expectRefused(insert(eve_, "friends", mixed), 403);
  EXPECT_EQ(visible(ann_, "friends"), 1u);
  EXPECT_EQ(visible(bob_, "friends?select=friend_id&user_id=eq." + upper(bob_.id)), 1u);
  EXPECT_EQ(visible(eve_, "friends"), 0u);
  EXPECT_EQ(visible(eve_, "friends?user_id=eq." + upper(ann_.id)), 0u);
}

TEST_F(AccessRulesApi, MessagesInsertAsSenderReadSentOrReceived) {
  EXPECT_EQ(insert(ann_, "messages", message(ann_, bob_, "hi bob")).status, 201);
  expectRefused(insert(eve_, "messages", message(ann_, bob_, "forged")), 403);
  // The server dates and names messages: a date in the future would hide all later ones.
  for (const std::string column : {R"("created_at":"2999-01-01T00:00:00Z")",
                                   R"("id":"0b3d6f1e-0000-4000-8000-000000000001")"}) {
    auto dated = message(eve_, bob_, "from the future");
    dated.insert(1, column + ",");
    expectRefused(insert(eve_, "messages", dated), 403);
  }
  EXPECT_EQ(visible(ann_, "messages"), 1u);
  EXPECT_EQ(visible(bob_, "messages?receiver_id=eq." + upper(bob_.id)), 1u);
  EXPECT_EQ(visible(eve_, "messages"), 0u);
  EXPECT_EQ(visible(eve_, "messages?receiver_id=eq." + upper(bob_.id)), 0u);
}

TEST_F(AccessRulesApi, AnonymousKeyReadsAndWritesNothing) {
  for (const char* table : {"profiles", "friend_invites", "friends", "messages"}) {
    expectRefused(get(std::string("/rest/v1/") + table), 401);
    expectRefused(get(std::string("/rest/v1/") + table, server_.anonKey()), 401);
  }
  expectRefused(post("/rest/v1/messages", message(ann_, bob_, "anonymous")), 401);
}

TEST_F(AccessRulesApi, OnlyTheServiceRoleChangesOrDeletes) {
  ASSERT_EQ(insert(ann_, "messages", message(ann_, bob_, "keep")).status, 201);
  expectRefused(call(http::verb::patch, "/rest/v1/messages", R"({"content":"changed"})",
                     ann_.accessToken, {}),
                403);
  expectRefused(call(http::verb::delete_, "/rest/v1/messages", {}, ann_.accessToken, {}), 403);
  expectRefused(post("/rest/v1/profiles", R"({"id":")" + upper(ann_.id) + R"(","username":"x"})",
                     ann_.accessToken, {{"Prefer", "resolution=merge-duplicates"}}),
                403);
  const auto service = client_.send(http::verb::delete_, "/rest/v1/messages", {},
                                    {{"apikey", server_.serviceKey()}});
  EXPECT_EQ(service.status, 204) << service.body;
  EXPECT_EQ(visible(ann_, "messages"), 0u);
}

}  // namespace
}  // namespace local_backend::testing
