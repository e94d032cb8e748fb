// Parsing of REST query strings.
#include "local_backend/rest_query.hpp"

#include <gtest/gtest.h>

#include "local_backend/rest_error.hpp"

namespace local_backend {
namespace {

using Items = std::vector<std::pair<std::string, std::string>>;

std::string syntaxCode(const Items& items) {
  try {
    parseRestQuery(items);
  } catch (const RestError& error) {
    return error.code();
  }
  return "accepted";
}

TEST(RestQuery, ParsesSelectFiltersOrderAndPaging) {
  const auto q = parseRestQuery({{"select", "id, content"},
                                 {"receiver_id", "eq.A1B2"},
                                 {"created_at", "not.gte.1970-01-01T00:00:00Z"},
                                 {"order", "created_at.desc.nullslast,id"},
                                 {"limit", "10"},
                                 {"offset", "5"},
                                 {"apikey", "ignored"}});
  EXPECT_EQ(q.select, (std::vector<std::string>{"id", "content"}));
  ASSERT_EQ(q.filters.size(), 2u);
  EXPECT_EQ(q.filters[0].op, FilterOperator::eq);
  EXPECT_EQ(q.filters[0].value, "A1B2");
  EXPECT_TRUE(q.filters[1].negated);
  EXPECT_EQ(q.filters[1].op, FilterOperator::gte);
  ASSERT_EQ(q.order.size(), 2u);
  EXPECT_FALSE(q.order[0].ascending);
  EXPECT_FALSE(q.order[0].effectiveNullsFirst());
  EXPECT_TRUE(q.order[1].ascending);
  EXPECT_EQ(q.limit, 10);
  EXPECT_EQ(q.offset, 5);
}

TEST(RestQuery, StarSelectsEverything) {
  EXPECT_TRUE(parseRestQuery({{"select", "*"}}).select.empty());
  EXPECT_TRUE(parseRestQuery({{"select", "id,*"}}).select.empty());
}

TEST(RestQuery, KeepsTheOperandAfterTheFirstDot) {
  const auto q = parseRestQuery({{"content", "eq.a.b.c"}, {"name", "like.*x*"}});
  EXPECT_EQ(q.filters[0].value, "a.b.c");
  EXPECT_EQ(q.filters[1].value, "%x%");
}

TEST(RestQuery, SplitsInListsWithQuotes) {
  const auto q = parseRestQuery({{"code", R"(in.(a, "b,c" ,"d\"e",))"}});
  EXPECT_EQ(q.filters[0].list, (std::vector<std::string>{"a", "b,c", "d\"e", ""}));
  EXPECT_TRUE(parseRestQuery({{"code", "in.()"}}).filters[0].list.empty());
}

TEST(RestQuery, ReadsIsOperandsWithoutRegardToCase) {
  EXPECT_EQ(parseRestQuery({{"a", "is.NULL"}}).filters[0].value, "null");
  EXPECT_EQ(parseRestQuery({{"a", "not.is.True"}}).filters[0].value, "true");
}

TEST(RestQuery, ReadsColumnsAndConflictTargets) {
  const auto q = parseRestQuery({{"columns", "user_id,friend_id"}, {"on_conflict", "id"}});
  EXPECT_EQ(*q.columns, (std::vector<std::string>{"user_id", "friend_id"}));
  EXPECT_EQ(*q.onConflict, (std::vector<std::string>{"id"}));
  EXPECT_TRUE(parseRestQuery({{"columns", ""}}).columns->empty());
}

TEST(RestQuery, RefusesWhatItDoesNotUnderstand) {
  for (const Items& items : std::vector<Items>{{{"a", "zz.1"}},
                                               {{"a", "eq"}},
                                               {{"a", "not.eq"}},
                                               {{"a", "cs.{1}"}},
                                               {{"a", "is.maybe"}},
                                               {{"a", "in.1,2"}},
                                               {{"a", R"(in.("open)"}},
                                               {{"limit", "-1"}},
                                               {{"offset", "ten"}},
                                               {{"limit", "99999999999999999999"}},
                                               {{"order", "a.sideways"}},
                                               {{"select", "author(name)"}},
                                               {{"select", "*,author(name)"}},
                                               {{"select", "name:username"}},
                                               {{"or", "(a.eq.1,b.eq.2)"}},
                                               {{"friends.order", "id"}},
                                               {{"columns", "a;b"}}}) {
    EXPECT_EQ(syntaxCode(items), "PGRST100") << items.front().first << "=" << items.front().second;
  }
}

}  // namespace
}  // namespace local_backend
