#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/uuid/string_generator.hpp>

#include "tests/support/checked_list.hpp"
#include "voduzazi/realtime/callback_manager.hpp"
#include "voduzazi/realtime/postgres_actions.hpp"
#include "voduzazi/realtime/postgres_filter.hpp"
#include "voduzazi/realtime/presence_v2.hpp"
#include "voduzazi/realtime/realtime_error.hpp"

namespace voduzazi::realtime {
namespace {

namespace json = boost::json;
using voduzazi::testing::firstOf;

const RealtimeMessageV2 kFrame{"1", std::nullopt, "realtime:db", "postgres_changes", {}};

AnyJSON parsed(std::string_view text) { return AnyJSON::fromJSON(json::parse(text)); }

AnyAction change(std::string_view type, std::string_view rows) {
  return makePostgresAction(
      parsed(R"({"type":")" + std::string(type) + R"(","columns":[{"name":"id","type":"int8"}],)" +
             R"("commit_timestamp":"2024-01-02T03:04:05.678Z")" + std::string(rows) + "}"),
      kFrame);
}

TEST(PostgresAction, BuildsTheTypedActionAndFillsMissingRowsWithEmptyObjects) {
  const auto insert = change("INSERT", R"(,"record":null,"old_record":{"id":1})");
  ASSERT_TRUE(std::holds_alternative<InsertAction>(insert.action));
  EXPECT_TRUE(std::get<InsertAction>(insert.action).record.empty());
  EXPECT_EQ(insert.rawMessage(), kFrame);

  const auto update = change("UPDATE", R"(,"record":{"id":2})");
  const auto& updated = std::get<UpdateAction>(update.action);
  EXPECT_EQ(updated.record.at("id"), AnyJSON(2));
  EXPECT_TRUE(updated.oldRecord.empty());
  EXPECT_EQ(updated.columns, (std::vector<Column>{{"id", "int8"}}));

  const auto removed = change("DELETE", R"(,"record":{"id":3},"old_record":{"id":3})");
  EXPECT_EQ(std::get<DeleteAction>(removed.action).oldRecord.at("id"), AnyJSON(3));
  EXPECT_EQ(AnyAction::eventType, PostgresChangeEvent::all);
  EXPECT_EQ(InsertAction::eventType, PostgresChangeEvent::insert);
}

TEST(PostgresAction, RefusesUnknownTypesAndBadTimestamps) {
  try {
    change("insert", "");
    ADD_FAILURE();
  } catch (const RealtimeError& error) {
    EXPECT_STREQ(error.what(), "Unknown event type: insert");
  }
  const auto timestamp = [](std::string_view value) {
    return parsed(R"({"type":"INSERT","columns":[],"commit_timestamp":)" + std::string(value) +
                  "}");
  };
  try {
    makePostgresAction(timestamp(R"("yesterday")"), kFrame);
    ADD_FAILURE();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.debugDescription(), "Invalid date format: yesterday");
  }
  EXPECT_THROW(makePostgresAction(timestamp("5"), kFrame), DecodingError);
  EXPECT_THROW(makePostgresAction(parsed(R"({"type":"INSERT"})"), kFrame), DecodingError);
}

TEST(PostgresAction, DecodesRowsIntoTheCallersType) {
  struct Row {
    std::int64_t id = 0;
    static Row fromJSON(const json::value& json) { return {json.at("id").as_int64()}; }
  };
  const auto insert = change("INSERT", R"(,"record":{"id":42})");
  EXPECT_EQ(std::get<InsertAction>(insert.action).decodeRecord<Row>().id, 42);
  // Two updates differing only in their frame are different changes.
  auto first = std::get<UpdateAction>(change("UPDATE", "").action);
  auto second = first;
  second.rawMessage.ref = "9";
  EXPECT_NE(first, second);
}

TEST(RealtimePostgresFilter, RendersEachOperatorWithTheValuesText) {
  using Filter = RealtimePostgresFilter;
  EXPECT_EQ(Filter::eq("id", 5).filterString(), "id=eq.5");
  EXPECT_EQ(Filter::neq("status", "active").filterString(), "status=neq.active");
  EXPECT_EQ(Filter::gt("score", 2.0).filterString(), "score=gt.2.0");
  EXPECT_EQ(Filter::lt("score", 1e20).filterString(), "score=lt.1e+20");
  EXPECT_EQ(Filter::lte("done", false).filterString(), "done=lte.false");
  const Date at = std::chrono::sys_days{std::chrono::year{2024} / 1 / 2} + std::chrono::hours(3) +
                  std::chrono::minutes(4) + std::chrono::milliseconds(5678);
  EXPECT_EQ(Filter::gte("at", at).filterString(), "at=gte.2024-01-02T03:04:05.678Z");
  const auto id = boost::uuids::string_generator()("6c1f0e2a-0000-4000-8000-00000000abcd");
  EXPECT_EQ(Filter::eq("user", id).filterString(), "user=eq.6C1F0E2A-0000-4000-8000-00000000ABCD");
  EXPECT_EQ(Filter::in("id", {1, 2, 3}).filterString(), "id=in.(1,2,3)");
  EXPECT_EQ(Filter::in("id", {}).filterString(), "id=in.()");
}

TEST(RealtimePostgresFilter, QuotesListItemsThatWouldOtherwiseSplitOrCloseTheList) {
  using Filter = RealtimePostgresFilter;
  EXPECT_EQ(Filter::in("name", {"a,b", "c)", "plain", R"(say "hi")", "back\\slash"}).filterString(),
            R"x(name=in.("a,b","c)",plain,"say \"hi\"","back\\slash"))x");
  // A single value cannot be misread, so it stays as it is.
  EXPECT_EQ(Filter::eq("name", "a,b (c)").filterString(), "name=eq.a,b (c)");
}

