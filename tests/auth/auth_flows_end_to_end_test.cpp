// One-time codes, OAuth with PKCE through the loopback listener, TOTP factors and administration,
// with the real client against the in-process stand-in backend.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/url/url_view.hpp>
#include <random>
#include <regex>
#include <thread>

#include "local_backend/server.hpp"
#include "local_backend/totp.hpp"
#include "tests/auth/auth_client_fakes.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using voduzazi::testing::lastOf;

std::string newEmail() {
  static std::mt19937_64 generate{std::random_device{}()};
  return "user" + std::to_string(generate()) + "@example.com";
}

// A "browser" that loads a page on its own thread and follows its redirects, as curl does.
class FollowingBrowser {
 public:
  ~FollowingBrowser() {
    if (thread_.joinable()) thread_.join();
  }

  bool open(const boost::urls::url& url) {
    thread_ = std::thread([url = std::string(url.buffer())] {
      URLRequest request;
      request.url = boost::urls::url(url);
      URLSession::shared().data(request);
    });
    return true;
  }

 private:
  std::thread thread_;
};

class AuthFlowsEndToEndTest : public ::testing::Test {
 protected:
  AuthFlowsEndToEndTest() {
    serverOptions.maxOtpAttempts = 3;
    server = std::make_unique<local_backend::Server>(serverOptions);
  }

  std::unique_ptr<AuthClient> makeClient(const std::string& key,
                                         AuthFlowType flow = AuthFlowType::pkce,
                                         std::shared_ptr<VoduzaziLogger> logger = nullptr) {
    AuthClientConfiguration::Options options;
    options.logger = std::move(logger);
    options.url = boost::urls::url(server->url() + "/auth/v1");
    options.headers = {{"apikey", key}};
    options.localStorage = std::make_shared<InMemoryAuthLocalStorage>();
    options.flowType = flow;
    return std::make_unique<AuthClient>(AuthClientConfiguration(options), lifecycle);
  }

  // The outbox as the service key reads it: the messages sent to `to`.
  boost::json::array outboxOf(const std::string& to) const {
    URLRequest request;
    request.url = boost::urls::url(server->url() + "/auth/v1/outbox");
    request.url.params().append({"to", to});
    request.headerFields = {{"apikey", server->serviceKey()}};
    const auto result = URLSession::shared().data(request);
    return boost::json::parse(result.data).at("messages").as_array();
  }

  std::string lastCodeTo(const std::string& to) const {
    const auto messages = outboxOf(to);
    EXPECT_FALSE(messages.empty()) << "nothing was sent to " << to;
    if (messages.empty()) return {};
    return std::string(messages.back().at("code").as_string());
  }

  static std::int64_t now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  local_backend::ServerOptions serverOptions;
  std::unique_ptr<local_backend::Server> server;
  std::shared_ptr<ApplicationLifecycle> lifecycle = std::make_shared<ApplicationLifecycle>();
};

TEST_F(AuthFlowsEndToEndTest, SignsInWithAnEmailedCodeReadFromTheOutbox) {
  auto device = makeClient(server->anonKey());
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());
  const std::string email = newEmail();

  device->signInWithOTP(email);
  const AuthResponse answer = device->verifyOTP(email, lastCodeTo(email), EmailOTPType::email);

  ASSERT_NE(answer.session(), nullptr);
  EXPECT_EQ(answer.user().email, email);
  EXPECT_TRUE(answer.user().emailConfirmedAt.has_value());
  EXPECT_EQ(device->currentSession(), *answer.session());
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
  // The same code does not work twice.
  EXPECT_THROW(device->verifyOTP(
                   email, std::string(lastOf(outboxOf(email), "the outbox").at("code").as_string()),
                   EmailOTPType::email),
               AuthError);
}

TEST_F(AuthFlowsEndToEndTest, WrongCodesRunOutAndThenEvenTheRightOneFails) {
  auto device = makeClient(server->anonKey());
  const std::string email = newEmail();
  device->signInWithOTP(email);
  const std::string code = lastCodeTo(email);
  const std::string wrong = code == "000000" ? "111111" : "000000";
  std::vector<ErrorCode> refusals;
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      device->verifyOTP(email, wrong, EmailOTPType::email);
    } catch (const AuthError& error) {
      refusals.push_back(error.errorCode());
    }
  }
  EXPECT_THAT(refusals, ElementsAre(ErrorCode::otpExpired, ErrorCode::otpExpired,
                                    ErrorCode::overRequestRateLimit));
  try {
    device->verifyOTP(email, code, EmailOTPType::email);
    FAIL() << "a voided code was accepted";
  } catch (const AuthError& error) {
    EXPECT_EQ(error.errorCode(), ErrorCode::otpExpired);
  }
  EXPECT_EQ(device->currentSession(), std::nullopt);
}

