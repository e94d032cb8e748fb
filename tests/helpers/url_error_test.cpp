// URLError: the developer text for logs and the short sentence for a person.
#include "voduzazi/helpers/url_error.hpp"

#include <gtest/gtest.h>

#include <cctype>

namespace voduzazi {
namespace {

TEST(URLError, LogTextKeepsCodeNameAndDetail) {
  const URLError error(URLError::Code::cannotConnectToHost,
                       "Failed to connect to 127.0.0.1 port 8484 after 0 ms");
  EXPECT_STREQ(
      error.what(),
      "URLError(cannotConnectToHost): Failed to connect to 127.0.0.1 port 8484 after 0 ms");
  EXPECT_STREQ(URLError(URLError::Code::timedOut).what(), "URLError(timedOut)");
}

TEST(URLError, LocalizedDescriptionIsAShortSentenceWithoutTheDetail) {
  EXPECT_EQ(
      URLError(URLError::Code::cannotConnectToHost, "127.0.0.1 port 8484").localizedDescription(),
      "Could not connect to the server.");
  EXPECT_EQ(URLError(URLError::Code::timedOut).localizedDescription(), "The request timed out.");
  EXPECT_EQ(URLError(URLError::Code::networkConnectionLost).localizedDescription(),
            "The network connection was lost.");
  // Every code has a sentence of its own kind: capitalised, ended by a full stop, no developer
  // text.
  for (int raw = -3100; raw <= 0; ++raw) {
    const auto code = static_cast<URLError::Code>(raw);
    if (raw != -1 && toString(code) == "unknown") continue;  // not a code
    const std::string text = URLError(code, "detail").localizedDescription();
    ASSERT_FALSE(text.empty()) << raw;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(text.front()))) << text;
    EXPECT_EQ(text.back(), '.') << text;
    EXPECT_EQ(text.find("detail"), std::string::npos) << text;
    EXPECT_EQ(text.find("URLError"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace voduzazi
