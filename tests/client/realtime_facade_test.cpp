// The facade's second-generation realtime client: how it is built, fed tokens and reached.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/client/facade_fakes.hpp"
#include "tests/issue_reporting/issue_recorder.hpp"
#include "tests/support/eventually.hpp"

namespace voduzazi::testing {
namespace {

constexpr const char* kKey = "anon-key";

class RealtimeFacadeTest : public ::testing::Test {
 protected:
  std::unique_ptr<VoduzaziClient> makeClient(VoduzaziClientOptions options) {
    return std::make_unique<VoduzaziClient>("https://abcd.example.co/base", kKey,
                                            std::move(options));
  }
  VoduzaziClientOptions options() { return optionsOver(transport, storage); }

  void storeSession(const VoduzaziClient& client, const std::string& accessToken) {
    storage->store(client.storageKey(), JSONEncoder().encode(auth::testing::makeSession(
                                            accessToken, "refresh-" + accessToken,
                                            auth::testing::secondsFromNow(3600))));
  }

  std::shared_ptr<RecordingTransport> transport = std::make_shared<RecordingTransport>();
  std::shared_ptr<auth::InMemoryAuthLocalStorage> storage =
      std::make_shared<auth::InMemoryAuthLocalStorage>();
};

TEST_F(RealtimeFacadeTest, BuildsOneClientWithTheFacadesHeadersLoggerAndTokens) {
  VoduzaziClientOptions custom = options();
  custom.realtime.headers = makeHTTPFields({{"apikey", "other"}, {"X-Trace", "1"}});
  const auto logger = std::make_shared<RecordingLogger>();
  custom.global.logger = logger;
  const auto client = makeClient(custom);
  const auto realtime = client->realtimeV2();
  EXPECT_EQ(client->realtimeV2(), realtime);
  EXPECT_EQ(realtime->url().buffer(), "https://abcd.example.co/base/realtime/v1");
  const auto& headers = realtime->options().headers;
  EXPECT_EQ(headers.get(realtime::apiKeyFieldName()), kKey);  // the facade's value wins
  EXPECT_EQ(headers.get(HTTPField::Name("X-Trace")), "1");
  // The global logger, reached through the facade while it lives.
  ASSERT_TRUE(realtime->options().logger);
  realtime->options().logger->warning("from realtime");
  const auto messages = logger->messages();  // the auth client logs there too
  EXPECT_TRUE(std::any_of(messages.begin(), messages.end(),
                          [](const auto& message) { return message.message == "from realtime"; }));
  EXPECT_EQ(realtime->apikey(), kKey);
  // Its token function asks the facade for the session's token.
  storeSession(*client, "user-token");
  ASSERT_TRUE(realtime->options().accessToken);
  EXPECT_EQ(realtime->options().accessToken(), "user-token");
  EXPECT_EQ(realtime->status(), realtime::RealtimeClientStatus::disconnected);
}

TEST_F(RealtimeFacadeTest, KeepsACustomTokenFunctionAndWarnsOnce) {
  VoduzaziClientOptions custom = options();
  custom.realtime.accessToken = [] { return std::optional<std::string>("custom"); };
  // Before the facade: its auth-event task may build the client first.
  IssueRecorder recorder;
  const auto client = makeClient(custom);
  client->realtimeV2();
  client->realtimeV2();
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.messages().front().size(), 238u);
  EXPECT_EQ(client->realtimeV2()->options().accessToken(), "custom");
}

TEST_F(RealtimeFacadeTest, HandsEachNewTokenToTheRealtimeClient) {
  const auto first = makeClient(options());
  storeSession(*first, "user-token");
  // The stored session comes as the initial event of a new facade.
  const auto client = makeClient(options());
  ASSERT_TRUE(eventually([&] { return client->realtimeV2()->accessToken() == "user-token"; }));
  client->auth().signOut();
  ASSERT_TRUE(eventually([&] { return client->realtimeV2()->accessToken() == kKey; }));
}

TEST_F(RealtimeFacadeTest, ForwardsChannelOperations) {
  const auto client = makeClient(options());
  auto room =
      client->channel("room", [](realtime::RealtimeChannelConfig& c) { c.isPrivate = true; });
  auto lobby = client->channel("lobby");
  EXPECT_EQ(client->channel("room"), room);
  EXPECT_TRUE(room->config().isPrivate);
  EXPECT_EQ(client->channels().size(), 2u);
  client->removeChannel(room);  // never joined: nothing to leave
  EXPECT_EQ(client->channels(), (std::vector{lobby}));
  client->removeAllChannels();
  EXPECT_TRUE(client->channels().empty());
}

}  // namespace
}  // namespace voduzazi::testing
