// Filters as query items: every operator, the value texts, and the order of items.
#include "voduzazi/postgrest/filter_builder.hpp"

#include <gtest/gtest.h>

#include <boost/uuid/string_generator.hpp>
#include <algorithm>
#include <functional>
#include <thread>

#include "tests/postgrest/recording_fetch.hpp"
#include "tests/support/checked_list.hpp"

namespace voduzazi {
namespace {

using testing::queryOf;
using testing::RecordingFetch;
using Operator = PostgrestFilterBuilder::Operator;
using testing::firstOf;

struct FilterCase {
  std::string name;
  std::function<void(PostgrestFilterBuilder&)> apply;
  std::string item;  // the query item it adds, decoded
};

class PostgrestFilterBuilderTest : public ::testing::Test {
 protected:
  // The query items a filter adds after "select=*".
  std::vector<std::string> itemsAfter(const std::function<void(PostgrestFilterBuilder&)>& apply) {
    auto builder = fetch_.client().from("t").select();
    apply(builder);
    builder.execute();
    auto items = queryOf(fetch_.last());
    EXPECT_EQ(firstOf(items, "the query items"), "select=*");
    items.erase(items.begin());
    return items;
  }

  RecordingFetch fetch_;
};

TEST_F(PostgrestFilterBuilderTest, WritesEveryOperatorAndValueText) {
  using B = PostgrestFilterBuilder;
  const auto uuid = boost::uuids::string_generator()("a1b2c3d4-0000-4000-8000-00000000000f");
  const std::vector<FilterCase> cases{
      {"eq text", [](B& b) { b.eq("c", "A1B2"); }, "c=eq.A1B2"},
      {"neq int", [](B& b) { b.neq("c", -7); }, "c=neq.-7"},
      {"gt double", [](B& b) { b.gt("c", 1.0); }, "c=gt.1.0"},
      {"gte fraction", [](B& b) { b.gte("c", 0.1); }, "c=gte.0.1"},
      {"lt bool", [](B& b) { b.lt("c", true); }, "c=lt.true"},
      {"lte uuid", [&](B& b) { b.lte("c", uuid); }, "c=lte.A1B2C3D4-0000-4000-8000-00000000000F"},
      {"like", [](B& b) { b.like("c", "%a*"); }, "c=like.%a*"},
      {"ilike", [](B& b) { b.ilike("c", "a*"); }, "c=ilike.a*"},
      {"likeAllOf",
       [](B& b) {
         b.likeAllOf("c", {"a*", "*b"});
       },
       "c=like(all).{a*,*b}"},
      {"likeAnyOf", [](B& b) { b.likeAnyOf("c", {"a*"}); }, "c=like(any).{a*}"},
      {"iLikeAllOf empty", [](B& b) { b.iLikeAllOf("c", {}); }, "c=ilike(all).{}"},
      {"iLikeAnyOf",
       [](B& b) {
         b.iLikeAnyOf("c", {"x", 1});
       },
       "c=ilike(any).{x,1}"},
      {"is null", [](B& b) { b.is("c", std::nullopt); }, "c=is.NULL"},
      {"is true", [](B& b) { b.is("c", true); }, "c=is.true"},
      {"is false", [](B& b) { b.is("c", false); }, "c=is.false"},
      {"in mixed",
       [](B& b) {
         b.in("c", {1, "a"});
       },
       "c=in.(1,a)"},
      {"in empty", [](B& b) { b.in("c", {}); }, "c=in.()"},
      {"contains array",
       [](B& b) {
         b.contains("c", std::vector<int>{1, 2});
       },
       "c=cs.{1,2}"},
      {"containedBy", [](B& b) { b.containedBy("c", std::vector<std::string>{"a"}); }, "c=cd.{a}"},
      {"rangeLt", [](B& b) { b.rangeLt("c", "[1,5)"); }, "c=sl.[1,5)"},
      {"rangeGt", [](B& b) { b.rangeGt("c", "[1,5)"); }, "c=sr.[1,5)"},
      {"rangeGte", [](B& b) { b.rangeGte("c", "[1,5)"); }, "c=nxl.[1,5)"},
      {"rangeLte", [](B& b) { b.rangeLte("c", "[1,5)"); }, "c=nxr.[1,5)"},
      {"rangeAdjacent", [](B& b) { b.rangeAdjacent("c", "[1,5)"); }, "c=adj.[1,5)"},
      {"overlaps", [](B& b) { b.overlaps("c", std::vector<int>{}); }, "c=ov.{}"},
      {"not", [](B& b) { b.not_("age", Operator::gte, 18); }, "age=not.gte.18"},
      {"or", [](B& b) { b.or_("a.eq.1,b.eq.2"); }, "or=(a.eq.1,b.eq.2)"},
      {"or referenced", [](B& b) { b.or_("a.eq.1,b.eq.2", "friends"); },
       "friends.or=(a.eq.1,b.eq.2)"},
      {"textSearch websearch",
       [](B& b) { b.textSearch("body", "cat & dog", "english", TextSearchType::websearch); },
       "body=wfts(english).cat & dog"},
      {"fts", [](B& b) { b.fts("body", "cat"); }, "body=fts.cat"},
      {"plfts", [](B& b) { b.plfts("t", "x", "simple"); }, "t=plfts(simple).x"},
      {"phfts", [](B& b) { b.phfts("t", "x"); }, "t=phfts.x"},
      {"wfts", [](B& b) { b.wfts("t", "x"); }, "t=wfts.x"},
      {"fullTextSearch", [](B& b) { b.fullTextSearch("t", "x"); }, "t=fts.x"},
      {"plainToFullTextSearch", [](B& b) { b.plainToFullTextSearch("t", "x", "simple"); },
       "t=plfts(simple).x"},
      {"phraseToFullTextSearch", [](B& b) { b.phraseToFullTextSearch("t", "x"); }, "t=phfts.x"},
      {"webFullTextSearch", [](B& b) { b.webFullTextSearch("t", "x"); }, "t=wfts.x"},
      {"filter", [](B& b) { b.filter("tags", "cs", "{a}"); }, "tags=cs.{a}"},
      {"equals", [](B& b) { b.equals("c", "1"); }, "c=eq.1"},
      {"notEquals", [](B& b) { b.notEquals("c", "1"); }, "c=neq.1"},
      {"greaterThan", [](B& b) { b.greaterThan("c", "1"); }, "c=gt.1"},
      {"greaterThanOrEquals", [](B& b) { b.greaterThanOrEquals("c", "1"); }, "c=gte.1"},
      {"lowerThan", [](B& b) { b.lowerThan("c", "1"); }, "c=lt.1"},
      {"lowerThanOrEquals", [](B& b) { b.lowerThanOrEquals("c", "1"); }, "c=lte.1"},
      {"rangeLowerThan", [](B& b) { b.rangeLowerThan("c", "[1,2]"); }, "c=sl.[1,2]"},
      {"rangeGreaterThan", [](B& b) { b.rangeGreaterThan("c", "[1,2]"); }, "c=sr.[1,2]"},
      {"rangeGreaterThanOrEquals", [](B& b) { b.rangeGreaterThanOrEquals("c", "[1,2]"); },
       "c=nxl.[1,2]"},
      {"rangeLowerThanOrEquals", [](B& b) { b.rangeLowerThanOrEquals("c", "[1,2]"); },
       "c=nxr.[1,2]"},
      {"optional empty", [](B& b) { b.eq("c", std::optional<std::string>()); }, "c=eq.NULL"},
      {"json object",
       [](B& b) {
         b.eq("c", JSONObject{{"b", 1}, {"a", "x/y"}});
       },
       R"(c=eq.{"a":"x/y","b":1})"},
  };
  for (const FilterCase& filterCase : cases) {
    EXPECT_EQ(itemsAfter(filterCase.apply), std::vector<std::string>{filterCase.item})
        << filterCase.name;
  }
}

TEST_F(PostgrestFilterBuilderTest, KeepsEveryFilterInCallOrder) {
  const auto items = itemsAfter([](PostgrestFilterBuilder& b) {
    b.eq("receiver_id", "A1B2").gte("created_at", "1970-01-01T00:00:00Z").eq("n", 1).eq("n", 2);
  });
  EXPECT_EQ(items,
            (std::vector<std::string>{"receiver_id=eq.A1B2", "created_at=gte.1970-01-01T00:00:00Z",
                                      "n=eq.1", "n=eq.2"}));
}

TEST_F(PostgrestFilterBuilderTest, MatchAddsOneEqualityPerEntryAndNothingWhenEmpty) {
  EXPECT_TRUE(itemsAfter([](PostgrestFilterBuilder& b) { b.match({}); }).empty());
  EXPECT_EQ(itemsAfter([](PostgrestFilterBuilder& b) {
              b.match({{"a", 1}, {"b", true}});
            }),
            (std::vector<std::string>{"a=eq.1", "b=eq.true"}));
}

TEST_F(PostgrestFilterBuilderTest, EncodesReservedCharactersOnceOnTheWire) {
  auto builder = fetch_.client().from("t").select("id");
  builder.eq("name", "a&b=c,d%").execute();
  EXPECT_EQ(fetch_.last().url.encoded_query(), "select=id&name=eq.a%26b%3Dc%2Cd%25");
}

TEST_F(PostgrestFilterBuilderTest, ConcurrentFiltersOnOneBuilderAreAllKept) {
  const auto items = itemsAfter([](PostgrestFilterBuilder& builder) {
    auto addMany = [&builder](const char* column) {
      for (int i = 0; i < 200; ++i) builder.eq(column, i);
    };
    std::thread other(addMany, "a");
    addMany("b");
    other.join();
  });
  EXPECT_EQ(items.size(), 400u);
  EXPECT_EQ(std::count(items.begin(), items.end(), "a=eq.199"), 1);
  EXPECT_EQ(std::count(items.begin(), items.end(), "b=eq.0"), 1);
}

TEST(PostgrestFilterBuilderOperator, RoundTripsItsTextsExactly) {
  const auto& all = PostgrestFilterBuilder::allOperators();
  ASSERT_EQ(all.size(), 22u);
  EXPECT_EQ(all.front(), Operator::eq);
  EXPECT_EQ(all.back(), Operator::wfts);
  for (Operator op : all) {
    EXPECT_EQ(PostgrestFilterBuilder::operatorFromString(PostgrestFilterBuilder::toString(op)), op);
  }
  EXPECT_EQ(PostgrestFilterBuilder::operatorFromString("EQ"), std::nullopt);
  EXPECT_EQ(PostgrestFilterBuilder::operatorFromString("wfts"), Operator::wfts);
}

}  // namespace
}  // namespace voduzazi
