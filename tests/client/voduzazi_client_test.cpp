// The facade over a recording transport: headers, service URLs, the token step, lazy clients
// and the auth-event task.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <barrier>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/client/facade_fakes.hpp"
#include "tests/issue_reporting/issue_recorder.hpp"
#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/client/detail/client_core.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/realtime/realtime_client.hpp"
#include "voduzazi/helpers/version.hpp"

namespace voduzazi::testing {
namespace {

using ::testing::Contains;
using ::testing::Pair;
namespace fs = std::filesystem;

constexpr const char* kKey = "anon-key";
constexpr const char* kProject = "https://abcd.example.co";

// Facades built with the default store read the desktop user's secrets: keep them in a fresh
// folder of this process.
class TemporaryDataHome : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tapwick-facade-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    setenv("XDG_DATA_HOME", folder_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

 private:
  fs::path folder_;
};

const auto* const dataHome = ::testing::AddGlobalTestEnvironment(new TemporaryDataHome);

// The value of a header by name, letter case ignored; also fails when the name is repeated.
std::optional<std::string> header(const HeaderDictionary& headers, std::string_view name) {
  std::optional<std::string> found;
  for (const auto& [key, value] : headers) {
    if (makeHTTPFields({{key, ""}}).begin()->name() == HTTPField::Name(name)) {
      EXPECT_FALSE(found) << "repeated header " << name;
      found = value;
    }
  }
  return found;
}

class VoduzaziClientTest : public ::testing::Test {
 protected:
  std::unique_ptr<VoduzaziClient> makeClient(VoduzaziClientOptions options) {
    return std::make_unique<VoduzaziClient>(kProject, kKey, std::move(options));
  }
  std::unique_ptr<VoduzaziClient> makeClient() { return makeClient(options()); }
  VoduzaziClientOptions options() { return optionsOver(transport, storage); }

  void storeSession(const VoduzaziClient& client, const std::string& accessToken) {
    storage->store(client.storageKey(), JSONEncoder().encode(auth::testing::makeSession(
                                            accessToken, "refresh-" + accessToken,
                                            auth::testing::secondsFromNow(3600))));
  }

  std::string authorizationOfASelect(const VoduzaziClient& client) {
    client.from("messages").select().execute();
    return transport->lastAuthorization();
  }

