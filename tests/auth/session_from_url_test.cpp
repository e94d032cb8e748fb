#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/auth/auth_client_fakes.hpp"
#include "voduzazi/auth/detail/callback_parameters.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using Parameters = std::map<std::string, std::string>;

TEST(CallbackParameters, ReadsTheFragmentAsItStandsAndLetsTheQueryWin) {
  struct Case {
    const char* url;
    Parameters expected;
  };
  const Case cases[] = {
      {"app://cb#access_token=a&expires_in=3600", {{"access_token", "a"}, {"expires_in", "3600"}}},
      // Fragment values are not decoded; query values are.
      {"app://cb?x=a%20b#y=a%20b", {{"x", "a b"}, {"y", "a%20b"}}},
      {"app://cb?a=query#a=fragment", {{"a", "query"}}},
      {"app://cb?a#a=fragment&b=1", {{"b", "1"}}},
      // Two "=", an empty name, an empty value, no "=", empty pieces: all ignored.
      {"app://cb#a=b=c&=v&n=&plain&&k=v", {{"k", "v"}}},
      {"app://cb#a==b", {}},
      {"app://cb#k=1&k=2", {{"k", "2"}}},
      {"app://cb", {}},
      // An empty query before the fragment.
      {"app://cb?#a=1", {{"a", "1"}}},
      {"app://cb?error=access_denied&error_description=Nope+never",
       {{"error", "access_denied"}, {"error_description", "Nope+never"}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(detail::callbackParameters(boost::urls::url(c.url)), c.expected) << c.url;
  }
}

class SessionFromURLTest : public AuthClientTest {
 protected:
  static constexpr double kNow = 1'800'000'000;

  std::unique_ptr<AuthClient> clientWith(AuthFlowType flow) {
    auto options = this->options();
    options.flowType = flow;
    auto client = makeClient(options);
    Dependencies::update(client->clientID(), [](Dependencies& dependencies) {
      dependencies.date = [] {
        return Date(
            std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(kNow)));
      };
    });
    return client;
  }

  void answerUser() { server->respondWith(200, userBody()); }

  template <class Body>
  static AuthError errorOf(Body body) {
    try {
      body();
    } catch (const AuthError& error) {
      return error;
    }
    ADD_FAILURE() << "expected an AuthError";
    return AuthError::sessionMissing();
  }
};

TEST_F(SessionFromURLTest, ImplicitRedirectFetchesTheUserWithTheTokenTypeAsReceived) {
  auto client = clientWith(AuthFlowType::implicit);
  answerUser();
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());

  const Session session = client->session(
      boost::urls::url("app://cb#access_token=at&expires_in=3600&refresh_token=rt&token_type=Bearer"
                       "&provider_token=pt&type=recovery"));

  const URLRequest sent = server->requests().at(0);
  EXPECT_EQ(sent.httpMethod, "GET");
  EXPECT_EQ(sent.url.path(), "/auth/v1/user");
  EXPECT_EQ(sent.value("Authorization"), "Bearer at");
  EXPECT_EQ(session.expiresAt, kNow + 3600);
  EXPECT_EQ(session.providerToken, "pt");
  EXPECT_EQ(session.user.email, "ada@example.com");
  EXPECT_EQ(client->currentSession(), session);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn,
                          AuthChangeEvent::passwordRecovery));
}

TEST_F(SessionFromURLTest, ImplicitRedirectRefusals) {
  auto client = clientWith(AuthFlowType::implicit);
  answerUser();
  const auto refusal = [&](const char* url) {
    return errorOf([&] { client->session(boost::urls::url(url)); }).message();
  };
  EXPECT_EQ(refusal("app://cb#error_description=Link+expired"), "Link expired");
  EXPECT_EQ(refusal("app://cb#access_token=at&expires_in=soon&refresh_token=r&token_type=b"),
            "No session defined in URL");
  EXPECT_EQ(refusal("app://cb#access_token=at&expires_in=1&token_type=b"),
            "No session defined in URL");
  EXPECT_EQ(refusal("app://cb?code=c"), "Not a valid implicit grant flow URL: app://cb?code=c");
  // A decoded line break must not reach a header.
  EXPECT_EQ(refusal("app://cb?access_token=at&expires_in=1&refresh_token=r"
                    "&token_type=bearer%0D%0AX-Injected:%201"),
            "The tokens in the URL hold control characters");
  EXPECT_EQ(server->requestCount(), 0u);
  EXPECT_EQ(client->currentSession(), std::nullopt);
}

TEST_F(SessionFromURLTest, PKCERedirectErrorsAndTheVerifierRuleForErrorCodes) {
  auto client = clientWith(AuthFlowType::pkce);
  const AuthError described = errorOf([&] {
    client->session(boost::urls::url("app://cb?error=access_denied&error_description=No+way"));
  });
  EXPECT_EQ(described,
            AuthError::pkceGrantCodeExchange("No way", "access_denied", "unspecified_code"));
  EXPECT_EQ(errorOf([&] { client->session(boost::urls::url("app://cb?error_code=otp_expired")); }),
            AuthError::pkceGrantCodeExchange(
                "Not a valid PKCE flow URL: app://cb?error_code=otp_expired"));
  Dependencies::get(client->clientID()).codeVerifierStorage.set("v");
  EXPECT_EQ(errorOf([&] { client->session(boost::urls::url("app://cb?error_code=otp_expired")); }),
            AuthError::pkceGrantCodeExchange("Error in URL with unspecified error_description.",
                                             "unspecified_error", "otp_expired"));
  EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(SessionFromURLTest, SetSessionAdoptsAValidTokenAndRefreshesAnExpiredOne) {
  auto client = clientWith(AuthFlowType::pkce);
  server->respond([](const URLRequest& request) {
    if (request.url.path().ends_with("/user"))
      return FakeAuthServer::answer(request, 200, userBody());
    return FakeAuthServer::answer(request, 200,
                                  sessionBody("refreshed", "next-refresh", kNow + 3600));
  });
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());

  const std::string live = unsignedJWT({{"exp", kNow + 1}});
  const Session adopted = client->setSession(live, "rt");
  EXPECT_EQ(server->requests().at(0).value("Authorization"), "Bearer " + live);
  EXPECT_DOUBLE_EQ(adopted.expiresIn, 1);
  EXPECT_EQ(adopted.tokenType, "bearer");

  const Session refreshed = client->setSession(unsignedJWT({{"exp", kNow}}), "rt");
  EXPECT_EQ(refreshed.accessToken, "refreshed");
  EXPECT_EQ(bodyOf(server->requests().at(1)).at("refresh_token"), "rt");
  // A line break after a live token's signature must not reach the header.
  EXPECT_EQ(errorOf([&] { client->setSession(live + "\r\nX-Injected: 1", "rt"); }),
            AuthError::malformedJWT());
  EXPECT_EQ(server->requestCount(), 2u);
  client->setSession("not-a-jwt", "rt2");
  EXPECT_EQ(bodyOf(server->requests().at(2)).at("refresh_token"), "rt2");
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn,
                          AuthChangeEvent::tokenRefreshed, AuthChangeEvent::signedIn,
                          AuthChangeEvent::tokenRefreshed, AuthChangeEvent::signedIn));
}

TEST_F(SessionFromURLTest, RefreshWithoutATokenOrAStoredSessionSendsNothing) {
  auto client = clientWith(AuthFlowType::pkce);
  EXPECT_EQ(errorOf([&] { client->refreshSession(); }), AuthError::sessionMissing());
  EXPECT_EQ(server->requestCount(), 0u);
}

}  // namespace
}  // namespace voduzazi::auth::testing
