#include "voduzazi/helpers/version.hpp"

#include <gtest/gtest.h>

#include "voduzazi/helpers/detail/kernel_release.hpp"

namespace voduzazi {
namespace {

TEST(Version, NamesTheLibraryAndPlatform) {
  EXPECT_EQ(version, "2.33.2");
  EXPECT_EQ(platform, "Linux");
  ASSERT_TRUE(platformVersion());
  EXPECT_EQ(&platformVersion(), &platformVersion());
  EXPECT_EQ(detail::majorMinorPatch(*platformVersion()), platformVersion());
}

TEST(Version, ReducesKernelReleasesToMajorMinorPatch) {
  EXPECT_EQ(detail::majorMinorPatch("6.1.0-18-amd64"), "6.1.0");
  EXPECT_EQ(detail::majorMinorPatch("5.15"), "5.15.0");
  EXPECT_EQ(detail::majorMinorPatch("6"), "6.0.0");
  EXPECT_EQ(detail::majorMinorPatch("4.19.123+"), "4.19.123");
  EXPECT_FALSE(detail::majorMinorPatch("generic"));
}

}  // namespace
}  // namespace voduzazi
