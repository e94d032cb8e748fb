// Two processes of one user sharing one session store (the same XDG_DATA_HOME), each with an auth
// client whose two threads make requests, against the stand-in server, which spends a refresh
// token on first use and ends the whole session when it comes again. The test program starts
// itself as the second process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "local_backend/server.hpp"
#include "tests/auth/other_program.hpp"
#include "tests/auth/storage_test_support.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/auth_error.hpp"
#include "voduzazi/auth/keychain_local_storage.hpp"
#include "voduzazi/auth/session_storage.hpp"
#include "voduzazi/platform/application_lifecycle.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi::auth::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view peerFlag = "--shared-store-peer";
constexpr std::string_view holderFlag = "--refresh-turn-holder";
constexpr std::string_view writerFlag = "--session-writer";
const std::string service = "voduzazi.vuvere.swift";
const std::string sessionKey = "voduzazi.auth.token";
const std::string password = "correct horse battery";

// What one process did: the refresh tokens it sent, and its requests that failed.
class Outcome {
 public:
  void sent(std::string token) {
    std::lock_guard lock(mutex_);
    tokens_.push_back(std::move(token));
  }
  void failed(std::string what) {
    std::lock_guard lock(mutex_);
    failures_.push_back(std::move(what));
  }
  void add(const Outcome& other) {
    std::scoped_lock lock(mutex_, other.mutex_);
    tokens_.insert(tokens_.end(), other.tokens_.begin(), other.tokens_.end());
    failures_.insert(failures_.end(), other.failures_.begin(), other.failures_.end());
  }
  std::vector<std::string> tokens() const {
    std::lock_guard lock(mutex_);
    return tokens_;
  }
  std::vector<std::string> failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
  }

  // One line per entry: "t <token>" or "f <failure>".
  void write(const fs::path& path) const {
    std::ofstream out(path);
    for (const auto& token : tokens()) out << "t " << token << '\n';
    for (const auto& failure : failures()) out << "f " << failure << '\n';
  }
  // Adds what write() put into the file.
  void addFrom(const fs::path& path) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with("t ")) sent(line.substr(2));
      if (line.starts_with("f ")) failed(line.substr(2));
    }
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> tokens_;
  std::vector<std::string> failures_;
};

// The shared URL session, noting each refresh token sent.
FetchHandler notingRefreshTokens(Outcome& outcome) {
  return [&outcome, fetch = defaultFetch()](const URLRequest& request) {
    if (request.url.path().ends_with("/token") &&
        request.url.query() == "grant_type=refresh_token" && request.httpBody) {
      const auto body = boost::json::parse(*request.httpBody);
      outcome.sent(std::string(body.at("refresh_token").as_string()));
    }
    return fetch(request);
  };
}

// An auth client over the default store, which lives under $XDG_DATA_HOME.
std::unique_ptr<AuthClient> clientOf(const std::string& url, const std::string& anonKey,
                                     Outcome& outcome) {
  AuthClientConfiguration::Options options;
  options.url = boost::urls::url(url + "/auth/v1");
  options.headers = {{"apikey", anonKey}};
  options.localStorage = defaultLocalStorage();
  options.fetch = notingRefreshTokens(outcome);
  options.autoRefreshToken = false;
  return std::make_unique<AuthClient>(AuthClientConfiguration(std::move(options)),
                                      std::make_shared<ApplicationLifecycle>());
}

