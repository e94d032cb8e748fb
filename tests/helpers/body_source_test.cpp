#include "voduzazi/helpers/body_source.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace voduzazi {
namespace {

class TemporaryFile {
 public:
  explicit TemporaryFile(const Data& content) {
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TemporaryFile() { std::filesystem::remove(path_); }
  const std::filesystem::path& path() const { return path_; }
  void rewrite(const Data& content) const { std::ofstream(path_, std::ios::binary) << content; }

 private:
  std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                ("body-source-" + std::to_string(::getpid()) + ".bin");
};

TEST(BodySource, EachReaderStartsFromTheFirstByte) {
  const MemoryBodySource memory("hello world");
  EXPECT_EQ(memory.size(), 11u);
  const auto reader = memory.open();
  char piece[5];
  ASSERT_EQ(reader->read(piece, sizeof piece), 5u);
  EXPECT_EQ(readAll(memory), "hello world");

  const TemporaryFile file(Data(200000, 'f'));
  const auto source = FileBodySource::open(file.path());
  EXPECT_EQ(source->size(), 200000u);
  EXPECT_EQ(readAll(*source), Data(200000, 'f'));
  EXPECT_EQ(readAll(*source), Data(200000, 'f'));
}

TEST(BodySource, AFileThatChangedLengthSinceItWasOpenedFailsTheRead) {
  const TemporaryFile file("0123456789");
  const auto source = FileBodySource::open(file.path());
  file.rewrite("01234");
  EXPECT_THROW(readAll(*source), BodySourceError);
  file.rewrite("0123456789ABC");
  EXPECT_THROW(readAll(*source), BodySourceError);
}

TEST(BodySource, RefusesWhatIsNotAReadableRegularFile) {
  EXPECT_THROW(FileBodySource::open("/no/such/file"), BodySourceError);
  EXPECT_THROW(FileBodySource::open(std::filesystem::temp_directory_path()), BodySourceError);
}

}  // namespace
}  // namespace voduzazi
