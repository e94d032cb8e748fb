#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/auth/api_client.hpp"
#include "voduzazi/auth/dependencies.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using voduzazi::testing::lastOf;

class APIClientTest : public AuthClientTest {
 protected:
  APIClientTest() : client(makeClient()), api(Dependencies::get(client->clientID()).api) {}

  helpers::HTTPRequest request(HTTPMethod method = HTTPMethod::get) const {
    return helpers::HTTPRequest(boost::urls::url("https://project.example.com/auth/v1/user"),
                                method);
  }

  // The error execute throws for an answer of `status` with `body` and `headers`.
  AuthError errorFor(int status, std::string body, HeaderFieldList headers) {
    server->respondWith(status, std::move(body), std::move(headers));
    try {
      api.execute(request());
    } catch (const AuthError& error) {
      return error;
    }
    ADD_FAILURE() << "no AuthError for status " << status;
    return AuthError::sessionMissing();
  }

  std::unique_ptr<AuthClient> client;
  APIClient api;
};

TEST_F(APIClientTest, SendsConfiguredHeadersUnderTheRequestsOwnAndTheAPIVersion) {
  server->respondWith(200, "{}");
  api.execute(request());
  helpers::HTTPRequest own = request();
  own.headers.set(HTTPField::Name("apikey"), "request-key");
  own.headers.set(HTTPField::Name("X-Voduzazi-Api-Version"), "2023-05-01");
  api.execute(own);

  const auto sent = server->requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].value("apikey"), "anon-key");
  EXPECT_EQ(sent[0].value("X-Client-Info"), "zazu-zivad/2.33.2");
  EXPECT_EQ(sent[0].value("X-Voduzazi-Api-Version"), "2024-01-01");
  EXPECT_EQ(sent[0].value("Authorization"), std::nullopt);
  EXPECT_EQ(sent[1].value("apikey"), "request-key");
  EXPECT_EQ(sent[1].value("X-Voduzazi-Api-Version"), "2023-05-01");
}

TEST_F(APIClientTest, OnlyStatusesFrom200To299Succeed) {
  server->respondWith(204, "");
  EXPECT_EQ(api.execute(request()).statusCode(), 204);
  for (int status : {199, 300, 404}) {
    server->respondWith(status, "{}");
    EXPECT_THROW(api.execute(request()), AuthError) << status;
  }
}

TEST_F(APIClientTest, ReadsCodeFromVersionedAnswersAndErrorCodeFromOlderOnes) {
  const HeaderFieldList current = versionHeader();
  const HeaderFieldList older = {{"X-Voduzazi-Api-Version", "2023-12-31"}};

  EXPECT_EQ(errorFor(422, R"({"code":"weak_password","msg":"Too short"})", current),
            AuthError::weakPassword("Too short", {}));
  EXPECT_EQ(errorFor(422, R"({"code":"weak_password","msg":"Too short"})", {}).errorCode(),
            ErrorCode::unknown);
  EXPECT_EQ(errorFor(400, R"({"code":"a_code","error_code":"older_code"})", older).errorCode(),
            ErrorCode("older_code"));
  EXPECT_EQ(errorFor(400, R"({"code":"a_code","error_code":"older_code"})", current).errorCode(),
            ErrorCode("a_code"));
  // A version header that is no date counts as none.
  EXPECT_EQ(errorFor(400, R"({"code":"a_code"})", {{"X-Voduzazi-Api-Version", "soon"}})
                .errorCode(),
            ErrorCode::unknown);
}

TEST_F(APIClientTest, MapsErrorBodiesWithoutCodes) {
  EXPECT_EQ(errorFor(422, R"({"msg":"Weak","weak_password":{"reasons":["length","pwned"]}})", {}),
            AuthError::weakPassword("Weak", {"length", "pwned"}));

  const AuthError empty = errorFor(400, "{}", {});
  EXPECT_EQ(empty.message(), "Unknown");
  EXPECT_EQ(empty.errorCode(), ErrorCode::unknown);

  EXPECT_EQ(errorFor(400, R"({"error_description":"described","error":"err"})", {}).message(),
            "described");
}

