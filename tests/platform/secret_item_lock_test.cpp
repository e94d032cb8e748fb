#include "voduzazi/platform/secret_item_lock.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/platform/secret_store.hpp"

namespace voduzazi {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SecretItemLockTest : public ::testing::Test {
 protected:
  ~SecretItemLockTest() override { fs::remove_all(root_); }

  static fs::path temporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "secret-lock-XXXXXX").string();
    return ::mkdtemp(pattern.data());
  }

  fs::path lockFile() const {
    return store_.folder() / ("lock" + SecretStore::fileName(query_).substr(4));
  }

  fs::path root_ = temporaryFolder();
  SecretStore store_{root_ / "secrets"};
  SecretItemQuery query_{.service = "voduzazi.vuvere.swift", .account = "voduzazi.auth.token"};
};

TEST_F(SecretItemLockTest, OneHolderAtATimeForEachItem) {
  std::optional<SecretItemLock> held = store_.lockItem(query_, 1s);
  // Another holder in this same process is kept out as one in another process would be.
  EXPECT_THROW(store_.lockItem(query_, 50ms), SecretStoreError);
  SecretItemQuery other = query_;
  other.account = "other";
  EXPECT_NO_THROW(store_.lockItem(other, 50ms));
  // Only lock holders wait: the item itself stays readable and writable.
  EXPECT_EQ(store_.add(query_, "bytes"), secStatus::success);
  Data value;
  EXPECT_EQ(store_.copyMatching(query_, value), secStatus::success);

  SecretItemLock moved = std::move(*held);
  held.reset();
  EXPECT_THROW(store_.lockItem(query_, 50ms), SecretStoreError) << "a move keeps it held";
  { SecretItemLock released = std::move(moved); }
  EXPECT_NO_THROW(store_.lockItem(query_, 1s));

  // The lock file stays, owner-only, and is no item.
  struct stat status {};
  ASSERT_EQ(::lstat(lockFile().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_FALSE(SecretStore::itemQuery(lockFile().filename().string()));
}

TEST_F(SecretItemLockTest, AWaiterGetsTheLockOnceItIsReleased) {
  std::optional<SecretItemLock> held = store_.lockItem(query_, 1s);
  std::atomic<bool> acquired = false;
  std::thread waiter([&] {
    SecretItemLock lock = store_.lockItem(query_, 60s);
    acquired = true;
  });
  EXPECT_FALSE(acquired);
  held.reset();
  EXPECT_TRUE(testing::eventually([&] { return acquired.load(); }, 60s));
  waiter.join();
}

TEST_F(SecretItemLockTest, ACancelledWaiterStopsWaiting) {
  std::optional<SecretItemLock> held = store_.lockItem(query_, 1s);
  Task<void> waiter([&] { SecretItemLock lock = store_.lockItem(query_, 3600s); });
  waiter.cancel();
  // Without the cancellation the waiter would hold this for an hour.
  EXPECT_THROW(waiter.value(), CancellationError);
}

TEST_F(SecretItemLockTest, ALockFileThatIsNoRegularFileIsRefusedWithoutWaiting) {
  ASSERT_EQ(store_.add(query_, "bytes"), secStatus::success);  // makes the owner-only folder
  ASSERT_EQ(::mkfifo(lockFile().c_str(), 0600), 0) << std::strerror(errno);
  EXPECT_THROW(store_.lockItem(query_, 60s), SecretStoreError);
  fs::remove(lockFile());
  fs::create_symlink(root_ / "elsewhere", lockFile());
  EXPECT_THROW(store_.lockItem(query_, 60s), SecretStoreError);
  EXPECT_FALSE(fs::exists(root_ / "elsewhere")) << "the link was not followed";
}

}  // namespace
}  // namespace voduzazi
