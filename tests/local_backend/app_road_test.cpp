// The desktop app's whole road, as its database client sends it: profiles, an invite created and
// redeemed by code, friends in both directions, then messages sent and polled since the last one.
#include <algorithm>
#include <boost/json/serialize.hpp>
#include <cctype>

#include "tests/local_backend/test_client.hpp"

namespace local_backend::testing {
namespace {

// Query values escaped as the client escapes them: only letters, digits and "-._~/?" stay.
std::string escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::string_view("-._~/?").find(c) != std::string_view::npos) {
      out += c;
    } else {
      out += {'%', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return out;
}

class AppRoad : public BackendTest {
 protected:
  static std::string upper(std::string id) {
    std::transform(id.begin(), id.end(), id.begin(), ::toupper);
    return id;
  }

  HttpResult insert(const TestUser& as, const std::string& target, const std::string& body) {
    return post("/rest/v1/" + target, body, as.accessToken, {{"Accept", "application/json"}});
  }

  // One poll: the rows addressed to `as` created at or after `since`, oldest first.
  boost::json::array poll(const TestUser& as, const std::string& since) {
    const auto result =
        get("/rest/v1/messages?select=*&receiver_id=eq." + upper(as.id) + "&created_at=gte." +
                escaped(since) + "&order=created_at.asc.nullslast",
            as.accessToken);
    EXPECT_EQ(result.status, 200) << result.body;
    const auto body = result.json();
    return body.is_array() ? body.as_array() : boost::json::array{};
  }
};

TEST_F(AppRoad, PairsTwoUsersAndDeliversMessagesOnce) {
  const auto ann = signUp("ann");
  const auto bob = signUp("bob");
  for (const auto* user : {&ann, &bob}) {
    const auto row = insert(
        *user, "profiles",
        R"({"id":")" + upper(user->id) + R"(","username":"u","email":")" + user->email + "\"}");
    ASSERT_EQ(row.status, 201) << row.body;
  }

  ASSERT_EQ(
      insert(ann, "friend_invites", R"({"inviter":")" + upper(ann.id) + R"(","code":"1A2B3C4D"})")
          .status,
      201);
  const auto invite = get("/rest/v1/friend_invites?select=inviter&code=eq.1A2B3C4D",
                          bob.accessToken, {{"Accept", "application/vnd.pgrst.object+json"}});
  ASSERT_EQ(invite.status, 200) << invite.body;
  const std::string friendId(invite.json().at("inviter").as_string());
  EXPECT_EQ(upper(friendId), upper(ann.id));
  const auto friends =
      insert(bob, "friends?columns=friend_id,user_id",
             R"([{"user_id":")" + upper(bob.id) + R"(","friend_id":")" + friendId + R"("},)" +
                 R"({"user_id":")" + friendId + R"(","friend_id":")" + upper(bob.id) + R"("}])");
  ASSERT_EQ(friends.status, 201) << friends.body;
  const auto annFriends =
      get("/rest/v1/friends?select=friend_id&user_id=eq." + upper(ann.id), ann.accessToken);
  EXPECT_EQ(boost::json::serialize(annFriends.json()), R"([{"friend_id":")" + bob.id + R"("}])");

  const auto send = [&](const std::string& text) {
    EXPECT_EQ(insert(ann, "messages",
                     R"({"sender_id":")" + upper(ann.id) + R"(","receiver_id":")" + bob.id +
                         R"(","content":")" + text + "\"}")
                  .status,
              201);
  };
  send("first");
  send("second");
  const auto all = poll(bob, "1970-01-01T00:00:00Z");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].at("content"), "first");
  EXPECT_EQ(all[1].at("content"), "second");
  // The next poll starts at the newest time seen, written as the server wrote it.
  const std::string lastSeen(all[1].at("created_at").as_string());
  send("third");
  const auto next = poll(bob, lastSeen);
  ASSERT_EQ(next.size(), 2u);
  EXPECT_EQ(next[0].at("created_at").as_string(), lastSeen);
  EXPECT_EQ(next[1].at("content"), "third");
  EXPECT_GT(std::string(next[1].at("created_at").as_string()), lastSeen);
  EXPECT_TRUE(poll(ann, "1970-01-01T00:00:00Z").empty());
}

}  // namespace
}  // namespace local_backend::testing
