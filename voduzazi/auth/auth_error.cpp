#include "voduzazi/auth/auth_error.hpp"

#include <boost/url/parse.hpp>

namespace voduzazi::auth {
namespace {

std::string caseMessage(const AuthError::Case& value) {
  return std::visit(
      [](const auto& payload) -> std::string {
        using T = std::decay_t<decltype(payload)>;
        if constexpr (requires { payload.message; }) {
          return payload.message;
        } else if constexpr (std::is_same_v<T, AuthError::MissingExpClaim>) {
          return "Missing expiration claim in the access token.";
        } else if constexpr (std::is_same_v<T, AuthError::MalformedJWT>) {
          return "A malformed JWT received.";
        } else if constexpr (std::is_same_v<T, AuthError::MissingURL>) {
          return "Missing URL.";
        } else if constexpr (std::is_same_v<T, AuthError::InvalidRedirectScheme>) {
          return "Invalid redirect scheme.";
        } else {
          return "Auth session missing.";
        }
      },
      value);
}

std::string apiErrorMessage(const AuthError::APIError& error) {
  if (error.msg) return *error.msg;
  if (error.error) return *error.error;
  if (error.errorDescription) return *error.errorDescription;
  return "Unexpected API error.";
}

constexpr auto apiErrorFields = std::tuple{
    field("msg", &AuthError::APIError::msg),
    field("code", &AuthError::APIError::code),
    field("error", &AuthError::APIError::error),
    field("errorDescription", &AuthError::APIError::errorDescription),
    field("weakPassword", &AuthError::APIError::weakPassword),
};

}  // namespace

const boost::urls::url& defaultAuthURL() {
  static const boost::urls::url* const url =
      new boost::urls::url(boost::urls::parse_uri("http://localhost:9999").value());
  return *url;
}

AuthError::APIError::APIError(std::optional<std::string> msg, std::optional<std::int64_t> code,
                              std::optional<std::string> error,
                              std::optional<std::string> errorDescription,
                              std::optional<auth::WeakPassword> weakPassword)
    : msg(std::move(msg)),
      code(code),
      error(std::move(error)),
      errorDescription(std::move(errorDescription)),
      weakPassword(std::move(weakPassword)) {
  message_ = apiErrorMessage(*this);
}

std::string AuthError::APIError::message() const { return apiErrorMessage(*this); }

bool operator==(const AuthError::APIError& left, const AuthError::APIError& right) {
  return left.msg == right.msg && left.code == right.code && left.error == right.error &&
         left.errorDescription == right.errorDescription && left.weakPassword == right.weakPassword;
}

boost::json::value AuthError::APIError::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, apiErrorFields);
}

AuthError::APIError AuthError::APIError::fromJSON(const boost::json::value& json,
                                                  const JSONDecoder& decoder,
                                                  const CodingPath& path) {
  APIError fields = decodeFields(json, decoder, path, apiErrorFields);
  return APIError(std::move(fields.msg), fields.code, std::move(fields.error),
                  std::move(fields.errorDescription), std::move(fields.weakPassword));
}

AuthError::AuthError(Case value) : value_(std::move(value)), message_(caseMessage(value_)) {}

AuthError AuthError::weakPassword(std::string message, std::vector<std::string> reasons) {
  return AuthError(WeakPassword{std::move(message), std::move(reasons)});
}

AuthError AuthError::api(std::string message, ErrorCode errorCode, Data underlyingData,
                         std::shared_ptr<const HTTPURLResponse> underlyingResponse) {
  return AuthError(API{std::move(message), std::move(errorCode), std::move(underlyingData),
                       std::move(underlyingResponse)});
}

AuthError AuthError::pkceGrantCodeExchange(std::string message, std::optional<std::string> error,
                                           std::optional<std::string> code) {
  return AuthError(PKCEGrantCodeExchange{std::move(message), std::move(error), std::move(code)});
}

AuthError AuthError::implicitGrantRedirect(std::string message) {
  return AuthError(ImplicitGrantRedirect{std::move(message)});
}

AuthError AuthError::pkce(PKCEFailureReason reason) {
  switch (reason) {
    case PKCEFailureReason::codeVerifierNotFound:
      return pkceGrantCodeExchange("A code verifier wasn't found in PKCE flow.");
    case PKCEFailureReason::invalidPKCEFlowURL:
      break;
  }
  return pkceGrantCodeExchange("Not a valid PKCE flow url.");
}

AuthError AuthError::invalidImplicitGrantFlowURL() {
  return implicitGrantRedirect("Not a valid implicit grant flow url.");
}

AuthError AuthError::api(const APIError& error) {
  if (error.weakPassword) return weakPassword(error.message(), error.weakPassword->reasons);
  Data body;
  try {
    body = authJSONEncoder()->encode(error);
  } catch (const std::exception&) {
    body.clear();
  }
  int status = 500;
  if (error.code && *error.code >= 0 && *error.code <= 999) status = static_cast<int>(*error.code);
  auto response =
      std::make_shared<const HTTPURLResponse>(defaultAuthURL(), status, HeaderFieldList{});
  return api(error.message(), ErrorCode::unknown, std::move(body), std::move(response));
}

ErrorCode AuthError::errorCode() const {
  if (std::holds_alternative<WeakPassword>(value_)) return ErrorCode::weakPassword;
  if (const API* payload = as<API>()) return payload->errorCode;
  if (std::holds_alternative<SessionMissing>(value_)) return ErrorCode::sessionNotFound;
  return ErrorCode::unknown;
}

bool matches(const std::exception& error, const AuthError& pattern) {
  const auto* authError = dynamic_cast<const AuthError*>(&error);
  return authError && *authError == pattern;
}

}  // namespace voduzazi::auth