TEST_F(AuthFlowsEndToEndTest, RecoveryResendAndReauthenticationSendCodes) {
  auto device = makeClient(server->anonKey());
  const std::string email = newEmail();
  device->signUp(email, "correct horse battery");
  device->signOut();
  device->resetPasswordForEmail(email);
  EXPECT_EQ(lastOf(outboxOf(email), "the outbox").at("kind"), "recovery");
  const AuthResponse recovered =
      device->verifyOTP(email, lastCodeTo(email), EmailOTPType::recovery);
  ASSERT_NE(recovered.session(), nullptr);
  device->reauthenticate();
  EXPECT_EQ(lastOf(outboxOf(email), "the outbox").at("kind"), "reauthentication");
  device->resend(email, ResendEmailType::signup);
  EXPECT_EQ(lastOf(outboxOf(email), "the outbox").at("kind"), "signup");
  EXPECT_NE(device->verifyOTP(email, lastCodeTo(email), EmailOTPType::signup).session(), nullptr);
}

TEST_F(AuthFlowsEndToEndTest, OAuthWithPKCEThroughTheLoopbackListener) {
  auto device = makeClient(server->anonKey());
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());
  FollowingBrowser browser;
  const std::string email = newEmail();

  const Session session =
      device->signInWithOAuth(Provider::fly, std::nullopt, std::nullopt, {{"login_hint", email}},
                              [&](WebAuthenticationSession& web) {
                                web.options.timeout = std::chrono::seconds(20);
                                web.options.openURL = [&](const boost::urls::url& url) {
                                  // Only the test provider is enabled: replace the first "provider"
                                  // item.
                                  boost::urls::url testURL = url;
                                  testURL.params().set("provider", "test");
                                  return browser.open(testURL);
                                };
                              });

  EXPECT_EQ(session.user.email, email);
  EXPECT_EQ(device->currentSession(), session);
  EXPECT_EQ(Dependencies::get(device->clientID()).codeVerifierStorage.get(), std::nullopt);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
  const auto identities = device->userIdentities();
  ASSERT_EQ(identities.size(), 1u);
  EXPECT_EQ(identities[0].provider, "test");
}

TEST_F(AuthFlowsEndToEndTest, UpdatesTheUserAndKeepsItsOnlyIdentity) {
  auto device = makeClient(server->anonKey());
  const std::string email = newEmail();
  device->signUp(email, "correct horse battery");
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());

  const User updated = device->update(UserAttributes{.data = JSONObject{{"nick", "ada"}}});

  EXPECT_EQ(updated.userMetadata.at("nick"), "ada");
  EXPECT_EQ(device->currentSession()->user, updated);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::userUpdated));
  const auto identities = device->userIdentities();
  ASSERT_EQ(identities.size(), 1u);
  EXPECT_EQ(identities[0].provider, "email");
  try {
    device->unlinkIdentity(identities[0]);
    FAIL() << "unlinked the only identity";
  } catch (const AuthError& error) {
    EXPECT_EQ(error.errorCode(), ErrorCode::singleIdentityNotDeletable);
  }
}

TEST_F(AuthFlowsEndToEndTest, EnrolsVerifiesAndRemovesATOTPFactor) {
  auto device = makeClient(server->anonKey());
  const std::string email = newEmail();
  device->signUp(email, "correct horse battery");
  EXPECT_EQ(device->mfa().getAuthenticatorAssuranceLevel().currentLevel, "aal1");

  const auto enrolled = device->mfa().enroll(MFAEnrollParamsType::totp("Tapwick", "laptop"));
  ASSERT_TRUE(enrolled.totp);
  EXPECT_EQ(device->user().factors->at(0).status, FactorStatus::unverified);
  const std::string code =
      local_backend::totp::code(enrolled.totp->secret, local_backend::totp::stepAt(now()));
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());

  const Session verified = device->mfa().challengeAndVerify({enrolled.id, code});

  const auto level = device->mfa().getAuthenticatorAssuranceLevel();
  EXPECT_EQ(level.currentLevel, "aal2");
  EXPECT_EQ(level.nextLevel, "aal2");
  EXPECT_EQ(level.currentAuthenticationMethods.at(0).method, "totp");
  EXPECT_EQ(device->mfa().listFactors().totp.size(), 1u);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::mfaChallengeVerified));
  // The same code again, inside its window: refused.
  try {
    device->mfa().challengeAndVerify({enrolled.id, code});
    FAIL() << "a TOTP code was accepted twice";
  } catch (const AuthError& error) {
    EXPECT_EQ(error.errorCode(), ErrorCode::mfaVerificationFailed);
  }
  EXPECT_EQ(device->mfa().unenroll({enrolled.id}).factorId, enrolled.id);
  EXPECT_FALSE(device->user().factors.has_value());
}

