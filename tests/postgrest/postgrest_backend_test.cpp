// The database client end to end against the in-process stand-in backend: the service key and
// signed-in users (through setAuth), reads with filters and ordering, single rows, counts, writes,
// rpc, and the server's refusals as PostgrestError.
#include <gtest/gtest.h>

#include "local_backend/server.hpp"
#include "tests/postgrest/message_rows.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/platform/url_session.hpp"
#include "voduzazi/postgrest/client.hpp"

namespace voduzazi {
namespace {

using testing::Message;
using testing::NewMessage;

struct User {
  std::string id;
  std::string accessToken;
};

class PostgrestBackendTest : public ::testing::Test {
 protected:
  // A client with the anonymous key; with a token, signed in as that user.
  PostgrestClient client(std::optional<std::string> token = std::nullopt) const {
    PostgrestClient client(boost::urls::url(server_.url() + "/rest/v1"), std::nullopt,
                           {{"apikey", server_.anonKey()}}, defaultFetch());
    client.setAuth(std::move(token));
    return client;
  }

  User signUp(const std::string& name) {
    HTTPClient http(defaultFetch(), {});
    const std::string email = name + std::to_string(++users_) + "@example.com";
    auto request =
        helpers::HTTPRequest::make(server_.url() + "/auth/v1/signup", HTTPMethod::post, {},
                                   {{HTTPField::Name("apikey"), server_.anonKey()}},
                                   R"({"email":")" + email + R"(","password":"secret-password"})");
    const auto response = http.send(*request);
    EXPECT_EQ(response.statusCode(), 200) << response.data();
    const auto session = JSONDecoder::parse(response.data());
    return {std::string(session.at("user").at("id").as_string()),
            std::string(session.at("access_token").as_string())};
  }

  void addProfiles(const std::vector<User>& users) {
    JSONArray rows;
    for (std::size_t i = 0; i < users.size(); ++i) {
      rows.push_back(JSONObject{{"id", users[i].id}, {"username", "user" + std::to_string(i)}});
    }
    service_.from("profiles").insert(rows).execute();
  }

  local_backend::Server server_;
  PostgrestClient service_ = client(server_.serviceKey());
  int users_ = 0;
};

using Contents = std::vector<std::string>;

Contents contents(const std::vector<Message>& messages) {
  Contents texts;
  for (const auto& message : messages) texts.push_back(message.content);
  return texts;
}

TEST_F(PostgrestBackendTest, SignedInUserWritesAndReadsItsMessages) {
  const User ann = signUp("ann");
  const User bob = signUp("bob");
  PostgrestClient asAnn = client(ann.accessToken);
  for (const char* text : {"first", "second", "third"}) {
    const auto written = asAnn.from("messages").insert(NewMessage{ann.id, bob.id, text}).execute();
    EXPECT_EQ(written.status(), 201);
  }
  // The app's poll, as the receiver.
  const auto rows = client(bob.accessToken)
                        .from("messages")
                        .select()
                        .eq("receiver_id", bob.id)
                        .gte("created_at", std::chrono::system_clock::time_point())
                        .order("created_at")
                        .execute<std::vector<Message>>();
  EXPECT_EQ(contents(rows.value), (Contents{"first", "second", "third"}));
  EXPECT_EQ(rows.value[0].senderId, ann.id);
  const auto later = client(bob.accessToken)
                         .from("messages")
                         .select("content, created_at")
                         .gt("created_at", rows.value[0].createdAt)
                         .order("created_at", false)
                         .execute<std::vector<JSONObject>>();
  ASSERT_EQ(later.value.size(), 2u);
  EXPECT_EQ(*later.value[0].at("content").stringValue(), "third");
}

TEST_F(PostgrestBackendTest, RowLevelRefusalIsAPostgrestError) {
  const User ann = signUp("ann");
  const User bob = signUp("bob");
  try {
    client(ann.accessToken).from("messages").insert(NewMessage{bob.id, ann.id, "forged"}).execute();
    FAIL() << "the forged message was accepted";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.code(), "42501");
  }
  // A token set earlier does not reach this builder: the anonymous key may not read messages.
  PostgrestClient anonymous = client();
  auto earlier = anonymous.from("messages").select();
  anonymous.setAuth(ann.accessToken);
  EXPECT_THROW(earlier.execute(), PostgrestError);
  EXPECT_EQ(anonymous.from("messages").select().execute().status(), 200);
}

TEST_F(PostgrestBackendTest, SingleRowOrItsRefusal) {
  const User ann = signUp("ann");
  const User bob = signUp("bob");
  addProfiles({ann, bob});
  const auto profile =
      service_.from("profiles").select("username").eq("id", ann.id).single().execute<JSONObject>();
  EXPECT_EQ(*profile.value.at("username").stringValue(), "user0");
  try {
    service_.from("profiles").select().eq("username", "nobody").single().execute();
    FAIL() << "no row was accepted as one";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.code(), "PGRST116");
  }
}

