#include "voduzazi/platform/mime_types.hpp"

#include <gtest/gtest.h>

namespace voduzazi {
namespace {

TEST(MIMETypes, CommonExtensionsAnswerTheSameOnEverySystemWhateverTheirCase) {
  EXPECT_EQ(preferredMIMEType("png"), "image/png");
  EXPECT_EQ(preferredMIMEType("JPG"), "image/jpeg");
  EXPECT_EQ(preferredMIMEType("json"), "application/json");
  EXPECT_EQ(preferredMIMEType(""), std::nullopt);
  EXPECT_EQ(preferredMIMEType("no-such-extension-here"), std::nullopt);
}

TEST(MIMETypes, ReadsTheSystemTableLayoutSkippingCommentsAndKeepingTheFirstType) {
  const auto table = parseMIMETypes(
      "# comment line\n"
      "application/x-first\tfoo BAR\n"
      "application/x-second foo baz # trailing comment qux\n"
      "not-a-type ignored\n"
      "\n"
      "text/x-last\n");
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(table.at("foo"), "application/x-first");
  EXPECT_EQ(table.at("bar"), "application/x-first");
  EXPECT_EQ(table.at("baz"), "application/x-second");
  EXPECT_FALSE(table.contains("qux"));
  EXPECT_FALSE(table.contains("ignored"));
}

}  // namespace
}  // namespace voduzazi
