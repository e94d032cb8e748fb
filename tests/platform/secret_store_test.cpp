#include "voduzazi/platform/secret_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/eventually.hpp"

namespace voduzazi {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

class SecretStoreTest : public ::testing::Test {
 protected:
  SecretStoreTest() {
    std::string pattern = (fs::temp_directory_path() / "secret-store-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    folder_ = root_ / "data" / "secrets";
  }
  ~SecretStoreTest() override { fs::remove_all(root_); }

  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  Data read(const SecretStore& store, const SecretItemQuery& query) {
    Data value;
    EXPECT_EQ(store.copyMatching(query, value), secStatus::success);
    return value;
  }

  fs::path root_;
  fs::path folder_;
  SecretItemQuery query_{.service = "voduzazi.vuvere.swift", .account = "voduzazi.auth.token"};
};

TEST_F(SecretStoreTest, AddsUpdatesReadsAndRemovesItems) {
  SecretStore store(folder_);
  Data value;
  EXPECT_EQ(store.copyMatching(query_, value), secStatus::itemNotFound);
  EXPECT_EQ(store.update(query_, "x"), secStatus::itemNotFound);
  EXPECT_EQ(store.remove(query_), secStatus::itemNotFound);

  EXPECT_EQ(store.add(query_, "first"), secStatus::success);
  EXPECT_EQ(store.add(query_, "second"), secStatus::duplicateItem);
  EXPECT_EQ(read(store, query_), "first");
  EXPECT_EQ(store.update(query_, std::string("sec\0ond", 7)), secStatus::success);
  EXPECT_EQ(read(store, query_), std::string("sec\0ond", 7));

  EXPECT_EQ(store.remove(query_), secStatus::success);
  EXPECT_EQ(store.remove(query_), secStatus::itemNotFound);
  EXPECT_EQ(store.copyMatching(query_, value), secStatus::itemNotFound);
  EXPECT_TRUE(folderEntries().empty());
}

TEST_F(SecretStoreTest, MakesAnOwnerOnlyFolderAndOwnerOnlyItems) {
  SecretStore store(folder_);
  ASSERT_EQ(store.add(query_, "v"), secStatus::success);
  EXPECT_EQ(modeOf(folder_), 0700u);
  EXPECT_EQ(modeOf(folder_.parent_path()), 0700u);
  ASSERT_EQ(folderEntries().size(), 1u);
  EXPECT_EQ(modeOf(folder_ / folderEntries()[0]), 0600u);

  // An existing folder open to group or others is refused, for reads and writes alike: anyone
  // with access could have planted or swapped items.
  fs::path existing = root_ / "existing";
  ASSERT_EQ(::mkdir(existing.c_str(), 0700), 0);
  ASSERT_EQ(SecretStore(existing).add(query_, "v"), secStatus::success);
  for (const mode_t open : {0750u, 0705u, 0777u}) {
    ASSERT_EQ(::chmod(existing.c_str(), open), 0);
    Data value;
    try {
      SecretStore(existing).copyMatching(query_, value);
      FAIL() << "used a folder of mode " << std::oct << open;
    } catch (const SecretStoreError& error) {
      EXPECT_NE(std::string(error.what()).find("open to group or others"), std::string::npos)
          << error.what();
    }
    EXPECT_THROW(SecretStore(existing).update(query_, "w"), SecretStoreError);
    EXPECT_EQ(modeOf(existing), open) << "left as its owner made it";
  }
}

TEST_F(SecretStoreTest, AnInterruptedWriteLeavesTheOldItemAndNoTemporaryFile) {
  SecretStore store(folder_);
  ASSERT_EQ(store.add(query_, "old"), secStatus::success);
  SecretStore interrupted(folder_,
                          [](SecretStore::WriteStep) { throw std::runtime_error("power lost"); });
  EXPECT_THROW(interrupted.update(query_, "new"), std::runtime_error);
  EXPECT_THROW(interrupted.add({.account = "other"}, "new"), std::runtime_error);
  EXPECT_EQ(read(store, query_), "old");
  EXPECT_EQ(folderEntries().size(), 1u);
  Data value;
  EXPECT_EQ(store.copyMatching({.account = "other"}, value), secStatus::itemNotFound);
}

TEST_F(SecretStoreTest, TemporaryFilesLeftByACrashAreNotItems) {
  SecretStore store(folder_);
  ASSERT_EQ(store.add(query_, "old"), secStatus::success);
  std::ofstream(folder_ / ".tmp.0123456789abcdef01234567") << "torn";
  EXPECT_EQ(read(store, query_), "old");
  EXPECT_FALSE(SecretStore::itemQuery(".tmp.0123456789abcdef01234567"));
  EXPECT_EQ(store.update(query_, "new"), secStatus::success);
  EXPECT_EQ(read(store, query_), "new");
}

TEST_F(SecretStoreTest, RefusesItemsOthersCouldReachOrReplace) {
  SecretStore store(folder_);
  ASSERT_EQ(store.add(query_, "v"), secStatus::success);
  const fs::path item = folder_ / SecretStore::fileName(query_);
  ASSERT_EQ(::chmod(item.c_str(), 0644), 0);
  Data value;
  try {
    store.copyMatching(query_, value);
    FAIL() << "read a world-readable item";
  } catch (const SecretStoreError& error) {
    EXPECT_NE(std::string(error.what()).find("0644"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(value.empty());

  ASSERT_EQ(::chmod(item.c_str(), 0600), 0);
  const SecretItemQuery linked{.account = "linked"};
  fs::create_symlink(item, folder_ / SecretStore::fileName(linked));
  EXPECT_THROW(store.copyMatching(linked, value), SecretStoreError);

  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(item.c_str(), 4242, 4242), 0);
    EXPECT_THROW(store.copyMatching(query_, value), SecretStoreError);
  }
}

// A write must not be stopped by an item that reads refuse: the new item replaces it, or the
// session it holds would be lost while the sign-in reports success.
TEST_F(SecretStoreTest, AnUpdateReplacesAnUntrustedItemAndNeverFollowsALink) {
  SecretStore store(folder_);
  ASSERT_EQ(store.add(query_, "v"), secStatus::success);
  const fs::path item = folder_ / SecretStore::fileName(query_);
  ASSERT_EQ(::chmod(item.c_str(), 0644), 0);
  EXPECT_EQ(store.update(query_, "open mode"), secStatus::success);
  EXPECT_EQ(modeOf(item), 0600u);
  EXPECT_EQ(read(store, query_), "open mode");

  fs::resize_file(item, 16 * 1024 * 1024 + 1);
  EXPECT_EQ(store.update(query_, "was too large"), secStatus::success);
  EXPECT_EQ(read(store, query_), "was too large");

  const fs::path elsewhere = root_ / "elsewhere";
  std::ofstream(elsewhere) << "not an item";
  fs::remove(item);
  fs::create_symlink(elsewhere, item);
  EXPECT_EQ(store.update(query_, "was a link"), secStatus::success);
  EXPECT_FALSE(fs::is_symlink(item));
  EXPECT_EQ(read(store, query_), "was a link");
  std::ifstream target(elsewhere);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "not an item");

  fs::remove(item);
  fs::create_directory(item);
  try {
    store.update(query_, "over a folder");
    FAIL() << "wrote over a folder";
  } catch (const SecretStoreError& error) {
    EXPECT_NE(std::string(error.what()).find("is a folder"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(fs::is_directory(item));
  EXPECT_EQ(folderEntries().size(), 1u) << "no temporary file left behind";
}

TEST_F(SecretStoreTest, AnyKeyStaysInsideTheFolderAndMapsToItsOwnItem) {
  SecretStore store(folder_);
  const std::vector<std::string> accounts{
      "/", "..", ".", "../../escape", "a/b", std::string("nul\0byte", 8), "ключ-🔑", "x.y", ""};
  for (const std::string& account : accounts) {
    ASSERT_EQ(store.add({.account = account}, "value of " + account), secStatus::success);
  }
  for (const std::string& account : accounts) {
    EXPECT_EQ(read(store, {.account = account}), "value of " + account);
    const std::string name = SecretStore::fileName({.account = account});
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_EQ(SecretStore::itemQuery(name), (SecretItemQuery{.account = account}));
  }
  EXPECT_EQ(folderEntries().size(), accounts.size());
  EXPECT_FALSE(fs::exists(root_ / "escape"));

  // Absent and empty service or group are different items.
  ASSERT_EQ(store.add({.service = "", .account = "k"}, "empty"), secStatus::success);
  ASSERT_EQ(store.add({.account = "k", .accessGroup = "g"}, "group"), secStatus::success);
  EXPECT_EQ(read(store, {.service = "", .account = "k"}), "empty");
  EXPECT_EQ(read(store, {.account = "k", .accessGroup = "g"}), "group");
  Data value;
  EXPECT_EQ(store.copyMatching({.account = "k"}, value), secStatus::itemNotFound);
}

TEST_F(SecretStoreTest, RejectsKeysTooLongForAFileNameAndForeignNames) {
  SecretStore store(folder_);
  EXPECT_EQ(store.add({.account = std::string(400, 'k')}, "v"), secStatus::param);
  EXPECT_FALSE(SecretStore::itemQuery("item.n.vAB.n.extra"));
  EXPECT_FALSE(SecretStore::itemQuery("item.n.v!.n"));
  EXPECT_FALSE(SecretStore::itemQuery("item.n.vQR.n"));  // non-zero spare bits: not canonical
  EXPECT_FALSE(SecretStore::itemQuery("other.n.vQQ.n"));
}

// Sets an environment variable for one scope and restores it afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedVariable() { previous_ ? ::setenv(name_, previous_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

TEST(SecretStoreFolder, FollowsTheDataHomeVariable) {
  ScopedVariable home("HOME", "/home/someone");
  {
    ScopedVariable dataHome("XDG_DATA_HOME", "/tmp/data-home");
    EXPECT_EQ(SecretStore::defaultFolder(), fs::path("/tmp/data-home/voduzazi-secrets"));
  }
  {
    ScopedVariable dataHome("XDG_DATA_HOME", "relative");  // not absolute: ignored
    EXPECT_EQ(SecretStore::defaultFolder(),
              fs::path("/home/someone/.local/share/voduzazi-secrets"));
  }
  ScopedVariable noDataHome("XDG_DATA_HOME", nullptr);
  ScopedVariable noHome("HOME", nullptr);
  EXPECT_THROW(SecretStore::defaultFolder(), SecretStoreError);
}

}  // namespace
}  // namespace voduzazi

namespace voduzazi {
namespace {

// Replaces an item the way another process's store does: a new file renamed over it.
void replaceBehindTheStore(const fs::path& item, const std::string& bytes) {
  const fs::path temporary = item.string() + ".other-process";
  {
    std::ofstream out(temporary, std::ios::binary);
    out << bytes;
  }
  fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write);
  fs::rename(temporary, item);
}

// Waits (bounded) until the item's last change is more than a second old, the age from which
// reads may be served from memory.
bool settled(const fs::path& item) {
  return testing::eventually(
      [&] {
        struct stat status {};
        if (::lstat(item.c_str(), &status) != 0) return false;
        const auto changed = std::chrono::seconds(status.st_ctim.tv_sec) +
                             std::chrono::nanoseconds(status.st_ctim.tv_nsec);
        return std::chrono::system_clock::now().time_since_epoch() - changed >
               std::chrono::milliseconds(1100);
      },
      std::chrono::seconds(5));
}

TEST_F(SecretStoreTest, RepeatedReadsSeeChangesFromOtherProcessesAndTrustChecks) {
  SecretStore store(folder_);
  ASSERT_EQ(store.add(query_, "first-value"), secStatus::success);
  const fs::path item = folder_ / SecretStore::fileName(query_);
  ASSERT_TRUE(settled(item));
  EXPECT_EQ(read(store, query_), "first-value");
  EXPECT_EQ(read(store, query_), "first-value");  // from memory now

  // Same size, written at once: a new file, so a new inode or change time.
  replaceBehindTheStore(item, "other-value");
  EXPECT_EQ(read(store, query_), "other-value");
  ASSERT_TRUE(settled(item));
  EXPECT_EQ(read(store, query_), "other-value");

  // A remembered item that others can now read is refused, not served.
  fs::permissions(item, fs::perms::group_read, fs::perm_options::add);
  Data value;
  EXPECT_THROW(store.copyMatching(query_, value), SecretStoreError);
  fs::permissions(item, fs::perms::group_read, fs::perm_options::remove);
  ASSERT_TRUE(settled(item));
  EXPECT_EQ(read(store, query_), "other-value");
  EXPECT_EQ(read(store, query_), "other-value");  // from memory again
  // So is a remembered item whose folder others can now reach.
  ASSERT_EQ(::chmod(folder_.c_str(), 0770), 0);
  EXPECT_THROW(store.copyMatching(query_, value), SecretStoreError);
  ASSERT_EQ(::chmod(folder_.c_str(), 0700), 0);
  EXPECT_EQ(read(store, query_), "other-value");

  fs::remove(item);
  EXPECT_EQ(store.copyMatching(query_, value), secStatus::itemNotFound);
  // A store of the same folder sees this one's writes at once.
  ASSERT_EQ(SecretStore(folder_).add(query_, "third-value"), secStatus::success);
  EXPECT_EQ(read(store, query_), "third-value");
}

}  // namespace
}  // namespace voduzazi
