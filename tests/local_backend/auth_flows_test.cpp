// The stand-in's one-time codes, test OAuth provider, PKCE grant, TOTP and guarded endpoints
// over HTTP, with the refusals their clients rely on.
#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

#include "local_backend/detail/crypto.hpp"
#include "local_backend/totp.hpp"
#include "tests/local_backend/test_client.hpp"

namespace local_backend::testing {
namespace {

std::string codeOf(const boost::json::value& body, std::string_view key = "code") {
  const auto* field = body.as_object().if_contains(key);
  return field != nullptr && field->is_string() ? std::string(field->as_string()) : std::string();
}

TEST(Totp, MatchesTheReferenceValuesInSixDigits) {
  // The reference secret "12345678901234567890" in base32.
  const std::string secret = totp::base32Encode("12345678901234567890");
  EXPECT_EQ(secret, "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ");
  EXPECT_EQ(totp::base32Decode("gezdgnbvgy3tqojqgezdgnbvgy3tqojq"), "12345678901234567890");
  EXPECT_EQ(totp::base32Decode("GE1"), std::nullopt);
  EXPECT_EQ(totp::code(secret, totp::stepAt(59)), "287082");
  EXPECT_EQ(totp::code(secret, totp::stepAt(1111111109)), "081804");
  EXPECT_EQ(totp::code(secret, totp::stepAt(1234567890)), "005924");
  EXPECT_EQ(totp::code(secret, totp::stepAt(2000000000)), "279037");
}

TEST(Totp, AcceptsOneStepEitherSideAndNoMore) {
  const std::string secret = totp::newSecret();
  const std::int64_t now = 1'800'000'015;
  const std::int64_t step = totp::stepAt(now);
  EXPECT_EQ(totp::matchingStep(secret, totp::code(secret, step - 1), now), step - 1);
  EXPECT_EQ(totp::matchingStep(secret, totp::code(secret, step + 1), now), step + 1);
  EXPECT_EQ(totp::matchingStep(secret, totp::code(secret, step + 2), now), std::nullopt);
  EXPECT_EQ(totp::matchingStep(secret, "12345", now), std::nullopt);
}

class AuthFlowsApi : public BackendTest {
 protected:
  static ServerOptions withAllowList() {
    ServerOptions options;
    options.redirectAllowList = {"app://callback"};
    return options;
  }

  AuthFlowsApi() : BackendTest(withAllowList()) {}

  Headers serviceHeaders() const { return {{"apikey", server_.serviceKey()}}; }

  // The code the test provider redirects with for `challenge`.
  std::string authorize(const std::string& challenge, const std::string& method = "s256") {
    const auto result =
        client_.send(http::verb::get,
                     "/auth/v1/authorize?provider=test&redirect_to=app%3A%2F%2Fcallback"
                     "&code_challenge=" +
                         challenge + "&code_challenge_method=" + method);
    EXPECT_EQ(result.status, 302) << result.body;
    // The parsed view points into the text, which must outlive it.
    const std::string locationText = result.header("Location");
    const auto location = boost::urls::parse_uri(locationText);
    if (!location) return {};
    const auto params = location->params();
    const auto code = params.find("code");
    return code == params.end() ? std::string() : std::string((*code).value);
  }

  HttpResult exchange(const std::string& code, const std::string& verifier) {
    return post("/auth/v1/token?grant_type=pkce",
                R"({"auth_code":")" + code + R"(","code_verifier":")" + verifier + R"("})");
  }

  static std::string challengeOf(const std::string& verifier) {
    return detail::base64UrlEncode(detail::sha256(verifier));
  }

