#include "voduzazi/realtime/realtime_client.hpp"

#include <boost/url/parse.hpp>
#include <stdexcept>
#include <utility>

#include "voduzazi/helpers/version.hpp"
#include "voduzazi/platform/url_session.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

// The token the params carry: the last word of "Authorization", else "apikey".
std::optional<std::string> tokenOf(const std::optional<JSONObject>& params) {
  if (!params) return std::nullopt;
  if (auto found = params->find("Authorization"); found != params->end()) {
    if (const auto* value = found->second.stringValue()) {
      const auto end = value->find_last_not_of(' ');
      if (end != std::string::npos) {
        const auto start = value->find_last_of(' ', end);
        return value->substr(start == std::string::npos ? 0 : start + 1,
                             end - (start == std::string::npos ? 0 : start + 1) + 1);
      }
    }
  }
  if (auto found = params->find("apikey"); found != params->end()) {
    if (const auto* value = found->second.stringValue()) return *value;
  }
  return std::nullopt;
}

std::string plainText(const AnyJSON& value) {
  if (const auto* text = value.stringValue()) return *text;
  return value.description();
}

}  // namespace

// Hands the transport's reports to the strand; those of a replaced connection are ignored there.
class RealtimeClient::TransportDelegate final : public PhoenixTransportDelegate {
 public:
  TransportDelegate(std::weak_ptr<RealtimeClient> client, const PhoenixTransport* source,
                    std::shared_ptr<Strand> strand)
      : client_(std::move(client)), source_(source), strand_(std::move(strand)) {}

  void onOpen(std::shared_ptr<const URLResponse> response) override {
    post([response](RealtimeClient& c, auto source) { c.onConnOpen(source, response); });
  }
  void onError(const WebSocketTaskError& error,
               std::shared_ptr<const URLResponse> response) override {
    post([report = ErrorReport{error, std::move(response)}](RealtimeClient& c, auto source) {
      c.onConnError(source, report);
    });
  }
  void onMessage(const std::string& message) override {
    post([message](RealtimeClient& c, auto source) { c.onConnMessage(source, message); });
  }
  void onClose(int code, const std::optional<std::string>& reason) override {
    post([report = CloseReport{code, reason}](RealtimeClient& c, auto source) {
      c.onConnClose(source, report);
    });
  }

 private:
  template <class Work>
  void post(Work work) {
    strand_->post([client = client_, source = source_, work = std::move(work)] {
      if (auto strong = client.lock()) work(*strong, source);
    });
  }

  const std::weak_ptr<RealtimeClient> client_;
  const PhoenixTransport* const source_;
  const std::shared_ptr<Strand> strand_;
};

boost::urls::url RealtimeClient::endpointURL(const std::string& endPoint,
                                             const ParamsClosure& params, const std::string& vsn) {
  auto parsed = boost::urls::parse_uri(endPoint);
  if (!parsed) throw std::invalid_argument("Malformed URL: " + endPoint);
  boost::urls::url url(*parsed);
  std::string path(url.encoded_path());
  if (path.find("/websocket") == std::string::npos) {
    if (path.empty() || path.back() != '/') path += '/';
    path += "websocket";
  }
  url.set_encoded_path(path);
  url.remove_query();
  url.params().append({"vsn", vsn});
  if (params) {
    if (const auto given = params()) {
      for (const auto& [name, value] : *given) url.params().append({name, plainText(value)});
    }
  }
  return url;
}

// The caller's references share this one: its end, and only its end, releases the client.
struct RealtimeClient::Lease {
  explicit Lease(std::shared_ptr<RealtimeClient> held) : client(std::move(held)) {}
  ~Lease() { client->close(); }
  const std::shared_ptr<RealtimeClient> client;
};

std::shared_ptr<RealtimeClient> RealtimeClient::make(std::string endPoint, HeaderDictionary headers,
                                                     ParamsClosure params, std::string vsn,
                                                     TransportFactory transport,
                                                     Environment environment) {
  std::shared_ptr<RealtimeClient> client(
      new RealtimeClient(std::move(endPoint), std::move(headers), std::move(params), std::move(vsn),
                         std::move(transport), std::move(environment)));
  client->setUpReconnectTimer();
  // The client's own work holds `client`; the caller's references share the lease.
  auto lease = std::make_shared<Lease>(client);
  return std::shared_ptr<RealtimeClient>(lease, client.get());
}

