#include "tapwick/last_seen.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>
#include <vector>

namespace tapwick {
namespace {

MessageRow row(std::string id, std::string createdAt) {
  const auto instant = serverInstant(createdAt);
  EXPECT_TRUE(instant) << createdAt;
  return {std::move(id), "text", std::move(createdAt), instant};
}

MessageRow untimed(std::string id, std::string createdAt) {
  EXPECT_FALSE(serverInstant(createdAt)) << createdAt;
  return {std::move(id), "text", std::move(createdAt), std::nullopt};
}

TEST(LastSeen, AsksFromTheEpochUntilSomethingIsShown) {
  LastSeen seen;
  EXPECT_EQ(seen.since(), "1970-01-01T00:00:00Z");
  EXPECT_TRUE(seen.isNew(row("a", "2025-10-21T08:00:00.5+00:00")));
}

TEST(LastSeen, ShowsASecondMessageOfTheSameInstantOnce) {
  LastSeen seen;
  const auto first = row("a", "2025-10-21T08:00:00.123456+00:00");
  seen.record(first);
  EXPECT_FALSE(seen.isNew(first));
  const auto twin = row("b", "2025-10-21T08:00:00.123456+00:00");
  EXPECT_TRUE(seen.isNew(twin));
  seen.record(twin);
  EXPECT_FALSE(seen.isNew(twin));
  EXPECT_EQ(seen.since(), "2025-10-21T08:00:00.123456+00:00");
}

TEST(LastSeen, ComparesInstantsNotTexts) {
  LastSeen seen;
  seen.record(row("a", "2025-10-21T10:00:00.000+02:00"));  // 08:00 UTC
  // Sorts after the recorded text as a string, but is earlier.
  EXPECT_FALSE(seen.isNew(row("b", "2025-10-21T09:00:00.000+03:00")));
  // Sorts before it as a string, but is later.
  EXPECT_TRUE(seen.isNew(row("c", "2025-10-21T08:00:00.001Z")));
  seen.record(row("c", "2025-10-21T08:00:00.001Z"));
  EXPECT_EQ(seen.since(), "2025-10-21T08:00:00.001Z");
}

TEST(LastSeen, RecordingAnOlderRowChangesNothing) {
  LastSeen seen;
  seen.record(row("a", "2025-10-21T08:00:01.0Z"));
  const LastSeen before = seen;
  seen.record(row("b", "2025-10-21T08:00:00.0Z"));
  EXPECT_EQ(seen, before);
}

TEST(LastSeen, ReadsBackWhatItWrote) {
  LastSeen seen;
  seen.record(row("a", "2025-10-21T08:00:00.5+00:00"));
  seen.record(row("b", "2025-10-21T08:00:00.5+00:00"));
  EXPECT_EQ(LastSeen::fromJSON(seen.toJSON()), seen);
  EXPECT_EQ(LastSeen::fromJSON(LastSeen().toJSON()), LastSeen());
}

TEST(LastSeen, ShowsRowsWhoseTimeNamesNoInstantOnceEach) {
  LastSeen seen;
  seen.record(row("a", "2025-10-21T08:00:00.5+00:00"));
  const auto yesterday = untimed("b", "yesterday");
  const auto farFuture = untimed("c", "9999-12-31T00:00:00.5+00:00");
  EXPECT_TRUE(seen.isNew(yesterday));
  EXPECT_TRUE(seen.isNew(farFuture));
  seen.record(yesterday);
  seen.record(farFuture);
  EXPECT_FALSE(seen.isNew(yesterday));
  EXPECT_FALSE(seen.isNew(farFuture));
  EXPECT_TRUE(seen.isNew(untimed("d", "yesterday"))) << "another row of the same text";
  // They leave the marker's time alone, and survive a relaunch.
  EXPECT_EQ(seen.since(), "2025-10-21T08:00:00.5+00:00");
  EXPECT_EQ(LastSeen::fromJSON(seen.toJSON()), seen);
  LastSeen onlyUntimed;
  onlyUntimed.record(yesterday);
  EXPECT_EQ(onlyUntimed.since(), "1970-01-01T00:00:00Z");
  EXPECT_EQ(LastSeen::fromJSON(onlyUntimed.toJSON()), onlyUntimed);
  EXPECT_FALSE(LastSeen::fromJSON(onlyUntimed.toJSON()).isNew(yesterday));
}

TEST(LastSeen, ShowsRowsWithoutAStringIdOnceAcrossPolls) {
  // The server answers every poll with the rows at or after the marker: here always all of them.
  const std::string body = R"([
    {"id": 1, "content": "one", "created_at": "2025-10-21T08:00:00.1Z"},
    {"id": 2, "content": "two", "created_at": "2025-10-21T08:00:00.2Z"},
    {"id": 3, "content": "two", "created_at": "2025-10-21T08:00:00.2Z"},
    {"content": "no id", "created_at": "2025-10-21T08:00:00.2Z"},
    {"id": 4, "content": "untimed", "created_at": "soon"},
    {"id": null, "content": "null id, untimed", "created_at": "later"},
    {"id": {"n": 5}, "content": "object id", "created_at": "2025-10-21T08:00:00.2Z"}])";
  LastSeen seen;
  std::vector<int> shown(7, 0);
  for (int poll = 0; poll < 3; ++poll) {
    const auto rows = readMessageRows(body);
    ASSERT_EQ(rows.size(), shown.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!seen.isNew(rows[i])) continue;
      ++shown[i];
      seen.record(rows[i]);
    }
    seen = LastSeen::fromJSON(seen.toJSON());  // and across a relaunch
  }
  EXPECT_EQ(shown, std::vector<int>(7, 1));
  EXPECT_EQ(seen.since(), "2025-10-21T08:00:00.2Z");
}

TEST(LastSeen, ReadsDamagedStoredValuesAsNothingShown) {
  for (const char* text :
       {R"("x")", R"({"createdAt": 5, "ids": []})", R"({"createdAt": "not a date", "ids": []})",
        R"({"createdAt": "2025-10-21T08:00:00.5Z"})"}) {
    EXPECT_TRUE(LastSeen::fromJSON(boost::json::parse(text)).isEmpty()) << text;
  }
}

}  // namespace
}  // namespace tapwick
