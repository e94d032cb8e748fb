// The auth client against the in-process stand-in backend, over loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "local_backend/server.hpp"
#include "tests/auth/auth_client_fakes.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

std::string randomSuffix() {
  static std::mt19937_64 generate{std::random_device{}()};
  return std::to_string(generate());
}

// Every test process keeps its secrets in a fresh data folder of its own.
class TemporaryDataHome : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tapwick-auth-e2e-" + randomSuffix());
    fs::create_directories(folder_);
    setenv("XDG_DATA_HOME", folder_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  static const fs::path& folder() { return folder_; }

 private:
  static inline fs::path folder_;
};

const auto* const dataHome = ::testing::AddGlobalTestEnvironment(new TemporaryDataHome);

class AuthEndToEndTest : public ::testing::Test {
 protected:
  explicit AuthEndToEndTest(std::chrono::seconds jwtExpiry = std::chrono::seconds(3600)) {
    serverOptions.jwtExpiry = jwtExpiry;
    server = std::make_unique<local_backend::Server>(serverOptions);
  }

  AuthClientConfiguration::Options options(std::shared_ptr<AuthLocalStorage> store) const {
    AuthClientConfiguration::Options options;
    options.url = boost::urls::url(server->url() + "/auth/v1");
    options.headers = {{"apikey", server->anonKey()}};
    options.localStorage = std::move(store);
    options.fetch = fetch;
    return options;
  }

  std::unique_ptr<AuthClient> makeClient(std::shared_ptr<AuthLocalStorage> store) {
    return std::make_unique<AuthClient>(AuthClientConfiguration(options(std::move(store))),
                                        lifecycle);
  }
  std::unique_ptr<AuthClient> makeClient() {
    return makeClient(std::make_shared<InMemoryAuthLocalStorage>());
  }

  static std::string newEmail() { return "user" + randomSuffix() + "@example.com"; }

  // Signs a new user up on `device` and returns the address.
  std::string signUpOn(const AuthClient& device) {
    const std::string email = newEmail();
    const AuthResponse response = device.signUp(email, password);
    EXPECT_NE(response.session(), nullptr);
    return email;
  }

  static Session refresh(const AuthClient& device) {
    return Dependencies::get(device.clientID())
        .sessionManager.refreshSession(device.currentSession()->refreshToken);
  }

  local_backend::ServerOptions serverOptions;
  std::unique_ptr<local_backend::Server> server;
  FetchHandler fetch = defaultFetch();
  std::shared_ptr<ApplicationLifecycle> lifecycle = std::make_shared<ApplicationLifecycle>();
  const std::string password = "correct horse battery";
};

TEST_F(AuthEndToEndTest, SignsUpAndInAndANewClientRestoresTheStoredSession) {
  auto options = this->options(AuthClientConfiguration::defaultLocalStorage());
  options.storageKey = "sb-e2e-" + randomSuffix() + "-auth-token";
  auto first = std::make_unique<AuthClient>(AuthClientConfiguration(options), lifecycle);
  EventRecorder recorder;
  auto token = first->onAuthStateChange(recorder.listener());

  const std::string email = newEmail();
  ASSERT_NE(first->signUp(email, password).session(), nullptr);
  first->signOut();
  const Session session = first->signIn(email, password);
  EXPECT_EQ(session.user.email, email);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn,
                          AuthChangeEvent::signedOut, AuthChangeEvent::signedIn));
  EXPECT_FALSE(fs::is_empty(TemporaryDataHome::folder())) << "kept in the secret store";
  first.reset();

  AuthClient restored(AuthClientConfiguration(options), lifecycle);
  EXPECT_EQ(restored.currentSession(), session);
  EXPECT_EQ(restored.session(), session) << "fresh for an hour: no refresh";
  restored.signOut();
  EXPECT_EQ(restored.currentSession(), std::nullopt);
}

TEST_F(AuthEndToEndTest, WrongPasswordsAndWeakOnesAreRefusedWithTheirCodes) {
  auto device = makeClient();
  const std::string email = signUpOn(*device);
  try {
    device->signIn(email, "not the password");
    FAIL() << "signed in with a wrong password";
  } catch (const AuthError& error) {
    EXPECT_EQ(error.errorCode(), ErrorCode::invalidCredentials);
  }
  try {
    device->signUp(newEmail(), "abc");
    FAIL() << "signed up with a weak password";
  } catch (const AuthError& error) {
    ASSERT_NE(error.as<AuthError::WeakPassword>(), nullptr);
    EXPECT_THAT(error.as<AuthError::WeakPassword>()->reasons, Contains("length"));
  }
}

