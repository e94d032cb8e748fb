#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/url/url_view.hpp>
#include <thread>

#include "tests/auth/auth_client_fakes.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

std::vector<URLQueryItem> itemsOf(const boost::urls::url& url) {
  std::vector<URLQueryItem> items;
  for (const auto& param : boost::urls::url_view(url).params()) {
    items.push_back(
        {param.key, param.has_value ? std::optional<std::string>(param.value) : std::nullopt});
  }
  return items;
}

class OAuthTest : public AuthClientTest {
 protected:
  std::unique_ptr<AuthClient> loggingClient(AuthFlowType flow,
                                            std::optional<std::string> redirect = std::nullopt) {
    return clientWith(flow, std::move(redirect), true);
  }

  std::vector<std::string> errorLines() const {
    std::vector<std::string> lines;
    for (const auto& message : logger->messages()) {
      if (message.level == VoduzaziLogLevel::error) lines.push_back(message.message);
    }
    return lines;
  }

  CodeVerifierStorage verifiers(const AuthClient& client) const {
    return Dependencies::get(client.clientID()).codeVerifierStorage;
  }
};

TEST_F(OAuthTest, SignInURLHasTheFixedItemsThenTheCallersInOrder) {
  auto client = loggingClient(AuthFlowType::pkce, "app://configured");
  const boost::urls::url url = client->getOAuthSignInURL(
      Provider::github, "repo user", std::nullopt,
      {{"prompt", "consent"}, {"provider", "again"}, {"flag", std::nullopt}});
  EXPECT_EQ(url.path(), "/auth/v1/authorize");
  const auto items = itemsOf(url);
  ASSERT_EQ(items.size(), 8u);
  EXPECT_EQ(items[0], (URLQueryItem{"provider", "github"}));
  EXPECT_EQ(items[1], (URLQueryItem{"scopes", "repo user"}));
  EXPECT_EQ(items[2], (URLQueryItem{"redirect_to", "app://configured"}));
  EXPECT_EQ(items[3].name, "code_challenge");
  EXPECT_EQ(items[4], (URLQueryItem{"code_challenge_method", "s256"}));
  EXPECT_EQ(items[5], (URLQueryItem{"prompt", "consent"}));
  EXPECT_EQ(items[6], (URLQueryItem{"provider", "again"}));
  EXPECT_EQ(items[7], (URLQueryItem{"flag", std::nullopt}));
}

TEST_F(OAuthTest, ImplicitFlowURLsCarryNoChallengeAndStoreNoVerifier) {
  auto client = loggingClient(AuthFlowType::implicit);
  const auto items = itemsOf(client->getOAuthSignInURL(Provider::google));
  EXPECT_EQ(items, (std::vector<URLQueryItem>{{"provider", "google"}}));
  EXPECT_EQ(verifiers(*client).get(), std::nullopt);
}

TEST_F(OAuthTest, EachSignInURLStoresANewVerifierAndTheLaterOneWins) {
  auto client = loggingClient(AuthFlowType::pkce);
  const auto first = itemsOf(client->getOAuthSignInURL(Provider::google));
  const auto firstVerifier = verifiers(*client).get();
  const auto second = itemsOf(client->getOAuthSignInURL(Provider::google));
  EXPECT_NE(first[1].value, second[1].value);
  EXPECT_NE(verifiers(*client).get(), firstVerifier);
  EXPECT_EQ(PKCE::live().generateCodeChallenge(*verifiers(*client).get()), second[1].value);
}

TEST_F(OAuthTest, CodeExchangeSendsTheVerifierThenStoresTheSessionAndClearsIt) {
  auto client = loggingClient(AuthFlowType::pkce);
  verifiers(*client).set("the-verifier");
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());

  const Session session = client->exchangeCodeForSession("the-code");

  const URLRequest sent = server->requests().at(0);
  EXPECT_EQ(sent.url.path(), "/auth/v1/token");
  EXPECT_EQ(queryOf(sent), (std::map<std::string, std::string>{{"grant_type", "pkce"}}));
  EXPECT_EQ(bodyOf(sent),
            (boost::json::object{{"auth_code", "the-code"}, {"code_verifier", "the-verifier"}}));
  EXPECT_EQ(verifiers(*client).get(), std::nullopt);
  EXPECT_EQ(client->currentSession(), session);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
}