std::shared_ptr<RealtimeClient> RealtimeClient::make(std::string endPoint, HeaderDictionary headers,
                                                     std::optional<JSONObject> params,
                                                     std::string vsn) {
  return make(
      std::move(endPoint), std::move(headers), [params] { return params; }, std::move(vsn));
}

namespace {

HeaderDictionary withClientInfo(HeaderDictionary headers) {
  headers.try_emplace("X-Client-Info", "realtime-cpp/" + std::string(version));
  return headers;
}

// The websocket transport, whose close waits for the server at most the client's time-out: a
// peer gone silent cannot keep a connection "closing" for ever.
std::shared_ptr<PhoenixTransport> urlSessionTransport(const boost::urls::url& url, double timeout) {
  WebSocketTaskConfiguration configuration;
  if (timeout > 0) configuration.closeTimeout = std::chrono::duration<double>(timeout);
  return std::make_shared<URLSessionTransport>(url, std::move(configuration));
}

}  // namespace

RealtimeClient::RealtimeClient(std::string endPoint, HeaderDictionary headers, ParamsClosure params,
                               std::string vsn, TransportFactory transport, Environment environment)
    : endPoint_(std::move(endPoint)),
      paramsClosure_(std::move(params)),
      transport_(std::move(transport)),
      vsn_(std::move(vsn)),

      strand_(std::make_shared<ClosableStrand>(environment.strand ? environment.strand
                                                                  : Strand::serial())),
      timerQueue_(environment.timerQueue ? environment.timerQueue : TimerQueue::shared()),
      heartbeatQueue_(environment.heartbeatQueue ? environment.heartbeatQueue : strand_),
      http_(environment.http
                ? environment.http
                : std::make_shared<HTTPClient>(
                      defaultFetch(), std::vector<std::shared_ptr<HTTPClientInterceptor>>{})),
      headers_(withClientInfo(std::move(headers))),
      encode_(Defaults::encode),
      decode_(Defaults::decode),
      endPointUrl_(endpointURL(endPoint_, paramsClosure_, vsn_)),
      reconnectTimer_(TimeoutTimer::make(timerQueue_)) {
  accessToken_ = tokenOf(paramsClosure_ ? paramsClosure_() : std::nullopt);
}

void RealtimeClient::setUpReconnectTimer() {
  reconnectTimer_->callback.delegate(shared_from_this(), [](RealtimeClient& client) {
    client.strand_->post([weak = client.weak_from_this()] {
      const auto self = weak.lock();
      // Called off meanwhile (a disconnect, an open): the timer could not recall this post.
      if (!self || !self->reconnectPlanned_) return;
      if (!self->logItems({"Socket attempting to reconnect"})) return;
      self->reconnectPlanned_ = false;
      if (self->teardown(CloseCode::normal, "reconnection")) self->connectNow();
    });
  });
  // Asked by schedule(), which runs on the strand: nothing is planned when the back-off or the
  // logger released, disconnected or connected the client anew.
  reconnectTimer_->timerCalculation.delegate(
      shared_from_this(), [](RealtimeClient& client, int tries) -> std::optional<double> {
        if (client.closed_) return std::nullopt;
        double interval = 0;
        const BackOff backOff = client.reconnectAfter_;  // it may replace itself
        if (!client.callOut([&] { interval = backOff(tries); })) return std::nullopt;
        if (!client.logItems({"Socket reconnecting in " + AnyJSON(interval).description() + "s"})) {
          return std::nullopt;
        }
        return interval;
      });
}

RealtimeClient::~RealtimeClient() { close(); }

void RealtimeClient::cancelReconnect() {
  reconnectPlanned_ = false;
  reconnectTimer_->reset();
}

