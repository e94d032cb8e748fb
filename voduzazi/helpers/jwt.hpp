// JWT: reads the payload of a JSON Web Token without verifying it.
//
//   if (auto claims = JWT::decodePayload(session.accessToken)) {
//     if (auto exp = claims->find("exp"); exp != claims->end()) use(exp->second.doubleValue());
//   }
#pragma once

#include <optional>
#include <string_view>

#include "voduzazi/helpers/any_json.hpp"

namespace voduzazi::JWT {

// The claims of a token of three non-empty "."-separated base64url segments whose middle one is
// a JSON object; nothing for anything else. No signature or claim is checked. Never throws.
std::optional<JSONObject> decodePayload(std::string_view token);

}  // namespace voduzazi::JWT
