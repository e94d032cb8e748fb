#include "tests/auth/auth_client_fakes.hpp"

#include <any>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/url/url_view.hpp>

#include "voduzazi/auth/auth_state_change_event_emitter.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/detail/base64.hpp"

namespace voduzazi::auth::testing {

HeaderFieldList versionHeader() { return {{"X-Voduzazi-Api-Version", "2024-01-01"}}; }

std::shared_ptr<FakeAuthServer> FakeAuthServer::make() {
  auto server = std::make_shared<FakeAuthServer>();
  server->respondWith(500, R"({"msg":"no answer scripted"})");
  return server;
}

FetchHandler FakeAuthServer::handler() {
  return [self = shared_from_this()](const URLRequest& request) {
    Responder responder;
    {
      std::lock_guard lock(self->mutex_);
      self->requests_.push_back(request);
      responder = self->responder_;
    }
    return responder(request);
  };
}

void FakeAuthServer::respond(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void FakeAuthServer::respondWith(int status, std::string body, HeaderFieldList headers) {
  respond([status, body, headers](const URLRequest& request) {
    return answer(request, status, body, headers);
  });
}

std::vector<URLRequest> FakeAuthServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t FakeAuthServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

FetchResult FakeAuthServer::answer(const URLRequest& request, int status, std::string body,
                                   HeaderFieldList headers) {
  return {std::move(body),
          std::make_shared<HTTPURLResponse>(request.url, status, std::move(headers))};
}

FakeAuthServer::Responder ChainingRefreshServer::responder() {
  return [this](const URLRequest& request) {
    const std::string token(bodyOf(request).at("refresh_token").as_string());
    std::lock_guard lock(mutex_);
    if (++sent_[token] > 1) {
      return FakeAuthServer::answer(request, 400, R"({"code":"refresh_token_already_used"})");
    }
    const int next = std::stoi(token.substr(token.find('-') + 1)) + 1;
    return FakeAuthServer::answer(
        request, 200,
        sessionBody("access-" + std::to_string(next), "refresh-" + std::to_string(next),
                    secondsFromNow(20)));
  };
}

std::vector<std::string> ChainingRefreshServer::resent() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> tokens;
  for (const auto& [token, count] : sent_) {
    if (count > 1) tokens.push_back(token);
  }
  return tokens;
}

FakeAuthServer::Responder nonRotatingRefresh(std::atomic<int>& refreshes) {
  return [&refreshes](const URLRequest& request) {
    const std::string token(bodyOf(request).at("refresh_token").as_string());
    return FakeAuthServer::answer(
        request, 200,
        sessionBody("access-" + std::to_string(++refreshes), token, secondsFromNow(20)));
  };
}

void Gate::pass() {
  std::unique_lock lock(mutex_);
  ++arrivals_;
  opened_.wait(lock, [this] { return open_; });
}

void Gate::open() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  opened_.notify_all();
}

int Gate::arrivals() const {
  std::lock_guard lock(mutex_);
  return arrivals_;
}

NotificationCenter::ObserverToken holdFirstNotificationOf(AuthChangeEvent event, Gate& gate) {
  return NotificationCenter::defaultCenter().addObserver(
      std::string(didChangeAuthStateNotification), nullptr,
      [event, &gate, held = std::make_shared<std::atomic<bool>>(false)](const Notification& note) {
        const auto& posted = note.userInfo.find(authChangeEventInfoKey)->second;
        if (std::any_cast<AuthChangeEvent>(posted) == event && !held->exchange(true)) gate.pass();
      });
}

std::exception_ptr actWhileHeld(Gate& gate, std::function<void()> emitting,
                                const std::function<void()>& act) {
  const Task<void> task(std::move(emitting));
  const bool arrived = eventually([&] { return gate.arrivals() > 0; });
  EXPECT_TRUE(arrived) << "nothing arrived at the gate";
  // The task is let go and waited for however `act` ends, since it uses the caller's objects.
  std::exception_ptr acting;
  try {
    if (arrived) act();
  } catch (...) {
    acting = std::current_exception();
  }
  gate.open();
  std::exception_ptr emitted;
  try {
    task.value();
  } catch (...) {
    emitted = std::current_exception();
  }
  if (acting) std::rethrow_exception(acting);
  return emitted;
}