// Two threads asking the server for the signed-in user (so for a usable session, refreshed when
// due) until `until`.
void makeRequests(const AuthClient& client, Outcome& outcome,
                  std::chrono::steady_clock::time_point until) {
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 2; ++thread) {
    threads.emplace_back([&] {
      while (std::chrono::steady_clock::now() < until) {
        try {
          client.user();
        } catch (const std::exception& error) {
          outcome.failed(error.what());
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

// The second process: argv holds the flag, the server URL, the anonymous key, the milliseconds to
// run and the file to write the outcome to.
int runPeer(int argc, char** argv) {
  if (argc != 6) return 2;
  Outcome outcome;
  {
    auto client = clientOf(argv[2], argv[3], outcome);
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::stol(argv[4]));
    makeRequests(*client, outcome, until);
  }
  outcome.write(argv[5]);
  return 0;
}

// The process that holds a refresh turn until it is killed: argv holds the flag, the store's
// folder and a file to create once it holds the turn.
int holdTurn(int argc, char** argv) {
  if (argc != 4) return 2;
  KeychainLocalStorage store(service, std::nullopt, fs::path(argv[2]));
  const SecretItemLock turn = store.lock(sessionKey, 10s);
  std::ofstream(argv[3]) << "holding\n";
  // Killed long before; ends by itself should the test die first.
  std::this_thread::sleep_for(60s);
  return 0;
}

// The session storage of a program on the store in `folder`, logging to `logger`.
SessionStorage sessionsIn(const fs::path& folder, std::shared_ptr<VoduzaziLogger> logger) {
  auto store = std::make_shared<KeychainLocalStorage>(service, std::nullopt, folder);
  return SessionStorage::live([store, logger = std::move(logger)] {
    return AuthStorageConfiguration{std::nullopt, store, logger};
  });
}

// The process that stores one new session after another, as a program refreshing in a tight
// loop does, until a file appears: argv holds the flag, the store's folder and that file.
int writeSessions(int argc, char** argv) {
  if (argc != 4) return 2;
  const SessionStorage storage = sessionsIn(argv[2], nullptr);
  const fs::path stop = argv[3];
  for (int written = 1; !fs::exists(stop); ++written) {
    if (!storage.store(sampleSession("token-" + std::to_string(written)))) return 1;
  }
  return 0;
}

class SharedStoreRefreshTest : public ::testing::Test {
 protected:
  // One round: a new user signs up in this process; then both processes make requests for
  // `duration` with sessions that last `jwtExpiry`.
  void runRound(std::chrono::seconds jwtExpiry, std::chrono::milliseconds duration) {
    const TemporaryDataHome dataHome("shared-store");
    local_backend::ServerOptions serverOptions;
    serverOptions.jwtExpiry = jwtExpiry;
    local_backend::Server server(serverOptions);

    Outcome mine;
    auto client = clientOf(server.url(), server.anonKey(), mine);
    ASSERT_NE(client->signUp("user" + randomSuffix() + "@example.com", password).session(),
              nullptr);
    const fs::path peerOutcome = dataHome.path() / "peer-outcome";
    PeerProgram peer({std::string(peerFlag), server.url(), server.anonKey(),
                      std::to_string(duration.count()), peerOutcome.string()});
    ASSERT_TRUE(peer.started());
    makeRequests(*client, mine, std::chrono::steady_clock::now() + duration);
    EXPECT_EQ(peer.exitStatus(60s), 0);

    Outcome both;
    both.add(mine);
    both.addFrom(peerOutcome);
    const std::vector<std::string> failures = both.failures();
    EXPECT_EQ(failures.size(), 0u) << "first failure: " << failures.front();
    const std::vector<std::string> sent = both.tokens();
    EXPECT_FALSE(sent.empty()) << "no refresh in the round";
    EXPECT_EQ(std::set<std::string>(sent.begin(), sent.end()).size(), sent.size())
        << "a refresh token was sent twice";
    EXPECT_NO_THROW(client->user()) << "the session outlived the round";
  }
};

TEST_F(SharedStoreRefreshTest, TwoProcessesTakeTurnsToRefreshAndNeverSpendATokenTwice) {
  // Sessions of 20 seconds are refreshed at every read; those of 31 seconds fall due in both
  // processes at the same moment, about once a second.
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    runRound(round % 2 == 0 ? 20s : 31s, 3s);
    if (HasFailure()) break;
  }
}

TEST(SharedStoreRefreshTurn, AProgramThatDiesHoldingTheTurnBlocksNoOther) {
  const fs::path root = fs::temp_directory_path() / ("refresh-turn-" + randomSuffix());
  fs::create_directories(root);
  const fs::path holding = root / "holding";
  PeerProgram holder({std::string(holderFlag), (root / "secrets").string(), holding.string()});
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(voduzazi::testing::eventually([&] { return fs::exists(holding); }, 60s));

  KeychainLocalStorage store(service, std::nullopt, root / "secrets");
  EXPECT_THROW(store.lock(sessionKey, 100ms), KeychainError) << "the other program holds it";
  holder.kill();
  EXPECT_NO_THROW(store.lock(sessionKey, 60s));
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

// A program that looks at the store while another replaces the session in it finds the old
// session or the new one, never none and never a failed read.
TEST(SharedStoreReads, ALookDuringAnotherProgramsWritesFindsASession) {
  const TemporaryFolder root;
  const fs::path folder = root.path() / "secrets";
  const fs::path stop = root.path() / "stop";
  auto logger = std::make_shared<voduzazi::testing::RecordingLogger>();
  const SessionStorage storage = sessionsIn(folder, logger);
  ASSERT_TRUE(storage.store(sampleSession("token-0")));
  PeerProgram writer({std::string(writerFlag), folder.string(), stop.string()});
  ASSERT_TRUE(writer.started());
  ASSERT_TRUE(voduzazi::testing::eventually(
      [&] { return storage.get().value_or(sampleSession()).accessToken != "token-0"; }, 60s))
      << "the other program wrote nothing";

  int none = 0;
  std::set<std::string> seen;
  for (int look = 0; look < 10000; ++look) {
    const std::optional<Session> session = storage.get();
    if (session) {
      seen.insert(session->accessToken);
    } else {
      ++none;
    }
  }
  std::ofstream(stop) << "stop\n";
  std::printf("10000 looks during the other program's writes: %zu sessions seen, %d none\n",
              seen.size(), none);
  EXPECT_EQ(writer.exitStatus(60s), 0);
  EXPECT_EQ(none, 0) << "of 10000 looks";
  EXPECT_GT(seen.size(), 1u) << "the looks saw no write";
  for (const auto& message : logger->messages()) ADD_FAILURE() << message.message;
}

}  // namespace
}  // namespace voduzazi::auth::testing

int main(int argc, char** argv) {
  if (argc > 1 && argv[1] == voduzazi::auth::testing::peerFlag) {
    return voduzazi::auth::testing::runPeer(argc, argv);
  }
  if (argc > 1 && argv[1] == voduzazi::auth::testing::holderFlag) {
    return voduzazi::auth::testing::holdTurn(argc, argv);
  }
  if (argc > 1 && argv[1] == voduzazi::auth::testing::writerFlag) {
    return voduzazi::auth::testing::writeSessions(argc, argv);
  }
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