TEST_F(OAuthTest, CodeExchangeWithoutAVerifierStillAsksAndARefusalKeepsTheVerifier) {
  auto client = loggingClient(AuthFlowType::pkce);
  server->respondWith(400, R"({"code":"bad_code_verifier","msg":"code challenge does not match"})");
  EXPECT_THROW(client->exchangeCodeForSession("the-code"), AuthError);
  EXPECT_TRUE(bodyOf(server->requests().at(0)).at("code_verifier").is_null());
  EXPECT_EQ(errorLines(), (std::vector<std::string>{
                              "code verifier not found, a code verifier should exist when calling "
                              "this method."}));

  verifiers(*client).set("kept");
  try {
    client->exchangeCodeForSession("the-code");
    FAIL() << "expected a refusal";
  } catch (const AuthError& error) {
    EXPECT_EQ(error.errorCode(), ErrorCode::badCodeVerifier);
  }
  EXPECT_EQ(verifiers(*client).get(), "kept");
  EXPECT_EQ(client->currentSession(), std::nullopt);
}

TEST_F(OAuthTest, LaunchFlowGetsTheSignInURLAndItsCallbackIsExchanged) {
  auto client = loggingClient(AuthFlowType::pkce, "app://configured");
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  boost::urls::url launched;
  const Session session =
      client->signInWithOAuth(Provider::github, boost::urls::url("app://mine"), std::nullopt, {},
                              [&](const boost::urls::url& signIn) {
                                launched = signIn;
                                return boost::urls::url("app://mine?code=from-provider");
                              });
  EXPECT_EQ(itemsOf(launched).at(1), (URLQueryItem{"redirect_to", "app://mine"}));
  EXPECT_EQ(bodyOf(server->requests().at(0)).at("auth_code"), "from-provider");
  EXPECT_EQ(session.accessToken, "access");
}

TEST_F(OAuthTest, BrowserSignInRedirectsToTheListenerItWaitsOn) {
  auto client = loggingClient(AuthFlowType::pkce, "app://configured");
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  std::thread browser;
  const Session session =
      client->signInWithOAuth(Provider::github, boost::urls::url("app://ignored"), std::nullopt, {},
                              [&](WebAuthenticationSession& web) {
                                web.options.openURL = [&](const boost::urls::url& signIn) {
                                  std::string redirect;
                                  for (const auto& param : boost::urls::url_view(signIn).params()) {
                                    if (param.key == "redirect_to") redirect = param.value;
                                  }
                                  EXPECT_EQ(redirect, web.callbackURL().buffer());
                                  browser = std::thread([redirect] {
                                    URLRequest request;
                                    request.url = boost::urls::url(redirect + "?code=looped");
                                    URLSession::shared().data(request);
                                  });
                                  return true;
                                };
                              });
  browser.join();
  EXPECT_EQ(bodyOf(server->requests().at(0)).at("auth_code"), "looped");
  EXPECT_EQ(session.accessToken, "access");
}

TEST_F(OAuthTest, HandleReturnsAtOnceAndLogsAURLThatIsNoRedirect) {
  auto client = loggingClient(AuthFlowType::pkce);
  client->handle(boost::urls::url("app://somewhere/else"));
  EXPECT_TRUE(eventually([&] { return !errorLines().empty(); }));
  EXPECT_THAT(errorLines(),
              ElementsAre(StartsWith("Failure loading session from url 'app://somewhere/else' "
                                     "error: Not a valid PKCE flow URL: ")));
  EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(OAuthTest, URLsReachTheLogWithTheirTokensRedacted) {
  auto client = loggingClient(AuthFlowType::pkce);
  client->handle(
      boost::urls::url("app://cb?refresh_token=secret-rt#access_token=secret-at&expires_in=1"));
  EXPECT_TRUE(eventually([&] { return !errorLines().empty(); }));
  const auto messages = logger->messages();
  ASSERT_GE(messages.size(), 2u);  // "Received URL: ..." and the failure
  for (const auto& message : messages) {
    EXPECT_EQ(message.message.find("secret-"), std::string::npos) << message.message;
  }
  EXPECT_THAT(errorLines(),
              ElementsAre("Failure loading session from url "
                          "'app://cb?refresh_token=<redacted>#access_token=<redacted>&expires_in=1'"
                          " error: Not a valid PKCE flow URL: app://cb?refresh_token=<redacted>"
                          "#access_token=<redacted>&expires_in=1"));
}

}  // namespace
}  // namespace voduzazi::auth::testing
