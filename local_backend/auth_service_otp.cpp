// One-time codes: sending them by e-mail or text message, verifying them, sending them again,
// password recovery, reauthentication, and the outbox the messages go to.
#include <boost/json/array.hpp>
#include <boost/url/encode.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

#include "local_backend/auth_service.hpp"
#include "local_backend/auth_store.hpp"
#include "local_backend/detail/auth_common.hpp"
#include "local_backend/detail/crypto.hpp"

namespace local_backend {

using namespace detail;
using boost::json::object;

namespace {

AuthFailure invalidCode() {
  return AuthFailure{http::status::forbidden, "otp_expired", "Token has expired or is invalid"};
}

// The code purposes a verification type accepts.
std::vector<std::string> purposesOf(const std::string& type) {
  if (type == "email" || type == "magiclink") return {"magiclink", "signup"};
  if (type == "signup" || type == "recovery" || type == "invite" || type == "email_change" ||
      type == "sms" || type == "phone_change") {
    return {type};
  }
  throw validationFailed("Verify requires a valid type");
}

std::string escaped(std::string_view text) {
  return boost::urls::encode(text, boost::urls::unreserved_chars);
}

std::string redirectOf(const RequestTarget& target) {
  const std::string* redirect = target.find("redirect_to");
  return redirect ? *redirect : std::string();
}

}  // namespace

void AuthService::mailCode(const Request& request, const std::string& userId, const std::string& to,
                           const std::string& purpose, const std::string& redirectTo) {
  const std::int64_t now = unixNow();
  const IssuedCode issued = codes_.issue(userId, purpose, now);
  const bool sms = to.starts_with('+');
  OutboxMessage message{
      sms ? "sms" : "email", to, purpose, "Your code is " + issued.code, issued.code,
      issued.tokenHash,      {}, now};
  if (!sms) {
    const auto host = request.find(http::field::host);
    std::string link = "http://" + std::string(host == request.end() ? "" : host->value()) +
                       "/auth/v1/verify?token=" + issued.tokenHash + "&type=" + purpose;
    if (!redirectTo.empty()) link += "&redirect_to=" + escaped(redirectTo);
    message.text += "\nOr follow this link: " + link;
    message.link = std::move(link);
  }
  outbox_.send(std::move(message));
}

Response AuthService::sendOtp(const Request& request, const RequestTarget& target) {
  const object body = parseBody(request);
  const std::string redirectTo = redirectOf(target);
  if (!redirectTo.empty()) checkRedirect(redirectTo);
  const auto emailText = stringField(body, "email");
  const auto phoneText = stringField(body, "phone");
  if (emailText.has_value() == phoneText.has_value()) {
    throw validationFailed("Only an email address or phone number should be provided");
  }
  const bool createUser = boolField(body, "create_user", true);
  const object metadata = dataField(body);
  const std::string email = emailText ? checkedEmail(*emailText) : std::string();
  const std::optional<std::string> phone =
      phoneText ? std::optional<std::string>(checkedPhone(*phoneText)) : std::nullopt;
  struct Recipient {
    std::string userId;
    bool isNew = false;
  };
  const Recipient recipient = database_.transaction([&](Connection& c) {
    auto user =
        phone ? auth_store::findUserByPhone(c, *phone) : auth_store::findUserByEmail(c, email);
    if (user) return Recipient{user->id, false};
    if (!createUser) {
      throw AuthFailure{http::status::unprocessable_entity, "otp_disabled",
                        "Signups not allowed for otp"};
    }
    auto created = newUser(email, phone, "", metadata);
    insertUserWithIdentity(c, created);
    return Recipient{created.id, true};
  });
  const std::string to = phone ? *phone : email;
  const std::string purpose = phone ? "sms" : (recipient.isNew ? "signup" : "magiclink");
  mailCode(request, recipient.userId, to, purpose, redirectTo);
  if (phone) return jsonResponse(request, http::status::ok, object{{"message_id", randomUuid()}});
  return jsonResponse(request, http::status::ok, object{});
}

Response AuthService::verify(const Request& request) {
  const object body = parseBody(request);
  const auto type = stringField(body, "type");
  if (!type) throw validationFailed("Verify requires a verification type");
  const std::vector<std::string> purposes = purposesOf(*type);
  const std::int64_t now = unixNow();
  CodeCheck check;
  if (const auto tokenHash = stringField(body, "token_hash")) {
    check = codes_.verifyHash(*tokenHash, purposes, now);
  } else {
    const auto token = stringField(body, "token");
    const auto email = stringField(body, "email");
    const auto phone = stringField(body, "phone");
    if (!token || email.has_value() == phone.has_value()) {
      throw validationFailed("Verify requires a token and an email address or phone number");
    }
    const auto user = database_.transaction([&](Connection& c) {
      return phone ? auth_store::findUserByPhone(c, *phone)
                   : auth_store::findUserByEmail(c, lowerCase(*email));
    });
    if (!user) throw invalidCode();
    check = codes_.verify(user->id, purposes, *token, now);
  }
  if (check.kind == CodeCheck::Kind::tooManyAttempts) {
    throw AuthFailure{http::status::too_many_requests, "over_request_rate_limit",
                      "Too many wrong codes: request a new one"};
  }
  if (check.kind != CodeCheck::Kind::accepted) throw invalidCode();
  return database_.transaction([&](Connection& c) {
    auto user = auth_store::findUserById(c, check.userId);
    if (!user) throw invalidCode();
    // The code reached the address or the phone: that confirms it.
    const std::string confirmedAt = nowText();
    if (check.purpose == "sms" || check.purpose == "phone_change") {
      if (!user->phoneConfirmedAt) user->phoneConfirmedAt = confirmedAt;
    } else if (!user->emailConfirmedAt) {
      user->emailConfirmedAt = confirmedAt;
    }
    const std::string method = check.purpose == "recovery" ? "recovery" : "otp";
    return jsonResponse(request, http::status::ok,
                        sessionBody(tokens_, startSession(c, std::move(*user), method)));
  });
}

Response AuthService::resend(const Request& request, const RequestTarget& target) {
  const object body = parseBody(request);
  const auto type = stringField(body, "type");
  const bool byPhone = type && (*type == "sms" || *type == "phone_change");
  if (!type || !(byPhone || *type == "signup" || *type == "email_change")) {
    throw validationFailed("Missing one of these types: signup, email_change, sms, phone_change");
  }
  const std::string redirectTo = redirectOf(target);
  if (!redirectTo.empty()) checkRedirect(redirectTo);
  const std::string to =
      byPhone ? checkedPhone(stringField(body, "phone").value_or("")) : requireEmail(body);
  const auto user = database_.transaction([&](Connection& c) {
    return byPhone ? auth_store::findUserByPhone(c, to) : auth_store::findUserByEmail(c, to);
  });
  // An unknown address is answered the same way, so the answer tells nothing about who exists.
  if (user) mailCode(request, user->id, to, *type, redirectTo);
  if (byPhone) return jsonResponse(request, http::status::ok, object{{"message_id", randomUuid()}});
  return jsonResponse(request, http::status::ok, object{});
}

Response AuthService::recover(const Request& request, const RequestTarget& target) {
  const object body = parseBody(request);
  const std::string email = requireEmail(body);
  const std::string redirectTo = redirectOf(target);
  if (!redirectTo.empty()) checkRedirect(redirectTo);
  const auto user =
      database_.transaction([&](Connection& c) { return auth_store::findUserByEmail(c, email); });
  if (user) mailCode(request, user->id, email, "recovery", redirectTo);
  return jsonResponse(request, http::status::ok, object{});
}

Response AuthService::reauthenticate(const Request& request) {
  const Caller caller = requireUser(request, tokens_);
  const auto user =
      database_.transaction([&](Connection& c) { return requireLiveUser(c, caller); });
  const std::string to = user.email.empty() ? user.phone.value_or("") : user.email;
  if (to.empty()) throw validationFailed("The user has no address to send a code to");
  mailCode(request, user.id, to, "reauthentication", {});
  return jsonResponse(request, http::status::ok, object{});
}

Response AuthService::readOutbox(const Request& request, const RequestTarget& target) {
  requireServiceRole(request, target, tokens_);
  const std::string* to = target.find("to");
  boost::json::array messages;
  for (const auto& message : outbox_.messagesTo(to ? *to : std::string())) {
    messages.push_back(message.toJSON());
  }
  return jsonResponse(request, http::status::ok, object{{"messages", std::move(messages)}});
}

}  // namespace local_backend