  void expectError(const HttpResult& result, int status, const std::string& code) {
    EXPECT_EQ(result.status, status) << result.body;
    EXPECT_EQ(codeOf(result.json()), code) << result.body;
  }
};

TEST_F(AuthFlowsApi, OutboxAndAdminAnswerOnlyTheServiceKey) {
  const TestUser user = signUp("guard");
  const std::vector<std::pair<http::verb, std::string>> guarded = {
      {http::verb::get, "/auth/v1/outbox"},
      {http::verb::get, "/auth/v1/admin/users"},
      {http::verb::post, "/auth/v1/admin/invite"},
      {http::verb::delete_, "/auth/v1/admin/users/" + user.id}};
  for (const auto& [method, target] : guarded) {
    expectError(call(method, target, "{}", {}, {}), 403, "not_admin");
    expectError(call(method, target, "{}", user.accessToken, {}), 403, "not_admin");
    expectError(client_.send(method, target, "{}",
                             {{"apikey", server_.serviceKey()},
                              {"Authorization", "Bearer " + user.accessToken}}),
                403, "not_admin");
    EXPECT_EQ(client_.send(method, target, "{}").status, 401) << target;
  }
  EXPECT_EQ(client_.send(http::verb::get, "/auth/v1/outbox", {}, serviceHeaders()).status, 200);
  EXPECT_EQ(client_.send(http::verb::get, "/auth/v1/admin/users", {}, serviceHeaders()).status,
            200);
}

TEST_F(AuthFlowsApi, TheCodeExchangeChecksTheVerifierAndSpendsTheCodeOnce) {
  const std::string verifier(64, 'v');
  std::string code = authorize(challengeOf(verifier));
  ASSERT_FALSE(code.empty());
  expectError(exchange(code, std::string(64, 'w')), 400, "bad_code_verifier");
  // A refused exchange spent the code as well.
  expectError(exchange(code, verifier), 404, "flow_state_not_found");

  code = authorize(challengeOf(verifier));
  const auto granted = exchange(code, verifier);
  ASSERT_EQ(granted.status, 200) << granted.body;
  EXPECT_FALSE(codeOf(granted.json(), "access_token").empty());
  expectError(exchange(code, verifier), 404, "flow_state_not_found");

  // "plain" compares the verifier itself.
  EXPECT_EQ(exchange(authorize(verifier, "plain"), verifier).status, 200);
}

TEST_F(AuthFlowsApi, AuthorizeRefusesForeignRedirectsAndUnknownProviders) {
  const auto foreign =
      client_.send(http::verb::get,
                   "/auth/v1/authorize?provider=test&redirect_to=https%3A%2F%2Fevil.example%2Fcb");
  expectError(foreign, 400, "validation_failed");
  expectError(client_.send(http::verb::get,
                           "/auth/v1/authorize?provider=test"
                           "&redirect_to=app%3A%2F%2Fcallbackevil.example"),
              400, "validation_failed");
  const auto loopback =
      client_.send(http::verb::get,
                   "/auth/v1/authorize?provider=test&redirect_to=http%3A%2F%2F127.0.0.1%3A9%2Fcb");
  EXPECT_EQ(loopback.status, 302);
  EXPECT_NE(loopback.header("Location").find("#access_token="), std::string::npos);
  expectError(client_.send(http::verb::get,
                           "/auth/v1/authorize?provider=github&redirect_to=app%3A%2F%2Fcallback"),
              400, "oauth_provider_not_supported");
  expectError(
      post("/auth/v1/otp?redirect_to=https%3A%2F%2Fevil.example", R"({"email":"ada@example.com"})"),
      400, "validation_failed");
}

TEST_F(AuthFlowsApi, OneTimeCodesRefuseBadRequests) {
  expectError(post("/auth/v1/otp", R"({"email":"a@example.com","phone":"+15550100"})"), 400,
              "validation_failed");
  expectError(post("/auth/v1/otp", R"({"email":"new@example.com","create_user":false})"), 422,
              "otp_disabled");
  expectError(post("/auth/v1/verify", R"({"type":"bogus","email":"a@example.com","token":"1"})"),
              400, "validation_failed");
  expectError(post("/auth/v1/verify", R"({"type":"email","email":"nobody@example.com",)"
                                      R"("token":"123456"})"),
              403, "otp_expired");
  // A code sent by text message signs in with the phone number.
  ASSERT_EQ(post("/auth/v1/otp", R"({"phone":"+15550100"})").status, 200);
  const auto outbox =
      client_.send(http::verb::get, "/auth/v1/outbox?to=%2B15550100", {}, serviceHeaders());
  const auto json = outbox.json();
  const auto& messages = json.at("messages").as_array();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(codeOf(messages[0], "channel"), "sms");
  const auto verified = post("/auth/v1/verify", R"({"type":"sms","phone":"+15550100","token":")" +
                                                    codeOf(messages[0]) + "\"}");
  ASSERT_EQ(verified.status, 200) << verified.body;
  EXPECT_EQ(verified.json().at("user").at("phone"), "+15550100");
}

class ExpiredCodesApi : public BackendTest {
 protected:
  static ServerOptions instantExpiry() {
    ServerOptions options;
    options.otpLifetime = std::chrono::seconds(0);
    return options;
  }
  ExpiredCodesApi() : BackendTest(instantExpiry()) {}
};

TEST_F(ExpiredCodesApi, AnExpiredCodeIsRefused) {
  ASSERT_EQ(post("/auth/v1/otp", R"({"email":"late@example.com"})").status, 200);
  const auto outbox = client_.send(http::verb::get, "/auth/v1/outbox?to=late%40example.com", {},
                                   {{"apikey", server_.serviceKey()}});
  const std::string code = codeOf(outbox.json().at("messages").at(0));
  const auto result = post("/auth/v1/verify", R"({"type":"email","email":"late@example.com",)"
                                              R"("token":")" +
                                                  code + "\"}");
  EXPECT_EQ(result.status, 403);
  EXPECT_EQ(codeOf(result.json()), "otp_expired");
}

}  // namespace
}  // namespace local_backend::testing
