#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "tests/auth/auth_client_fakes.hpp"
#include "voduzazi/auth/keychain_local_storage.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

std::vector<std::string> keysOf(const boost::json::object& object) {
  std::vector<std::string> keys;
  for (const auto& member : object) keys.emplace_back(member.key());
  return keys;
}

class SignInTest : public AuthClientTest {
 protected:
  std::unique_ptr<AuthClient> clientWithFlow(AuthFlowType flow) {
    auto options = this->options();
    options.flowType = flow;
    return makeClient(options);
  }

  std::optional<std::string> storedVerifier(const AuthClient& client) const {
    return Dependencies::get(client.clientID()).codeVerifierStorage.get();
  }
};

TEST_F(SignInTest, PasswordSignInStoresTheSessionBeforeAnnouncingIt) {
  auto client = makeClient();
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  EventRecorder recorder;
  std::optional<Session> storedAtEvent;
  recorder.onEvent = [&](AuthChangeEvent event, const std::optional<Session>&) {
    if (event == AuthChangeEvent::signedIn) storedAtEvent = client->currentSession();
  };
  auto token = client->onAuthStateChange(recorder.listener());

  const Session session = client->signIn("ada@example.com", "correct horse");

  ASSERT_EQ(server->requestCount(), 1u);
  const URLRequest sent = server->requests()[0];
  EXPECT_EQ(sent.httpMethod, "POST");
  EXPECT_EQ(sent.url.path(), "/auth/v1/token");
  EXPECT_EQ(queryOf(sent), (std::map<std::string, std::string>{{"grant_type", "password"}}));
  EXPECT_EQ(bodyOf(sent),
            (boost::json::object{{"email", "ada@example.com"}, {"password", "correct horse"}}));
  EXPECT_EQ(sent.value("apikey"), "anon-key");
  EXPECT_EQ(sent.value("X-Voduzazi-Api-Version"), "2024-01-01");
  EXPECT_EQ(sent.value("Authorization"), std::nullopt);
  EXPECT_EQ(session.accessToken, "access");
  EXPECT_EQ(client->currentSession(), session);
  EXPECT_EQ(storedAtEvent, session);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
}

TEST_F(SignInTest, AListenerMaySignOutWhileTheSignInAnnouncesItself) {
  auto client = makeClient();
  server->respond([](const URLRequest& request) {
    const bool logout = request.url.path().ends_with("/logout");
    return FakeAuthServer::answer(
        request, logout ? 204 : 200,
        logout ? "" : sessionBody("access", "refresh", secondsFromNow(3600)));
  });
  EventRecorder recorder;
  recorder.onEvent = [&](AuthChangeEvent event, const std::optional<Session>&) {
    if (event == AuthChangeEvent::signedIn) client->signOut();
  };
  auto token = client->onAuthStateChange(recorder.listener());
  client->signIn("ada@example.com", "pw");
  EXPECT_EQ(client->currentSession(), std::nullopt);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn,
                          AuthChangeEvent::signedOut));
}

TEST_F(SignInTest, AThrowingListenerNeitherSilencesTheOthersNorFailsTheSignIn) {
  auto options = this->options();
  options.logger = logger;
  auto client = makeClient(options);
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  auto throwing = client->onAuthStateChange([](AuthChangeEvent event, const auto&) {
    if (event == AuthChangeEvent::signedIn) throw std::runtime_error("listener broke");
  });
  EventRecorder after;
  auto token = client->onAuthStateChange(after.listener());

  EXPECT_EQ(client->signIn("ada@example.com", "pw").accessToken, "access");
  EXPECT_THAT(after.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
  bool logged = false;
  for (const auto& message : logger->messages()) {
    logged = logged || (message.level == VoduzaziLogLevel::error &&
                        message.message.find("listener broke") != std::string::npos);
  }
  EXPECT_TRUE(logged);
}

// A notification observer is no more able than a listener to fail the sign-in or to keep the
// event from the listeners.
TEST_F(SignInTest, AThrowingNotificationObserverNeitherSilencesTheListenersNorFailsTheSignIn) {
  auto options = this->options();
  options.logger = logger;
  auto client = makeClient(options);
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  auto observer = NotificationCenter::defaultCenter().addObserver(
      std::string(didChangeAuthStateNotification), nullptr,
      [](const Notification&) { throw std::runtime_error("observer boom"); });
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());

  EXPECT_EQ(client->signIn("ada@example.com", "pw").accessToken, "access");
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
  bool logged = false;
  for (const auto& message : logger->messages()) {
    logged = logged || (message.level == VoduzaziLogLevel::error &&
                        message.message.find("observer boom") != std::string::npos);
  }
  EXPECT_TRUE(logged);
}

