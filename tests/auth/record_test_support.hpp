// Bodies and comparisons shared by the auth record tests.
#pragma once

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <string>
#include <string_view>

#include "voduzazi/auth/session.hpp"

namespace voduzazi::auth::testing {

// A user body with only the required keys, in the server's snake_case.
inline constexpr std::string_view minimalUserBody = R"({
  "id": "9f1c2a44-1b2c-4d5e-8f90-a1b2c3d4e5f6", "aud": "authenticated",
  "created_at": "2024-03-05T07:08:09.123Z", "updated_at": "2024-03-05T07:08:10Z"})";

inline std::string sessionBody(std::string_view extra = "") {
  return std::string(R"({"access_token": "header.payload.signature", "token_type": "bearer",
    "expires_in": 3600, "expires_at": 1700000000.5, "refresh_token": "r-123", )") +
         std::string(extra) + R"("user": )" + std::string(minimalUserBody) + "}";
}

// The encoded text as a JSON tree, so that key order does not matter.
inline boost::json::value encoded(const auto& record,
                                  const JSONEncoder& encoder = *authJSONEncoder()) {
  return boost::json::parse(encoder.encode(record));
}

inline boost::json::value json(std::string_view text) { return boost::json::parse(text); }

}  // namespace voduzazi::auth::testing
