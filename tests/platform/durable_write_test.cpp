#include "voduzazi/platform/durable_write.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace voduzazi {
namespace {

namespace fs = std::filesystem;

class DurableWriteTest : public ::testing::Test {
 protected:
  DurableWriteTest() {
    std::string pattern = (fs::temp_directory_path() / "durable-write-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~DurableWriteTest() override { fs::remove_all(root_); }

  static std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  std::size_t entries() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(root_), fs::directory_iterator()));
  }

  fs::path root_;
};

TEST_F(DurableWriteTest, WritesAndReplacesAWholeFileWithItsMode) {
  const fs::path file = root_ / "settings.json";
  writeFileDurably(file, "{}");
  EXPECT_EQ(contents(file), "{}");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  writeFileDurably(file, std::string("a\0b", 3));
  EXPECT_EQ(contents(file), std::string("a\0b", 3));
  EXPECT_EQ(entries(), 1u);
}

TEST_F(DurableWriteTest, ReplacesALinkWithoutWritingThroughIt) {
  const fs::path target = root_ / "target";
  std::ofstream(target) << "kept";
  const fs::path link = root_ / "link";
  fs::create_symlink(target, link);
  writeFileDurably(link, "new");
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(contents(link), "new");
  EXPECT_EQ(contents(target), "kept");
}

TEST_F(DurableWriteTest, CreateOnlyLeavesAnExistingNameAlone) {
  const int folder = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  const DurableWriteOptions createOnly{.mode = DurableWriteMode::createOnly};
  EXPECT_EQ(writeFileDurablyAt(folder, "item", "first", createOnly), 0);
  EXPECT_EQ(writeFileDurablyAt(folder, "item", "second", createOnly), EEXIST);
  ::close(folder);
  EXPECT_EQ(contents(root_ / "item"), "first");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(DurableWriteTest, AFailureLeavesTheOldFileAndNoTemporaryFile) {
  const fs::path file = root_ / "settings.json";
  writeFileDurably(file, "old");
  const DurableWriteOptions interrupted{
      .afterSync = [] { throw std::runtime_error("power lost"); }};
  EXPECT_THROW(writeFileDurably(file, "new", interrupted), std::runtime_error);
  fs::create_directory(root_ / "folder");
  try {
    writeFileDurably(root_ / "folder", "over a folder");
    FAIL() << "moved a file over a folder";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::is_a_directory);
  }
  EXPECT_THROW(writeFileDurably(root_ / "missing" / "file", "x"), std::system_error);
  EXPECT_EQ(contents(file), "old");
  EXPECT_EQ(entries(), 2u);
}

}  // namespace
}  // namespace voduzazi
