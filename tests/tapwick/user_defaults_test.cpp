#include "tapwick/user_defaults.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace tapwick {
namespace {

class UserDefaultsTest : public ::testing::Test {
 protected:
  UserDefaultsTest()
      : folder_(std::filesystem::temp_directory_path() /
                ("tapwick-defaults-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())),
        path_(folder_ / "tapwick" / "defaults.json") {}
  ~UserDefaultsTest() override { std::filesystem::remove_all(folder_); }

  void writeFile(const std::string& text) {
    std::filesystem::create_directories(path_.parent_path());
    std::ofstream(path_) << text;
  }

  std::filesystem::path folder_;
  std::filesystem::path path_;
};

TEST_F(UserDefaultsTest, KeepsStringArraysAcrossInstances) {
  UserDefaults(path_).setStringArray("connectedFriends", {"B", "A"});
  EXPECT_EQ(UserDefaults(path_).stringArray("connectedFriends"),
            (std::vector<std::string>{"B", "A"}));
  EXPECT_FALSE(UserDefaults(path_).stringArray("missing"));
}

TEST_F(UserDefaultsTest, ArraysHoldingOtherThanStringsReadAsNone) {
  writeFile(R"({"connectedFriends": ["A", 1], "other": "A"})");
  UserDefaults defaults(path_);
  EXPECT_FALSE(defaults.stringArray("connectedFriends"));
  EXPECT_FALSE(defaults.stringArray("other"));
}

TEST_F(UserDefaultsTest, SetsAnUnreadableFileAsideInsteadOfOverwritingIt) {
  writeFile("{\"connectedFriends\": [\"A\"");
  UserDefaults defaults(path_);
  EXPECT_FALSE(defaults.stringArray("connectedFriends"));
  defaults.setStringArray("connectedFriends", {"B"});
  std::ifstream aside(path_.string() + ".unreadable");
  std::string kept((std::istreambuf_iterator<char>(aside)), {});
  EXPECT_EQ(kept, "{\"connectedFriends\": [\"A\"");
}

TEST_F(UserDefaultsTest, WritesLeaveNoTemporaryFilesBehind) {
  UserDefaults defaults(path_);
  for (int i = 0; i < 3; ++i) defaults.set("n", i);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(path_.parent_path())) {
    ++files;
  }
  EXPECT_EQ(files, 1u);
  EXPECT_EQ(UserDefaults(path_).value("n"), boost::json::value(2));
}

TEST_F(UserDefaultsTest, AFailedWriteThrowsAndKeepsTheOldValue) {
  // A folder that is a file cannot hold the settings, whoever runs the test.
  writeFile("{\"n\": 1}");
  UserDefaults defaults(path_ / "defaults.json");
  EXPECT_THROW(defaults.set("n", 2), std::system_error);
  EXPECT_EQ(defaults.value("n"), std::nullopt);
}

TEST(UserDefaults, ParsesOnlyJSONObjects) {
  EXPECT_EQ(UserDefaults::parse(R"({"a": [1]})").at("a").as_array().size(), 1u);
  EXPECT_THROW(UserDefaults::parse("[]"), std::invalid_argument);
  EXPECT_THROW(UserDefaults::parse("{"), std::invalid_argument);
  EXPECT_THROW(UserDefaults::parse(""), std::invalid_argument);
}

}  // namespace
}  // namespace tapwick
