// The facade against the in-process stand-in backend, over loopback: the road the desktop app
// takes, from sign-up to rows read with the user's token and back to the API key.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "local_backend/server.hpp"
#include "tests/postgrest/message_rows.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/helpers/http_error.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi::testing {
namespace {

// Sends through the real transport and remembers the "Authorization" each database request went
// out with, and the refresh token of each refresh grant. The records are shared with the sending
// function, which a client's late background refresh may still call after the test ended.
class WatchedSession {
 public:
  HTTPSession session() {
    HTTPSession real = HTTPSession::shared();
    return {[records = records_, send = real.data](const URLRequest& request) {
              records->remember(request);
              return send(request);
            },
            real.upload};
  }
  std::string lastAuthorization() const {
    std::lock_guard lock(records_->mutex);
    return records_->last;
  }
  // Each refresh token the auth client sent, as often as it was sent.
  std::vector<std::string> refreshTokensSent() const {
    std::lock_guard lock(records_->mutex);
    return records_->refreshTokens;
  }

 private:
  struct Records {
    // Database requests only for the bearer: the auth client may refresh the session at any time
    // (the realtime client asks for the current token on auth events), and its requests carry
    // the key.
    void remember(const URLRequest& request) {
      const std::string path = request.url.path();
      if (path.ends_with("/auth/v1/token") && request.httpBody) rememberRefresh(*request.httpBody);
      if (path.find("/rest/v1/") == std::string::npos) return;
      std::lock_guard lock(mutex);
      last = request.value("Authorization").value_or("<none>");
    }
    void rememberRefresh(const std::string& body) {
      boost::system::error_code error;
      const boost::json::value json = boost::json::parse(body, error);
      if (error || !json.is_object() || !json.as_object().contains("refresh_token")) return;
      std::lock_guard lock(mutex);
      refreshTokens.emplace_back(json.at("refresh_token").as_string());
    }

    std::mutex mutex;
    std::string last;
    std::vector<std::string> refreshTokens;
  };

  std::shared_ptr<Records> records_ = std::make_shared<Records>();
};

std::string uniqueEmail(std::string_view name) {
  static std::mt19937_64 generate{std::random_device{}()};
  return std::string(name) + "-" + std::to_string(generate()) + "@example.com";
}

class FacadeEndToEndTest : public ::testing::Test {
 protected:
  explicit FacadeEndToEndTest(std::chrono::seconds jwtExpiry = std::chrono::seconds(3600))
      : server(serverOptions(jwtExpiry)) {}

  static local_backend::ServerOptions serverOptions(std::chrono::seconds jwtExpiry) {
    local_backend::ServerOptions options;
    options.jwtExpiry = jwtExpiry;
    return options;
  }

  // One facade per user, each with a store of its own, as two installed apps would have.
  std::unique_ptr<VoduzaziClient> facade() {
    VoduzaziClientOptions options;
    options.auth.storage = std::make_shared<auth::InMemoryAuthLocalStorage>();
    options.global.session = watched.session();
    return std::make_unique<VoduzaziClient>(server.url(), server.anonKey(), options);
  }

  // Signs a new user up and gives the user's id as the rows write it.
  static std::string signUp(VoduzaziClient& client, std::string_view name) {
    const auth::AuthResponse response = client.auth().signUp(uniqueEmail(name), "a long password");
    EXPECT_TRUE(response.session());
    return boost::uuids::to_string(response.user().id);
  }

  static std::vector<Message> inbox(const VoduzaziClient& client, const std::string& user) {
    return client.from("messages")
        .select()
        .eq("receiver_id", user)
        .order("created_at")
        .execute<std::vector<Message>>()
        .value;
  }

  static std::string accessToken(const VoduzaziClient& client) {
    return client.auth().currentSession().value().accessToken;
  }

  local_backend::Server server;
  WatchedSession watched;
};

TEST_F(FacadeEndToEndTest, SignedUpUsersWriteAndReadRowsWithTheirTokens) {
  auto alice = facade();
  auto bob = facade();
  const std::string aliceID = signUp(*alice, "alice");
  const std::string bobID = signUp(*bob, "bob");

  alice->from("messages").insert(NewMessage{aliceID, bobID, "hello bob"}).execute();
  EXPECT_EQ(watched.lastAuthorization(), "Bearer " + accessToken(*alice));

  const auto messages = inbox(*bob, bobID);
  EXPECT_EQ(watched.lastAuthorization(), "Bearer " + accessToken(*bob));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].content, "hello bob");
  EXPECT_EQ(messages[0].senderId, aliceID);
}

TEST_F(FacadeEndToEndTest, RowRulesRefuseRowsOfAnotherUser) {
  auto alice = facade();
  auto mallory = facade();
  const std::string aliceID = signUp(*alice, "alice");
  const std::string malloryID = signUp(*mallory, "mallory");
  try {
    mallory->from("messages").insert(NewMessage{aliceID, malloryID, "forged"}).execute();
    FAIL() << "a row in another user's name was accepted";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.code(), "42501");
  }
  alice->from("messages").insert(NewMessage{aliceID, aliceID, "note to self"}).execute();
  EXPECT_TRUE(inbox(*mallory, aliceID).empty());  // alice's rows stay hidden from mallory
  EXPECT_EQ(inbox(*alice, aliceID).size(), 1u);
}

