#include <gtest/gtest.h>

#include "voduzazi/realtime/channel_state.hpp"
#include "voduzazi/realtime/defaults.hpp"
#include "voduzazi/realtime/push_status.hpp"
#include "voduzazi/realtime/realtime_message.hpp"

namespace voduzazi::realtime {
namespace {

TEST(Defaults, SteppedBackOffsFollowTheirTables) {
  EXPECT_DOUBLE_EQ(Defaults::reconnectSteppedBackOff(1), 0.01);
  EXPECT_DOUBLE_EQ(Defaults::reconnectSteppedBackOff(4), 0.15);
  EXPECT_DOUBLE_EQ(Defaults::reconnectSteppedBackOff(9), 2.0);
  EXPECT_DOUBLE_EQ(Defaults::reconnectSteppedBackOff(10), 5.0);
  EXPECT_DOUBLE_EQ(Defaults::reconnectSteppedBackOff(1000), 5.0);
  EXPECT_DOUBLE_EQ(Defaults::rejoinSteppedBackOff(1), 1.0);
  EXPECT_DOUBLE_EQ(Defaults::rejoinSteppedBackOff(3), 5.0);
  EXPECT_DOUBLE_EQ(Defaults::rejoinSteppedBackOff(4), 10.0);
  EXPECT_DOUBLE_EQ(Defaults::rejoinSteppedBackOff(0), 1.0);
}

TEST(Defaults, DecodeTakesOnlyArraysAndObjects) {
  EXPECT_TRUE(Defaults::decode("[1,2]"));
  EXPECT_TRUE(Defaults::decode(R"({"a":null})"));
  EXPECT_FALSE(Defaults::decode("1"));
  EXPECT_FALSE(Defaults::decode(R"("text")"));
  EXPECT_FALSE(Defaults::decode("[1,"));
  EXPECT_FALSE(Defaults::decode(""));
  // Nesting deeper than the parser's limit is refused, not a stack overflow.
  EXPECT_FALSE(Defaults::decode(std::string(100000, '[')));
}

TEST(ChannelState, RawValuesMatchExactly) {
  EXPECT_EQ(channelStateFromString("joined"), ChannelState::joined);
  EXPECT_EQ(channelStateFromString("Joined"), std::nullopt);
  for (auto state : {ChannelState::closed, ChannelState::errored, ChannelState::joined,
                     ChannelState::joining, ChannelState::leaving}) {
    EXPECT_EQ(channelStateFromString(toString(state)), state);
  }
  EXPECT_EQ(ChannelEvent::join, "phx_join");
  EXPECT_EQ(ChannelEvent::presenceState, "presence_state");
}

TEST(PushStatus, AcceptsOnlyTheThreeRawValues) {
  EXPECT_EQ(pushStatusFromString("ok"), PushStatus::ok);
  EXPECT_EQ(pushStatusFromString("error"), PushStatus::error);
  EXPECT_EQ(pushStatusFromString("timeout"), PushStatus::timeout);
  EXPECT_EQ(pushStatusFromString("OK"), std::nullopt);
  EXPECT_EQ(pushStatusFromString(""), std::nullopt);
}

TEST(ArrayFrame, DecodesNullReferencesAsAbsentAndEmpty) {
  auto message = decodeArrayFrame(R"([null,null,"phoenix","phx_reply",{}])");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->joinRef, std::nullopt);
  EXPECT_EQ(message->ref, "");
  EXPECT_EQ(message->topic, "phoenix");
  EXPECT_EQ(message->event, "phx_reply");
  EXPECT_TRUE(message->payload().empty());
  EXPECT_EQ(message->status(), std::nullopt);
}

TEST(ArrayFrame, RefusesFramesOfTheWrongShape) {
  EXPECT_FALSE(decodeArrayFrame(R"([null,null,"t","e"])"));
  EXPECT_FALSE(decodeArrayFrame(R"([null,null,"t","e",[]])"));
  EXPECT_FALSE(decodeArrayFrame(R"([null,null,1,"e",{}])"));
  EXPECT_FALSE(decodeArrayFrame(R"([null,null,null,"e",{}])"));
  EXPECT_FALSE(decodeArrayFrame(R"([null,null,"t",2,{}])"));
  EXPECT_FALSE(decodeArrayFrame(R"({"topic":"t"})"));
  EXPECT_FALSE(decodeArrayFrame("not json"));
}

TEST(ArrayFrame, ReadsTheFirstFiveElementsAndToleratesOddReferences) {
  auto message = decodeArrayFrame(R"(["1",7,"room","broadcast",{"a":1},"extra"])");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->joinRef, "1");
  EXPECT_EQ(message->ref, "");  // a number is no reference
  EXPECT_EQ(message->rawPayload.at("a"), AnyJSON(1));
}

TEST(ArrayFrame, PayloadAndStatusComeFromTheRawPayload) {
  auto reply = decodeArrayFrame(
      R"(["1","2","room","phx_reply",{"status":"ok","response":{"postgres_changes":[]}}])");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status(), PushStatus::ok);
  EXPECT_EQ(reply->payload().size(), 1u);
  EXPECT_TRUE(reply->payload().contains("postgres_changes"));

  auto stringResponse =
      decodeArrayFrame(R"([null,"2","room","phx_reply",{"status":"OK","response":"x"}])");
  ASSERT_TRUE(stringResponse);
  EXPECT_EQ(stringResponse->status(), std::nullopt);
  EXPECT_EQ(stringResponse->payload(), stringResponse->rawPayload);

  auto numericStatus = decodeArrayFrame(R"([null,"2","room","phx_reply",{"status":1}])");
  ASSERT_TRUE(numericStatus);
  EXPECT_EQ(numericStatus->status(), std::nullopt);
}

TEST(ArrayFrame, EncodesCompactlyWithNullForMissingReferences) {
  EXPECT_EQ(encodeArrayFrame("1", "2", "realtime:room", "phx_join", {}),
            R"(["1","2","realtime:room","phx_join",{}])");
  EXPECT_EQ(encodeArrayFrame(std::nullopt, std::nullopt, "phoenix", "heartbeat", {}),
            R"([null,null,"phoenix","heartbeat",{}])");
  // Whatever is encoded decodes back to the same message.
  JSONObject payload{{"status", "ok"}, {"n", 1.5}, {"list", JSONArray{1, "two", nullptr}}};
  auto back = decodeArrayFrame(encodeArrayFrame("j", "r", "t/x", "e", payload));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->rawPayload, payload);
  EXPECT_EQ(back->topic, "t/x");
}

}  // namespace
}  // namespace voduzazi::realtime
