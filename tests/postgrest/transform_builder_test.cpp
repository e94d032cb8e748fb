// Order, limit and range, the answer forms and the caps on affected rows.
#include "voduzazi/postgrest/transform_builder.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "tests/postgrest/recording_fetch.hpp"

namespace voduzazi {
namespace {

using testing::queryOf;
using Items = std::vector<std::string>;

using PostgrestTransformBuilderTest = testing::PostgrestRequestTest;

TEST_F(PostgrestTransformBuilderTest, OrdersAccumulateInOneItemPerTable) {
  auto builder = client_.from("t").select("id");
  builder.order("created_at").order("id", false, true).order("name", true, false, "author");
  EXPECT_EQ(queryOf(sent(builder)),
            (Items{"select=id", "order=created_at.asc.nullslast,id.desc.nullsfirst",
                   "author.order=name.asc.nullslast"}));
}

TEST_F(PostgrestTransformBuilderTest, RangeSetsOffsetAndLimitAndLimitReplacesIt) {
  auto builder = client_.from("t").select();
  builder.range(0, 9).range(10, 19, "author");
  EXPECT_EQ(queryOf(sent(builder)),
            (Items{"select=*", "offset=0", "limit=10", "author.offset=10", "author.limit=10"}));
  builder.limit(5);
  EXPECT_EQ(queryOf(sent(builder))[2], "limit=5");
}

TEST_F(PostgrestTransformBuilderTest, HugeRangesSaturateInsteadOfWrapping) {
  constexpr auto max = std::numeric_limits<std::int64_t>::max();
  auto builder = client_.from("t").select();
  builder.range(-1, max);
  EXPECT_EQ(queryOf(sent(builder))[2], "limit=" + std::to_string(max));
}

TEST_F(PostgrestTransformBuilderTest, SelectAsksForTheRowsBackInPlace) {
  auto insert = client_.from("t").insert(JSONObject{}, PostgrestReturningOptions::minimal,
                                         CountOption::exact);
  insert.select("id, name");
  const URLRequest request = sent(insert);
  EXPECT_EQ(request.value("Prefer"), "return=representation,count=exact");
  EXPECT_EQ(queryOf(request), Items{"select=id,name"});
  auto read = client_.from("t").select("*", false, CountOption::planned);
  read.select("a");
  EXPECT_EQ(sent(read).value("Prefer"), "count=planned,return=representation");
}

TEST_F(PostgrestTransformBuilderTest, AnswerFormsSetAcceptWhichExecutionKeeps) {
  auto single = client_.from("t").select();
  EXPECT_EQ(sent(single.single()).value("Accept"), "application/vnd.pgrst.object+json");
  EXPECT_EQ(sent(client_.from("t").select().csv()).value("Accept"), "text/csv");
  EXPECT_EQ(sent(client_.from("t").select().geojson()).value("Accept"), "application/geo+json");
  EXPECT_EQ(sent(client_.from("t").select()).value("Accept"), "application/json");
}

TEST_F(PostgrestTransformBuilderTest, ExplainWrapsTheMediaTypeAskedSoFar) {
  EXPECT_EQ(sent(client_.from("t").select().explain(true, true, false, false, false, "json"))
                .value("Accept"),
            "application/vnd.pgrst.plan+\"json\"; for=application/json; options=analyze|verbose;");
  EXPECT_EQ(sent(client_.from("t").select().single().explain()).value("Accept"),
            "application/vnd.pgrst.plan+\"text\"; for=application/vnd.pgrst.object+json; "
            "options=;");
  EXPECT_EQ(
      sent(client_.from("t").select().explain(false, false, true, true, true)).value("Accept"),
      "application/vnd.pgrst.plan+\"text\"; for=application/json; "
      "options=settings|buffers|wal;");
}

TEST_F(PostgrestTransformBuilderTest, MaxAffectedUpdatesItsElementsInPlace) {
  auto removal = client_.from("t").delete_(PostgrestReturningOptions::minimal);
  removal.maxAffected(10);
  EXPECT_EQ(sent(removal).value("Prefer"), "return=minimal,handling=strict,max-affected=10");
  removal.maxAffected(20);
  EXPECT_EQ(sent(removal).value("Prefer"), "return=minimal,handling=strict,max-affected=20");
}

TEST_F(PostgrestTransformBuilderTest, OperationsChainWithTheMostDerivedType) {
  // Filters after transforms and transforms after filters both compile and keep call order.
  using Chained = decltype(client_.from("t").select().order("a").eq("b", 1).limit(1));
  static_assert(std::is_same_v<Chained, PostgrestFilterBuilder&>);
  // A copy is the same builder: the handle shares its request.
  PostgrestFilterBuilder builder =
      client_.from("t").select().order("a").eq("b", 1).limit(1).neq("c", 2);
  EXPECT_EQ(queryOf(sent(builder)),
            (Items{"select=*", "order=a.asc.nullslast", "b=eq.1", "limit=1", "c=neq.2"}));
}

}  // namespace
}  // namespace voduzazi