void RealtimeClient::close() {
  std::shared_ptr<PhoenixTransport> connection;
  std::vector<std::shared_ptr<RealtimeChannel>> channels;
  // After the work under way on the strand (at once from inside it).
  strand_->sync([&] {
    if (closed_.exchange(true)) return;
    cancelReconnect();
    stopHeartbeat();
    heartbeatTimer_.reset();
    if (connection_) connection_->setDelegate(nullptr);
    connection = std::move(connection_);
    channels = std::exchange(channels_, {});
    sendBuffer_.clear();
  });
  strand_->close();
  // Ends the connection without a close frame; no report of it comes back. Released from inside
  // its work, after that work: the transport's end, or that of what a channel holds of the
  // caller's, may wait for a thread that waits for the rest of that work.
  strand_->releaseAfterClosingWork(std::move(connection));
  strand_->releaseAfterClosingWork(std::make_shared<decltype(channels)>(std::move(channels)));
}

boost::urls::url RealtimeClient::endPointUrl() const {
  return strand_->call([&] { return endPointUrl_; });
}

std::optional<JSONObject> RealtimeClient::params() const {
  return paramsClosure_ ? paramsClosure_() : std::nullopt;
}

std::string RealtimeClient::websocketProtocol() const {
  const auto url = endPointUrl();
  if (!url.has_scheme()) return "";
  const std::string scheme(url.scheme());
  if (scheme == "https") return "wss";
  if (scheme == "http") return "ws";
  return scheme;
}

bool RealtimeClient::isConnected() const {
  return connectionState() == PhoenixTransportReadyState::open;
}

PhoenixTransportReadyState RealtimeClient::connectionState() const {
  return strand_->call(
      [&] { return connection_ ? connection_->readyState() : PhoenixTransportReadyState::closed; });
}

RealtimeClient::CloseStatus RealtimeClient::closeStatus() const {
  return strand_->call([&] { return closeStatus_; });
}
std::optional<std::string> RealtimeClient::accessToken() const {
  return strand_->call([&] { return accessToken_; });
}
HeaderDictionary RealtimeClient::headers() const {
  return strand_->call([&] { return headers_; });
}
void RealtimeClient::setHeaders(HeaderDictionary headers) {
  strand_->sync([&] { headers_ = std::move(headers); });
}
RealtimeClient::Encode RealtimeClient::encode() const {
  return strand_->call([&] { return encode_; });
}
void RealtimeClient::setEncode(Encode encode) {
  strand_->sync([&] { encode_ = std::move(encode); });
}
RealtimeClient::Decode RealtimeClient::decode() const {
  return strand_->call([&] { return decode_; });
}
void RealtimeClient::setDecode(Decode decode) {
  strand_->sync([&] { decode_ = std::move(decode); });
}
std::chrono::nanoseconds RealtimeClient::heartbeatLeeway() const {
  return strand_->call([&] { return heartbeatLeeway_; });
}
void RealtimeClient::setHeartbeatLeeway(std::chrono::nanoseconds leeway) {
  strand_->sync([&] { heartbeatLeeway_ = leeway; });
}
bool RealtimeClient::disableSSLCertValidation() const {
  return strand_->call([&] { return disableSSLCertValidation_; });
}
void RealtimeClient::setDisableSSLCertValidation(bool disable) {
  strand_->sync([&] { disableSSLCertValidation_ = disable; });
}
std::optional<std::vector<std::uint32_t>> RealtimeClient::enabledSSLCipherSuites() const {
  return strand_->call([&] { return enabledSSLCipherSuites_; });
}
void RealtimeClient::setEnabledSSLCipherSuites(std::optional<std::vector<std::uint32_t>> suites) {
  strand_->sync([&] { enabledSSLCipherSuites_ = std::move(suites); });
}
double RealtimeClient::timeout() const {
  return strand_->call([&] { return timeout_; });
}
void RealtimeClient::setTimeout(double seconds) {
  strand_->sync([&] { timeout_ = seconds; });
}
double RealtimeClient::heartbeatInterval() const {
  return strand_->call([&] { return heartbeatInterval_; });
}
void RealtimeClient::setHeartbeatInterval(double seconds) {
  strand_->sync([&] { heartbeatInterval_ = seconds; });
}
void RealtimeClient::setSkipHeartbeat(bool skip) {
  strand_->sync([&] { skipHeartbeat_ = skip; });
}
void RealtimeClient::setReconnectAfter(BackOff backOff) {
  strand_->sync([&] { reconnectAfter_ = std::move(backOff); });
}
double RealtimeClient::rejoinAfter(int tries) const {
  return strand_->call([&] {
    const BackOff backOff = rejoinAfter_;  // it may replace itself
    return backOff(tries);
  });
}
void RealtimeClient::setRejoinAfter(BackOff backOff) {
  strand_->sync([&] { rejoinAfter_ = std::move(backOff); });
}
void RealtimeClient::setLogger(Logger logger) {
  strand_->sync([&] { logger_ = std::move(logger); });
}
std::uint64_t RealtimeClient::ref() const {
  return strand_->call([&] { return ref_; });
}
void RealtimeClient::setRef(std::uint64_t ref) {
  strand_->sync([&] { ref_ = ref; });
}

