#include "tapwick/server_rows.hpp"

#include <gtest/gtest.h>

#include <set>

namespace tapwick {
namespace {

TEST(ServerRows, ReadsMessagesWithTextAndTimeInOrder) {
  const auto rows = readMessageRows(R"([
    {"id": "m1", "content": "hi", "created_at": "2025-10-21T08:00:00.1+00:00"},
    {"id": "m2", "content": 7, "created_at": "2025-10-21T08:00:00.2+00:00"},
    {"id": "m3", "content": "no time"},
    {"id": "m4", "content": "bad time", "created_at": "soon"},
    "not a row",
    {"id": 9, "content": "numeric id", "created_at": "2025-10-21T08:00:00.3Z"},
    {"id": "m5", "content": "far", "created_at": "9999-12-31T00:00:00.5+00:00"}])");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].id, "m1");
  EXPECT_EQ(rows[0].content, "hi");
  EXPECT_EQ(rows[0].createdAt, "2025-10-21T08:00:00.1+00:00");
  EXPECT_TRUE(rows[0].createdAtInstant);
  // A time that names no instant is kept as it came, to be shown so.
  EXPECT_EQ(rows[1].id, "m4");
  EXPECT_EQ(rows[1].createdAt, "soon");
  EXPECT_FALSE(rows[1].createdAtInstant);
  // A row without a string id still shows, under an id named by what it carries.
  EXPECT_EQ(rows[2].content, "numeric id");
  EXPECT_EQ(rows[2].id.size(), 36u);
  EXPECT_EQ(rows[2].id, [&] {
    std::string upper = rows[2].id;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }());
  EXPECT_EQ(rows[3].createdAt, "9999-12-31T00:00:00.5+00:00");
}

TEST(ServerRows, NamesRowsWithoutAStringIdTheSameOnEveryRead) {
  const std::string body = R"([
    {"id": 9, "content": "a", "created_at": "2025-10-21T08:00:00.3Z"},
    {"id": 10, "content": "a", "created_at": "2025-10-21T08:00:00.3Z"},
    {"id": "9", "content": "a", "created_at": "2025-10-21T08:00:00.3Z"},
    {"content": "a", "created_at": "2025-10-21T08:00:00.3Z"},
    {"id": null, "content": "b", "created_at": "2025-10-21T08:00:00.3Z"},
    {"content": "a", "created_at": "2025-10-21T08:00:00.4Z"}])";
  const auto first = readMessageRows(body);
  const auto second = readMessageRows(body);
  ASSERT_EQ(first.size(), 6u);
  ASSERT_EQ(second.size(), 6u);
  std::set<std::string> ids;
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].id, second[i].id) << i;
    ids.insert(first[i].id);
  }
  EXPECT_EQ(ids.size(), first.size()) << "every row has an id of its own";
  EXPECT_EQ(first[2].id, "9");
}

TEST(ServerRows, RefusesBodiesThatAreNoArray) {
  for (const char* body : {"", "{", R"({"message": "oops"})", "null", "<html>"}) {
    EXPECT_THROW(readMessageRows(body), RowsError) << body;
    EXPECT_THROW(readFriendIds(body), RowsError) << body;
  }
}

TEST(ServerRows, KeepsStringFriendIdsInOrderWithDuplicates) {
  EXPECT_EQ(readFriendIds(R"([{"friend_id": "b"}, {"friend_id": 3}, {"other": "x"},
                              {"friend_id": "a"}, {"friend_id": "b"}])"),
            (std::vector<std::string>{"b", "a", "b"}));
  EXPECT_TRUE(readFriendIds("[]").empty());
}

TEST(ServerRows, ReadsUserNamesAndInviters) {
  EXPECT_EQ(readProfileName(R"({"username": "ada"})").username, "ada");
  EXPECT_TRUE(readProfileName(R"({"username": null})").isObject);
  EXPECT_FALSE(readProfileName(R"({"username": null})").username);
  EXPECT_FALSE(readProfileName(R"([{"username": "ada"}])").isObject);
  EXPECT_EQ(readInviter(R"({"inviter": "A1"})"), "A1");
  EXPECT_FALSE(readInviter(R"({"inviter": 1})"));
  EXPECT_FALSE(readInviter("garbage"));
}

}  // namespace
}  // namespace tapwick