TEST_F(AuthEndToEndTest, AStolenSpentRefreshTokenEndsTheWholeSession) {
  auto device = makeClient();
  signUpOn(*device);
  const std::string spent = device->currentSession()->refreshToken;
  refresh(*device);
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());

  auto thief = makeClient();
  EXPECT_THROW(Dependencies::get(thief->clientID()).sessionManager.refreshSession(spent),
               AuthError);

  try {
    refresh(*device);
    FAIL() << "the session outlived the replay";
  } catch (const AuthError& error) {
    EXPECT_EQ(error, AuthError::sessionMissing());
  }
  EXPECT_EQ(device->currentSession(), std::nullopt);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedOut));
}

TEST_F(AuthEndToEndTest, SignOutScopesEndTheSessionsTheyName) {
  auto phone = makeClient();
  auto laptop = makeClient();
  const std::string email = signUpOn(*phone);
  laptop->signIn(email, password);

  laptop->signOut(SignOutScope::others);
  EXPECT_NE(laptop->currentSession(), std::nullopt);
  EXPECT_THROW(refresh(*phone), AuthError) << "the other device's session ended";
  EXPECT_NO_THROW(refresh(*laptop));

  phone->signIn(email, password);
  laptop->signOut(SignOutScope::local);
  EXPECT_EQ(laptop->currentSession(), std::nullopt);
  EXPECT_NO_THROW(refresh(*phone)) << "local leaves other devices signed in";

  laptop->signIn(email, password);
  laptop->signOut(SignOutScope::global);
  EXPECT_THROW(refresh(*phone), AuthError);
  EXPECT_EQ(phone->currentSession(), std::nullopt);
}

class ShortLivedTokensTest : public AuthEndToEndTest {
 protected:
  ShortLivedTokensTest() : AuthEndToEndTest(std::chrono::seconds(20)) {}
};

TEST_F(ShortLivedTokensTest, SessionRefreshesATokenAboutToExpire) {
  auto device = makeClient();
  signUpOn(*device);
  const Session signedIn = *device->currentSession();
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());
  // Twenty seconds of life is within the margin: subscribing already refreshed it once.
  const Session refreshed = device->session();
  EXPECT_NE(refreshed.refreshToken, signedIn.refreshToken);
  EXPECT_EQ(device->currentSession(), refreshed);
  EXPECT_THAT(recorder.events(), Contains(AuthChangeEvent::tokenRefreshed));
}

TEST_F(ShortLivedTokensTest, AutoRefreshRenewsTheTokenAtOnce) {
  auto device = makeClient();
  signUpOn(*device);
  const std::string first = device->currentSession()->refreshToken;
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());
  const std::size_t before = recorder.entries().size();
  lifecycle->setActivity(ApplicationActivity::active);
  ASSERT_TRUE(eventually([&] { return recorder.entries().size() > before; }));
  EXPECT_EQ(recorder.entries().back().event, AuthChangeEvent::tokenRefreshed);
  EXPECT_NE(device->currentSession()->refreshToken, first);
  lifecycle->setActivity(ApplicationActivity::inactive);
}

class RestartedServerTest : public AuthEndToEndTest {
 protected:
  RestartedServerTest() {
    server.reset();
    dataDir = fs::temp_directory_path() / ("tapwick-auth-restart-" + randomSuffix());
    serverOptions.dataDir = dataDir;
    server = std::make_unique<local_backend::Server>(serverOptions);
    serverOptions.port = server->port();
    // Stops the server when the next refresh grant is about to leave.
    fetch = [this, real = defaultFetch()](const URLRequest& request) {
      if (stopAtRefresh.exchange(false) && queryOf(request)["grant_type"] == "refresh_token") {
        server->stop();
      }
      return real(request);
    };
  }
  ~RestartedServerTest() override {
    server.reset();
    std::error_code ignored;
    fs::remove_all(dataDir, ignored);
  }

  fs::path dataDir;
  std::atomic<bool> stopAtRefresh = false;
};

TEST_F(RestartedServerTest, ARefreshCutOffByAStoppedServerKeepsTheSessionForLater) {
  auto device = makeClient();
  signUpOn(*device);
  const Session before = *device->currentSession();
  EventRecorder recorder;
  auto token = device->onAuthStateChange(recorder.listener());

  stopAtRefresh = true;
  EXPECT_THROW(refresh(*device), URLError);
  EXPECT_EQ(device->currentSession(), before) << "a transport failure signs nobody out";
  EXPECT_THAT(recorder.events(), ElementsAre(AuthChangeEvent::initialSession));

  server = std::make_unique<local_backend::Server>(serverOptions);
  const Session after = refresh(*device);
  EXPECT_NE(after.refreshToken, before.refreshToken);
  EXPECT_EQ(device->currentSession(), after);
}

}  // namespace
}  // namespace voduzazi::auth::testing