// A session item left untrusted (open mode, a link) is replaced by the sign-in's session; one
// that is a folder cannot be, and the sign-in logs that the session was not kept.
TEST_F(SignInTest, ASignInReplacesAnUntrustedSessionItemAndReportsAFolder) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "sign-in-store-XXXXXX").string();
  const fs::path folder = ::mkdtemp(pattern.data());
  const fs::path item =
      folder / SecretStore::fileName({"voduzazi.vuvere.swift", "voduzazi.auth.token", {}});
  auto options = this->options();
  options.localStorage =
      std::make_shared<KeychainLocalStorage>("voduzazi.vuvere.swift", std::nullopt, folder);
  options.logger = logger;
  auto client = makeClient(options);
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));

  std::ofstream(item) << "left by someone else";
  ASSERT_EQ(::chmod(item.c_str(), 0644), 0);
  client->signIn("ada@example.com", "pw");
  EXPECT_EQ(client->currentSession()->accessToken, "access");

  fs::remove(item);
  fs::create_symlink(folder / "elsewhere", item);
  client->signIn("ada@example.com", "pw");
  EXPECT_FALSE(fs::is_symlink(item));
  EXPECT_EQ(client->currentSession()->accessToken, "access");

  fs::remove(item);
  fs::create_directory(item);
  EXPECT_EQ(client->signIn("ada@example.com", "pw").accessToken, "access");
  bool reported = false;
  for (const auto& message : logger->messages()) {
    reported = reported || (message.level == VoduzaziLogLevel::error &&
                            message.message.starts_with("Failed to store session: ") &&
                            message.message.find("is a folder") != std::string::npos);
  }
  EXPECT_TRUE(reported);
  fs::remove_all(folder);
}

// A FIFO in the session item's place is refused like any other untrusted item, without waiting
// for a writer that may never come.
TEST_F(SignInTest, AFifoAsTheSessionItemIsRefusedWithoutBlockingTheRead) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "fifo-store-XXXXXX").string();
  const fs::path folder = ::mkdtemp(pattern.data());
  ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
  const fs::path item =
      folder / SecretStore::fileName({"voduzazi.vuvere.swift", "voduzazi.auth.token", {}});
  ASSERT_EQ(::mkfifo(item.c_str(), 0600), 0);
  auto options = this->options();
  options.localStorage =
      std::make_shared<KeychainLocalStorage>("voduzazi.vuvere.swift", std::nullopt, folder);
  options.logger = logger;
  auto client = makeClient(options);

  // Read on a thread of its own, so that a blocked read fails the test instead of hanging it.
  auto read = std::make_shared<std::promise<std::optional<Session>>>();
  auto result = read->get_future();
  std::thread([&client = *client, read] { read->set_value(client.currentSession()); }).detach();
  const bool returned = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  // Unblocks every blocked open of the FIFO, so that the thread ends before the client it uses.
  while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int writer = ::open(item.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  ASSERT_TRUE(returned) << "the session read waited for a writer of the FIFO";
  EXPECT_EQ(result.get(), std::nullopt);
  bool refused = false;
  for (const auto& message : logger->messages()) {
    refused = refused || (message.level == VoduzaziLogLevel::error &&
                          message.message.starts_with("Failed to retrieve session: ") &&
                          message.message.find("not a regular file") != std::string::npos);
  }
  EXPECT_TRUE(refused);
  fs::remove_all(folder);
}

TEST_F(SignInTest, PhoneSignInSendsPhoneAndCaptchaButNeverEmail) {
  auto client = makeClient();
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  client->signInWithPhone("+15550100", "secret", "captcha-1");
  const auto body = bodyOf(server->requests()[0]);
  EXPECT_THAT(keysOf(body), UnorderedElementsAre("phone", "password", "vuvere_meta_security"));
  EXPECT_EQ(body.at("vuvere_meta_security"), (boost::json::object{{"captcha_token", "captcha-1"}}));
}

TEST_F(SignInTest, AnAnswerThatIsNoSessionFailsWithoutSigningIn) {
  auto client = makeClient();
  server->respondWith(200, userBody());
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  EXPECT_THROW(client->signIn("ada@example.com", "pw"), DecodingError);
  EXPECT_EQ(client->currentSession(), std::nullopt);
  EXPECT_THAT(recorder.events(), ElementsAre(AuthChangeEvent::initialSession));
}

TEST_F(SignInTest, PKCESignUpSendsTheChallengeAndKeepsTheVerifierEvenWhenRefused) {
  auto client = clientWithFlow(AuthFlowType::pkce);
  server->respondWith(422, R"({"code":"weak_password","msg":"Too weak"})");
  EXPECT_THROW(client->signUp("ada@example.com", "pw"), AuthError);

  const auto body = bodyOf(server->requests()[0]);
  EXPECT_THAT(keysOf(body),
              UnorderedElementsAre("email", "password", "code_challenge", "code_challenge_method"));
  EXPECT_EQ(body.at("code_challenge_method"), "s256");
  const auto verifier = storedVerifier(*client);
  ASSERT_TRUE(verifier.has_value());
  const auto pkce = Dependencies::get(client->clientID()).pkce;
  EXPECT_EQ(body.at("code_challenge"), boost::json::value(pkce.generateCodeChallenge(*verifier)));
}