TEST_F(PostgrestBackendTest, CountsRowsWithAndWithoutThem) {
  std::vector<User> users;
  for (int i = 0; i < 5; ++i) users.push_back(signUp("u"));
  addProfiles(users);
  const auto head = service_.from("profiles").select("*", true, CountOption::exact).execute();
  EXPECT_EQ(head.count, 5);
  EXPECT_TRUE(head.data.empty());
  const auto page =
      service_.from("profiles")
          .select()
          .order("username")
          .range(1, 2)
          .execute<std::vector<JSONObject>>(FetchOptions{.count = CountOption::exact});
  EXPECT_EQ(page.count, 5);
  ASSERT_EQ(page.value.size(), 2u);
  EXPECT_EQ(*page.value[0].at("username").stringValue(), "user1");
  // The same builder again, without HEAD, returns its rows.
  auto builder = service_.from("profiles").select();
  EXPECT_TRUE(builder.execute(FetchOptions{.head = true}).data.empty());
  EXPECT_EQ(builder.execute<std::vector<JSONObject>>().value.size(), 5u);
}

TEST_F(PostgrestBackendTest, UpsertUpdateAndDeleteWithTheServiceKey) {
  const User ann = signUp("ann");
  const auto upserted = service_.from("profiles")
                            .upsert(JSONArray{JSONObject{{"id", ann.id}, {"username", "a"}}}, "id")
                            .execute<std::vector<JSONObject>>();
  EXPECT_EQ(*upserted.value.at(0).at("username").stringValue(), "a");
  service_.from("profiles")
      .upsert(JSONObject{{"id", ann.id}, {"username", "b"}}, "id",
              PostgrestReturningOptions::minimal, std::nullopt, true)
      .execute();
  const auto updated = service_.from("profiles")
                           .update(JSONObject{{"email", "a@x"}})
                           .eq("id", ann.id)
                           .execute<std::vector<JSONObject>>();
  ASSERT_EQ(updated.value.size(), 1u);
  EXPECT_EQ(*updated.value[0].at("username").stringValue(), "a");
  EXPECT_EQ(*updated.value[0].at("email").stringValue(), "a@x");
  const auto removed =
      service_.from("profiles")
          .delete_()
          .eq("id", ann.id)
          .execute<std::vector<JSONObject>>(FetchOptions{.count = CountOption::exact});
  EXPECT_EQ(removed.value.size(), 1u);
  EXPECT_EQ(removed.count, 1);
  EXPECT_TRUE(service_.from("profiles").select().execute<std::vector<JSONObject>>().value.empty());
}

TEST_F(PostgrestBackendTest, LogicTreesFromOr) {
  std::vector<User> users;
  for (int i = 0; i < 4; ++i) users.push_back(signUp("u"));
  addProfiles(users);
  const auto rows = service_.from("profiles")
                        .select("username")
                        .or_("username.eq.user0,and(username.gt.user1,not.or(username.eq.user3))")
                        .order("username")
                        .execute<std::vector<JSONObject>>();
  ASSERT_EQ(rows.value.size(), 2u);
  EXPECT_EQ(*rows.value[1].at("username").stringValue(), "user2");
}

TEST_F(PostgrestBackendTest, CallsFunctionsByPostGetAndHead) {
  EXPECT_EQ(client().rpc("add_numbers", JSONObject{{"a", 2}, {"b", 40}}).execute<int>().value, 42);
  EXPECT_EQ(client()
                .rpc("add_numbers", JSONObject{{"a", 0.5}, {"b", 1}}, false, true)
                .execute<double>()
                .value,
            1.5);
  const auto head = client().rpc("add_numbers", JSONObject{{"a", 1}, {"b", 1}}, true).execute();
  EXPECT_EQ(head.status(), 200);
  EXPECT_TRUE(head.data.empty());
  try {
    client().rpc("add_numbers").execute();
    FAIL() << "a call without arguments was accepted";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.code(), "PGRST202");
  }

  const User ann = signUp("ann");
  const User bob = signUp("bob");
  PostgrestClient asAnn = client(ann.accessToken);
  for (const char* text : {"a", "b", "c"}) {
    asAnn.from("messages").insert(NewMessage{ann.id, bob.id, text}).execute();
  }
  const auto conversation =
      client(bob.accessToken)
          .rpc("messages_with", JSONObject{{"other_id", ann.id}}, false, true, CountOption::exact)
          .neq("content", "b")
          .order("created_at", false)
          .execute<std::vector<Message>>();
  EXPECT_EQ(contents(conversation.value), (Contents{"c", "a"}));
  EXPECT_EQ(conversation.count, 2);
}

}  // namespace
}  // namespace voduzazi