TEST(PresenceV2, ReadsTheFirstMetaAndKeepsItsStateWithoutTheReference) {
  const auto presence = PresenceV2::fromJSON(
      json::parse(R"({"metas":[{"phx_ref":"a1","name":"x"},{"phx_ref":"b2"}]})"), JSONDecoder());
  EXPECT_EQ(presence.ref, "a1");
  EXPECT_EQ(presence.state, (JSONObject{{"name", "x"}}));
  const auto bare =
      PresenceV2::fromJSON(json::parse(R"({"metas":[{"phx_ref":"a1"}]})"), JSONDecoder());
  EXPECT_TRUE(bare.state.empty());
  EXPECT_EQ(json::serialize(PresenceV2{"a1", {{"k", 1}}}.toJSON(JSONEncoder())),
            R"({"phx_ref":"a1","state":{"k":1}})");
}

TEST(PresenceV2, NamesWhereAPresenceLacksItsReference) {
  const auto failure = [](std::string_view text) -> CodingPath {
    try {
      PresenceV2::fromJSON(json::parse(text), JSONDecoder(), {"key"});
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
      EXPECT_EQ(error.debugDescription(), "A presence should at least have a phx_ref.");
      return error.codingPath();
    }
    ADD_FAILURE() << text;
    return {};
  };
  const CodingPath metas = failure(R"({"metas":[]})");
  EXPECT_EQ(metas.size(), 3u);
  EXPECT_EQ(firstOf(metas, "the failure's coding path"), "key");
  EXPECT_EQ(failure("{}"), metas);
  const CodingPath ref = failure(R"({"metas":[{"phx_ref":5}]})");
  ASSERT_EQ(ref.size(), 4u);
  EXPECT_EQ(ref.back(), "phx_ref");
  EXPECT_THROW(decodePresences({{"a", "not an object"}}), DecodingError);
}