TEST_F(SignInTest, ImplicitSignUpSendsNoChallengeAndStoresNoVerifier) {
  auto client = clientWithFlow(AuthFlowType::implicit);
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  const AuthResponse response =
      client->signUp("ada@example.com", "pw", JSONObject{{"username", AnyJSON("ada")}});
  const auto body = bodyOf(server->requests()[0]);
  EXPECT_THAT(keysOf(body), UnorderedElementsAre("email", "password", "data"));
  EXPECT_EQ(body.at("data"), (boost::json::object{{"username", "ada"}}));
  EXPECT_EQ(storedVerifier(*client), std::nullopt);
  ASSERT_NE(response.session(), nullptr);
  EXPECT_EQ(client->currentSession(), *response.session());
}

TEST_F(SignInTest, SignUpRedirectPrefersTheCallsURLOverTheConfiguredOne) {
  auto options = this->options();
  options.redirectToURL = boost::urls::url("tapwick://configured");
  auto configured = makeClient(options);
  server->respondWith(200, userBody());
  configured->signUp("a@example.com", "pw", std::nullopt, boost::urls::url("tapwick://given"));
  configured->signUp("a@example.com", "pw");
  auto plain = makeClient();
  plain->signUp("a@example.com", "pw");

  const auto sent = server->requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(queryOf(sent[0]),
            (std::map<std::string, std::string>{{"redirect_to", "tapwick://given"}}));
  EXPECT_EQ(queryOf(sent[1]),
            (std::map<std::string, std::string>{{"redirect_to", "tapwick://configured"}}));
  EXPECT_FALSE(sent[2].url.has_query());
  EXPECT_EQ(sent[2].url.path(), "/auth/v1/signup");
}

TEST_F(SignInTest, SignUpAnsweredWithAUserStoresNothingAndAnnouncesNothing) {
  auto client = makeClient();
  const Session earlier = makeSession("earlier", "refresh", secondsFromNow(3600));
  storeSession(*client, earlier);
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  server->respondWith(200, userBody());

  const AuthResponse response = client->signUp("ada@example.com", "pw");

  EXPECT_EQ(response.session(), nullptr);
  EXPECT_EQ(response.user().email, "ada@example.com");
  EXPECT_EQ(client->currentSession(), earlier);
  EXPECT_THAT(recorder.events(), ElementsAre(AuthChangeEvent::initialSession));
}

TEST_F(SignInTest, PhoneSignUpNeverSendsRedirectOrPKCE) {
  auto options = this->options();
  options.redirectToURL = boost::urls::url("tapwick://configured");
  auto client = makeClient(options);
  server->respondWith(200, userBody());
  client->signUpWithPhone("+15550100", "pw", MessagingChannel::whatsapp);
  const URLRequest sent = server->requests()[0];
  EXPECT_FALSE(sent.url.has_query());
  EXPECT_THAT(keysOf(bodyOf(sent)), UnorderedElementsAre("phone", "password", "channel"));
  EXPECT_EQ(bodyOf(sent).at("channel"), "whatsapp");
  EXPECT_EQ(storedVerifier(*client), std::nullopt);
}

TEST_F(SignInTest, PKCEPreparationNamesPlainWhenTheChallengeIsTheVerifier) {
  auto client = clientWithFlow(AuthFlowType::pkce);
  Dependencies::update(client->clientID(), [](Dependencies& dependencies) {
    dependencies.pkce.generateCodeChallenge = [](const std::string& verifier) { return verifier; };
  });
  const PKCEPair pair = client->prepareForPKCE();
  EXPECT_EQ(pair.codeChallengeMethod, "plain");
  EXPECT_EQ(pair.codeChallenge, storedVerifier(*client));
  EXPECT_EQ(clientWithFlow(AuthFlowType::implicit)->prepareForPKCE().codeChallenge, std::nullopt);
}

TEST_F(SignInTest, ACallbackWithOnlyAnErrorCodeIsPKCEOnlyWhileAVerifierIsStored) {
  auto client = clientWithFlow(AuthFlowType::pkce);
  EXPECT_FALSE(client->isPKCEFlow({}));
  EXPECT_TRUE(client->isPKCEFlow({{"code", "abc"}}));
  EXPECT_TRUE(client->isPKCEFlow({{"error", "denied"}}));
  EXPECT_TRUE(client->isPKCEFlow({{"error_description", "denied"}}));
  EXPECT_FALSE(client->isPKCEFlow({{"error_code", "403"}}));
  EXPECT_FALSE(client->isPKCEFlow({{"state", "x"}}));
  client->prepareForPKCE();
  EXPECT_TRUE(client->isPKCEFlow({{"error_code", "403"}}));
}

}  // namespace
}  // namespace voduzazi::auth::testing
