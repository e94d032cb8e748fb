#include "voduzazi/helpers/jwt.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "voduzazi/helpers/detail/base64.hpp"

namespace voduzazi::JWT {

std::optional<JSONObject> decodePayload(std::string_view token) {
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0; start <= token.size();) {
    const std::size_t dot = std::min(token.find('.', start), token.size());
    if (dot > start) pieces.push_back(token.substr(start, dot - start));
    start = dot + 1;
  }
  if (pieces.size() != 3) return std::nullopt;

  std::string payload(pieces[1]);
  std::replace(payload.begin(), payload.end(), '-', '+');
  std::replace(payload.begin(), payload.end(), '_', '/');
  payload.append((4 - payload.size() % 4) % 4, '=');

  const auto bytes = detail::decodeBase64(payload);
  if (!bytes) return std::nullopt;
  try {
    AnyJSON claims = AnyJSON::fromJSON(JSONDecoder::parse(*bytes));
    if (const JSONObject* object = claims.objectValue()) return *object;
  } catch (const DecodingError&) {
  }
  return std::nullopt;
}

}  // namespace voduzazi::JWT