std::string userBody() {
  return R"({"id":"8d1f5e0a-3c2b-4e8f-9a7d-1b2c3d4e5f60","aud":"authenticated",)"
         R"("email":"ada@example.com","created_at":"2024-01-01T00:00:00Z",)"
         R"("updated_at":"2024-01-01T00:00:00Z"})";
}

std::string sessionBody(const std::string& accessToken, const std::string& refreshToken,
                        double expiresAt) {
  boost::json::object body{{"access_token", accessToken},
                           {"token_type", "bearer"},
                           {"expires_in", 3600},
                           {"expires_at", expiresAt},
                           {"refresh_token", refreshToken},
                           {"user", boost::json::parse(userBody())}};
  return boost::json::serialize(body);
}

Session makeSession(const std::string& accessToken, const std::string& refreshToken,
                    double expiresAt) {
  return AuthClientConfiguration::jsonDecoder()->decode<Session>(
      sessionBody(accessToken, refreshToken, expiresAt));
}

double secondsFromNow(double seconds) {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count() + seconds;
}

std::string unsignedJWT(const boost::json::object& claims) {
  return "e30." + voduzazi::detail::encodeBase64URL(boost::json::serialize(claims)) + ".signature";
}

std::map<std::string, std::string> queryOf(const URLRequest& request) {
  std::map<std::string, std::string> items;
  const boost::urls::url_view view = request.url;
  for (const auto& param : view.params()) {
    items[param.key] = param.has_value ? param.value : "";
  }
  return items;
}

boost::json::object bodyOf(const URLRequest& request) {
  if (!request.httpBody) return {};
  return boost::json::parse(*request.httpBody).as_object();
}

AuthClient::Listener EventRecorder::listener() {
  return [this](AuthChangeEvent event, const std::optional<Session>& session) {
    {
      std::lock_guard lock(mutex_);
      entries_.push_back({event, session});
    }
    if (onEvent) onEvent(event, session);
  };
}

std::vector<EventRecorder::Entry> EventRecorder::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::vector<AuthChangeEvent> EventRecorder::events() const {
  std::vector<AuthChangeEvent> events;
  for (const auto& entry : entries()) events.push_back(entry.event);
  return events;
}

AuthClientTest::AuthClientTest() = default;

AuthClientConfiguration::Options AuthClientTest::options() const {
  AuthClientConfiguration::Options options;
  options.url = boost::urls::url("https://project.example.com/auth/v1");
  options.headers = {{"apikey", "anon-key"}};
  options.localStorage = storage;
  options.fetch = server->handler();
  return options;
}

std::unique_ptr<AuthClient> AuthClientTest::makeClient(AuthClientConfiguration::Options options) {
  return std::make_unique<AuthClient>(AuthClientConfiguration(std::move(options)), lifecycle);
}

std::unique_ptr<AuthClient> AuthClientTest::clientWith(AuthFlowType flow,
                                                       std::optional<std::string> redirect,
                                                       bool logs) {
  auto options = this->options();
  options.flowType = flow;
  if (redirect) options.redirectToURL = boost::urls::url(*redirect);
  if (logs) options.logger = logger;
  return makeClient(options);
}

void AuthClientTest::storeSession(const AuthClient& client, const Session& session) {
  Dependencies::get(client.clientID()).sessionStorage.store(session);
}

void AuthClientTest::storeSessionHere(const AuthClient& client, const Session& session) {
  Dependencies::get(client.clientID()).sessionManager.update(session);
}

void AuthClientTest::driveTimeWith(const AuthClient& client,
                                   const std::shared_ptr<TestClock>& clock, Date start) {
  Dependencies::update(client.clientID(), [&](Dependencies& dependencies) {
    const auto origin = clock->now();
    dependencies.date = [clock, start, origin] { return start + origin.durationTo(clock->now()); };
    dependencies.clock = std::make_shared<AnyClock>(clock);
  });
}

}  // namespace voduzazi::auth::testing
