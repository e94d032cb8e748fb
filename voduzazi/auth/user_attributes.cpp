#include "voduzazi/auth/user_attributes.hpp"

#include <charconv>

namespace voduzazi::auth {
namespace {

std::optional<std::int64_t> parseDecimal(std::string_view text) {
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

}  // namespace

boost::json::value UserAttributes::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("email", email);
  out.encodeIfPresent("phone", phone);
  out.encodeIfPresent("password", password);
  out.encodeIfPresent("nonce", nonce);
  out.encodeIfPresent("emailChangeToken", emailChangeToken);
  out.encodeIfPresent("data", data);
  out.encodeIfPresent("codeChallenge", codeChallenge);
  out.encodeIfPresent("codeChallengeMethod", codeChallengeMethod);
  return std::move(out).json();
}

UserAttributes UserAttributes::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                        const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decodeIfPresent<std::string>("email"),
          in.decodeIfPresent<std::string>("phone"),
          in.decodeIfPresent<std::string>("password"),
          in.decodeIfPresent<std::string>("nonce"),
          in.decodeIfPresent<std::string>("emailChangeToken"),
          in.decodeIfPresent<JSONObject>("data"),
          in.decodeIfPresent<std::string>("codeChallenge"),
          in.decodeIfPresent<std::string>("codeChallengeMethod")};
}

boost::json::value AdminUserAttributes::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("appMetadata", appMetadata);
  out.encodeIfPresent("banDuration", banDuration);
  out.encodeIfPresent("email", email);
  out.encodeIfPresent("emailConfirm", emailConfirm);
  out.encodeIfPresent("id", id);
  out.encodeIfPresent("nonce", nonce);
  out.encodeIfPresent("password", password);
  out.encodeIfPresent("passwordHash", passwordHash);
  out.encodeIfPresent("phone", phone);
  out.encodeIfPresent("phoneConfirm", phoneConfirm);
  out.encodeIfPresent("role", role);
  out.encodeIfPresent("userMetadata", userMetadata);
  return std::move(out).json();
}

boost::json::value DeleteUserRequest::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("shouldSoftDelete", shouldSoftDelete);
  return std::move(out).json();
}

ListUsersPaginatedResponse ListUsersPaginatedResponse::withPaging(
    std::vector<User> users, std::string aud, const http_types::HTTPFields& headers) {
  ListUsersPaginatedResponse response{std::move(users), std::move(aud), std::nullopt, 0, 0};
  static const http_types::HTTPField::Name totalName("x-total-count");
  static const http_types::HTTPField::Name linkName("link");
  if (auto total = headers.get(totalName)) response.total = parseDecimal(*total).value_or(0);
  const auto link = headers.get(linkName);
  if (!link) return response;
  for (std::string_view entry : split(*link, ',')) {
    const auto parts = split(entry, ';');
    if (parts.size() < 2) continue;
    const auto equals = parts[1].find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view rel = parts[1].substr(equals + 1);
    const auto page = pageNumber(parts[0]);
    if (rel == "\"next\"") {
      response.nextPage = page;
    } else if (rel == "\"last\"") {
      response.lastPage = page.value_or(0);
    }
  }
  return response;
}

}  // namespace voduzazi::auth
