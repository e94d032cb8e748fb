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
                                               {{"or", "(a.eq.1,b.eq.2"}},
                                               {{"or", "a.eq.1"}},
                                               {{"and", "()"}},
                                               {{"and", "(a.eq.1,)"}},
                                               {{"or", "(a.eq.1,b)"}},
                                               {{"or", "(a.eq.1))(b.eq.2"}},
                                               {{"or", "(and(a.eq.1)x)"}},
                                               {{"or", "(a.eq.\"open)"}},
                                               {{"or", "(a.zz.1)"}},
                                               {{"xor", "(a.eq.1)"}},
                                               {{"friends.or", "(a.eq.1)"}},
                                               {{"friends.order", "id"}},
                                               {{"columns", "a;b"}}}) {
    EXPECT_EQ(syntaxCode(items), "PGRST100") << items.front().first << "=" << items.front().second;
  }
}

TEST(RestQuery, ParsesNestedNegatedLogicTrees) {
  const auto q = parseRestQuery(
      {{"not.or", "(a.eq.1,and(b.not.in.(1,2),not.or(c.is.null,d.like.*x*)),e.gt.2)"}});
  ASSERT_EQ(q.logic.size(), 1u);
  const LogicTree& top = q.logic[0];
  EXPECT_TRUE(top.disjunction);
  EXPECT_TRUE(top.negated);
  ASSERT_EQ(top.filters.size(), 2u);
  EXPECT_EQ(top.filters[0].column, "a");
  EXPECT_EQ(top.filters[1].op, FilterOperator::gt);
  ASSERT_EQ(top.trees.size(), 1u);
  const LogicTree& inner = top.trees[0];
  EXPECT_FALSE(inner.disjunction);
  EXPECT_FALSE(inner.negated);
  EXPECT_TRUE(inner.filters[0].negated);
  EXPECT_EQ(inner.filters[0].list, (std::vector<std::string>{"1", "2"}));
  ASSERT_EQ(inner.trees.size(), 1u);
  EXPECT_TRUE(inner.trees[0].negated);
  EXPECT_EQ(inner.trees[0].filters[1].value, "%x%");
}

TEST(RestQuery, LogicTreeValuesMayBeQuoted) {
  const auto tree = parseLogicTree("or", R"x((name.eq."a,b(c)",name.eq."say \"hi\"",n.eq.x y))x");
  ASSERT_EQ(tree.filters.size(), 3u);
  EXPECT_EQ(tree.filters[0].value, "a,b(c)");
  EXPECT_EQ(tree.filters[1].value, "say \"hi\"");
  EXPECT_EQ(tree.filters[2].value, "x y");
}

TEST(RestQuery, LogicTreesNestOnlySoDeep) {
  auto nested = [](int levels) {
    std::string value = "(a.eq.1)";
    for (int i = 1; i < levels; ++i) value = "(or" + value + ")";
    return value;
  };
  EXPECT_NO_THROW(parseLogicTree("or", nested(kMaxLogicTreeDepth)));
  EXPECT_EQ(syntaxCode({{"or", nested(kMaxLogicTreeDepth + 1)}}), "PGRST100");
  std::string deep = "(";
  for (int i = 0; i < 100000; ++i) deep += "or(";
  deep += "a.eq.1" + std::string(100001, ')');
  EXPECT_EQ(syntaxCode({{"or", deep}}), "PGRST100");
}

}  // namespace
}  // namespace local_backend
