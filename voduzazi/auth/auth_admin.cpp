#include "voduzazi/auth/auth_admin.hpp"

#include <boost/json/object.hpp>
#include <stdexcept>
#include <utility>

#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/auth_paths.hpp"
#include "voduzazi/auth/detail/request_parts.hpp"
#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::auth {

namespace {

// The listing's body; the paging comes from the headers.
struct UsersPage {
  std::vector<User> users{};
  std::string aud{};

  static UsersPage fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                            const CodingPath& path = {}) {
    return decodeFields(
        json, decoder, path,
        std::tuple{field("users", &UsersPage::users), field("aud", &UsersPage::aud)});
  }
};

// Sends a request with the configured headers only (the service key), never a session's token.
helpers::HTTPResponse send(const Dependencies& dependencies,
                           std::initializer_list<std::string_view> segments, HTTPMethod method,
                           std::optional<Data> body = std::nullopt,
                           std::vector<URLQueryItem> query = {}) {
  helpers::HTTPRequest request(detail::appendingPath(dependencies.configuration.url, segments),
                               std::move(method), std::move(query));
  request.body = std::move(body);
  return dependencies.api.execute(std::move(request));
}

std::string optionalNumber(const std::optional<std::int64_t>& number) {
  return number ? std::to_string(*number) : std::string();
}

}  // namespace

User AuthAdmin::getUserById(const UUID& id) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  return send(dependencies, {"admin", "users", uppercaseString(id)}, HTTPMethod::get)
      .decoded<User>(*dependencies.configuration.decoder);
}

User AuthAdmin::updateUserById(const UUID& id, const AdminUserAttributes& attributes) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  Data body = dependencies.configuration.encoder->encode(attributes);
  return send(dependencies, {"admin", "users", uppercaseString(id)}, HTTPMethod::put,
              std::move(body))
      .decoded<User>(*dependencies.configuration.decoder);
}

User AuthAdmin::createUser(const AdminUserAttributes& attributes) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  Data body = dependencies.configuration.encoder->encode(attributes);
  return send(dependencies, {"admin", "users"}, HTTPMethod::post, std::move(body))
      .decoded<User>(*dependencies.configuration.decoder);
}

User AuthAdmin::inviteUserByEmail(const std::string& email, std::optional<JSONObject> data,
                                  std::optional<boost::urls::url> redirectTo) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  boost::json::object invitation{{"email", email}};
  invitation["data"] = data ? AnyJSON(std::move(*data)).toJSON() : boost::json::value(nullptr);
  return send(dependencies, {"admin", "invite"}, HTTPMethod::post,
              dependencies.configuration.encoder->write(invitation),
              detail::redirectQuery(redirectTo, dependencies.configuration))
      .decoded<User>(*dependencies.configuration.decoder);
}

void AuthAdmin::deleteUser(const UUID& id, bool shouldSoftDelete) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  Data body = dependencies.configuration.encoder->encode(DeleteUserRequest{shouldSoftDelete});
  send(dependencies, {"admin", "users", uppercaseString(id)}, HTTPMethod::delete_, std::move(body));
}

void AuthAdmin::deleteUser(std::string_view id, bool shouldSoftDelete) const {
  const std::optional<UUID> uuid = voduzazi::detail::uuidFromString(id);
  if (!uuid) throw std::invalid_argument("id should be a valid UUID");
  deleteUser(*uuid, shouldSoftDelete);
}

ListUsersPaginatedResponse AuthAdmin::listUsers(std::optional<PageParams> params) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  const PageParams paging = params.value_or(PageParams{});
  const helpers::HTTPResponse response =
      send(dependencies, {"admin", "users"}, HTTPMethod::get, std::nullopt,
           {{"page", optionalNumber(paging.page)}, {"per_page", optionalNumber(paging.perPage)}});
  UsersPage page = response.decoded<UsersPage>(*dependencies.configuration.decoder);
  return ListUsersPaginatedResponse::withPaging(std::move(page.users), std::move(page.aud),
                                                response.headers());
}

}  // namespace voduzazi::auth