TEST_F(APIClientTest, BodiesThatAreNoErrorRecordGiveUnexpectedFailure) {
  for (const char* body : {"<html><body>Bad gateway</body></html>", "", "[1,2]",
                           R"({"code":5})", R"({"weak_password":{"reasons":"length"}})"}) {
    const AuthError error = errorFor(400, body, versionHeader());
    EXPECT_EQ(error.message(), "Unexpected error") << body;
    EXPECT_EQ(error.errorCode(), ErrorCode::unexpectedFailure) << body;
  }
}

TEST_F(APIClientTest, SessionCleanupCodesEndTheStoredSessionBeforeThrowing) {
  for (const char* code : {"session_not_found", "session_expired", "refresh_token_not_found",
                           "refresh_token_already_used"}) {
    storeSessionHere(*client, makeSession("access", "refresh", secondsFromNow(3600)));
    EventRecorder recorder;
    std::optional<Session> storedAtEvent = makeSession("x", "y", 0);
    recorder.onEvent = [&](AuthChangeEvent, const std::optional<Session>&) {
      storedAtEvent = client->currentSession();
    };
    auto token = client->onAuthStateChange(recorder.listener());

    const AuthError error = errorFor(400, std::string(R"({"error_code":")") + code + "\"}", {});

    EXPECT_EQ(error, AuthError::sessionMissing()) << code;
    EXPECT_EQ(client->currentSession(), std::nullopt) << code;
    ASSERT_THAT(recorder.events(),
                ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedOut))
        << code;
    EXPECT_EQ(recorder.entries()[1].session, std::nullopt);
    EXPECT_EQ(storedAtEvent, std::nullopt) << "removed before SIGNED_OUT went out";
  }
}

TEST_F(APIClientTest, AuthorizedExecuteSendsTheSessionsBearerOverTheConfiguredOne) {
  EXPECT_THROW(api.authorizedExecute(request()), AuthError);
  EXPECT_EQ(server->requestCount(), 0u) << "nothing is sent without a session";

  auto options = this->options();
  options.headers["Authorization"] = "Bearer anon-key";
  auto facadeLike = makeClient(options);
  storeSession(*facadeLike, makeSession("user-access", "refresh", secondsFromNow(3600)));
  server->respondWith(200, "{}");
  Dependencies::get(facadeLike->clientID()).api.authorizedExecute(request());
  EXPECT_EQ(lastOf(server->requests(), "the requests sent").value("Authorization"),
            "Bearer user-access");
}

TEST_F(APIClientTest, RetriesTransientFailuresOfPOSTButNeverTheRefreshGrant) {
  auto clock = std::make_shared<voduzazi::testing::RecordingClock>();
  setCurrentClock(clock);
  auto options = this->options();
  options.logger = logger;
  auto logged = makeClient(options);
  const APIClient loggedAPI = Dependencies::get(logged->clientID()).api;
  server->respondWith(503, "{}");

  helpers::HTTPRequest signIn(boost::urls::url("https://project.example.com/auth/v1/token"),
                              HTTPMethod::post, {{"grant_type", "password"}});
  EXPECT_THROW(loggedAPI.execute(signIn), AuthError);
  EXPECT_EQ(server->requestCount(), 2u);
  std::size_t requestLines = 0;
  for (const auto& message : logger->messages()) {
    if (message.message.starts_with("Request:")) ++requestLines;
  }
  EXPECT_EQ(requestLines, 1u) << "the logger sits outside the retries";

  helpers::HTTPRequest refresh = signIn;
  refresh.query = {{"grant_type", "refresh_token"}};
  EXPECT_THROW(loggedAPI.execute(refresh), AuthError);
  EXPECT_EQ(server->requestCount(), 3u) << "a spent refresh token is not sent twice";
  setCurrentClock(nullptr);
}

}  // namespace
}  // namespace voduzazi::auth::testing