TEST_F(FacadeEndToEndTest, SignedOutFacadeFallsBackToTheKeyAndIsRefused) {
  auto alice = facade();
  const std::string aliceID = signUp(*alice, "alice");
  EXPECT_TRUE(inbox(*alice, aliceID).empty());
  alice->auth().signOut();
  try {
    inbox(*alice, aliceID);
    FAIL() << "a signed-out facade read messages";
  } catch (const PostgrestError& error) {
    EXPECT_EQ(error.code(), "42501");
  }
  EXPECT_EQ(watched.lastAuthorization(), "Bearer " + server.anonKey());
}

TEST_F(FacadeEndToEndTest, ChannelsCarryTheSignedInUsersTokenToRowChanges) {
  auto alice = facade();
  auto bob = facade();
  const std::string aliceID = signUp(*alice, "alice");
  const std::string bobID = signUp(*bob, "bob");
  // The sign-up's event hands bob's token to his realtime client.
  ASSERT_TRUE(eventually([&] { return bob->realtimeV2()->accessToken() == accessToken(*bob); }));
  auto inbox = bob->channel("inbox");
  auto arrivals = inbox->postgresChange<realtime::InsertAction>(
      "public", "messages", realtime::RealtimePostgresFilter::eq("receiver_id", bobID));
  inbox->subscribeWithError();
  alice->from("messages").insert(NewMessage{aliceID, bobID, "hello bob"}).execute();
  const auto arrival = arrivals.next();
  ASSERT_TRUE(arrival);
  EXPECT_EQ(arrival->record.at("content"), AnyJSON("hello bob"));
  bob->removeAllChannels();
  EXPECT_TRUE(bob->channels().empty());
  EXPECT_EQ(bob->realtimeV2()->status(), realtime::RealtimeClientStatus::disconnected);
}

// Tokens that live 20 seconds are always within the 30-second margin: every request refreshes.
class FacadeRefreshEndToEndTest : public FacadeEndToEndTest {
 protected:
  FacadeRefreshEndToEndTest() : FacadeEndToEndTest(std::chrono::seconds(20)) {}
};

TEST_F(FacadeRefreshEndToEndTest, RefreshNearExpiryReachesTheNextQuery) {
  auto alice = facade();
  const std::string aliceID = signUp(*alice, "alice");
  const auth::Session before = alice->auth().currentSession().value();
  EXPECT_TRUE(inbox(*alice, aliceID).empty());
  const auth::Session after = alice->auth().currentSession().value();
  EXPECT_NE(after.refreshToken, before.refreshToken);
  EXPECT_EQ(watched.lastAuthorization(), "Bearer " + after.accessToken);
}

// Every read refreshes, so concurrent requests keep meeting refreshes that end while they wait:
// none may send a token that a finished refresh spent (the server would end the session).
TEST_F(FacadeRefreshEndToEndTest, ConcurrentRequestsAcrossRefreshesKeepTheSession) {
  const std::string email = uniqueEmail("alice");
  std::string aliceID;
  {
    auto first = facade();
    aliceID = boost::uuids::to_string(first->auth().signUp(email, "a long password").user().id);
  }
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    auto alice = facade();
    alice->auth().signIn(email, "a long password");
    std::atomic<int> failures = 0;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread) {
      threads.emplace_back([&] {
        for (int request = 0; request < 5; ++request) {
          try {
            inbox(*alice, aliceID);
          } catch (const std::exception&) {
            ++failures;
          }
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_NO_THROW(alice->auth().session());
    // Signed out, the facade's background token requests (realtime, auto-refresh) have no
    // session left to refresh once the round is over.
    alice->auth().signOut();
  }
  const std::vector<std::string> sent = watched.refreshTokensSent();
  EXPECT_FALSE(sent.empty());
  EXPECT_EQ(std::set<std::string>(sent.begin(), sent.end()).size(), sent.size())
      << "a refresh token went out twice";
}

// The facade hands each refreshed token to its realtime clients; an event that brings no new
// token (the initial session after the refresh it caused, say) must start no refresh of its own.
TEST_F(FacadeRefreshEndToEndTest, ForwardingTokensStartsNoRefreshOfItsOwn) {
  auto alice = facade();
  const std::string aliceID = signUp(*alice, "alice");
  std::atomic<int> selects = 0;
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now();
  for (int thread = 0; thread < 2; ++thread) {
    threads.emplace_back([&] {
      for (auto next = start; next < start + std::chrono::seconds(3);
           next += std::chrono::milliseconds(250)) {
        std::this_thread::sleep_until(next);  // the app's polling pace, not a wait for anything
        EXPECT_NO_THROW(inbox(*alice, aliceID));
        ++selects;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::size_t refreshes = watched.refreshTokensSent().size();
  EXPECT_EQ(selects.load(), 24);
  EXPECT_LE(refreshes, 24u) << "at most one refresh per select";
  EXPECT_FALSE(eventually([&] { return watched.refreshTokensSent().size() > refreshes; },
                          std::chrono::seconds(2)))
      << "a refresh while nothing asked for a token";
}

}  // namespace
}  // namespace voduzazi::testing