RealtimeClient::CloseStatus RealtimeClient::closeStatusFor(int code) {
  if (code == static_cast<int>(CloseCode::abnormal)) return CloseStatus::abnormal;
  if (code == static_cast<int>(CloseCode::goingAway)) return CloseStatus::temporary;
  return CloseStatus::clean;
}

bool RealtimeClient::shouldReconnect(CloseStatus status) {
  return status == CloseStatus::unknown || status == CloseStatus::abnormal;
}

void RealtimeClient::connect() {
  strand_->sync([&] { connectNow(); });
}

void RealtimeClient::connectNow() {
  if (closed_) return;  // a channel of a released client connects nothing
  // One websocket at a time: an opening connection is left to finish.
  if (connection_) {
    const auto state = connection_->readyState();
    if (state == PhoenixTransportReadyState::open ||
        state == PhoenixTransportReadyState::connecting) {
      return;
    }
  }
  ++generation_;  // another connection: what work began with the last one is overtaken
  closeStatus_ = CloseStatus::unknown;
  boost::urls::url url;
  if (!callOut([&] { url = endpointURL(endPoint_, paramsClosure_, vsn_); })) return;
  endPointUrl_ = url;
  std::shared_ptr<PhoenixTransport> connection;
  if (!callOut([&] {
        connection = transport_ ? transport_(url) : urlSessionTransport(url, timeout_);
      })) {
    return;
  }
  if (connection_) connection_->setDelegate(nullptr);
  connection_ = std::move(connection);
  connection_->setDelegate(
      std::make_shared<TransportDelegate>(weak_from_this(), connection_.get(), strand_));
  // The transport is the caller's: held across its call, which may disconnect or release the
  // client, and given headers of its own.
  const auto opening = connection_;
  opening->connect(HeaderDictionary(headers_));
}

void RealtimeClient::disconnect(CloseCode code, std::optional<std::string> reason,
                                std::function<void()> callback) {
  strand_->sync([&] {
    closeStatus_ = closeStatusFor(static_cast<int>(code));
    cancelReconnect();
    // The completion is the caller's too: none once a close callback released the client.
    if (!teardown(code, reason).released && callback) callback();
  });
}

RealtimeClient::AfterCall RealtimeClient::teardown(CloseCode code,
                                                   const std::optional<std::string>& reason) {
  ++generation_;  // what work began with the connection is overtaken
  if (auto connection = std::move(connection_)) {
    connection->setDelegate(nullptr);
    connection->disconnect(static_cast<int>(code), reason);
  }
  stopHeartbeat();
  return callEach(stateChangeCallbacks_.close, CloseReport{static_cast<int>(code), reason});
}

void RealtimeClient::onConnOpen(const PhoenixTransport* source,
                                std::shared_ptr<const URLResponse> response) {
  if (source != connection_.get()) return;
  if (!logItems({"transport", "Connected to " + endPoint_})) return;
  closeStatus_ = CloseStatus::unknown;
  if (!flushSendBuffer()) return;
  cancelReconnect();
  resetHeartbeat();
  callEach(stateChangeCallbacks_.open, response);
}

