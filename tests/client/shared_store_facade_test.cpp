// Two programs of one user on one session store (the same XDG_DATA_HOME), each with a facade,
// against the stand-in server with tokens that live a few seconds. The test program signs in,
// refreshes and signs out; the second program (the test program started again) only polls a
// table, as the desktop app does, and keeps an older realtime channel joined. It must hear every
// change the first stores, hand each new token to its channel, and so keep the channel joined
// across several token lifetimes, without a refresh of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "local_backend/server.hpp"
#include "tests/auth/other_program.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/platform/url_session.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using auth::testing::PeerProgram;
using auth::testing::randomSuffix;
using auth::testing::TemporaryDataHome;

constexpr std::string_view watcherFlag = "--shared-store-watcher";
constexpr auto tokenLifetime = 5s;

// Lines one program writes and the other reads: "<EVENT> <access token>" for each auth event
// (the token "none" without a session), "joined", "broadcast", "refresh sent" for each refresh
// grant it sent, "failure <what>" for each select that failed, "error <message>" for each error
// its facade logged (an empty store's read among them: a failed read amid the session's refreshes
// would show there).
class Journal {
 public:
  explicit Journal(const fs::path& path) : out_(path, std::ios::app) {}
  void write(const std::string& line) {
    std::lock_guard lock(mutex_);
    out_ << line << std::endl;  // flushed, for the other program
  }