TEST_F(AuthFlowsEndToEndTest, AdministersUsersWithTheServiceKeyOnly) {
  auto admin = makeClient(server->serviceKey());
  const std::string email = newEmail();
  const User created = admin->admin().createUser(
      AdminUserAttributes{.email = email, .emailConfirm = true, .password = "pw-123456"});
  EXPECT_EQ(created.email, email);
  EXPECT_EQ(admin->admin().getUserById(created.id).email, email);
  for (int i = 0; i < 2; ++i) admin->admin().createUser(AdminUserAttributes{.email = newEmail()});

  const auto first = admin->admin().listUsers(PageParams{.page = 1, .perPage = 2});
  EXPECT_EQ(first.users.size(), 2u);
  EXPECT_EQ(first.total, 3);
  EXPECT_EQ(first.nextPage, 2);
  EXPECT_EQ(first.lastPage, 2);
  const auto second = admin->admin().listUsers(PageParams{.page = 2, .perPage = 2});
  EXPECT_EQ(second.users.size(), 1u);
  EXPECT_EQ(second.nextPage, std::nullopt);

  const User invited = admin->admin().inviteUserByEmail(newEmail(), JSONObject{{"team", "blue"}});
  EXPECT_EQ(invited.userMetadata.at("team"), "blue");
  EXPECT_EQ(lastOf(outboxOf(*invited.email), "the outbox").at("kind"), "invite");

  const User changed = admin->admin().updateUserById(
      created.id, AdminUserAttributes{.userMetadata = JSONObject{{"role", "tester"}}});
  EXPECT_EQ(changed.userMetadata.at("role"), "tester");
  // The changed user signs in with the password it was created with.
  EXPECT_EQ(makeClient(server->anonKey())->signIn(email, "pw-123456").user.id, created.id);

  admin->admin().deleteUser(created.id);
  EXPECT_THROW(admin->admin().getUserById(created.id), AuthError);

  // The anonymous key and a user's token are refused.
  auto anonymous = makeClient(server->anonKey());
  try {
    anonymous->admin().listUsers();
    FAIL() << "listed users with the anonymous key";
  } catch (const AuthError& error) {
    EXPECT_EQ(error.errorCode(), ErrorCode::notAdmin);
  }
}

// Every log line a client writes at its most verbose level, checked against the secrets a test
// used and against secret names whose values show unredacted.
class SecretFreeLog {
 public:
  void secret(const std::optional<std::string>& value) {
    if (value && value->size() >= 6) secrets_.push_back(*value);
  }
  void session(const Session& session) {
    secret(session.accessToken);
    secret(session.refreshToken);
    secret(session.providerToken);
    secret(session.providerRefreshToken);
  }

  void expectNoSecretIn(const std::vector<VoduzaziLogMessage>& messages) const {
    // A secret item of a URL or a secret member of a pretty-printed JSON body ("code" is left
    // to the list of secrets: in answers it is an error code).
    static const std::regex urlItem(
        R"((^|[?&#])(code|token|token_hash|access_token|refresh_token|provider_token|secret)=)"
        R"((?!<redacted>|&|$))");
    static const std::regex member(
        R"re("(password|access_token|refresh_token|provider_token|code_verifier|auth_code|)re"
        R"re(token_hash|token|secret|qr_code|uri|nonce|password_hash|captcha_token|)re"
        R"re(email_change_token)" : "(?!<redacted>))re");
    EXPECT_FALSE(messages.empty());
    for (const auto& message : messages) {
      const std::string line = message.description();
      for (const auto& secret : secrets_) {
        EXPECT_EQ(line.find(secret), std::string::npos) << "\"" << secret << "\" in " << line;
      }
      EXPECT_FALSE(std::regex_search(line, urlItem)) << line;
      EXPECT_FALSE(std::regex_search(line, member)) << line;
    }
  }