void RealtimeClient::onConnClose(const PhoenixTransport* source, const CloseReport& report) {
  if (source != connection_.get()) return;
  if (closeStatus_ != CloseStatus::abnormal) closeStatus_ = closeStatusFor(report.code);
  const auto logged = logItems({"transport", "close"});
  if (logged.released) return;
  // Whatever the logger did, the channels learn of the close, so that they rejoin when the
  // client connects again.
  const auto errored = callOut([&] { triggerChanError(); });
  // A disconnect meanwhile has stopped the heartbeat and announced a close of its own.
  if (!logged || !errored) return;
  stopHeartbeat();
  if (shouldReconnect(closeStatus_)) {
    reconnectPlanned_ = true;
    if (!callOut([&] { reconnectTimer_->schedule(); })) return;
  }
  callEach(stateChangeCallbacks_.close, report);
}

void RealtimeClient::onConnError(const PhoenixTransport* source, const ErrorReport& report) {
  if (source != connection_.get()) return;
  std::string response;
  if (const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(report.response)) {
    response = "HTTP " + std::to_string(http->statusCode());
  }
  // The error happened whatever the caller did since: only a release keeps it untold.
  if (logItems({"transport", report.error.localizedDescription(), response}).released) return;
  if (callOut([&] { triggerChanError(); }).released) return;
  callEach(stateChangeCallbacks_.error, report);
}

std::string RealtimeClient::onOpen(std::function<void(std::shared_ptr<const URLResponse>)> cb) {
  Delegated<std::shared_ptr<const URLResponse>, void> box;
  box.manuallyDelegate(std::move(cb));
  return addCallback(&StateChangeCallbacks::open, std::move(box));
}

std::string RealtimeClient::onOpen(std::function<void()> callback) {
  return onOpen([callback = std::move(callback)](std::shared_ptr<const URLResponse>) {
    if (callback) callback();
  });
}

std::string RealtimeClient::onClose(std::function<void()> callback) {
  return onClose([callback = std::move(callback)](const CloseReport&) {
    if (callback) callback();
  });
}

std::string RealtimeClient::onClose(std::function<void(const CloseReport&)> callback) {
  Delegated<CloseReport, void> box;
  box.manuallyDelegate(std::move(callback));
  return addCallback(&StateChangeCallbacks::close, std::move(box));
}

std::string RealtimeClient::onError(std::function<void(const ErrorReport&)> callback) {
  Delegated<ErrorReport, void> box;
  box.manuallyDelegate(std::move(callback));
  return addCallback(&StateChangeCallbacks::error, std::move(box));
}

std::string RealtimeClient::onMessage(std::function<void(const RealtimeMessage&)> callback) {
  Delegated<RealtimeMessage, void> box;
  box.manuallyDelegate(std::move(callback));
  return addCallback(&StateChangeCallbacks::message, std::move(box));
}

void RealtimeClient::releaseCallbacks() {
  strand_->sync([&] { stateChangeCallbacks_ = {}; });
}

void RealtimeClient::off(const std::vector<std::string>& refs) {
  strand_->sync([&] {
    auto drop = [&](auto& list) {
      std::erase_if(list, [&](const auto& entry) {
        return std::find(refs.begin(), refs.end(), entry.first) != refs.end();
      });
    };
    drop(stateChangeCallbacks_.open);
    drop(stateChangeCallbacks_.close);
    drop(stateChangeCallbacks_.error);
    drop(stateChangeCallbacks_.message);
  });
}

RealtimeClient::AfterCall RealtimeClient::callOut(const std::function<void()>& call) const {
  AfterCall after;
  strand_->sync([&] {
    after.released = strand_->isClosedByCurrentWork();
    if (after.released) return;
    const auto generation = generation_;
    call();
    after.released = strand_->isClosedByCurrentWork();
    after.overtaken = generation_ != generation;
  });
  return after;
}

RealtimeClient::AfterCall RealtimeClient::logItems(const std::vector<std::string>& items) const {
  return logItems([&] { return items; });
}

RealtimeClient::AfterCall RealtimeClient::logItems(
    const std::function<std::vector<std::string>()>& makeItems) const {
  AfterCall after;
  strand_->sync([&] {
    if (!logger_ || closed_) return;
    const std::vector<std::string> items = makeItems();
    std::string line = "ZarudIvavaroDureru: ";
    for (std::size_t i = 0; i < items.size(); ++i) line += (i == 0 ? "" : ", ") + items[i];
    const Logger logger = logger_;  // it may replace itself
    after = callOut([&] { logger(line); });
  });
  return after;
}

}  // namespace voduzazi::realtime
