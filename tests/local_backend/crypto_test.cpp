// Unit tests of the building blocks: tokens, password hashes, LIKE patterns, timestamps, UTF-8.
#include <gtest/gtest.h>

#include "local_backend/detail/like_pattern.hpp"
#include "local_backend/detail/utf8.hpp"
#include "local_backend/jwt.hpp"
#include "local_backend/password_hash.hpp"
#include "local_backend/timestamp.hpp"

namespace local_backend {
namespace {

constexpr std::string_view kSecret = "a-test-secret-that-is-long-enough-for-hs256";

JwtError::Kind refusal(std::string_view token, std::string_view secret, std::int64_t now) {
  try {
    verifyJwt(token, secret, now);
  } catch (const JwtError& error) {
    return error.kind();
  }
  ADD_FAILURE() << "token was accepted";
  return JwtError::Kind::malformed;
}

TEST(Jwt, VerifiesWhatItSigned) {
  const boost::json::object claims{{"sub", "u1"}, {"role", "authenticated"}, {"exp", 2000}};
  const auto back = verifyJwt(signJwt(claims, kSecret), kSecret, 1000);
  EXPECT_EQ(back, claims);
}

TEST(Jwt, RefusesForgedExpiredAndMalformedTokens) {
  const std::string token = signJwt({{"role", "anon"}, {"exp", 2000}}, kSecret);
  EXPECT_EQ(refusal(token, "another-secret-entirely-different-value", 1000),
            JwtError::Kind::badSignature);
  EXPECT_EQ(refusal(token, kSecret, 2000), JwtError::Kind::expired);
  EXPECT_EQ(refusal("not.a-token", kSecret, 1000), JwtError::Kind::malformed);
  EXPECT_EQ(refusal("a.b.c.d", kSecret, 1000), JwtError::Kind::malformed);
  // Same claims, header switched to "none" and the signature dropped.
  const std::string unsignedToken =
      "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0" +
      token.substr(token.find('.'), token.rfind('.') - token.find('.')) + ".";
  EXPECT_EQ(refusal(unsignedToken, kSecret, 1000), JwtError::Kind::badSignature);
  // A changed payload under the old signature.
  std::string tampered = token;
  tampered[token.find('.') + 5] ^= 1;
  EXPECT_NE(refusal(tampered, kSecret, 1000), JwtError::Kind::expired);
}

TEST(Jwt, RefusesASignatureSpelledDifferently) {
  const std::string token = signJwt({{"role", "anon"}, {"exp", 2000}}, kSecret);
  // 43 characters carry the 32 signature bytes; the last one has two unused low bits. Setting
  // one leaves the decoded bytes as they were, so only a strict decoder tells the two apart.
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  ASSERT_FALSE(token.empty());
  std::string respelled = token;
  respelled.back() = kAlphabet[kAlphabet.find(token.back()) ^ 1];
  EXPECT_EQ(refusal(respelled, kSecret, 1000), JwtError::Kind::badSignature);
}

TEST(Jwt, RefusesPaddingAfterTheSignature) {
  const std::string token = signJwt({{"role", "anon"}, {"exp", 2000}}, kSecret);
  for (const char* padding : {"=", "==", "===", "===="}) {
    EXPECT_EQ(refusal(token + padding, kSecret, 1000), JwtError::Kind::badSignature) << padding;
  }
}

TEST(Jwt, RequiresAnExpiry) {
  EXPECT_EQ(refusal(signJwt({{"role", "anon"}}, kSecret), kSecret, 0), JwtError::Kind::malformed);
}

TEST(PasswordHash, VerifiesOnlyTheRightPasswordWithAFreshSalt) {
  const std::string first = hashPassword("correct horse");
  const std::string second = hashPassword("correct horse");
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind("$scrypt$", 0), 0u);
  EXPECT_EQ(first.find("correct"), std::string::npos);
  EXPECT_TRUE(verifyPassword("correct horse", first));
  EXPECT_TRUE(verifyPassword("correct horse", second));
  EXPECT_FALSE(verifyPassword("correct horsf", first));
  EXPECT_FALSE(verifyPassword("", first));
}

TEST(PasswordHash, RejectsStoredTextItCannotRead) {
  EXPECT_FALSE(verifyPassword("x", ""));
  EXPECT_FALSE(verifyPassword("x", "$scrypt$ln=99,r=8,p=1$AAAA$AAAA"));
  EXPECT_FALSE(verifyPassword("x", "$scrypt$ln=14,r=8,p=1$@@@@$AAAA"));
  EXPECT_FALSE(verifyPassword("x", "plain text"));
}

TEST(LikePattern, MatchesWildcardsEscapesAndCase) {
  using detail::likeMatches;
  EXPECT_TRUE(likeMatches("hello", "h%o", false));
  EXPECT_TRUE(likeMatches("hello", "%", false));
  EXPECT_TRUE(likeMatches("", "%", false));
  EXPECT_TRUE(likeMatches("hello", "h_llo", false));
  EXPECT_FALSE(likeMatches("hello", "h_lo", false));
  EXPECT_FALSE(likeMatches("Hello", "h%", false));
  EXPECT_TRUE(likeMatches("Hello", "h%", true));
  EXPECT_TRUE(likeMatches("100%", "100\\%", false));
  EXPECT_FALSE(likeMatches("1000", "100\\%", false));
  EXPECT_TRUE(likeMatches("a%b%c", "%b%c", false));
  EXPECT_TRUE(likeMatches("ßx", "_x", false));
  EXPECT_TRUE(likeMatches("aaab", "%a%ab", false));
}

TEST(LikePattern, RefusesAPatternEndingInALoneEscape) {
  using detail::isValidLikePattern;
  EXPECT_FALSE(isValidLikePattern("a\\"));
  EXPECT_FALSE(isValidLikePattern("\\"));
  EXPECT_FALSE(isValidLikePattern("a\\\\\\"));
  EXPECT_TRUE(isValidLikePattern("a\\\\"));
  EXPECT_TRUE(isValidLikePattern("\\%"));
  EXPECT_TRUE(isValidLikePattern(""));
  EXPECT_FALSE(detail::likeMatches("a\\", "a\\", false));
  EXPECT_TRUE(detail::likeMatches("a\\", "a\\\\", false));
}

TEST(Timestamp, FormatsFixedWidthUtcThatSortsByTime) {
  const auto t = parseTimestamp("2025-10-21T08:00:00.123456Z");
  ASSERT_TRUE(t);
  EXPECT_EQ(formatTimestamp(*t), "2025-10-21T08:00:00.123456+00:00");
  EXPECT_EQ(formatTimestampZulu(*t), "2025-10-21T08:00:00.123456Z");
  EXPECT_LT(formatTimestamp(*parseTimestamp("2025-10-21T08:00:00Z")), formatTimestamp(*t));
}

TEST(Timestamp, ParsesTheUsualIso8601Forms) {
  const std::string expected = "2025-10-21T08:00:00.500000+00:00";
  for (const char* text :
       {"2025-10-21T08:00:00.5Z", "2025-10-21T10:00:00.5+02:00", "2025-10-21T10:00:00.5+0200",
        "2025-10-21 08:00:00.5", "2025-10-21T06:30:00.5-01:30", "2025-10-21t08:00:00.500000z"}) {
    const auto t = parseTimestamp(text);
    ASSERT_TRUE(t) << text;
    EXPECT_EQ(formatTimestamp(*t), expected) << text;
  }
  EXPECT_EQ(formatTimestamp(*parseTimestamp("1970-01-01")), "1970-01-01T00:00:00.000000+00:00");
  for (const char* bad : {"", "2025-13-01", "2025-02-30T00:00Z", "2025-10-21T25:00Z",
                          "2025-10-21T08:00:00.Z", "yesterday", "2025-10-21T08:00:00+2"}) {
    EXPECT_FALSE(parseTimestamp(bad)) << bad;
  }
}

TEST(Timestamp, RefusesInstantsOutsideTheFourDigitYears) {
  EXPECT_FALSE(parseTimestamp("0000-01-01T00:00+01:00"));
  EXPECT_FALSE(parseTimestamp("9999-12-31T23:59-01"));
  EXPECT_FALSE(parseTimestamp("9999-12-31T23:59:60Z"));
  EXPECT_EQ(formatTimestamp(*parseTimestamp("0000-01-01T00:00Z")),
            "0000-01-01T00:00:00.000000+00:00");
  EXPECT_EQ(formatTimestamp(*parseTimestamp("0000-01-01T00:59-00:30")),
            "0000-01-01T01:29:00.000000+00:00");
  EXPECT_EQ(formatTimestamp(*parseTimestamp("9999-12-31T23:59:59.9999999Z")),
            "9999-12-31T23:59:59.999999+00:00");
}

TEST(MonotonicClock, NeverRepeatsOrGoesBackward) {
  MonotonicClock clock;
  const auto future = *parseTimestamp("2999-01-01T00:00:00Z");
  clock.advancePast(future);
  auto previous = clock.now();
  EXPECT_GT(previous, future);
  for (int i = 0; i < 1000; ++i) {
    const auto next = clock.now();
    ASSERT_GT(next, previous);
    previous = next;
  }
}

TEST(Utf8, AcceptsWellFormedTextOnly) {
  EXPECT_TRUE(detail::isValidUtf8("plain"));
  EXPECT_TRUE(detail::isValidUtf8("grüße 😀"));
  EXPECT_FALSE(detail::isValidUtf8("\xC3"));
  EXPECT_FALSE(detail::isValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(detail::isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(detail::isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(detail::isValidUtf8("\xFF"));
}

}  // namespace
}  // namespace local_backend