  std::shared_ptr<RecordingTransport> transport = std::make_shared<RecordingTransport>();
  std::shared_ptr<auth::InMemoryAuthLocalStorage> storage =
      std::make_shared<auth::InMemoryAuthLocalStorage>();
};

TEST_F(VoduzaziClientTest, LayersLibraryHeadersUnderTheKeyUnderGlobalHeaders) {
  VoduzaziClient plain(kProject, kKey);
  const HeaderDictionary headers = plain.headers();
  EXPECT_EQ(header(headers, "X-Client-Info"), "voduzazi-cpp/" + std::string(version));
  EXPECT_EQ(header(headers, "X-Voduzazi-Client-Platform"), "Linux");
  EXPECT_EQ(header(headers, "X-Voduzazi-Client-Platform-Version"), platformVersion());
  EXPECT_EQ(header(headers, "Authorization"), "Bearer anon-key");
  EXPECT_EQ(header(headers, "Apikey"), "anon-key");

  VoduzaziClientOptions custom = options();
  custom.global.headers = {{"authorization", "Bearer other"},
                           {"apikey", "second-key"},
                           {"x-client-info", "mine/1"},
                           {"X-Trace", "on"}};
  const auto client = makeClient(custom);
  const HeaderDictionary merged = client->headers();
  EXPECT_EQ(header(merged, "Authorization"), "Bearer other");
  EXPECT_EQ(header(merged, "Apikey"), "second-key");
  EXPECT_EQ(header(merged, "X-Client-Info"), "mine/1");
  EXPECT_EQ(header(merged, "X-Trace"), "on");
  // Every client built from them sends the caller's values.
  EXPECT_EQ(authorizationOfASelect(*client), "Bearer other");
  EXPECT_EQ(lastOf(transport->requests(), "the requests sent").value("apikey"), "second-key");
}

struct ProjectCase {
  const char* project;
  const char* base;
  const char* storageKey;
};

TEST_F(VoduzaziClientTest, DerivesServiceURLsAndStorageKeyFromTheProjectURL) {
  for (const ProjectCase& each : {
           ProjectCase{"https://abcd.example.co", "https://abcd.example.co", "sb-abcd-auth-token"},
           ProjectCase{"https://abcd.example.co/", "https://abcd.example.co", "sb-abcd-auth-token"},
           ProjectCase{"http://127.0.0.1:8484/base/", "http://127.0.0.1:8484/base",
                       "sb-127-auth-token"},
           ProjectCase{"HTTPS://ABCD.example.co", "HTTPS://ABCD.example.co", "sb-ABCD-auth-token"},
           ProjectCase{"http://.abcd..example.co/api", "http://.abcd..example.co/api",
                       "sb-abcd-auth-token"},
       }) {
    SCOPED_TRACE(each.project);
    VoduzaziClient client(each.project, kKey, options());
    const std::string base = each.base;
    EXPECT_EQ(client.databaseURL().buffer(), base + "/rest/v1");
    EXPECT_EQ(client.storageURL().buffer(), base + "/storage/v1");
    EXPECT_EQ(client.functionsURL().buffer(), base + "/functions/v1");
    EXPECT_EQ(client.authURL().buffer(), base + "/auth/v1");
    EXPECT_EQ(client.realtimeURL().buffer(), base + "/realtime/v1");
    EXPECT_EQ(client.storageKey(), each.storageKey);
    EXPECT_EQ(client.voduzaziURL().buffer(), each.project);
  }
}

TEST_F(VoduzaziClientTest, RefusesProjectURLsWithoutHttpSchemeOrHost) {
  for (const char* project : {"ftp://abcd.example.co", "http://", "https://...", "file:///tmp/x",
                              "abcd.example.co", "", "http://exa mple.co"}) {
    SCOPED_TRACE(project);
    EXPECT_THROW(VoduzaziClient(project, kKey, options()), InvalidProjectURLError);
  }
  EXPECT_THROW(VoduzaziClient(boost::urls::url("mailto:ada@example.co"), kKey, options()),
               InvalidProjectURLError);
}

TEST_F(VoduzaziClientTest, GivesTheAuthClientTheConfiguredStorageKeyUnchanged) {
  VoduzaziClientOptions custom = options();
  custom.auth.storageKey = "My Key/with odd characters";
  const auto client = makeClient(custom);
  EXPECT_EQ(client->storageKey(), "My Key/with odd characters");
  storeSession(*client, "token-under-my-key");
  EXPECT_EQ(authorizationOfASelect(*client), "Bearer token-under-my-key");
}

TEST_F(VoduzaziClientTest, SendsTheSessionTokenOrElseTheAPIKey) {
  const auto client = makeClient();
  EXPECT_EQ(authorizationOfASelect(*client), "Bearer anon-key");
  storeSession(*client, "user-token");
  EXPECT_EQ(authorizationOfASelect(*client), "Bearer user-token");
  EXPECT_EQ(client->rpc("add_numbers", JSONObject{{"a", 1}}).execute().status(), 200);
  const URLRequest call = lastOf(transport->requests(), "the requests sent");
  EXPECT_EQ(call.url.buffer(), "https://abcd.example.co/rest/v1/rpc/add_numbers");
  EXPECT_EQ(call.value("Authorization"), "Bearer user-token");  // one field, the session's
}

TEST_F(VoduzaziClientTest, BuildsOneFunctionsClientThatSendsTheSessionToken) {
  auto options = this->options();
  options.functions = VoduzaziClientOptions::FunctionsOptions(FunctionRegion::euWest1);
  const auto client = makeClient(std::move(options));
  FunctionsClient& functions = client->functions();
  EXPECT_EQ(&functions, &client->functions());
  EXPECT_EQ(functions.url().buffer(), "https://abcd.example.co/functions/v1");
  EXPECT_EQ(functions.region(), "eu-west-1");
  EXPECT_EQ(functions.headers().get(HTTPField::Name("apikey")), kKey);

  storeSession(*client, "user-token");
  functions.invoke("hello");
  const URLRequest call = lastOf(transport->requests(), "the requests sent");
  EXPECT_EQ(call.url.buffer(), "https://abcd.example.co/functions/v1/hello");
  EXPECT_EQ(call.value("Authorization"), "Bearer user-token");
  EXPECT_EQ(call.value("x-region"), "eu-west-1");
}

TEST_F(VoduzaziClientTest, BuildsOneStorageClientWhoseFetchAndUploadSendTheSessionToken) {
  auto options = this->options();
  options.storage.useNewHostname = true;  // a custom domain keeps its host
  const auto client = makeClient(std::move(options));
  EXPECT_TRUE(client->mutableState().storage == nullptr);
  storage::VoduzaziStorageClient& storage = client->storage();
  EXPECT_EQ(&storage, &client->storage());
  EXPECT_EQ(storage.configuration().url.buffer(), "https://abcd.example.co/storage/v1");
  EXPECT_EQ(storage.configuration().headers.at("Apikey"), kKey);
  EXPECT_TRUE(storage.configuration().useNewHostname);

  EXPECT_TRUE(storage.listBuckets().empty());
  EXPECT_EQ(transport->lastAuthorization(), "Bearer anon-key");
  storeSession(*client, "user-token");
  storage.listBuckets();
  const URLRequest call = lastOf(transport->requests(), "the requests sent");
  EXPECT_EQ(call.url.buffer(), "https://abcd.example.co/storage/v1/bucket");
  EXPECT_EQ(call.value("Authorization"), "Bearer user-token");
  EXPECT_EQ(call.value("apikey"), kKey);

  URLRequest upload;
  upload.url = boost::urls::url("https://abcd.example.co/storage/v1/object/b/a");
  upload.httpMethod = "PUT";
  upload.headerFields = {{"Authorization", "Bearer anon-key"}};
  storage.configuration().session.upload(upload, "bytes");
  EXPECT_EQ(lastOf(transport->requests(), "the requests sent").value("Authorization"),
            "Bearer user-token");
  EXPECT_EQ(lastOf(transport->requests(), "the requests sent").httpBody, "bytes");
}

TEST_F(VoduzaziClientTest, AuthClientRequestsSkipTheTokenStep) {
  const auto client = makeClient();
  storeSession(*client, "user-token");
  EXPECT_ANY_THROW(client->auth().signIn("ada@example.com", "secret"));  // "[]" is no session
  const URLRequest signIn = lastOf(transport->requests(), "the requests sent");
  EXPECT_EQ(signIn.url.path(), "/auth/v1/token");
  EXPECT_EQ(signIn.value("Authorization"), "Bearer anon-key");
}

TEST_F(VoduzaziClientTest, HandsIncomingURLsToTheAuthClient) {
  const auto client = makeClient();
  // The stored code verifier makes this a code-flow redirect: the auth client exchanges the code.
  storage->store(client->storageKey() + "-code-verifier", "verifier");
  client->handle(boost::urls::url("tapwick://login-callback?code=the-code"));
  ASSERT_TRUE(eventually([&] {
    const auto requests = transport->requests();
    return !requests.empty() && requests.back().url.path() == "/auth/v1/token";
  }));
  EXPECT_EQ(lastOf(transport->requests(), "the requests sent").url.query(), "grant_type=pkce");
}

TEST_F(VoduzaziClientTest, BuildsTheDatabaseClientOnceUnderConcurrentFirstUse) {
  const auto client = makeClient();
  constexpr int kThreads = 8;
  std::vector<std::optional<PostgrestClient>> built(kThreads);
  std::barrier start(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        built[i] = client->database();
      });
    }
  }
  // They share one client: a change through one is seen through all.
  built[0]->setAuth("shared");
  for (const auto& each : built) {
    EXPECT_THAT(each->configuration().headers, Contains(Pair("Authorization", "Bearer shared")));
  }
  EXPECT_THAT(client->database().configuration().headers,
              Contains(Pair("Authorization", "Bearer shared")));
}

