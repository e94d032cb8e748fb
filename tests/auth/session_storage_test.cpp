#include "voduzazi/auth/session_storage.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/auth/storage_test_support.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/auth/keychain_local_storage.hpp"

namespace voduzazi::auth {
namespace {

using testing::FaultyStorage;
using testing::sampleSession;
using voduzazi::testing::lastOf;
using voduzazi::testing::RecordingLogger;

class SessionStorageTest : public ::testing::Test {
 protected:
  SessionStorage makeStorage(std::shared_ptr<AuthLocalStorage> store,
                             std::optional<std::string> key = std::nullopt) {
    return SessionStorage::live([=, this] {
      return AuthStorageConfiguration{key, store, logger_};
    });
  }

  std::vector<std::string> errors() const {
    std::vector<std::string> texts;
    for (const auto& message : logger_->messages()) {
      if (message.level == VoduzaziLogLevel::error) texts.push_back(message.message);
    }
    return texts;
  }

  // No log line may show a token.
  void expectNoTokensLogged() const {
    for (const auto& message : logger_->messages()) {
      for (std::string_view secret : {"header.payload.signature", "r-123", "newer-token"}) {
        EXPECT_EQ(message.message.find(secret), std::string::npos) << message.message;
      }
    }
  }

  std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
  std::shared_ptr<FaultyStorage> store_ = std::make_shared<FaultyStorage>();
};

TEST_F(SessionStorageTest, StoresInTheCurrentLayoutAndReadsBack) {
  auto storage = makeStorage(store_);
  Session session = sampleSession();
  EXPECT_TRUE(storage.store(session));
  auto bytes = store_->retrieve("voduzazi.auth.token");
  ASSERT_TRUE(bytes);
  EXPECT_NE(bytes->find(R"("accessToken")"), std::string::npos);
  EXPECT_EQ(bytes->find("access_token"), std::string::npos);
  EXPECT_EQ(storage.get(), session);
  storage.remove();
  EXPECT_FALSE(storage.get());
  EXPECT_TRUE(errors().empty());
}

// Reads remember their last decoding, but a change by another writer (another process signing in
// or out, an older layout put back) is always read afresh.
TEST_F(SessionStorageTest, RepeatedReadsSeeEveryChangeOfTheStoredBytes) {
  auto storage = makeStorage(store_);
  auto other = makeStorage(store_);
  const Session first = sampleSession();
  ASSERT_TRUE(storage.store(first));
  EXPECT_EQ(storage.get(), first);
  EXPECT_EQ(storage.get(), first);

  const Session second = sampleSession("newer-token");
  ASSERT_TRUE(other.store(second));
  EXPECT_EQ(storage.get(), second);
  other.remove();
  EXPECT_FALSE(storage.get());
  store_->store("voduzazi.auth.token", "not JSON");
  EXPECT_FALSE(storage.get());
  EXPECT_FALSE(storage.get());
}

TEST_F(SessionStorageTest, UsesTheCustomKey) {
  auto storage = makeStorage(store_, "custom-key");
  ASSERT_TRUE(storage.store(sampleSession()));
  EXPECT_TRUE(store_->retrieve("custom-key"));
  EXPECT_FALSE(store_->retrieve("voduzazi.auth.token"));
}

TEST_F(SessionStorageTest, UnreadableBytesGiveNoSessionAndStay) {
  store_->store("voduzazi.auth.token", "not json");
  auto storage = makeStorage(store_);
  EXPECT_FALSE(storage.get());
  EXPECT_FALSE(storage.get());
  ASSERT_EQ(errors().size(), 2u);
  EXPECT_EQ(errors()[0], "Failed to retrieve session: The given data was not valid JSON.");
  EXPECT_EQ(store_->retrieve("voduzazi.auth.token"), "not json");
  const auto message = logger_->messages().front();
  EXPECT_EQ(message.fileID, "Auth/SessionStorage");
  EXPECT_EQ(message.function, "live(clientID:)");
}

TEST_F(SessionStorageTest, AFailedStoreIsReportedAndKeepsTheOldSession) {
  auto storage = makeStorage(store_);
  Session old = sampleSession();
  ASSERT_TRUE(storage.store(old));
  store_->failStoreOf.insert("voduzazi.auth.token");
  EXPECT_FALSE(storage.store(sampleSession("newer-token")));
  ASSERT_EQ(errors().size(), 1u);
  EXPECT_EQ(errors()[0], "Failed to store session: disk full");
  EXPECT_EQ(storage.get(), old);

  store_->failRemoveOf.insert("voduzazi.auth.token");
  storage.remove();
  EXPECT_EQ(lastOf(errors(), "the error lines"), "Failed to delete session: interrupted");
  expectNoTokensLogged();
}

TEST_F(SessionStorageTest, KeychainWithNothingStoredLogsItemNotFound) {
  testing::TemporaryFolder folder;
  auto storage = makeStorage(
      std::make_shared<KeychainLocalStorage>("svc", std::nullopt, folder.path() / "secrets"));
  EXPECT_FALSE(storage.get());
  ASSERT_EQ(errors().size(), 1u);
  EXPECT_EQ(errors()[0],
            "Failed to retrieve session: errSecItemNotFound: The item cannot be found.");
  Session session = sampleSession();
  EXPECT_TRUE(storage.store(session));
  EXPECT_TRUE(storage.store(session));  // the second goes through the update path
  EXPECT_EQ(storage.get(), session);
}

// The three older layouts, as older versions wrote them.
Data authCoded(const Session& session) { return authJSONEncoder()->encode(session); }
Data wrapped(const Session& session) {
  return authJSONEncoder()->encode(
      StorageMigration::StoredSession{session, Date(std::chrono::seconds(1700000000))});
}

TEST_F(SessionStorageTest, MigratesTheOldestLayoutFromTheLegacyKey) {
  Session session = sampleSession();
  Data legacy = wrapped(session);
  ASSERT_NE(legacy.find(R"("expiration_date")"), std::string::npos);
  store_->store("voduzazi.session", legacy);
  auto storage = makeStorage(store_);
  EXPECT_EQ(storage.get(), session);
  EXPECT_FALSE(store_->retrieve("voduzazi.session"));
  EXPECT_EQ(store_->retrieve("voduzazi.auth.token"), JSONEncoder().encode(session));
  EXPECT_TRUE(errors().empty());
}

TEST_F(SessionStorageTest, UnwrapsAndReencodesValuesUnderTheSessionKey) {
  Session session = sampleSession();
  store_->store("voduzazi.auth.token", wrapped(session));
  EXPECT_EQ(makeStorage(store_).get(), session);
  EXPECT_EQ(store_->retrieve("voduzazi.auth.token"), JSONEncoder().encode(session));

  store_->store("voduzazi.auth.token", authCoded(session));
  EXPECT_EQ(makeStorage(store_).get(), session);
  EXPECT_EQ(store_->retrieve("voduzazi.auth.token"), JSONEncoder().encode(session));
  EXPECT_TRUE(errors().empty());
}

TEST_F(SessionStorageTest, ACrashBeforeTheLegacyKeyIsRemovedNeverBringsOldBytesBack) {
  Session legacySession = sampleSession("header.payload.signature");
  store_->store("voduzazi.session", authCoded(legacySession));
  store_->failRemoveOf.insert("voduzazi.session");
  auto storage = makeStorage(store_);
  EXPECT_EQ(storage.get(), legacySession);
  EXPECT_TRUE(store_->retrieve("voduzazi.session"));  // the removal was cut short

  // A refresh stores a newer session; the leftover legacy value must not replace it.
  Session newer = sampleSession("newer-token");
  ASSERT_TRUE(storage.store(newer));
  EXPECT_EQ(storage.get(), newer);
  store_->failRemoveOf.clear();
  EXPECT_EQ(storage.get(), newer);
  EXPECT_FALSE(store_->retrieve("voduzazi.session"));
  expectNoTokensLogged();
}

TEST_F(SessionStorageTest, AFailingMigrationIsLoggedAndTheReadGoesOn) {
  store_->store("voduzazi.session", authCoded(sampleSession()));
  store_->failRetrieveOf.insert("voduzazi.auth.token");
  auto storage = makeStorage(store_);
  EXPECT_FALSE(storage.get());
  ASSERT_EQ(errors().size(), 2u);
  EXPECT_EQ(errors()[0], "Storage migration 'sessionNewKey' failed: unreadable");
  EXPECT_EQ(errors()[1], "Failed to retrieve session: unreadable");
  EXPECT_TRUE(store_->retrieve("voduzazi.session"));  // kept until it can be moved safely
}

}  // namespace
}  // namespace voduzazi::auth
