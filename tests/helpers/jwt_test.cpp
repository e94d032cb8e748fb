#include "voduzazi/helpers/jwt.hpp"

#include <gtest/gtest.h>

#include "voduzazi/helpers/detail/base64.hpp"

namespace voduzazi {
namespace {

// base64url of {"sub":"user-1","exp":1700000000} (no padding in the token).
constexpr const char* payload = "eyJzdWIiOiJ1c2VyLTEiLCJleHAiOjE3MDAwMDAwMDB9";

TEST(JWT, DecodesTheClaimsOfTheMiddleSegment) {
  const auto claims = JWT::decodePayload(std::string("header.") + payload + ".signature");
  ASSERT_TRUE(claims);
  EXPECT_EQ(*claims->at("sub").stringValue(), "user-1");
  EXPECT_EQ(claims->at("exp").intValue(), 1700000000);
}

TEST(JWT, CountsOnlyNonEmptySegments) {
  EXPECT_FALSE(JWT::decodePayload(std::string("header.") + payload));
  EXPECT_FALSE(JWT::decodePayload(std::string("header.") + payload + "."));
  EXPECT_FALSE(JWT::decodePayload(std::string("a.") + payload + ".b.c"));
  EXPECT_TRUE(JWT::decodePayload(std::string("header..") + payload + ".signature"));
}

TEST(JWT, RestoresPaddingAndTheURLAlphabet) {
  // {"a":"~~~?"} needs the url-safe alphabet; {"k":1} (length 10) needs two "=".
  EXPECT_EQ(JWT::decodePayload("h.eyJhIjoifn5-PyJ9.s")->at("a"), AnyJSON("~~~?"));
  EXPECT_EQ(JWT::decodePayload("h.eyJrIjoxfQ.s")->at("k"), AnyJSON(1));
}

TEST(JWT, GivesNothingForPayloadsThatAreNotObjects) {
  EXPECT_FALSE(JWT::decodePayload("h.WzFd.s"));         // [1]
  EXPECT_FALSE(JWT::decodePayload("h.bm90IGpzb24.s"));  // "not json"
  EXPECT_FALSE(JWT::decodePayload("h.e.s"));            // a single symbol is not base64
  EXPECT_FALSE(JWT::decodePayload(""));
}

TEST(Base64, SkipsForeignCharactersAndRejectsDataAfterPadding) {
  EXPECT_EQ(detail::decodeBase64("aGk="), "hi");
  EXPECT_EQ(detail::decodeBase64("aG\nk="), "hi");
  EXPECT_EQ(detail::decodeBase64("aGk"), "hi");
  EXPECT_FALSE(detail::decodeBase64("aG=k"));
  EXPECT_FALSE(detail::decodeBase64("a"));
  EXPECT_EQ(detail::decodeBase64("PD8-"), "<?");  // "-" is not standard base64: skipped
}

}  // namespace
}  // namespace voduzazi
