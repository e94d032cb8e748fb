// AuthError: the one error type of the authentication operations besides transport and decoding
// errors; AuthError::APIError: the older error body that can still be turned into one.
//
//   try { client.signIn(email, password); }
//   catch (const AuthError& error) {
//     if (error.errorCode() == ErrorCode::invalidCredentials) showWrongPassword();
//     if (auto weak = error.as<AuthError::WeakPassword>()) show(weak->reasons);
//   }
//
// Values: copies are independent. what() is the description and never holds a token.
#pragma once

#include <boost/url/url.hpp>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "voduzazi/auth/error_code.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/url_request.hpp"

namespace voduzazi::auth {

// The URL a configuration without one points at: plain HTTP to localhost, port 9999.
const boost::urls::url& defaultAuthURL();

class AuthError : public std::exception {
 public:
  enum class PKCEFailureReason { codeVerifierNotFound, invalidPKCEFlowURL };

  struct WeakPassword {
    std::string message{};
    std::vector<std::string> reasons{};
    bool operator==(const WeakPassword&) const = default;
  };
  struct API {
    std::string message{};
    ErrorCode errorCode{};
    Data underlyingData;  // the response body
    std::shared_ptr<const HTTPURLResponse> underlyingResponse{};
    // Responses compare by identity, the body by content.
    bool operator==(const API&) const = default;
  };
  struct PKCEGrantCodeExchange {
    std::string message{};
    std::optional<std::string> error{};
    std::optional<std::string> code{};
    bool operator==(const PKCEGrantCodeExchange&) const = default;
  };
  struct ImplicitGrantRedirect {
    std::string message{};
    bool operator==(const ImplicitGrantRedirect&) const = default;
  };
  struct MissingExpClaim {
    bool operator==(const MissingExpClaim&) const = default;
  };
  struct MalformedJWT {
    bool operator==(const MalformedJWT&) const = default;
  };
  struct MissingURL {
    bool operator==(const MissingURL&) const = default;
  };
  struct InvalidRedirectScheme {
    bool operator==(const InvalidRedirectScheme&) const = default;
  };
  struct SessionMissing {
    bool operator==(const SessionMissing&) const = default;
  };

  using Case =
      std::variant<WeakPassword, API, PKCEGrantCodeExchange, ImplicitGrantRedirect, MissingExpClaim,
                   MalformedJWT, MissingURL, InvalidRedirectScheme, SessionMissing>;

  // The older error body: each field written only when present.
  struct APIError : std::exception {
    std::optional<std::string> msg{};
    std::optional<std::int64_t> code{};
    std::optional<std::string> error{};
    std::optional<std::string> errorDescription{};
    std::optional<auth::WeakPassword> weakPassword{};

    APIError() = default;
    APIError(std::optional<std::string> msg, std::optional<std::int64_t> code,
             std::optional<std::string> error, std::optional<std::string> errorDescription,
             std::optional<auth::WeakPassword> weakPassword);

    // The first present of msg, error and errorDescription, else "Unexpected API error.".
    std::string message() const;
    // The message as it was when the record was made.
    const char* what() const noexcept override { return message_.c_str(); }
    friend bool operator==(const APIError& left, const APIError& right);

    boost::json::value toJSON(const JSONEncoder& encoder) const;
    static APIError fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                             const CodingPath& path = {});

   private:
    std::string message_{};
  };

  AuthError(Case value);

  static AuthError weakPassword(std::string message, std::vector<std::string> reasons);
  static AuthError api(std::string message, ErrorCode errorCode, Data underlyingData,
                       std::shared_ptr<const HTTPURLResponse> underlyingResponse);
  static AuthError pkceGrantCodeExchange(std::string message,
                                         std::optional<std::string> error = std::nullopt,
                                         std::optional<std::string> code = std::nullopt);
  static AuthError implicitGrantRedirect(std::string message);
  static AuthError missingExpClaim() { return AuthError(MissingExpClaim{}); }
  static AuthError malformedJWT() { return AuthError(MalformedJWT{}); }
  static AuthError missingURL() { return AuthError(MissingURL{}); }
  static AuthError invalidRedirectScheme() { return AuthError(InvalidRedirectScheme{}); }
  static AuthError sessionMissing() { return AuthError(SessionMissing{}); }
  // The same as sessionMissing().
  static AuthError sessionNotFound() { return sessionMissing(); }
  static AuthError pkce(PKCEFailureReason reason);
  static AuthError invalidImplicitGrantFlowURL();
  // weakPassword when the body has a weak-password object, else api with the code "unknown",
  // the body re-encoded and a response for defaultAuthURL() with the body's code (or 500).
  static AuthError api(const APIError& error);

  const Case& value() const { return value_; }
  template <class C>
  const C* as() const {
    return std::get_if<C>(&value_);
  }

  // The case's message, or its fixed text ("Auth session missing." for sessionMissing).
  const std::string& message() const { return message_; }
  const std::string& errorDescription() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  // "weak_password", the api case's code, "session_not_found" for sessionMissing, else
  // "unknown".
  ErrorCode errorCode() const;

  friend bool operator==(const AuthError& left, const AuthError& right) {
    return left.value_ == right.value_;
  }

 private:
  Case value_;
  std::string message_{};
};

// True when `error` is an AuthError equal to `pattern`.
bool matches(const std::exception& error, const AuthError& pattern);

}  // namespace voduzazi::auth
