// The authentication API over HTTP: sign-up, sign-in, refresh, the user, sign-out and errors.
#include "local_backend/jwt.hpp"
#include "local_backend/timestamp.hpp"
#include "tests/local_backend/test_client.hpp"

namespace local_backend::testing {
namespace {

std::string text(const boost::json::value& value, std::string_view key) {
  const auto* field = value.as_object().if_contains(key);
  return field != nullptr && field->is_string() ? std::string(field->as_string()) : std::string();
}

class AuthApi : public BackendTest {
 protected:
  HttpResult signIn(const std::string& email, const std::string& password) {
    return post("/auth/v1/token?grant_type=password",
                R"({"email":")" + email + R"(","password":")" + password + R"("})");
  }

  HttpResult refresh(const std::string& token) {
    return post("/auth/v1/token?grant_type=refresh_token", R"({"refresh_token":")" + token + "\"}");
  }

  void expectError(const HttpResult& result, int status, const std::string& code) {
    EXPECT_EQ(result.status, status) << result.body;
    const auto body = result.json();
    ASSERT_TRUE(body.is_object());
    EXPECT_EQ(text(body, "code"), code) << result.body;
    EXPECT_EQ(text(body, "error_code"), code);
    EXPECT_FALSE(text(body, "msg").empty());
    EXPECT_EQ(result.header("X-Voduzazi-Api-Version"), "2024-01-01");
  }
};

TEST_F(AuthApi, SignUpAnswersASessionWithAValidAccessToken) {
  const auto result =
      post("/auth/v1/signup", R"({"email":"Ada@Example.com","password":"secret1","data":{"n":1}})");
  ASSERT_EQ(result.status, 200) << result.body;
  EXPECT_EQ(result.header("X-Voduzazi-Api-Version"), "2024-01-01");
  const auto body = result.json().as_object();
  EXPECT_EQ(body.at("token_type"), "bearer");
  EXPECT_EQ(body.at("expires_in").to_number<std::int64_t>(), 3600);
  const auto& user = body.at("user").as_object();
  EXPECT_EQ(user.at("email"), "ada@example.com");
  EXPECT_EQ(user.at("aud"), "authenticated");
  EXPECT_EQ(user.at("user_metadata").at("n"), 1);
  EXPECT_TRUE(user.contains("created_at") && user.contains("updated_at"));

  const auto claims =
      verifyJwt(body.at("access_token").as_string(), kDevelopmentJwtSecret, unixNow());
  EXPECT_EQ(claims.at("sub"), user.at("id"));
  EXPECT_EQ(claims.at("role"), "authenticated");
  EXPECT_EQ(claims.at("aud"), "authenticated");
  EXPECT_EQ(claims.at("aal"), "aal1");
  EXPECT_TRUE(claims.at("session_id").is_string());
  EXPECT_EQ(claims.at("amr").at(0).at("method"), "password");
  EXPECT_EQ(claims.at("exp").to_number<std::int64_t>(),
            body.at("expires_at").to_number<std::int64_t>());
}

TEST_F(AuthApi, SignUpRefusesTakenWeakAndInvalidInput) {
  signUp("taken");
  expectError(post("/auth/v1/signup", R"({"email":"TAKEN1@example.com","password":"secret1"})"),
              422, "user_already_exists");
  const auto weak = post("/auth/v1/signup", R"({"email":"w@example.com","password":"12345"})");
  expectError(weak, 422, "weak_password");
  EXPECT_EQ(weak.json().at("weak_password").at("reasons").at(0), "length");
  for (const char* email : {"plain", "a@b", "@example.com", "a b@example.com", "a@@example.com",
                            "a@exa_mple.com", "a@.example.com"}) {
    expectError(post("/auth/v1/signup",
                     std::string(R"({"email":")") + email + R"(","password":"secret1"})"),
                400, "validation_failed");
  }
  expectError(post("/auth/v1/signup", R"({"email":"x@example.com"})"), 400, "validation_failed");
  expectError(post("/auth/v1/signup", R"({"email":"x@example.com","password":5})"), 400,
              "validation_failed");
  expectError(post("/auth/v1/signup", "{not json"), 400, "bad_json");
  expectError(post("/auth/v1/signup", "[]"), 400, "bad_json");
}

TEST_F(AuthApi, PasswordSignInRefusesWrongCredentials) {
  const auto user = signUp("sign-in");
  ASSERT_EQ(signIn(user.email, "secret-password").status, 200);
  expectError(signIn(user.email, "wrong-password"), 400, "invalid_credentials");
  expectError(signIn("nobody@example.com", "secret-password"), 400, "invalid_credentials");
  expectError(post("/auth/v1/token?grant_type=magic", "{}"), 400, "validation_failed");
}

TEST_F(AuthApi, RefreshTokensRotateAndReuseEndsTheSession) {
  const auto user = signUp("refresh");
  const auto first = refresh(user.refreshToken);
  ASSERT_EQ(first.status, 200) << first.body;
  const std::string next = text(first.json(), "refresh_token");
  EXPECT_NE(next, user.refreshToken);
  EXPECT_EQ(text(first.json().at("user"), "id"), user.id);

  expectError(refresh(user.refreshToken), 400, "refresh_token_already_used");
  // The reuse revealed a leak: the rotated token of the same session is dead too.
  expectError(refresh(next), 400, "refresh_token_not_found");
  expectError(refresh("never-issued"), 400, "refresh_token_not_found");
}

TEST_F(AuthApi, GetsAndUpdatesTheUser) {
  const auto user = signUp("user");
  const auto fetched = get("/auth/v1/user", user.accessToken);
  ASSERT_EQ(fetched.status, 200) << fetched.body;
  EXPECT_EQ(text(fetched.json(), "id"), user.id);

  const auto updated =
      call(http::verb::put, "/auth/v1/user",
           R"({"data":{"username":"ada"},"password":"another-secret"})", user.accessToken, {});
  ASSERT_EQ(updated.status, 200) << updated.body;
  EXPECT_EQ(updated.json().at("user_metadata").at("username"), "ada");
  EXPECT_EQ(signIn(user.email, "another-secret").status, 200);
  expectError(signIn(user.email, "secret-password"), 400, "invalid_credentials");

  expectError(call(http::verb::put, "/auth/v1/user", R"({"password":"another-secret"})",
                   user.accessToken, {}),
              422, "same_password");
  expectError(call(http::verb::put, "/auth/v1/user", R"({"password":"abc"})", user.accessToken, {}),
              422, "weak_password");
  const auto other = signUp("other");
  expectError(call(http::verb::put, "/auth/v1/user", R"({"email":")" + other.email + "\"}",
                   user.accessToken, {}),
              422, "email_exists");
}

TEST_F(AuthApi, UserEndpointsRefuseMissingForgedAndExpiredTokens) {
  expectError(get("/auth/v1/user"), 401, "no_authorization");
  expectError(get("/auth/v1/user", server_.anonKey()), 403, "bad_jwt");
  const auto user = signUp("tokens");
  auto forged = user.accessToken;
  const auto signatureStart = forged.rfind('.') + 1;
  forged[signatureStart] = forged[signatureStart] == 'A' ? 'B' : 'A';
  expectError(get("/auth/v1/user", forged), 403, "bad_jwt");
  const auto claims = verifyJwt(user.accessToken, kDevelopmentJwtSecret, unixNow());
  auto expiredClaims = claims;
  expiredClaims["exp"] = unixNow() - 10;
  expectError(get("/auth/v1/user", signJwt(expiredClaims, kDevelopmentJwtSecret)), 403, "bad_jwt");
  expectError(
      get("/auth/v1/user", signJwt(claims, "some-other-secret-of-another-server-0123456789")), 403,
      "bad_jwt");
}

TEST_F(AuthApi, LogoutScopesEndTheRightSessions) {
  const auto user = signUp("logout");
  const auto second = signIn(user.email, "secret-password").json();
  const auto third = signIn(user.email, "secret-password").json();

  // "others" keeps the caller's own session and ends the rest.
  const auto others = post("/auth/v1/logout?scope=others", "", user.accessToken);
  ASSERT_EQ(others.status, 204);
  EXPECT_EQ(others.headers.count(http::field::content_length), 0u);
  EXPECT_EQ(get("/auth/v1/user", user.accessToken).status, 200);
  expectError(get("/auth/v1/user", text(second, "access_token")), 403, "session_not_found");
  expectError(refresh(text(third, "refresh_token")), 400, "refresh_token_not_found");

  // "local" ends only the caller's session.
  const auto fourth = signIn(user.email, "secret-password").json();
  ASSERT_EQ(post("/auth/v1/logout?scope=local", "", user.accessToken).status, 204);
  expectError(get("/auth/v1/user", user.accessToken), 403, "session_not_found");
  EXPECT_EQ(get("/auth/v1/user", text(fourth, "access_token")).status, 200);

  // "global", the default, ends every session.
  const auto fifth = signIn(user.email, "secret-password").json();
  ASSERT_EQ(post("/auth/v1/logout", "", text(fourth, "access_token")).status, 204);
  expectError(get("/auth/v1/user", text(fifth, "access_token")), 403, "session_not_found");
  expectError(refresh(text(fifth, "refresh_token")), 400, "refresh_token_not_found");

  expectError(post("/auth/v1/logout?scope=everyone", "", text(fifth, "access_token")), 400,
              "validation_failed");
}

TEST_F(AuthApi, UnknownEndpointsAndMethodsAreRefused) {
  expectError(get("/auth/v1/nothing"), 404, "not_found");
  expectError(get("/auth/v1/signup"), 405, "method_not_allowed");
}

class ConfirmingBackend : public BackendTest {
 protected:
  ConfirmingBackend() : BackendTest(withConfirmation()) {}

  static ServerOptions withConfirmation() {
    ServerOptions options;
    options.confirmEmail = true;
    return options;
  }
};

TEST_F(ConfirmingBackend, SignUpAnswersABareUserAndSignInWaits) {
  const auto result = post("/auth/v1/signup", R"({"email":"c@example.com","password":"secret1"})");
  ASSERT_EQ(result.status, 200) << result.body;
  const auto body = result.json().as_object();
  EXPECT_FALSE(body.contains("access_token"));
  EXPECT_TRUE(body.at("id").is_string());
  EXPECT_TRUE(body.contains("confirmation_sent_at"));
  EXPECT_FALSE(body.contains("email_confirmed_at"));

  const auto signIn = post("/auth/v1/token?grant_type=password",
                           R"({"email":"c@example.com","password":"secret1"})");
  EXPECT_EQ(signIn.status, 400);
  EXPECT_EQ(signIn.json().at("code"), "email_not_confirmed");
}

}  // namespace
}  // namespace local_backend::testing