  static std::vector<std::string> read(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Every line, numbered, for a failure message: the order tells when a failure came.
  static std::string listing(const fs::path& path) {
    std::string text;
    int number = 0;
    for (const auto& line : read(path)) text += std::to_string(++number) + ": " + line + "\n";
    return text;
  }
  static bool holds(const fs::path& path, const std::string& line) {
    for (const auto& written : read(path)) {
      if (written == line) return true;
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::ofstream out_;
};

// The facade's error lines, into the journal: a read of the store that failed shows up there.
class JournalLogger final : public VoduzaziLogger {
 public:
  explicit JournalLogger(Journal& journal) : journal_(journal) {}
  void log(const VoduzaziLogMessage& message) override {
    if (message.level == VoduzaziLogLevel::error) journal_.write("error " + message.message);
  }

 private:
  Journal& journal_;
};

// The shared URL session, noting each refresh grant sent.
HTTPSession notingRefreshes(Journal& journal) {
  HTTPSession shared = HTTPSession::shared();
  return {[&journal, send = shared.data](const URLRequest& request) {
            if (request.url.path().ends_with("/auth/v1/token") &&
                request.url.query() == "grant_type=refresh_token") {
              journal.write("refresh sent");
            }
            return send(request);
          },
          shared.upload};
}

std::string eventLine(auth::AuthChangeEvent event, const std::optional<auth::Session>& session) {
  return std::string(toString(event)) + " " + (session ? session->accessToken : "none");
}

// Joins the older realtime channel "room" once the facade has handed its client a user's token;
// notes the join and each "ping" broadcast.
class Room {
 public:
  Room(const VoduzaziClient& client, Journal& journal) : client_(client), journal_(journal) {}

  void joinOnceSignedIn() {
    if (channel_ || !client_.mutableState().changedAccessToken) return;
    channel_ = client_.realtime()->channel("room");
    channel_->on("broadcast", realtime::ChannelFilter{.event = "ping"},
                 [this](const realtime::RealtimeMessage&) { journal_.write("broadcast"); });
    channel_->subscribe(std::nullopt, [this](realtime::RealtimeSubscribeStates state, const auto&) {
      if (state == realtime::RealtimeSubscribeStates::subscribed) journal_.write("joined");
    });
  }

 private:
  const VoduzaziClient& client_;
  Journal& journal_;
  std::shared_ptr<realtime::RealtimeChannel> channel_;
};

// The second program: argv holds the flag, the server URL, the anonymous key, its journal and the
// file whose existence tells it to stop.
int runWatcher(int argc, char** argv) {
  if (argc != 6) return 2;
  Journal journal(argv[4]);
  {
    VoduzaziClientOptions options;
    options.global.session = notingRefreshes(journal);
    options.global.logger = std::make_shared<JournalLogger>(journal);
    VoduzaziClient client(argv[2], argv[3], options);
    // Its wall clock runs 30 seconds behind, so that it finds no token within its refresh margin
    // however short the tokens, and leaves every refresh to the other program. Nothing is stored
    // yet, so its first look at the store (the facade's initial session) refreshed nothing.
    auth::Dependencies::update(client.auth().clientID(), [](auth::Dependencies& dependencies) {
      dependencies.date = [] { return std::chrono::system_clock::now() - 30s; };
    });
    // Set once its own listener has heard the sign-out: the store is empty from then on.
    std::atomic<bool> heardSignedOut = false;
    auto listening = client.auth().onAuthStateChange(
        [&journal, &heardSignedOut](auth::AuthChangeEvent event,
                                    const std::optional<auth::Session>& session) {
          if (event == auth::AuthChangeEvent::signedOut) heardSignedOut = true;
          journal.write(eventLine(event, session));
        });
    journal.write("started");
    Room room(client, journal);
    const fs::path stop = argv[5];
    for (auto next = std::chrono::steady_clock::now(); !fs::exists(stop); next += 200ms) {
      std::this_thread::sleep_until(next);  // the app's polling pace, not a wait for anything
      try {
        client.from("messages").select().execute();
      } catch (const std::exception& error) {
        // Without a session the table is closed to it: before the sign-in, and after the sign-out.
        // The select's own look at the store may be what found the sign-out; its listener then
        // heard it before the select went out, while the facade's auth-event task, which clears
        // the changed token, may not have handled it yet.
        if (client.mutableState().changedAccessToken && !heardSignedOut) {
          journal.write(std::string("failure ") + error.what());
        }
      }
      room.joinOnceSignedIn();
    }
  }
  return 0;
}

class SharedStoreFacadeTest : public ::testing::Test {
 protected:
  SharedStoreFacadeTest() : server_(serverOptions()) {}

  static local_backend::ServerOptions serverOptions() {
    local_backend::ServerOptions options;
    options.jwtExpiry = tokenLifetime;
    return options;
  }

  std::unique_ptr<VoduzaziClient> facade() const {
    return std::make_unique<VoduzaziClient>(server_.url(), server_.anonKey());
  }

  // A failed test says what the watcher wrote and in what order: whether a failure came amid the
  // refreshes or just after the sign-out.
  void TearDown() override {
    if (HasFailure()) ADD_FAILURE() << "the watcher's journal:\n" << Journal::listing(journal_);
  }

  // Waits until the watcher has written `line`.
  bool watcherWrote(const std::string& line, std::chrono::milliseconds limit = 10s) const {
    return eventually([&] { return Journal::holds(journal_, line); }, limit);
  }

  const TemporaryDataHome dataHome_{"shared-store-facade"};
  const fs::path journal_ = dataHome_.path() / "journal";
  const fs::path stop_ = dataHome_.path() / "stop";
  local_backend::Server server_;
};

TEST_F(SharedStoreFacadeTest, TheProgramThatDoesNotRefreshHearsEveryChangeAndItsChannelStays) {
  PeerProgram watcher({std::string(watcherFlag), server_.url(), server_.anonKey(),
                       journal_.string(), stop_.string()});
  ASSERT_TRUE(watcher.started());
  ASSERT_TRUE(watcherWrote("started", 30s));

  auto signedIn = facade();
  const auth::AuthResponse signUp =
      signedIn->auth().signUp("user" + randomSuffix() + "@example.com", "a long password");
  ASSERT_TRUE(signUp.session());
  ASSERT_TRUE(watcherWrote("SIGNED_IN " + signUp.session()->accessToken));
  ASSERT_TRUE(watcherWrote("joined"));

  // Refreshed here, one token at a time, for three lifetimes of the token the channel joined
  // with: each must reach the watcher (which hands it to its channel).
  const auto until = std::chrono::steady_clock::now() + 3 * tokenLifetime + 1s;
  int refreshes = 0;
  while (std::chrono::steady_clock::now() < until) {
    const std::string token = signedIn->auth().refreshSession().accessToken;
    ++refreshes;
    ASSERT_TRUE(watcherWrote("TOKEN_REFRESHED " + token)) << "refresh " << refreshes;
  }
  // This program's channel has not joined, so the broadcast goes over HTTP.
  EXPECT_EQ(signedIn->realtime()->channel("room")->send(realtime::RealtimeListenTypes::broadcast,
                                                        "ping", {{"n", 1}}),
            realtime::ChannelResponse::ok);
  EXPECT_TRUE(watcherWrote("broadcast")) << "the channel was no longer joined";

  signedIn->auth().signOut();
  EXPECT_TRUE(watcherWrote("SIGNED_OUT none"));
  std::ofstream(stop_) << "stop\n";
  EXPECT_EQ(watcher.exitStatus(30s), 0);
  for (const auto& line : Journal::read(journal_)) {
    EXPECT_NE(line, "refresh sent") << "the watcher refreshed";
    EXPECT_FALSE(line.starts_with("failure ")) << line;
  }
}

}  // namespace
}  // namespace voduzazi::testing

int main(int argc, char** argv) {
  if (argc > 1 && argv[1] == voduzazi::testing::watcherFlag) {
    return voduzazi::testing::runWatcher(argc, argv);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