TEST_F(VoduzaziClientTest, AccessTokenOptionReplacesTheSessionAndWarnsOnAuth) {
  VoduzaziClientOptions custom = options();
  custom.auth.accessToken = [] { return std::optional<std::string>("third-party-token"); };
  const auto client = makeClient(custom);
  storeSession(*client, "user-token");
  EXPECT_FALSE(client->mutableState().listenForAuthEventsTask);
  EXPECT_EQ(authorizationOfASelect(*client), "Bearer third-party-token");

  IssueRecorder recorder;
  client->auth();
  client->auth();
  const std::string warning =
      "Voduzazi Client is configured with the auth.accessToken option,\n"
      "accessing voduzazi.auth is not possible.";
  EXPECT_EQ(warning.size(), 104u);
  EXPECT_EQ(recorder.messages(), (std::vector<std::string>{warning, warning}));
}

TEST_F(VoduzaziClientTest, FailingTokenSourceLeavesTheAPIKeyBearer) {
  VoduzaziClientOptions custom = options();
  custom.auth.accessToken = []() -> std::optional<std::string> {
    throw std::runtime_error("token service down");
  };
  EXPECT_EQ(authorizationOfASelect(*makeClient(custom)), "Bearer anon-key");
  custom.auth.accessToken = [] { return std::optional<std::string>(); };
  EXPECT_EQ(authorizationOfASelect(*makeClient(custom)), "Bearer anon-key");
}

