#include "voduzazi/concurrency/debug_description.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace voduzazi {
namespace {

struct Opaque {};

TEST(DebugDescription, QuotesAndEscapesText) {
  EXPECT_EQ(debugDescription(std::string("x")), "\"x\"");
  EXPECT_EQ(debugDescription("a\"b\\c\n\t'"), "\"a\\\"b\\\\c\\n\\t\\'\"");
  EXPECT_EQ(debugDescription(std::string("\x01", 1)), "\"\\u{1}\"");
  EXPECT_EQ(debugDescription(std::string("\x1b\x7f")), "\"\\u{1B}\\u{7F}\"");
  EXPECT_EQ(debugDescription('c'), "\"c\"");
  const char* none = nullptr;
  EXPECT_EQ(debugDescription(none), "nil");
}

TEST(DebugDescription, RendersNumbersAndBooleans) {
  EXPECT_EQ(debugDescription(42), "42");
  EXPECT_EQ(debugDescription(-7L), "-7");
  EXPECT_EQ(debugDescription(true), "true");
  EXPECT_EQ(debugDescription(2.0), "2.0");
  EXPECT_EQ(debugDescription(0.1), "0.1");
  EXPECT_EQ(debugDescription(0.1f), "0.1");
  EXPECT_EQ(debugDescription(100000.0), "100000.0");
  EXPECT_EQ(debugDescription(-0.0), "-0.0");
  EXPECT_EQ(debugDescription(0.00001), "1e-05");
  EXPECT_EQ(debugDescription(1e20), "1e+20");
}

TEST(DebugDescription, RendersOptionalsTuplesAndSequences) {
  EXPECT_EQ(debugDescription(std::optional<int>(3)), "Optional(3)");
  EXPECT_EQ(debugDescription(std::optional<int>()), "nil");
  EXPECT_EQ(debugDescription(std::make_tuple(42, std::string("x"))), "(42, \"x\")");
  EXPECT_EQ(debugDescription(std::vector<int>{1, 2}), "[1, 2]");
  EXPECT_EQ(debugDescription(std::map<std::string, int>{{"a", 1}}), "[\"a\": 1]");
  EXPECT_EQ(debugDescription(std::map<std::string, int>{}), "[:]");
  EXPECT_EQ(debugDescription(Opaque{}), "voduzazi::(anonymous namespace)::Opaque");
}

TEST(DebugDescription, DescribesCallArguments) {
  EXPECT_EQ(argumentsDescription(), "()");
  EXPECT_EQ(argumentsDescription(std::string("x")), "\"x\"");
  EXPECT_EQ(argumentsDescription(42, std::string("x")), "(42, \"x\")");
}

}  // namespace
}  // namespace voduzazi
