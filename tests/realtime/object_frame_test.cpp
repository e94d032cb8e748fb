#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "voduzazi/realtime/join_config.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

namespace voduzazi::realtime {
namespace {

namespace json = boost::json;
using EventType = RealtimeMessageV2::EventType;

DecodingError::Kind failureOf(std::string_view text) {
  try {
    decodeObjectFrame(text);
  } catch (const DecodingError& error) {
    return error.kind();
  }
  ADD_FAILURE() << "decoded: " << text;
  return DecodingError::Kind::dataCorrupted;
}

TEST(RealtimeMessageV2, LeavesAbsentReferencesOutInsteadOfWritingNull) {
  const Data frame = encodeObjectFrame({std::nullopt, std::nullopt, "phoenix", "heartbeat", {}});
  EXPECT_EQ(frame, R"({"topic":"phoenix","event":"heartbeat","payload":{}})");
  const Data full = encodeObjectFrame({"1", "2", "realtime:a/b", "broadcast", {{"n", 2.0}}});
  EXPECT_EQ(full, R"({"join_ref":"1","ref":"2","topic":"realtime:a/b","event":"broadcast",)"
                  R"("payload":{"n":2.0}})");
}

TEST(RealtimeMessageV2, DecodesAReplyAndIgnoresExtraMembers) {
  const auto message = decodeObjectFrame(
      R"({"join_ref":null,"ref":"3","topic":"realtime:x","event":"phx_reply","type":"y",)"
      R"("payload":{"status":"ok","response":{}}})");
  EXPECT_EQ(message.joinRef, std::nullopt);
  EXPECT_EQ(message.ref, "3");
  EXPECT_EQ(message.eventType(), EventType::reply);
  EXPECT_EQ(message.status(), PushStatus::ok);
}

TEST(RealtimeMessageV2, RefusesFramesOfTheWrongShape) {
  using Kind = DecodingError::Kind;
  EXPECT_EQ(failureOf(R"({"ref":3,"topic":"t","event":"e","payload":{}})"), Kind::typeMismatch);
  EXPECT_EQ(failureOf(R"({"topic":"t","event":"e"})"), Kind::keyNotFound);
  EXPECT_EQ(failureOf(R"({"topic":"t","event":"e","payload":null})"), Kind::valueNotFound);
  EXPECT_EQ(failureOf(R"({"topic":"t","event":"e","payload":[]})"), Kind::typeMismatch);
  EXPECT_EQ(failureOf(R"({"topic":null,"event":"e","payload":{}})"), Kind::valueNotFound);
  EXPECT_EQ(failureOf(R"(["t","e"])"), Kind::typeMismatch);
  EXPECT_EQ(failureOf("not json"), Kind::dataCorrupted);
}

TEST(RealtimeMessageV2, ClassifiesEventsExactly) {
  const auto typeOf = [](std::string event) {
    return RealtimeMessageV2{{}, {}, "t", std::move(event), {}}.eventType();
  };
  EXPECT_EQ(typeOf("system"), EventType::system);
  EXPECT_EQ(typeOf("postgres_changes"), EventType::postgresChanges);
  EXPECT_EQ(typeOf("phx_close"), EventType::close);
  EXPECT_EQ(typeOf("phx_error"), EventType::error);
  EXPECT_EQ(typeOf("presence_diff"), EventType::presenceDiff);
  EXPECT_EQ(typeOf("presence_state"), EventType::presenceState);
  EXPECT_EQ(typeOf("presence"), std::nullopt);
  EXPECT_EQ(typeOf("PHX_REPLY"), std::nullopt);
  EXPECT_EQ(typeOf("phx_join"), std::nullopt);
}

TEST(RealtimeMessageV2, ReadsTheStatusOnlyFromAKnownString) {
  const auto statusOf = [](AnyJSON status) {
    return RealtimeMessageV2{{}, {}, "t", "phx_reply", {{"status", std::move(status)}}}.status();
  };
  EXPECT_EQ(statusOf("timeout"), PushStatus::timeout);
  EXPECT_EQ(statusOf("OK"), std::nullopt);
  EXPECT_EQ(statusOf(1), std::nullopt);
  EXPECT_EQ(statusOf(nullptr), std::nullopt);
}

TEST(RealtimeMessageV2, RoundTripsAndHashesEqualMessagesAlike) {
  const RealtimeMessageV2 message{
      "1",
      "",
      "realtime:room",
      "broadcast",
      {{"payload", JSONObject{{"list", JSONArray{1, "two", nullptr}}}}}};
  const auto back = decodeObjectFrame(encodeObjectFrame(message));
  EXPECT_EQ(back, message);
  EXPECT_EQ(back.hashValue(), message.hashValue());
  // An empty reference is not an absent one.
  EXPECT_NE(back,
            (RealtimeMessageV2{"1", std::nullopt, message.topic, message.event, message.payload}));
}

PostgresJoinConfig change(std::optional<PostgresChangeEvent> event, std::int64_t id = 0) {
  return {event, "public", "messages", std::nullopt, id};
}

TEST(RealtimeJoinPayload, WritesOnlyWhatItHas) {
  const RealtimeJoinPayload bare{{}, std::nullopt, std::nullopt};
  EXPECT_EQ(json::serialize(bare.toJSON(JSONEncoder())),
            R"({"config":{"broadcast":{"ack":false,"self":false},)"
            R"("presence":{"key":"","enabled":false},"private":false,"postgres_changes":[]}})");
  RealtimeJoinPayload full;
  full.config.broadcast = {true, true};
  full.config.presence.key = "ada";
  full.config.presence.enabled = true;
  full.config.postgresChanges = {change(std::nullopt, 5)};
  full.config.isPrivate = true;
  full.accessToken = "token";
  full.version = "realtime-cpp/2.33.2";
  const auto object = full.toJSONObject();
  EXPECT_EQ(object.at("access_token"), AnyJSON("token"));
  EXPECT_EQ(object.at("version"), AnyJSON("realtime-cpp/2.33.2"));
  // An absent event is written as null; an id of 0 is left out.
  EXPECT_EQ(json::serialize(change(std::nullopt).toJSON(JSONEncoder())),
            R"({"event":null,"schema":"public","table":"messages"})");
  EXPECT_EQ(json::serialize(change(PostgresChangeEvent::all, 17).toJSON(JSONEncoder())),
            R"({"event":"*","schema":"public","table":"messages","id":17})");
  const auto back = RealtimeJoinPayload::fromJSON(full.toJSON(JSONEncoder()), JSONDecoder(), {});
  EXPECT_EQ(back.config, full.config);
  EXPECT_EQ(back.accessToken, full.accessToken);
}

TEST(PostgresJoinConfig, DecodesServerEntriesAndRefusesUnknownEventsOrMissingIds) {
  const auto decoded = PostgresJoinConfig::fromJSON(
      json::parse(R"({"event":"INSERT","schema":"public","table":"messages","id":17})"),
      JSONDecoder());
  EXPECT_EQ(decoded.id, 17);
  EXPECT_EQ(decoded.event, PostgresChangeEvent::insert);
  EXPECT_THROW(PostgresJoinConfig::fromJSON(
                   json::parse(R"({"event":"insert","schema":"public","id":1})"), JSONDecoder()),
               DecodingError);
  EXPECT_THROW(PostgresJoinConfig::fromJSON(json::parse(R"({"event":"*","schema":"public"})"),
                                            JSONDecoder()),
               DecodingError);
}

TEST(PostgresJoinConfig, MatchesServerEntriesOneWayWhileEqualityAgreesWithHashing) {
  const auto insert = change(PostgresChangeEvent::insert);
  const auto all = change(PostgresChangeEvent::all, 4);
  EXPECT_TRUE(matches(insert, change(PostgresChangeEvent::insert, 17)));
  EXPECT_TRUE(matches(insert, all));
  EXPECT_TRUE(matches(change(std::nullopt), all));
  EXPECT_FALSE(matches(all, insert));
  EXPECT_FALSE(matches(insert, PostgresJoinConfig{PostgresChangeEvent::insert, "public",
                                                  std::nullopt, std::nullopt, 1}));
  // Equality ignores only the id, so equal entries hash alike.
  EXPECT_EQ(insert, change(PostgresChangeEvent::insert, 9));
  EXPECT_EQ(insert.hashValue(), change(PostgresChangeEvent::insert, 9).hashValue());
  EXPECT_NE(insert, all);
  EXPECT_NE(all, insert);
}

}  // namespace
}  // namespace voduzazi::realtime
