#include "voduzazi/auth/user_attributes.hpp"

#include <charconv>

namespace voduzazi::auth {
namespace {

std::optional<std::int64_t> parseDecimal(std::string_view text) {
  // A leading "+" is allowed as well as "-" (which from_chars takes by itself).
  if (text.size() > 1 && text[0] == '+' && text[1] >= '0' && text[1] <= '9') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// The run of digits after the first "=" of a link entry's URL part.
std::optional<std::int64_t> pageNumber(std::string_view urlPart) {
  const auto equals = urlPart.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  std::string_view rest = urlPart.substr(equals + 1);
  std::size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  return parseDecimal(rest.substr(0, digits));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

constexpr auto userAttributesFields = std::tuple{
    field("email", &UserAttributes::email),
    field("phone", &UserAttributes::phone),
    field("password", &UserAttributes::password),
    field("nonce", &UserAttributes::nonce),
    field("emailChangeToken", &UserAttributes::emailChangeToken),
    field("data", &UserAttributes::data),
    field("codeChallenge", &UserAttributes::codeChallenge),
    field("codeChallengeMethod", &UserAttributes::codeChallengeMethod),
};

constexpr auto adminAttributesFields = std::tuple{
    field("appMetadata", &AdminUserAttributes::appMetadata),
    field("banDuration", &AdminUserAttributes::banDuration),
    field("email", &AdminUserAttributes::email),
    field("emailConfirm", &AdminUserAttributes::emailConfirm),
    field("id", &AdminUserAttributes::id),
    field("nonce", &AdminUserAttributes::nonce),
    field("password", &AdminUserAttributes::password),
    field("passwordHash", &AdminUserAttributes::passwordHash),
    field("phone", &AdminUserAttributes::phone),
    field("phoneConfirm", &AdminUserAttributes::phoneConfirm),
    field("role", &AdminUserAttributes::role),
    field("userMetadata", &AdminUserAttributes::userMetadata),
};

constexpr auto deleteUserFields = std::tuple{
    field("shouldSoftDelete", &DeleteUserRequest::shouldSoftDelete),
};

}  // namespace

boost::json::value UserAttributes::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, userAttributesFields);
}

UserAttributes UserAttributes::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                        const CodingPath& path) {
  return decodeFields(json, decoder, path, userAttributesFields);
}

boost::json::value AdminUserAttributes::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, adminAttributesFields);
}

boost::json::value DeleteUserRequest::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, deleteUserFields);
}

ListUsersPaginatedResponse ListUsersPaginatedResponse::withPaging(
    std::vector<User> users, std::string aud, const http_types::HTTPFields& headers) {
  ListUsersPaginatedResponse response{std::move(users), std::move(aud), std::nullopt, 0, 0};
  static const auto* const totalName = new http_types::HTTPField::Name("x-total-count");
  static const auto* const linkName = new http_types::HTTPField::Name("link");
  if (auto total = headers.get(*totalName)) response.total = parseDecimal(*total).value_or(0);
  const auto link = headers.get(*linkName);
  if (!link) return response;
  for (std::string_view entry : split(*link, ',')) {
    const auto parts = split(entry, ';');
    if (parts.size() < 2) continue;
    const auto equals = parts[1].find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view rel = parts[1].substr(equals + 1);
    // An entry whose page does not parse says nothing, and so erases no earlier one.
    const auto page = pageNumber(parts[0]);
    if (!page) continue;
    if (rel == "\"next\"") {
      response.nextPage = page;
    } else if (rel == "\"last\"") {
      response.lastPage = *page;
    }
  }
  return response;
}

}  // namespace voduzazi::auth
