// What a user or an administrator sends to change users, and the administrative user listing.
//
//   UserAttributes change{.password = newPassword};
//   Data body = authJSONEncoder()->encode(change);           // {"password":"..."}
//   auto page = ListUsersPaginatedResponse::withPaging(users, aud, response.headers);
//
// Plain values; absent optional fields are left out of the JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/auth/record_coding.hpp"
#include "voduzazi/auth/user.hpp"
#include "voduzazi/http_types/http_fields.hpp"

namespace voduzazi::auth {

// The body of the user update. The update operation fills the code-challenge fields itself.
struct UserAttributes {
  std::optional<std::string> email{};
  std::optional<std::string> phone{};
  std::optional<std::string> password{};
  std::optional<std::string> nonce{};
  std::optional<std::string> emailChangeToken{};
  std::optional<JSONObject> data{};
  std::optional<std::string> codeChallenge{};
  std::optional<std::string> codeChallengeMethod{};

  bool operator==(const UserAttributes&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static UserAttributes fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                 const CodingPath& path = {});
};

// The body of the administrative create and update; encoded only.
struct AdminUserAttributes {
  std::optional<JSONObject> appMetadata{};
  std::optional<std::string> banDuration{};
  std::optional<std::string> email{};
  std::optional<bool> emailConfirm{};
  std::optional<std::string> id{};
  std::optional<std::string> nonce{};
  std::optional<std::string> password{};
  std::optional<std::string> passwordHash{};
  std::optional<std::string> phone{};
  std::optional<bool> phoneConfirm{};
  std::optional<std::string> role{};
  std::optional<JSONObject> userMetadata{};

  bool operator==(const AdminUserAttributes&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// The body of the administrative delete; "should_soft_delete" is always written.
struct DeleteUserRequest {
  bool shouldSoftDelete = false;

  bool operator==(const DeleteUserRequest&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// Paging of the user listing; not coded as JSON.
struct PageParams {
  std::optional<std::int64_t> page{};
  std::optional<std::int64_t> perPage{};

  bool operator==(const PageParams&) const = default;
};

// One page of the user listing, filled from the body and the response headers.
struct ListUsersPaginatedResponse {
  std::vector<User> users{};
  std::string aud{};
  std::optional<std::int64_t> nextPage{};
  std::int64_t lastPage = 0;
  std::int64_t total = 0;

  bool operator==(const ListUsersPaginatedResponse&) const = default;

  // nextPage and lastPage from the "link" header entries whose rel is "next" and "last" (quotes
  // included), total from "x-total-count"; 0 or absent where a header is missing or unreadable.
  static ListUsersPaginatedResponse withPaging(std::vector<User> users, std::string aud,
                                               const http_types::HTTPFields& headers);
};

}  // namespace voduzazi::auth
