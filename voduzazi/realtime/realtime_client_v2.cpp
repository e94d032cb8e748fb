#include "voduzazi/realtime/realtime_client_v2.hpp"

#include <algorithm>
#include <boost/url/parse.hpp>
#include <random>
#include <stdexcept>

#include "voduzazi/concurrency/task_group.hpp"
#include "voduzazi/helpers/logger_interceptor.hpp"
#include "voduzazi/helpers/version.hpp"
#include "voduzazi/platform/url_session.hpp"
#include "voduzazi/realtime/detail/log.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"

namespace voduzazi::realtime {

namespace {

// The last space-separated word of "Authorization", as "Bearer <token>" gives the token.
std::optional<std::string> lastWord(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const auto end = text->find_last_not_of(' ');
  if (end == std::string::npos) return std::nullopt;
  const auto start = text->find_last_of(' ', end);
  return text->substr(start == std::string::npos ? 0 : start + 1,
                      end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// The caller's logger until the client is released, then nothing.
class LoggerUntilReleased final : public VoduzaziLogger {
 public:
  LoggerUntilReleased(std::shared_ptr<VoduzaziLogger> logger,
                      std::shared_ptr<const std::atomic<bool>> released)
      : logger_(std::move(logger)), released_(std::move(released)) {}
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    if (!*released_) logger_->log(message);
  }

 private:
  const std::shared_ptr<VoduzaziLogger> logger_;
  const std::shared_ptr<const std::atomic<bool>> released_;
};

RealtimeClientOptions withClientInfo(RealtimeClientOptions options,
                                     const std::shared_ptr<std::atomic<bool>>& released) {
  if (!options.headers.contains(field_names::xClientInfo)) {
    options.headers.set(field_names::xClientInfo, "realtime-cpp/" + std::string(version));
  }
  // A line a task of the client logs as it ends, after a release from inside it, goes nowhere.
  if (options.logger) {
    options.logger = std::make_shared<LoggerUntilReleased>(std::move(options.logger), released);
  }
  return options;
}

// A close waits for the server at most the client's time-out.
RealtimeClientV2::WebSocketTransport urlSessionTransport(std::chrono::duration<double> timeout) {
  return [timeout](const boost::urls::url& url, const HeaderDictionary& headers) {
    WebSocketTaskConfiguration configuration;
    configuration.additionalHeaders.assign(headers.begin(), headers.end());
    if (timeout.count() > 0) configuration.closeTimeout = timeout;
    return std::shared_ptr<WebSocket>(
        URLSessionWebSocket::connect(url, std::nullopt, configuration));
  };
}

RealtimeClientV2::RandomSource seededRandom() {
  struct Source {
    std::mutex mutex;
    std::mt19937_64 engine{std::random_device{}()};
  };
  return [source = std::make_shared<Source>()] {
    std::lock_guard lock(source->mutex);
    return std::uniform_real_distribution<double>(0.0, 1.0)(source->engine);
  };
}

}  // namespace

// The caller's references share this one: its end, and only its end, releases the client.
struct RealtimeClientV2::Lease {
  explicit Lease(std::shared_ptr<RealtimeClientV2> held) : client(std::move(held)) {}
  ~Lease() { client->close(); }
  const std::shared_ptr<RealtimeClientV2> client;
};

RealtimeClientV2::RealtimeClientV2(boost::urls::url url, RealtimeClientOptions options,
                                   WebSocketTransport transport,
                                   std::shared_ptr<HTTPClientType> http, RandomSource random)
    : url_(std::move(url)),
      options_(withClientInfo(std::move(options), released_)),
      wsTransport_(std::move(transport)),
      http_(std::move(http)),
      random_(random ? std::move(random) : seededRandom()),
      apikey_(options_.headers.get(apiKeyFieldName()).value_or("")),
      broadcasts_(std::make_unique<BroadcastQueue>(http_, *timers_, options_.logger)) {
  if (!options_.headers.contains(apiKeyFieldName())) {
    throw std::invalid_argument("The realtime client needs the API key in the \"apiKey\" header");
  }
  state_.accessToken = lastWord(options_.headers.get(HTTPField::Name::authorization));
}

std::shared_ptr<RealtimeClientV2> RealtimeClientV2::make(boost::urls::url url,
                                                         RealtimeClientOptions options) {
  std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptors;
  if (options.logger) interceptors.push_back(std::make_shared<LoggerInterceptor>(options.logger));
  // The shared URL session is made on the first broadcast over HTTP, not with the client: most
  // clients never send one.
  FetchHandler fetch = options.fetch ? options.fetch : [](const URLRequest& request) {
    return defaultFetch()(request);
  };
  auto http = std::make_shared<HTTPClient>(std::move(fetch), std::move(interceptors));
  auto transport = urlSessionTransport(options.timeoutInterval);
  return make(std::move(url), std::move(options), std::move(transport), std::move(http));
}

std::shared_ptr<RealtimeClientV2> RealtimeClientV2::make(boost::urls::url url,
                                                         RealtimeClientOptions options,
                                                         WebSocketTransport transport,
                                                         std::shared_ptr<HTTPClientType> http,
                                                         RandomSource random) {
  std::shared_ptr<RealtimeClientV2> client(
      new RealtimeClientV2(std::move(url), std::move(options), std::move(transport),
                           std::move(http), std::move(random)));
  // The client's own tasks hold `client`; the caller's references share the lease.
  auto lease = std::make_shared<Lease>(client);
  std::shared_ptr<RealtimeClientV2> handle(lease, client.get());
  client->handle_ = handle;
  return handle;
}

RealtimeClientOptions RealtimeClientV2::optionsFrom(const Configuration& configuration) {
  RealtimeClientOptions options(configuration.headers);
  if (!options.headers.contains(apiKeyFieldName())) {
    options.headers.set(apiKeyFieldName(), configuration.apiKey);
  }
  options.heartbeatInterval = configuration.heartbeatInterval;
  options.reconnectDelay = configuration.reconnectDelay;
  options.timeoutInterval = configuration.timeoutInterval;
  options.disconnectOnSessionLoss = configuration.disconnectOnSessionLoss;
  options.connectOnSubscribe = configuration.connectOnSubscribe;
  options.logger = configuration.logger;
  return options;
}

std::shared_ptr<RealtimeClientV2> RealtimeClientV2::make(const Configuration& configuration) {
  return make(configuration.url, optionsFrom(configuration));
}

RealtimeClientV2::~RealtimeClientV2() { close(); }

void RealtimeClientV2::close() {
  // Taken out under the lock, released after it: a channel or socket going away may take time.
  MutableState ending;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    ++generation_;  // the connection's tasks act on nothing more
    *released_ = true;
    ending = std::move(state_);
    state_ = MutableState{};
    state_.accessToken = ending.accessToken;
  }
  // After the lock: cancelling runs the tasks' stop callbacks, a transport's among them.
  for (const auto* task : {&ending.heartbeatTask, &ending.messageTask, &ending.connectionTask}) {
    if (*task) (*task)->cancel();
  }
  // Listener calls not yet made are dropped; one under way is waited for.
  listeners_->close();
  // Waiting callers of connect() see the end.
  statusSubject_.yield(RealtimeClientStatus::disconnected);
  statusSubject_.finish();
  heartbeatSubject_.finish();
  // Subscribes under way, on the caller's threads or a rejoin task, end at once.
  for (const auto& [topic, channel] : ending.channels) channel->endForRelease();
  broadcasts_->close();
  // Ends the connection at once, without a close frame (nobody is left to hear it).
  ending.conn.reset();
  tasks_.close();
}

bool RealtimeClientV2::isClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::optional<Task<void>> RealtimeClientV2::startTask(std::function<void()> body) {
  return tasks_.start(std::move(body));
}

RealtimeClientV2::MutableState RealtimeClientV2::mutableState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::shared_ptr<ObservationToken> RealtimeClientV2::onStatusChange(
    std::function<void(RealtimeClientStatus)> listener) {
  return statusSubject_.listen(
      [listener = std::move(listener)](const RealtimeClientStatus& status) { listener(status); });
}

AsyncStream<HeartbeatStatus> RealtimeClientV2::heartbeat() {
  return AsyncStream<HeartbeatStatus>::unfolding(
      [values = heartbeatSubject_.values()]() -> std::optional<HeartbeatStatus> {
        while (auto status = values.next()) {
          if (*status) return **status;
        }
        return std::nullopt;
      });
}

std::shared_ptr<ObservationToken> RealtimeClientV2::onHeartbeat(
    std::function<void(HeartbeatStatus)> listener) {
  return heartbeatSubject_.listen(
      [listener = std::move(listener)](const std::optional<HeartbeatStatus>& status) {
        if (status) listener(*status);  // the absent first value is never delivered
      });
}

std::optional<std::string> RealtimeClientV2::accessToken() const {
  std::lock_guard lock(mutex_);
  return state_.accessToken;
}

double RealtimeClientV2::random() const { return random_(); }

std::map<std::string, std::shared_ptr<RealtimeChannelV2>> RealtimeClientV2::channels() const {
  std::lock_guard lock(mutex_);
  return state_.channels;
}

std::shared_ptr<RealtimeChannelV2> RealtimeClientV2::channel(
    std::string_view name, const std::function<void(RealtimeChannelConfig&)>& options) {
  const std::string topic = "realtime:" + std::string(name);
  {
    std::lock_guard lock(mutex_);
    if (auto found = state_.channels.find(topic); found != state_.channels.end()) {
      return found->second;
    }
  }
  RealtimeChannelConfig config;
  if (options) options(config);  // the caller's code runs outside the lock
  auto made = RealtimeChannelV2::make(topic, config, weak_from_this(), options_.logger, listeners_);
  std::lock_guard lock(mutex_);
  // A channel made meanwhile by another thread wins; both callers get the same one.
  return state_.channels.try_emplace(topic, std::move(made)).first->second;
}

void RealtimeClientV2::addChannel(std::shared_ptr<RealtimeChannelV2> channel) {
  std::lock_guard lock(mutex_);
  const std::string topic = channel->topic();
  state_.channels.insert_or_assign(topic, std::move(channel));
}

bool RealtimeClientV2::registerIfAbsent(const std::shared_ptr<RealtimeChannelV2>& channel) {
  std::lock_guard lock(mutex_);
  return state_.channels.try_emplace(channel->topic(), channel).first->second == channel;
}

void RealtimeClientV2::remove(const RealtimeChannelV2& channel) {
  std::shared_ptr<RealtimeChannelV2> removed;
  {
    std::lock_guard lock(mutex_);
    auto found = state_.channels.find(channel.topic());
    if (found == state_.channels.end() || found->second.get() != &channel) return;
    removed = std::move(found->second);
    state_.channels.erase(found);
  }
  releaseTopic(channel.topic());
}

void RealtimeClientV2::noteJoin(const std::string& ref,
                                const std::shared_ptr<RealtimeChannelV2>& channel) {
  std::lock_guard lock(mutex_);
  auto& joins = state_.joins;
  // Kept for the connection; a long one sheds the joins of objects that are gone.
  if (joins.size() >= 256)
    std::erase_if(joins, [](const auto& join) { return join.second.expired(); });
  joins.insert_or_assign(ref, channel);
}

bool RealtimeClientV2::detach(const RealtimeChannelV2& channel) {
  std::shared_ptr<RealtimeChannelV2> detached;  // released after the locks
  std::lock_guard sendLock(sendMutex_);
  std::lock_guard lock(mutex_);
  const auto found = state_.channels.find(channel.topic());
  if (found == state_.channels.end() || found->second.get() != &channel) return false;
  detached = std::move(found->second);
  state_.channels.erase(found);
  std::erase_if(state_.sendBuffer,
                [&](const auto& frame) { return frame.first == channel.topic(); });
  state_.awaitingRejoin.erase(channel.topic());
  return std::any_of(state_.joins.begin(), state_.joins.end(),
                     [&](const auto& join) { return join.second.lock() == detached; });
}

void RealtimeClientV2::removeChannel(const std::shared_ptr<RealtimeChannelV2>& channel) {
  if (channel->status() == RealtimeChannelStatus::subscribed) {
    channel->endForRemoval(*this, false);
    channel->unsubscribe();
    if (status() == RealtimeClientStatus::connected) {
      channel->waitUntilClosed();
    } else {
      channel->setStatus(RealtimeChannelStatus::unsubscribed);  // no server to answer
    }
    channel->endForRemoval(*this, true);
  } else if (channel->endForRemoval(*this, true) && status() == RealtimeClientStatus::connected) {
    channel->leaveUnanswered(*this);  // the server may hold the join nobody waits for now
  }
  if (channel->status() != RealtimeChannelStatus::unsubscribed) {
    channel->setStatus(RealtimeChannelStatus::unsubscribed);
  }
  bool empty = false;
  {
    std::lock_guard lock(mutex_);
    empty = state_.channels.empty();
  }
  if (!empty) return;
  detail::logDebug(options_.logger, [] { return "No more subscribed channel in socket"; });
  disconnect();
}

void RealtimeClientV2::removeAllChannels() {
  TaskGroup<void> group;
  for (const auto& [topic, channel] : channels()) {
    group.addTask([this, channel = channel] { removeChannel(channel); });
  }
  while (group.next()) {
  }
}

boost::urls::url RealtimeClientV2::realtimeBaseURL(const boost::urls::url& url) {
  boost::urls::url base = url;
  if (base.scheme() == "https") {
    base.set_scheme("wss");
  } else if (base.scheme() == "http") {
    base.set_scheme("ws");
  }
  return base;
}

boost::urls::url RealtimeClientV2::realtimeWebSocketURL(const boost::urls::url& baseURL,
                                                        const std::optional<std::string>& apikey,
                                                        std::optional<LogLevel> logLevel) {
  boost::urls::url url = baseURL;
  auto params = url.params();
  if (apikey) params.append({"apikey", *apikey});
  params.append({"vsn", "1.0.0"});
  if (logLevel) params.append({"log_level", toString(*logLevel)});
  std::string path = std::string(url.path()) + "/websocket";
  for (auto at = path.find("//"); at != std::string::npos; at = path.find("//")) {
    path.erase(at, 1);
  }
  url.set_path(path);
  return url;
}

}  // namespace voduzazi::realtime