TEST_F(VoduzaziClientTest, ReleasingTheFacadeEndsItsTaskAndFreesItsClients) {
  VoduzaziClientOptions custom = options();
  auto encoder = std::make_shared<JSONEncoder>();
  custom.db.encoder = encoder;
  const std::weak_ptr<JSONEncoder> watched = encoder;
  encoder.reset();
  auto client = makeClient(std::move(custom));
  storeSession(*client, "user-token");
  EXPECT_EQ(authorizationOfASelect(*client), "Bearer user-token");
  std::optional<PostgrestQueryBuilder> builder = client->from("messages");
  const auto task = client->mutableState().listenForAuthEventsTask;
  ASSERT_TRUE(task);

  client.reset();
  EXPECT_TRUE(task->isFinished());  // the release waited for it
  // A builder handed out before still sends, with the headers it was made with.
  EXPECT_EQ(builder->select().execute().status(), 200);
  EXPECT_EQ(transport->lastAuthorization(), "Bearer anon-key");
  EXPECT_FALSE(watched.expired());
  builder.reset();
  EXPECT_TRUE(eventually([&] { return watched.expired(); }));  // nothing else kept the client
}

TEST_F(VoduzaziClientTest, TracksTheTokenForRealtimeFromAuthEvents) {
  const auto client = makeClient();
  storeSession(*client, "user-token");
  // A second facade over the same store replays the stored session as INITIAL_SESSION.
  const auto second = makeClient();
  EXPECT_TRUE(
      eventually([&] { return second->mutableState().changedAccessToken == "user-token"; }));
  second->auth().signOut();
  EXPECT_TRUE(eventually([&] { return !second->mutableState().changedAccessToken; }));
}

TEST_F(VoduzaziClientTest, BuildsTheOlderRealtimeClientUnconnectedFromTheProjectAndHeaders) {
  const auto client = makeClient();
  const auto& realtime = client->realtime();
  ASSERT_TRUE(realtime);
  EXPECT_EQ(realtime->endPoint(), std::string(kProject) + "/realtime/v1");
  EXPECT_FALSE(realtime->isConnected());
  EXPECT_EQ(realtime->connectionState(), realtime::PhoenixTransportReadyState::closed);
  // Every merged header rides in the handshake and in the query, "vsn" first.
  EXPECT_EQ(realtime->headers(), client->headers());
  auto url = realtime->endPointUrl();
  EXPECT_EQ(url.path(), "/realtime/v1/websocket");
  ASSERT_FALSE(url.params().empty());
  EXPECT_EQ((*url.params().begin()).key, "vsn");
  EXPECT_EQ((*url.params().begin()).value, "2.0.0");
  EXPECT_TRUE(url.params().contains("Apikey"));
  EXPECT_EQ((*url.params().find("Authorization")).value, "Bearer anon-key");
  EXPECT_EQ(realtime->accessToken(), kKey);
}

// Events in order: INITIAL_SESSION (none), SIGNED_IN (T1), TOKEN_REFRESHED (T1 again),
// TOKEN_REFRESHED (T2), USER_UPDATED, SIGNED_OUT. Both realtime clients get T1, T2 and the key;
// the events that change nothing reach neither, so the second-generation client never asks for
// a token (with a session within its refresh margin, the ask would refresh it).
TEST_F(VoduzaziClientTest, HandsTheRealtimeClientsOnlyTokensThatChanged) {
  VoduzaziClientOptions custom = options();
  auto asked = std::make_shared<std::atomic<int>>(0);
  custom.realtime.accessToken = [asked] {
    ++*asked;
    return std::optional<std::string>("asked");
  };
  IssueRecorder recorder;  // keeping a token function of the caller's is reported
  const auto client = makeClient(custom);
  ASSERT_TRUE(eventually([&] { return client->mutableState().realtime != nullptr; }));
  const auto emitter = auth::Dependencies::get(client->auth().clientID()).eventEmitter;
  const auto tokens = [&] {
    return std::pair{client->realtime()->accessToken(), client->realtimeV2()->accessToken()};
  };
  const auto both = [](const std::string& token) {
    return std::pair{std::optional(token), std::optional(token)};
  };
  const auto session = [](const std::string& token) {
    return auth::testing::makeSession(token, "refresh-" + token,
                                      auth::testing::secondsFromNow(3600));
  };
  emitter.emit(auth::AuthChangeEvent::signedIn, session("T1"));
  ASSERT_TRUE(eventually([&] { return tokens() == both("T1"); }));
  emitter.emit(auth::AuthChangeEvent::tokenRefreshed, session("T1"));
  emitter.emit(auth::AuthChangeEvent::tokenRefreshed, session("T2"));
  ASSERT_TRUE(eventually([&] { return tokens() == both("T2"); }));
  emitter.emit(auth::AuthChangeEvent::userUpdated, session("T2"));
  emitter.emit(auth::AuthChangeEvent::signedOut, std::nullopt);
  ASSERT_TRUE(eventually([&] { return tokens() == both(kKey); }));
  EXPECT_EQ(asked->load(), 0);
}