TEST(PresenceAction, DecodesStatesSkippingOrRefusingThoseOfAnotherShape) {
  struct User {
    std::string name;
    static User fromJSON(const json::value& json) {
      const auto* name = json.as_object().if_contains("name");
      if (name == nullptr) throw DecodingError(DecodingError::Kind::keyNotFound, {}, "name");
      return {std::string(name->as_string())};
    }
  };
  const PresenceActionImpl action(
      {{"a", {"1", {{"name", "ada"}}}}, {"b", {"2", {}}}, {"c", {"3", {{"name", "cy"}}}}}, {},
      kFrame);
  EXPECT_EQ(action.decodeJoins<User>().size(), 2u);
  EXPECT_THROW(action.decodeJoins<User>(false), DecodingError);
  EXPECT_TRUE(action.decodeLeaves<User>(false).empty());
}

TEST(CallbackManager, HandsOutIdsAcrossKindsAndNeverReusesThem) {
  CallbackManager callbacks;
  EXPECT_EQ(callbacks.addBroadcastCallback("a", [](const JSONObject&) {}), 1);
  EXPECT_EQ(callbacks.addSystemCallback([](const RealtimeMessageV2&) {}), 2);
  callbacks.removeCallback(1);
  callbacks.removeCallback(99);
  EXPECT_EQ(callbacks.addPresenceCallback([](const PresenceAction&) {}), 3);
  EXPECT_EQ(callbacks.state().callbacks.size(), 2u);
  EXPECT_TRUE(callbacks.hasPresenceCallbacks());
}

TEST(CallbackManager, RunsBroadcastHandlersByEventWithoutLetterCase) {
  CallbackManager callbacks;
  std::vector<std::string> calls;
  callbacks.addBroadcastCallback("Typing", [&](const JSONObject&) { calls.push_back("typing"); });
  callbacks.addBroadcastCallback("*", [&](const JSONObject&) { calls.push_back("any"); });
  callbacks.triggerBroadcast("typing", {});
  callbacks.triggerBroadcast("other", {});
  EXPECT_EQ(calls, (std::vector<std::string>{"typing", "any", "any"}));
}

TEST(CallbackManager, RunsPostgresHandlersForConfirmedMatchingSubscriptionsOnce) {
  CallbackManager callbacks;
  std::vector<int> calls;
  const auto filter = [](std::optional<PostgresChangeEvent> event, std::optional<std::string> t) {
    return PostgresJoinConfig{event, "public", std::move(t), std::nullopt, 0};
  };
  callbacks.addPostgresCallback(filter(PostgresChangeEvent::insert, "messages"),
                                [&](const AnyAction&) { calls.push_back(1); });
  callbacks.addPostgresCallback(filter(PostgresChangeEvent::update, "messages"),
                                [&](const AnyAction&) { calls.push_back(2); });
  callbacks.addPostgresCallback(filter(PostgresChangeEvent::all, std::nullopt),
                                [&](const AnyAction&) { calls.push_back(3); });
  const auto insert = change("INSERT", "");
  callbacks.triggerPostgresChanges({7}, insert);
  EXPECT_TRUE(calls.empty());  // nothing confirmed yet
  auto confirmedInsert = filter(PostgresChangeEvent::insert, "messages");
  confirmedInsert.id = 7;
  auto confirmedAll = filter(PostgresChangeEvent::all, "messages");
  confirmedAll.id = 8;
  callbacks.setServerChanges({confirmedInsert, confirmedAll});
  callbacks.triggerPostgresChanges({7}, insert);
  EXPECT_EQ(calls, (std::vector<int>{1}));
  calls.clear();
  callbacks.triggerPostgresChanges({7, 8}, insert);  // "*" serves the update handler too
  EXPECT_EQ(calls, (std::vector<int>{1, 2}));
}

TEST(CallbackManager, LetsAHandlerRemoveItselfWhileRunning) {
  CallbackManager callbacks;
  int calls = 0;
  int id = 0;
  id = callbacks.addSystemCallback([&](const RealtimeMessageV2&) {
    ++calls;
    callbacks.removeCallback(id);
  });
  callbacks.triggerSystem(kFrame);
  callbacks.triggerSystem(kFrame);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace voduzazi::realtime
