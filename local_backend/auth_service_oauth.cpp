// The sign-in page of the built-in "test" OAuth provider, which consents at once, and the
// redirect URLs the service accepts.
#include <boost/json/serialize.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

#include "local_backend/auth_service.hpp"
#include "local_backend/auth_store.hpp"
#include "local_backend/detail/auth_common.hpp"
#include "local_backend/detail/crypto.hpp"

namespace local_backend {

using namespace detail;
using boost::json::object;

namespace {

constexpr std::string_view kTestProvider = "test";
constexpr std::string_view kDefaultTestAccount = "test-user@example.com";

bool isLoopback(const boost::urls::url_view& url) {
  return url.scheme() == "http" && (url.host() == "127.0.0.1" || url.host() == "localhost");
}

Response redirectTo(const Request& request, const std::string& location) {
  Response response = emptyResponse(request, http::status::found);
  response.set(http::field::location, location);
  response.set(http::field::cache_control, "no-store");
  return response;
}

// The user behind the test provider's account `email`: found by its test identity, else by the
// address, else made; the test identity is added when missing.
auth_store::UserRecord testProviderUser(const Connection& c, const std::string& email) {
  if (const auto identity = auth_store::findIdentity(c, std::string(kTestProvider), email)) {
    if (auto user = auth_store::findUserById(c, identity->userId)) return std::move(*user);
  }
  auto user = auth_store::findUserByEmail(c, email);
  if (!user) {
    user = newUser(email, std::nullopt, "", object{});
    user->emailConfirmedAt = nowText();
    auth_store::insertUser(c, *user);
  }
  auth_store::insertIdentity(
      c, auth_store::IdentityRecord{
             randomUuid(), user->id, std::string(kTestProvider), email,
             boost::json::serialize(object{{"email", email}, {"sub", email}}), nowText()});
  return std::move(*user);
}

}  // namespace

void AuthService::checkRedirect(const std::string& redirectTo) const {
  const auto url = boost::urls::parse_absolute_uri(redirectTo);
  if (url && isLoopback(*url)) return;
  for (const auto& allowed : options_.redirectAllowList) {
    if (allowed.empty() || !redirectTo.starts_with(allowed)) continue;
    // "app://callback" allows "app://callback/x" and "app://callback?x", not "app://callbackx".
    const std::string_view rest = std::string_view(redirectTo).substr(allowed.size());
    if (rest.empty() || allowed.back() == '/' || rest.front() == '/' || rest.front() == '?' ||
        rest.front() == '#') {
      return;
    }
  }
  throw validationFailed("redirect_to is not on the list of allowed redirect URLs");
}

Response AuthService::authorize(const Request& request, const RequestTarget& target) {
  const std::string* provider = target.find("provider");
  if (provider == nullptr || *provider != kTestProvider) {
    throw AuthFailure{http::status::bad_request, "oauth_provider_not_supported",
                      "Unsupported provider: only \"test\" is enabled"};
  }
  const std::string* redirect = target.find("redirect_to");
  if (redirect == nullptr || redirect->empty()) throw validationFailed("redirect_to is required");
  checkRedirect(*redirect);
  const std::string* challenge = target.find("code_challenge");
  const std::string* method = target.find("code_challenge_method");
  const std::string* hint = target.find("login_hint");
  const std::string email = checkedEmail(hint ? *hint : std::string(kDefaultTestAccount));

  boost::urls::url location(*redirect);
  if (challenge != nullptr) {
    const std::string chosen = method ? lowerCase(*method) : std::string("plain");
    if (challenge->empty() || (chosen != "s256" && chosen != "plain")) {
      throw validationFailed("code_challenge_method must be s256 or plain");
    }
    const auto user =
        database_.transaction([&](Connection& c) { return testProviderUser(c, email); });
    const std::string code = authorizationCodes_.issue(
        AuthorizationGrant{user.id, *challenge, chosen, "oauth"}, unixNow());
    location.params().append({"code", code});
    return redirectTo(request, std::string(location.buffer()));
  }
  // Without a challenge the tokens travel in the fragment (the implicit flow).
  const object session = database_.transaction([&](Connection& c) {
    return sessionBody(tokens_, startSession(c, testProviderUser(c, email), "oauth"));
  });
  const auto number = [&](const char* key) { return std::to_string(session.at(key).as_int64()); };
  location.set_fragment("access_token=" + std::string(session.at("access_token").as_string()) +
                        "&expires_in=" + number("expires_in") +
                        "&expires_at=" + number("expires_at") +
                        "&refresh_token=" + std::string(session.at("refresh_token").as_string()) +
                        "&token_type=bearer&provider_token=test-provider-token");
  return redirectTo(request, std::string(location.buffer()));
}

}  // namespace local_backend
