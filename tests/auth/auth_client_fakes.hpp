// Fakes for the auth client's tests: a scripted auth server behind the fetch function, session
// bodies, an event recorder and a fixture that builds clients around them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/helpers/test_support.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/auth_local_storage.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/clocks/test_clock.hpp"
#include "voduzazi/platform/notification_center.hpp"

namespace voduzazi::auth::testing {

using voduzazi::testing::eventually;
using voduzazi::testing::RecordingLogger;

// "2024-01-01" in the version header, as the server of this API version answers.
HeaderFieldList versionHeader();

// Answers each request with what `respond` gives and keeps every request it saw.
// Shared objects: safe. Lifetime: held by shared_ptr by the fetch functions it hands out.
class FakeAuthServer : public std::enable_shared_from_this<FakeAuthServer> {
 public:
  using Responder = std::function<FetchResult(const URLRequest&)>;

  static std::shared_ptr<FakeAuthServer> make();

  FetchHandler handler();
  void respond(Responder responder);
  // Answers every request with this status and body (and the version header).
  void respondWith(int status, std::string body, HeaderFieldList headers = versionHeader());

  std::vector<URLRequest> requests() const;
  std::size_t requestCount() const;

  static FetchResult answer(const URLRequest& request, int status, std::string body,
                            HeaderFieldList headers = versionHeader());

 private:
  mutable std::mutex mutex_;
  Responder responder_;
  std::vector<URLRequest> requests_;
};

// Holds back whoever passes until it is opened, so a test can act while a request is under way.
class Gate {
 public:
  // Counts the arrival, then waits until the gate is open.
  void pass();
  void open();
  int arrivals() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
  int arrivals_ = 0;
};

// Observes the auth-change notification and holds the first `event` it sees at `gate`, on
// whichever thread posts it: an observer that takes its time (one that writes each change to
// disk, say), so that a test can act before any listener has heard the event.
NotificationCenter::ObserverToken holdFirstNotificationOf(AuthChangeEvent event, Gate& gate);

// Runs `emitting` on a task of its own and, once it has arrived at `gate` (an observer or a
// listener of the event it emits holding it there), runs `act` on this thread; then opens the
// gate and waits for the task. Gives what `emitting` threw (null when it returned).
std::exception_ptr actWhileHeld(Gate& gate, std::function<void()> emitting,
                                const std::function<void()>& act);

// Answers each refresh grant with the next session in a chain ("refresh-1" gives "refresh-2"),
// expiring in 20 seconds so that every read refreshes, and counts each token sent; a token sent a
// second time is refused as spent, as a server that guards against theft does.
// Shared objects: safe. Lifetime: must outlive the responders it hands out.
class ChainingRefreshServer {
 public:
  FakeAuthServer::Responder responder();
  // Tokens sent more than once.
  std::vector<std::string> resent() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> sent_;
};

// Answers each refresh grant with a new access token ("access-1", "access-2", ...) and the very
// refresh token it was sent, as a server that does not rotate refresh tokens does; every session
// expires in 20 seconds, so that every read refreshes. `refreshes` counts the answers.
FakeAuthServer::Responder nonRotatingRefresh(std::atomic<int>& refreshes);

// A session body as the server sends it (snake_case), expiring at `expiresAt` (seconds since 1970).
std::string sessionBody(const std::string& accessToken, const std::string& refreshToken,
                        double expiresAt);
// A bare user body.
std::string userBody();
// A session decoded from sessionBody.
Session makeSession(const std::string& accessToken, const std::string& refreshToken,
                    double expiresAt);
double secondsFromNow(double seconds);
// An unsigned token whose middle segment holds `claims`.
std::string unsignedJWT(const boost::json::object& claims);

// The query items of a request, by name.
std::map<std::string, std::string> queryOf(const URLRequest& request);
// The body of a request as a JSON object.
boost::json::object bodyOf(const URLRequest& request);

// Every event a listener received, with whether it came with a session.
class EventRecorder {
 public:
  struct Entry {
    AuthChangeEvent event;
    std::optional<Session> session;
  };
  AuthClient::Listener listener();
  std::vector<Entry> entries() const;
  std::vector<AuthChangeEvent> events() const;
  // Also called for each event, on the emitting thread.
  std::function<void(AuthChangeEvent, const std::optional<Session>&)> onEvent;

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

// Builds clients over a fake server, an in-memory store and a lifecycle of their own.
class AuthClientTest : public ::testing::Test {
 protected:
  AuthClientTest();

  AuthClientConfiguration::Options options() const;
  std::unique_ptr<AuthClient> makeClient(AuthClientConfiguration::Options options);
  std::unique_ptr<AuthClient> makeClient() { return makeClient(options()); }
  // A client of that flow, with a configured redirect URL when given, logging to `logger` when
  // asked to.
  std::unique_ptr<AuthClient> clientWith(AuthFlowType flow,
                                         std::optional<std::string> redirect = std::nullopt,
                                         bool logs = false);
  // Puts a session into the store as a previous run would have left it, or as another program
  // sharing the store writes it (which the client announces when it next looks, if it has
  // looked before).
  void storeSession(const AuthClient& client, const Session& session);
  // Puts a session into the store as the client's own write, as a sign-in of this program whose
  // event the test leaves out.
  void storeSessionHere(const AuthClient& client, const Session& session);
  // Makes the client's wall clock and sleeps follow `clock`, starting at `start`.
  void driveTimeWith(const AuthClient& client, const std::shared_ptr<TestClock>& clock, Date start);

  std::shared_ptr<FakeAuthServer> server = FakeAuthServer::make();
  std::shared_ptr<InMemoryAuthLocalStorage> storage = std::make_shared<InMemoryAuthLocalStorage>();
  std::shared_ptr<ApplicationLifecycle> lifecycle = std::make_shared<ApplicationLifecycle>();
  std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
};

}  // namespace voduzazi::auth::testing
