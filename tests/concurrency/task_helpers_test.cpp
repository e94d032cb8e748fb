#include <gtest/gtest.h>

#include <stdexcept>

#include "voduzazi/concurrency/main_serial_executor.hpp"
#include "voduzazi/concurrency/result.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {
namespace {

TEST(MegaYieldCount, ParsesClampsAndFallsBack) {
  EXPECT_EQ(this_task::parseMegaYieldCount(nullptr), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount("0"), 0);
  EXPECT_EQ(this_task::parseMegaYieldCount("-5"), 0);
  EXPECT_EQ(this_task::parseMegaYieldCount("+7"), 7);
  EXPECT_EQ(this_task::parseMegaYieldCount("50000"), 10000);
  EXPECT_EQ(this_task::parseMegaYieldCount("abc"), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount(""), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount("+"), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount(" 5"), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount("99999999999999999999999"), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount("9223372036854775807"), 10000);
  EXPECT_EQ(this_task::parseMegaYieldCount("9223372036854775808"), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount("-9223372036854775808"), 0);
  EXPECT_EQ(this_task::parseMegaYieldCount("-9223372036854775809"), 20);
  EXPECT_EQ(this_task::parseMegaYieldCount("--5"), 20);
}

TEST(MainSerialExecutor, FlagIsRestoredAfterReturnAndThrow) {
  EXPECT_FALSE(uncheckedUseMainSerialExecutor());
  withMainSerialExecutor([] { EXPECT_TRUE(uncheckedUseMainSerialExecutor()); });
  EXPECT_FALSE(uncheckedUseMainSerialExecutor());
  EXPECT_THROW(withMainSerialExecutor([] { throw std::runtime_error("x"); }), std::runtime_error);
  EXPECT_FALSE(uncheckedUseMainSerialExecutor());
  setUncheckedUseMainSerialExecutor(true);
  withMainSerialExecutor([] {});
  EXPECT_TRUE(uncheckedUseMainSerialExecutor());
  setUncheckedUseMainSerialExecutor(false);
}

TEST(Result, CatchingKeepsValueOrError) {
  auto ok = Result<int>::catching([] { return 3; });
  EXPECT_TRUE(ok.isSuccess());
  EXPECT_EQ(ok.get(), 3);
  auto failed = Result<int>::catching([]() -> int { throw std::logic_error("bad"); });
  EXPECT_FALSE(failed.isSuccess());
  EXPECT_THROW(failed.get(), std::logic_error);
}

}  // namespace
}  // namespace voduzazi
