// The administrative user endpoints: paging through users, creating, reading, changing, deleting
// and inviting them. The router of the service lets only the service key reach them.
#include <boost/json/array.hpp>
#include <boost/json/serialize.hpp>
#include <charconv>

#include "local_backend/auth_service.hpp"
#include "local_backend/auth_store.hpp"
#include "local_backend/detail/auth_common.hpp"
#include "local_backend/password_hash.hpp"

namespace local_backend {

using namespace detail;
using boost::json::object;

namespace {

constexpr std::int64_t kDefaultPerPage = 50;
constexpr std::int64_t kMaxPerPage = 1000;

AuthFailure userNotFound() {
  return AuthFailure{http::status::not_found, "user_not_found", "User not found"};
}

AuthFailure addressTaken() {
  return AuthFailure{http::status::unprocessable_entity, "email_exists",
                     "A user with this email address has already been registered"};
}

// A positive paging number; `fallback` for an absent or empty item.
std::int64_t pagingNumber(const RequestTarget& target, std::string_view name,
                          std::int64_t fallback) {
  const std::string* text = target.find(name);
  if (text == nullptr || text->empty()) return fallback;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size() || value < 1) {
    throw validationFailed("\"" + std::string(name) + "\" must be a positive whole number");
  }
  return value;
}

std::string pageLink(std::int64_t page, std::int64_t perPage, std::string_view relation) {
  return "</admin/users?page=" + std::to_string(page) + "&per_page=" + std::to_string(perPage) +
         ">; rel=\"" + std::string(relation) + "\"";
}

// The attributes of create and update that both understand; absent fields change nothing.
void applyAttributes(auth_store::UserRecord& user, const object& body,
                     const std::optional<std::string>& passwordHash) {
  if (const auto email = stringField(body, "email")) user.email = checkedEmail(*email);
  if (const auto phone = stringField(body, "phone")) user.phone = checkedPhone(*phone);
  if (passwordHash) user.passwordHash = *passwordHash;
  const std::string now = nowText();
  if (boolField(body, "email_confirm", false) && !user.emailConfirmedAt) {
    user.emailConfirmedAt = now;
  }
  if (boolField(body, "phone_confirm", false) && !user.phoneConfirmedAt) {
    user.phoneConfirmedAt = now;
  }
  if (const auto* metadata = body.if_contains("user_metadata");
      metadata != nullptr && !metadata->is_null()) {
    if (!metadata->is_object()) throw validationFailed("\"user_metadata\" must be an object");
    user.userMetadata = boost::json::serialize(*metadata);
  }
  user.updatedAt = now;
}

// The password's hash when the body sets one; hashing is slow, so it happens outside the
// database's lock.
std::optional<std::string> newPasswordHash(const object& body) {
  const auto password = stringField(body, "password");
  if (!password) return std::nullopt;
  checkPasswordStrength(*password);
  return hashPassword(*password);
}

}  // namespace

Response AuthService::listUsers(const Request& request, const RequestTarget& target) {
  const std::int64_t page = pagingNumber(target, "page", 1);
  const std::int64_t perPage =
      std::min(pagingNumber(target, "per_page", kDefaultPerPage), kMaxPerPage);
  boost::json::array users;
  const std::int64_t total = database_.transaction([&](Connection& c) {
    for (const auto& user : auth_store::listUsers(c, (page - 1) * perPage, perPage)) {
      users.push_back(userBody(c, user));
    }
    return auth_store::countUsers(c);
  });
  const std::int64_t lastPage = std::max<std::int64_t>(1, (total + perPage - 1) / perPage);
  Response response = jsonResponse(request, http::status::ok,
                                   object{{"users", std::move(users)}, {"aud", "authenticated"}});
  std::string link;
  if (page < lastPage) link = pageLink(page + 1, perPage, "next") + ", ";
  link += pageLink(lastPage, perPage, "last");
  response.set(http::field::link, link);
  response.set("x-total-count", std::to_string(total));
  return response;
}

Response AuthService::createUser(const Request& request) {
  const object body = parseBody(request);
  if (!body.contains("email") && !body.contains("phone")) {
    throw validationFailed("An email address or a phone number is required");
  }
  const auto passwordHash = newPasswordHash(body);
  auth_store::UserRecord user = newUser({}, std::nullopt, passwordHash.value_or(""), object{});
  applyAttributes(user, body, std::nullopt);
  try {
    return database_.transaction([&](Connection& c) {
      insertUserWithIdentity(c, user);
      return jsonResponse(request, http::status::ok, userBody(c, user));
    });
  } catch (const SqliteError& error) {
    if (!isUniqueViolation(error)) throw;
    throw addressTaken();
  }
}

Response AuthService::getUserById(const Request& request, const std::string& id) {
  return database_.transaction([&](Connection& c) {
    const auto user = auth_store::findUserById(c, lowerCase(id));
    if (!user) throw userNotFound();
    return jsonResponse(request, http::status::ok, userBody(c, *user));
  });
}

Response AuthService::updateUserById(const Request& request, const std::string& id) {
  const object body = parseBody(request);
  const auto passwordHash = newPasswordHash(body);
  try {
    return database_.transaction([&](Connection& c) {
      auto user = auth_store::findUserById(c, lowerCase(id));
      if (!user) throw userNotFound();
      applyAttributes(*user, body, passwordHash);
      auth_store::updateUser(c, *user);
      return jsonResponse(request, http::status::ok, userBody(c, *user));
    });
  } catch (const SqliteError& error) {
    if (!isUniqueViolation(error)) throw;
    throw addressTaken();
  }
}

Response AuthService::deleteUser(const Request& request, const std::string& id) {
  // A soft delete is a delete here too: the stand-in keeps no deleted users.
  if (!request.body().empty()) boolField(parseBody(request), "should_soft_delete", false);
  const bool deleted = database_.transaction(
      [&](Connection& c) { return auth_store::deleteUser(c, lowerCase(id)); });
  if (!deleted) throw userNotFound();
  return jsonResponse(request, http::status::ok, object{});
}

Response AuthService::invite(const Request& request, const RequestTarget& target) {
  const object body = parseBody(request);
  const std::string email = requireEmail(body);
  const object metadata = dataField(body);
  const std::string* redirect = target.find("redirect_to");
  if (redirect != nullptr && !redirect->empty()) checkRedirect(*redirect);
  auth_store::UserRecord user = newUser(email, std::nullopt, "", metadata);
  user.confirmationSentAt = nowText();
  const object answer = [&] {
    try {
      return database_.transaction([&](Connection& c) {
        insertUserWithIdentity(c, user);
        return userBody(c, user);
      });
    } catch (const SqliteError& error) {
      if (!isUniqueViolation(error)) throw;
      throw addressTaken();
    }
  }();
  mailCode(request, user.id, email, "invite", redirect ? *redirect : std::string());
  return jsonResponse(request, http::status::ok, answer);
}

}  // namespace local_backend
