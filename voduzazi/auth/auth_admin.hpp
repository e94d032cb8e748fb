// AuthAdmin: the administrative user operations of an auth client: read, create, update, delete
// and invite users, and page through all of them. They need the service key in the configured
// headers; they never read or need the client's session.
//
//   AuthAdmin admin = serviceClient.admin();
//   User user = admin.createUser({.email = "ada@example.com", .password = "pw123456"});
//   auto page = admin.listUsers(PageParams{.page = 1, .perPage = 50});
//   admin.deleteUser(user.id);
//
// A plain value holding the client's id; copies may be used from any thread at once.
#pragma once

#include <boost/url/url.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/auth/user.hpp"
#include "voduzazi/auth/user_attributes.hpp"

namespace voduzazi::auth {

struct AuthAdmin {
  std::int64_t clientID = 0;

  User getUserById(const UUID& id) const;
  User updateUserById(const UUID& id, const AdminUserAttributes& attributes) const;
  User createUser(const AdminUserAttributes& attributes) const;
  // Sends "data" as null when none is given.
  User inviteUserByEmail(const std::string& email, std::optional<JSONObject> data = std::nullopt,
                         std::optional<boost::urls::url> redirectTo = std::nullopt) const;
  void deleteUser(const UUID& id, bool shouldSoftDelete = false) const;
  // Kept for older callers; prefer the UUID form. Throws std::invalid_argument "id should be a
  // valid UUID" for anything but a UUID's text, before anything is sent.
  void deleteUser(std::string_view id, bool shouldSoftDelete = false) const;
  // One page; "page" and "per_page" are sent empty when absent. nextPage, lastPage and total
  // come from the "link" and "x-total-count" headers.
  ListUsersPaginatedResponse listUsers(std::optional<PageParams> params = std::nullopt) const;
};

}  // namespace voduzazi::auth
