#include "voduzazi/realtime/detail/utf8_lossy.hpp"

#include <gtest/gtest.h>

namespace voduzazi::realtime::detail {
namespace {

TEST(UTF8Lossy, KeepsWellFormedTextAndReplacesEachBadSubpart) {
  EXPECT_EQ(decodeUTF8Lossy("plain \xC3\xA9 \xF0\x9F\x98\x80"), "plain \xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(decodeUTF8Lossy("a\xFF"
                            "b"),
            "a\xEF\xBF\xBD"
            "b");
  // A truncated sequence is one replacement; its valid prefix is not read twice.
  EXPECT_EQ(decodeUTF8Lossy("\xE2\x82"), "\xEF\xBF\xBD");
  EXPECT_EQ(decodeUTF8Lossy("\xE2\x82x"), "\xEF\xBF\xBDx");
  // Surrogates and overlongs are ill-formed from their lead byte on.
  EXPECT_EQ(decodeUTF8Lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(decodeUTF8Lossy("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(decodeUTF8Lossy(""), "");
}

}  // namespace
}  // namespace voduzazi::realtime::detail