TEST_F(VoduzaziClientTest, ForwardsNewTokensToTheRealtimeClientButNeverAnAbsentOne) {
  VoduzaziClient::Core core(boost::urls::url(kProject), kKey, options());
  core.forwardToRealtimeClients("user-token");
  EXPECT_EQ(core.realtime->accessToken(), "user-token");
  // "No change" keeps the token rather than clearing it.
  core.forwardToRealtimeClients(std::nullopt);
  EXPECT_EQ(core.realtime->accessToken(), "user-token");

  const auto client = makeClient();
  storeSession(*client, "stored-token");
  const auto second = makeClient();  // replays the stored session
  EXPECT_TRUE(eventually([&] { return second->realtime()->accessToken() == "stored-token"; }));
  second->auth().signOut();
  EXPECT_TRUE(eventually([&] { return second->realtime()->accessToken() == kKey; }));
}

// A new token that another program stored, announced while an observer of the notification holds
// it and the program signs out meanwhile: the facade forwards nothing after the sign-out, so
// neither realtime client keeps the token of a session the store no longer holds.
TEST_F(VoduzaziClientTest, NoRealtimeClientKeepsATokenAnnouncedBeforeASignOut) {
  const auto first = makeClient();
  storeSession(*first, "access-0");
  const auto client = makeClient();  // starts where the store is
  ASSERT_TRUE(eventually([&] { return client->mutableState().changedAccessToken == "access-0"; }));
  storeSession(*first, "access-1");  // as the other program
  auth::testing::Gate gate;
  const auto observer =
      auth::testing::holdFirstNotificationOf(auth::AuthChangeEvent::tokenRefreshed, gate);
  EXPECT_FALSE(auth::testing::actWhileHeld(
      gate, [&] { client->auth().session(); }, [&] { client->auth().signOut(); }));
  this_task::megaYield(5000);  // the facade's task has handled every event
  EXPECT_EQ(client->mutableState().changedAccessToken, std::nullopt);
  EXPECT_TRUE(eventually([&] {
    return client->realtime()->accessToken() == kKey && client->realtimeV2()->accessToken() == kKey;
  }));
}

TEST(VoduzaziClientOptions, DefaultsAndRegions) {
  const VoduzaziClientOptions options;
  EXPECT_FALSE(options.db.schema);
  EXPECT_EQ(options.db.encoder, PostgrestClientConfiguration::jsonEncoder());
  EXPECT_EQ(options.auth.flowType, auth::AuthFlowType::pkce);
  EXPECT_TRUE(options.auth.autoRefreshToken);
  EXPECT_FALSE(options.auth.storageKey);
  EXPECT_FALSE(options.auth.accessToken);
  EXPECT_EQ(options.auth.storage, auth::AuthClientConfiguration::defaultLocalStorage());
  EXPECT_TRUE(options.global.headers.empty());
  EXPECT_FALSE(options.functions.region);
  EXPECT_EQ(options.realtime.heartbeatInterval, std::chrono::seconds(25));
  EXPECT_EQ(options.realtime.reconnectDelay, std::chrono::seconds(7));
  EXPECT_EQ(options.realtime.timeoutInterval, std::chrono::seconds(10));
  EXPECT_EQ(options.realtime.maxRetryAttempts, 5);
  EXPECT_TRUE(options.realtime.disconnectOnSessionLoss && options.realtime.connectOnSubscribe);
  EXPECT_FALSE(options.storage.useNewHostname);

  using FunctionsOptions = VoduzaziClientOptions::FunctionsOptions;
  EXPECT_EQ(FunctionsOptions(FunctionRegion::euWest2).region, "eu-west-2");
  EXPECT_EQ(FunctionsOptions(std::optional<FunctionRegion>()).region, std::nullopt);
  EXPECT_EQ(FunctionsOptions(std::optional<std::string>("mars-1")).region, "mars-1");
  for (FunctionRegion region : allFunctionRegions()) {
    EXPECT_EQ(functionRegionFromString(toString(region)), region);
  }
  EXPECT_EQ(toString(FunctionRegion::apNortheast1), "ap-northeast-1");
  EXPECT_EQ(toString(FunctionRegion::usWest2), "us-west-2");
}

}  // namespace
}  // namespace voduzazi::testing
