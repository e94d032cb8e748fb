#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/auth/storage_test_support.hpp"
#include "voduzazi/auth/keychain_local_storage.hpp"

namespace voduzazi::auth {
namespace {

using Code = KeychainError::Code;

TEST(KeychainError, CodesAndTexts) {
  EXPECT_EQ(Code::fromRawValue(-25300).kind(), Code::Kind::itemNotFound);
  EXPECT_EQ(Code::fromRawValue(-25300).text(), "errSecItemNotFound: The item cannot be found.");
  EXPECT_EQ(Code::fromRawValue(-25299).text(), "errSecDuplicateItem: The item already exists.");
  EXPECT_EQ(Code::fromRawValue(-26275).kind(), Code::Kind::decodeFailed);
  EXPECT_EQ(Code::fromRawValue(0).kind(), Code::Kind::other);
  EXPECT_EQ(Code::fromRawValue(0).text(), "Unspecified Keychain error: 0.");
  EXPECT_EQ(Code::unknown("x").text(), "Unknown error: x.");
  // Codes compare by raw status alone; errors also by text.
  EXPECT_EQ(Code::other(-4), Code::fromRawValue(-4));
  EXPECT_EQ(Code::unknown("a"), Code::unknown("b"));
  EXPECT_NE(KeychainError(Code::unknown("a")), KeychainError(Code::unknown("b")));
  EXPECT_EQ(KeychainError(Code::fromRawValue(-50)), KeychainError(Code::fromRawValue(-50)));
  EXPECT_STREQ(KeychainError(Code::fromRawValue(-128)).what(),
               "errSecUserCanceled: User canceled the operation.");
}

class KeychainLocalStorageTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder_;
  KeychainLocalStorage storage_{"voduzazi.vuvere.swift", std::nullopt, folder_.path() / "secrets"};
};

TEST_F(KeychainLocalStorageTest, StoresThenReplacesThroughTheUpdatePath) {
  storage_.store("k", "one");
  storage_.store("k", "two");
  EXPECT_EQ(storage_.retrieve("k"), "two");
  storage_.remove("k");
  try {
    storage_.retrieve("k");
    FAIL() << "read a removed item";
  } catch (const KeychainError& error) {
    EXPECT_EQ(error.code().kind(), Code::Kind::itemNotFound);
    EXPECT_STREQ(error.what(), "errSecItemNotFound: The item cannot be found.");
  }
  EXPECT_THROW(storage_.remove("k"), KeychainError);
}

TEST_F(KeychainLocalStorageTest, ServiceAndGroupSeparateItems) {
  KeychainLocalStorage bare(std::nullopt, std::nullopt, folder_.path() / "secrets");
  KeychainLocalStorage grouped("voduzazi.vuvere.swift", "team.group", folder_.path() / "secrets");
  storage_.store("k", "service");
  bare.store("k", "bare");
  grouped.store("k", "grouped");
  EXPECT_EQ(storage_.retrieve("k"), "service");
  EXPECT_EQ(bare.retrieve("k"), "bare");
  EXPECT_EQ(grouped.retrieve("k"), "grouped");
}

TEST_F(KeychainLocalStorageTest, AnUntrustedItemIsAClearKeychainError) {
  storage_.store("k", "v");
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path() / "secrets")) {
    ASSERT_EQ(::chmod(entry.path().c_str(), 0604), 0);
  }
  try {
    storage_.retrieve("k");
    FAIL() << "trusted a world-readable item";
  } catch (const KeychainError& error) {
    EXPECT_EQ(error.code().kind(), Code::Kind::unknown);
    EXPECT_NE(std::string(error.what()).find("refusing to trust it"), std::string::npos);
  }
}

TEST(InMemoryAuthLocalStorage, MissingKeysReadAsNothing) {
  InMemoryAuthLocalStorage storage;
  EXPECT_FALSE(storage.retrieve("k"));
  EXPECT_NO_THROW(storage.remove("k"));
  storage.store("k", std::string("a\0b", 3));
  EXPECT_EQ(storage.retrieve("k"), std::string("a\0b", 3));
}

}  // namespace
}  // namespace voduzazi::auth