 private:
  std::vector<std::string> secrets_;
};

TEST_F(AuthFlowsEndToEndTest, NoSecretOfAnyFlowReachesTheLog) {
  auto logger = std::make_shared<RecordingLogger>();
  SecretFreeLog log;
  auto device = makeClient(server->anonKey(), AuthFlowType::pkce, logger);
  const std::string email = newEmail();
  const std::string password = "correct horse battery";
  log.secret(password);

  log.session(*device->signUp(email, password).session());
  log.session(device->refreshSession());
  log.session(device->signIn(email, password));
  const std::string newPassword = "another long password";
  log.secret(newPassword);
  device->update(UserAttributes{.password = newPassword});
  device->signOut();

  device->signInWithOTP(email);
  const std::string code = lastCodeTo(email);
  log.secret(code);
  log.session(*device->verifyOTP(email, code, EmailOTPType::email).session());
  device->signOut();
  device->signInWithOTP(email);
  const std::string tokenHash(lastOf(outboxOf(email), "the outbox").at("token_hash").as_string());
  log.secret(tokenHash);
  log.secret(lastCodeTo(email));
  log.session(*device->verifyOTP(tokenHash, EmailOTPType::email).session());

  const auto enrolled = device->mfa().enroll(MFAEnrollParamsType::totp("Tapwick", "laptop"));
  ASSERT_TRUE(enrolled.totp);
  log.secret(enrolled.totp->secret);
  const std::string totpCode =
      local_backend::totp::code(enrolled.totp->secret, local_backend::totp::stepAt(now()));
  log.secret(totpCode);
  log.session(device->mfa().challengeAndVerify({enrolled.id, totpCode}));
  device->signOut();

  // A redirect whose code the server does not know: logged on receipt and on failure.
  const std::string authCode = "auth-code-never-logged";
  log.secret(authCode);
  EXPECT_THROW(device->exchangeCodeForSession(authCode), AuthError);
  device->handle(boost::urls::url("tapwick://callback?code=" + authCode));
  ASSERT_TRUE(eventually([&] {
    for (const auto& message : logger->messages()) {
      if (message.message.starts_with("Failure loading session from url")) return true;
    }
    return false;
  }));

  // A hash router's redirect: the route in the fragment has a query of its own.
  const std::string routedAccess = "routed-access-token";
  const std::string routedRefresh = "routed-refresh-token";
  log.secret(routedAccess);
  log.secret(routedRefresh);
  EXPECT_THROW(device->session(boost::urls::url("tapwick://callback#/route?access_token=" +
                                                routedAccess + "&refresh_token=" + routedRefresh)),
               AuthError);

  FollowingBrowser browser;
  const Session oauth =
      device->signInWithOAuth(Provider::fly, std::nullopt, std::nullopt,
                              {{"login_hint", newEmail()}}, [&](WebAuthenticationSession& web) {
                                web.options.timeout = std::chrono::seconds(20);
                                web.options.openURL = [&](const boost::urls::url& url) {
                                  boost::urls::url testURL = url;
                                  testURL.params().set("provider", "test");
                                  return browser.open(testURL);
                                };
                              });
  log.session(oauth);
  device->signOut();

  // Recovery, then a password change confirmed by a reauthentication code.
  device->resetPasswordForEmail(email);
  log.secret(lastCodeTo(email));
  log.session(*device->verifyOTP(email, lastCodeTo(email), EmailOTPType::recovery).session());
  device->reauthenticate();
  const std::string nonce = lastCodeTo(email);
  log.secret(nonce);
  const std::string recoveredPassword = "a third long password";
  log.secret(recoveredPassword);
  device->update(UserAttributes{.password = recoveredPassword, .nonce = nonce});
  device->signOut();

  // The administration calls, with the service key in every request.
  log.secret(server->serviceKey());
  auto admin = makeClient(server->serviceKey(), AuthFlowType::pkce, logger);
  const std::string adminPassword = "administered password";
  log.secret(adminPassword);
  const User created = admin->admin().createUser(
      AdminUserAttributes{.email = newEmail(), .emailConfirm = true, .password = adminPassword});
  admin->admin().updateUserById(created.id, AdminUserAttributes{.password = adminPassword + "!"});
  admin->admin().listUsers();
  admin->admin().inviteUserByEmail(newEmail());
  admin->admin().deleteUser(created.id);

  log.expectNoSecretIn(logger->messages());
}

}  // namespace
}  // namespace voduzazi::auth::testing
