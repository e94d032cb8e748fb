// One instance per settings folder: a second lock on the folder is refused while the first is
// held, in this process or another, and a holder that is killed leaves it free.
#include "tapwick/instance_lock.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

namespace tapwick {
namespace {

class InstanceLockTest : public ::testing::Test {
 protected:
  InstanceLockTest() {
    static std::atomic<int> counter{0};
    folder = std::filesystem::temp_directory_path() /
             ("tapwick-lock-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  }
  ~InstanceLockTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  std::filesystem::path lockIn(const std::string& user) {
    return InstanceLock::pathBeside(folder / user / "tapwick" / "defaults.json");
  }

  std::filesystem::path folder;
};

TEST_F(InstanceLockTest, ASecondLockOnTheFolderIsRefusedUntilTheFirstIsReleased) {
  auto first = InstanceLock::acquire(lockIn("alice"));
  ASSERT_TRUE(first) << "the folder is made when missing";
  EXPECT_EQ(std::filesystem::status(lockIn("alice").parent_path()).permissions(),
            std::filesystem::perms::owner_all);
  EXPECT_FALSE(InstanceLock::acquire(lockIn("alice")));
  // Another user's folders, as two instances side by side have.
  EXPECT_TRUE(InstanceLock::acquire(lockIn("bob")));
  first.reset();
  EXPECT_TRUE(InstanceLock::acquire(lockIn("alice")));
}

TEST_F(InstanceLockTest, AKilledHolderLeavesTheLockFree) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    auto lock = InstanceLock::acquire(lockIn("alice"));
    const char held = lock ? 'y' : 'n';
    if (::write(ready[1], &held, 1) != 1) ::_exit(2);
    for (;;) ::pause();  // until killed
  }
  ::close(ready[1]);
  char held = 0;
  const bool told = ::read(ready[0], &held, 1) == 1;
  ::close(ready[0]);
  const bool refusedWhileHeld = !InstanceLock::acquire(lockIn("alice"));
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ASSERT_TRUE(told && held == 'y') << "the other process did not take the lock";
  EXPECT_TRUE(refusedWhileHeld);
  EXPECT_TRUE(InstanceLock::acquire(lockIn("alice")));
}

TEST_F(InstanceLockTest, AFileThatCannotBeOpenedIsAnError) {
  std::filesystem::create_directories(lockIn("alice"));  // a folder where the file would be
  EXPECT_THROW(InstanceLock::acquire(lockIn("alice")), std::system_error);
}

}  // namespace
}  // namespace tapwick
