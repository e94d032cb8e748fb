#include "voduzazi/auth/pkce.hpp"

#include <gtest/gtest.h>

#include "tests/auth/storage_test_support.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/auth/code_verifier_storage.hpp"
#include "voduzazi/auth/keychain_local_storage.hpp"

namespace voduzazi::auth {
namespace {

using voduzazi::testing::lastOf;
using voduzazi::testing::RecordingLogger;

TEST(PKCE, ChallengeIsTheS256TransformOfTheVerifier) {
  PKCE pkce = PKCE::live();
  EXPECT_EQ(pkce.generateCodeChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  EXPECT_EQ(pkce.generateCodeChallenge("").size(), 43u);
}

TEST(PKCE, VerifiersAreFreshURLSafeAndLongEnough) {
  PKCE pkce = PKCE::live();
  const std::string first = pkce.generateCodeVerifier();
  const std::string second = pkce.generateCodeVerifier();
  EXPECT_NE(first, second);
  for (const std::string& verifier : {first, second}) {
    ASSERT_EQ(verifier.size(), 86u);
    EXPECT_EQ(verifier.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos)
        << verifier;
  }
}

class CodeVerifierStorageTest : public ::testing::Test {
 protected:
  CodeVerifierStorage make(std::shared_ptr<AuthLocalStorage> store,
                           std::optional<std::string> key = std::nullopt) {
    return CodeVerifierStorage::live([=, this] {
      return AuthStorageConfiguration{key, store, logger_};
    });
  }
  std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
};

TEST_F(CodeVerifierStorageTest, KeepsTheVerifierBesideTheSessionKey) {
  auto store = std::make_shared<InMemoryAuthLocalStorage>();
  auto verifiers = make(store, "K");
  verifiers.set("verifier-1");
  EXPECT_EQ(store->retrieve("K-code-verifier"), "verifier-1");
  EXPECT_EQ(verifiers.get(), "verifier-1");
  verifiers.set(std::nullopt);
  EXPECT_FALSE(verifiers.get());
  ASSERT_FALSE(logger_->messages().empty());
  EXPECT_EQ(logger_->messages().back().message, "Code verifier not found.");
  EXPECT_EQ(logger_->messages().back().level, VoduzaziLogLevel::debug);

  make(store).set("default");
  EXPECT_EQ(store->retrieve("voduzazi.auth.token-code-verifier"), "default");

  store->store("voduzazi.auth.token-code-verifier", "bad\xff");
  EXPECT_EQ(make(store).get(), "bad\xEF\xBF\xBD");
}

TEST_F(CodeVerifierStorageTest, KeychainFailuresAreLoggedWithoutTheVerifier) {
  testing::TemporaryFolder folder;
  auto verifiers =
      make(std::make_shared<KeychainLocalStorage>(std::nullopt, std::nullopt, folder.path() / "s"));
  verifiers.set(std::nullopt);
  EXPECT_FALSE(verifiers.get());
  auto messages = logger_->messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].message,
            "Failure storing code verifier: errSecItemNotFound: The item cannot be found.");
  EXPECT_EQ(messages[1].message,
            "Failure loading code verifier: errSecItemNotFound: The item cannot be found.");
  EXPECT_EQ(messages[0].fileID, "Auth/CodeVerifierStorage");

  auto failing = std::make_shared<testing::FaultyStorage>();
  failing->failStoreOf.insert("voduzazi.auth.token-code-verifier");
  make(failing).set("secret-verifier");
  EXPECT_EQ(lastOf(logger_->messages(), "the log lines").message,
            "Failure storing code verifier: disk full");
  for (const auto& message : logger_->messages()) {
    EXPECT_EQ(message.message.find("secret-verifier"), std::string::npos);
  }
}

}  // namespace
}  // namespace voduzazi::auth
