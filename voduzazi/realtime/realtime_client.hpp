// RealtimeClient: the older realtime client's socket. One websocket to the realtime endpoint,
// shared by the channels made from it: it buffers frames until the connection opens, keeps it
// alive with heartbeats, reconnects with back-off, routes each received frame to the channels of
// its topic and hands access tokens to them.
//
//   auto client = RealtimeClient::make(projectURL + "/realtime/v1", headers,
//                                      JSONObject{{"apikey", key}});
//   auto room = client->channel("room");
//   room->on("broadcast", ChannelFilter{.event = "cursor"}, [](const RealtimeMessage& m) {});
//   room->subscribe();                    // connects the socket and joins "realtime:room"
//   client->setAuth(userAccessToken);     // every channel sends it from now on
//
// Shared objects: safe. All state changes of the client, its channels, pushes and presence
// trackers run on one strand; callbacks (state changes, bindings, push hooks) run there too, so
// they must not block on the client (a blocking channel send from a callback throws).
// Lifetime: held by shared_ptr; channels, pushes and timers hold it weakly. The client is
// released when the last reference make() handed out (or a copy of it) goes, whatever its own
// work still holds: the release waits for the work under way on its strand, cancels a planned
// reconnect, stops the heartbeat, drops the connection without reports, its channels and the work
// not yet run, and ends the strand's thread. From then on nothing calls the transport factory,
// logger, callbacks or handlers the caller gave. Released from inside that work (a callback,
// say), it does not wait for it; that work makes no further call of the caller's, and until it
// ends other threads' calls of the channels, pushes and trackers left over wait for it (so it
// must not wait for them).
#pragma once

#include <atomic>
#include <boost/url/url.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/realtime/channel_types.hpp"
#include "voduzazi/realtime/defaults.hpp"
#include "voduzazi/realtime/delegated.hpp"
#include "voduzazi/realtime/heartbeat_timer.hpp"
#include "voduzazi/realtime/phoenix_transport.hpp"
#include "voduzazi/realtime/realtime_message.hpp"
#include "voduzazi/realtime/strand.hpp"
#include "voduzazi/realtime/timeout_timer.hpp"

namespace voduzazi::realtime {

class RealtimeChannel;

// An error kept for callers that name it; the client never raises it.
class SocketError : public std::exception {
 public:
  enum class Code { abnormalClosureError };
  explicit SocketError(Code code = Code::abnormalClosureError) : code_(code) {}
  Code code() const noexcept { return code_; }
  const char* what() const noexcept override { return "abnormalClosureError"; }

 private:
  Code code_;
};

class RealtimeClient : public std::enable_shared_from_this<RealtimeClient> {
 public:
  enum class CloseCode { abnormal = 999, normal = 1000, goingAway = 1001 };
  enum class CloseStatus { unknown, clean, abnormal, temporary };

  using ParamsClosure = std::function<std::optional<JSONObject>()>;
  using TransportFactory =
      std::function<std::shared_ptr<PhoenixTransport>(const boost::urls::url&)>;
  using BackOff = std::function<double(int tries)>;
  using Logger = std::function<void(const std::string&)>;
  using Encode = FrameEncoder;
  using Decode = FrameDecoder;

  struct ErrorReport {
    WebSocketTaskError error;
    std::shared_ptr<const URLResponse> response;
  };
  struct CloseReport {
    int code = 0;
    std::optional<std::string> reason;
  };

  // Where the client's work and timers run. Every member left empty takes its default.
  struct Environment {
    std::shared_ptr<Strand> strand;  // a serial strand of the client's own
    // TimerQueue::shared(): reconnects, rejoins, push time-outs and heartbeats all wait there.
    // Heartbeat ticks then go straight to heartbeatQueue; the others run on its executor (the
    // main executor) before they reach the strand.
    std::shared_ptr<TimerQueue> timerQueue;
    std::shared_ptr<Executor> heartbeatQueue;  // the strand
    std::shared_ptr<HTTPClientType> http;      // no interceptors over URLSession::shared()
  };

  // The endpoint's websocket URL: path ending in "/websocket", query "vsn" then each param.
  // Throws std::invalid_argument "Malformed URL: <endPoint>" (or "Malformed URL while adding
  // parameters").
  static boost::urls::url endpointURL(const std::string& endPoint, const ParamsClosure& params,
                                      const std::string& vsn);

  // Throws what endpointURL throws. Without `transport`, each connection is a close-bounded
  // URLSessionTransport; what a transport of the caller's may do is in phoenix_transport.hpp.
  // The token is the last word of params' "Authorization", else its "apikey".
  static std::shared_ptr<RealtimeClient> make(std::string endPoint, HeaderDictionary headers,
                                              ParamsClosure params,
                                              std::string vsn = std::string(Defaults::vsn),
                                              TransportFactory transport = {},
                                              Environment environment = {});
  static std::shared_ptr<RealtimeClient> make(std::string endPoint, HeaderDictionary headers,
                                              std::optional<JSONObject> params,
                                              std::string vsn = std::string(Defaults::vsn));
  ~RealtimeClient();
  RealtimeClient(const RealtimeClient&) = delete;
  RealtimeClient& operator=(const RealtimeClient&) = delete;

  // --- Reads and settings.
  const std::string& endPoint() const noexcept { return endPoint_; }
  boost::urls::url endPointUrl() const;
  std::optional<JSONObject> params() const;
  // "wss" for https, "ws" for http, else the scheme itself ("" without one).
  std::string websocketProtocol() const;
  bool isConnected() const;
  PhoenixTransportReadyState connectionState() const;
  CloseStatus closeStatus() const;
  std::optional<std::string> accessToken() const;
  // The given headers plus "X-Client-Info" unless they held one. A change serves the next
  // connection and the channels' HTTP requests from then on.
  HeaderDictionary headers() const;
  void setHeaders(HeaderDictionary headers);
  // How frames are written and read (Defaults::encode and Defaults::decode at first).
  Encode encode() const;
  void setEncode(Encode encode);
  Decode decode() const;
  void setDecode(Decode decode);
  std::chrono::nanoseconds heartbeatLeeway() const;
  void setHeartbeatLeeway(std::chrono::nanoseconds leeway);
  // TLS settings kept for callers that set them. The connection does not read them: peers are
  // always verified, with the TLS library's own cipher suites.
  bool disableSSLCertValidation() const;
  void setDisableSSLCertValidation(bool disable);
  std::optional<std::vector<std::uint32_t>> enabledSSLCipherSuites() const;
  void setEnabledSSLCipherSuites(std::optional<std::vector<std::uint32_t>> suites);
  double timeout() const;
  void setTimeout(double seconds);
  double heartbeatInterval() const;
  void setHeartbeatInterval(double seconds);
  void setSkipHeartbeat(bool skip);
  void setReconnectAfter(BackOff backOff);
  double rejoinAfter(int tries) const;
  void setRejoinAfter(BackOff backOff);
  void setLogger(Logger logger);
  // The last reference handed out; setRef moves the counter (it wraps after the largest value).
  std::uint64_t ref() const;
  void setRef(std::uint64_t ref);
  // The references of the sends waiting for the connection, oldest first ("" for none).
  std::vector<std::string> sendBufferRefs() const;
  std::shared_ptr<Strand> strand() const noexcept { return strand_; }
  const std::shared_ptr<TimerQueue>& timerQueue() const noexcept { return timerQueue_; }
  HTTPClientType& http() const noexcept { return *http_; }

  // --- Connection.
  // Opens a connection unless one is open or opening. Throws what endpointURL throws.
  void connect();
  // Closes without reconnecting; the close callbacks hear (code, reason), then `callback` runs.
  void disconnect(CloseCode code = CloseCode::normal,
                  std::optional<std::string> reason = std::nullopt,
                  std::function<void()> callback = {});

  // --- State-change callbacks; each returns its registration reference. The overloads without
  // arguments ignore what the event carries.
  std::string onOpen(std::function<void(std::shared_ptr<const URLResponse>)> callback);
  std::string onOpen(std::function<void()> callback);
  std::string onClose(std::function<void(const CloseReport&)> callback);
  std::string onClose(std::function<void()> callback);
  std::string onError(std::function<void(const ErrorReport&)> callback);
  std::string onMessage(std::function<void(const RealtimeMessage&)> callback);
  // As above, holding `owner` weakly: skipped once it is gone. For open and close, `action` may
  // also take the owner alone.
  template <class Owner, class Action>
  std::string delegateOnOpen(const std::shared_ptr<Owner>& owner, Action action);
  template <class Owner, class Action>
  std::string delegateOnClose(const std::shared_ptr<Owner>& owner, Action action);
  template <class Owner, class Action>
  std::string delegateOnError(const std::shared_ptr<Owner>& owner, Action action);
  template <class Owner, class Action>
  std::string delegateOnMessage(const std::shared_ptr<Owner>& owner, Action action);
  void releaseCallbacks();
  // Drops the registrations with these references from all four lists.
  void off(const std::vector<std::string>& refs);

  // --- Traffic.
  // The next reference, in decimal; the first is "1".
  std::string makeRef();
  // Sends the frame now when connected, else when the connection next opens.
  void push(std::string topic, std::string event, JSONObject payload,
            std::optional<std::string> ref = std::nullopt,
            std::optional<std::string> joinRef = std::nullopt);
  // Drops the buffered sends with this reference.
  void removeFromSendBuffer(const std::string& ref);
  // Stores the token and hands it to every channel: joined channels push "access_token".
  void setAuth(std::optional<std::string> token);

  // --- Channels.
  // A new channel on "realtime:<name>"; asking twice gives two channels.
  std::shared_ptr<RealtimeChannel> channel(const std::string& name,
                                           const RealtimeChannelOptions& options = {});
  std::vector<std::shared_ptr<RealtimeChannel>> channels() const;
  // Leaves the channel, forgets it and its callbacks; disconnects once no channel is left.
  void remove(const std::shared_ptr<RealtimeChannel>& channel);
  void removeAllChannels();
  // Leaves the first joined or joining channel of the topic other than `except` (the channel
  // about to join, which must not leave itself).
  void leaveOpenTopic(const std::string& topic, const RealtimeChannel* except = nullptr);

  // --- Calls of the caller's code.
  // What code of the caller's did while a call of it ran, as the work of the client or of one of
  // its channels that made the call sees it once the call has returned.
  struct AfterCall {
    // The client was released: the work stops there and calls nothing of the caller's again.
    bool released = false;
    // A disconnect() came (or a removal of the last channel), or a connect() that opened another
    // connection: the work acts on no connection, neither the one it began with nor the new one;
    // it writes no close status, starts no heartbeat and plans no reconnect.
    bool overtaken = false;
    // Neither: the work goes on.
    explicit operator bool() const noexcept { return !released && !overtaken; }
  };
  // Every call that the client and its channels make into the caller's code (logger, encoder,
  // decoder, params, back-offs, transport factory, message transformers, callbacks and handlers)
  // goes through here. Runs `call` as strand work, unless the work under way has released the
  // client, and says what it did meanwhile. A connect() that found the connection open or
  // opening changed nothing.
  AfterCall callOut(const std::function<void()>& call) const;

  // Passes "ZarudIvavaroDureru: " and the items joined with ", " to the logger, if any, through
  // callOut.
  AfterCall logItems(const std::vector<std::string>& items) const;
  // The same, with the items made only when there is a logger (a frame costs its redaction).
  AfterCall logItems(const std::function<std::vector<std::string>()>& items) const;

  static CloseStatus closeStatusFor(int code);
  static bool shouldReconnect(CloseStatus status);

 private:
  struct StateChangeCallbacks {
    std::vector<std::pair<std::string, Delegated<std::shared_ptr<const URLResponse>, void>>> open;
    std::vector<std::pair<std::string, Delegated<CloseReport, void>>> close;
    std::vector<std::pair<std::string, Delegated<ErrorReport, void>>> error;
    std::vector<std::pair<std::string, Delegated<RealtimeMessage, void>>> message;
  };
  struct BufferedSend {
    std::optional<std::string> ref;
    std::function<AfterCall()> send;
  };
  class TransportDelegate;
  friend class TransportDelegate;

  // What make() hands out; its end releases the client.
  struct Lease;

  RealtimeClient(std::string endPoint, HeaderDictionary headers, ParamsClosure params,
                 std::string vsn, TransportFactory transport, Environment environment);
  void setUpReconnectTimer();
  // The release: stops and waits as the class comment says. Idempotent.
  void close();
  bool isClosed() const noexcept { return closed_; }

  template <class List, class Box>
  std::string addCallback(List StateChangeCallbacks::*list, Box box);

  // Everything below runs on the strand.
  std::string nextRef();
  // Overtaken on the way, the frame is not sent: the caller buffers it again.
  AfterCall sendFrame(const std::optional<std::string>& joinRef,
                      const std::optional<std::string>& ref, const std::string& topic,
                      const std::string& event, const JSONObject& payload);
  void connectNow();
  // Resets the reconnect timer and calls off a reconnect it has already posted.
  void cancelReconnect();
  // Drops the connection, stops the heartbeat and tells the close callbacks; says what they did.
  AfterCall teardown(CloseCode code, const std::optional<std::string>& reason);
  void stopHeartbeat();
  void resetHeartbeat();
  void sendHeartbeat();
  // A send overtaken on the way stays buffered for the next connection, with those after it.
  AfterCall flushSendBuffer();
  void triggerChanError();
  void removeNow(const std::shared_ptr<RealtimeChannel>& channel);
  void onConnOpen(const PhoenixTransport* source, std::shared_ptr<const URLResponse> response);
  void onConnClose(const PhoenixTransport* source, const CloseReport& report);
  void onConnError(const PhoenixTransport* source, const ErrorReport& report);
  void onConnMessage(const PhoenixTransport* source, const std::string& rawMessage);
  // Calls a copy of the list in order, each through callOut; only a release stops it.
  template <class Entries, class Input>
  AfterCall callEach(Entries entries, const Input& input);

  const std::string endPoint_;
  const ParamsClosure paramsClosure_;
  const TransportFactory transport_;
  const std::string vsn_;
  const std::shared_ptr<ClosableStrand> strand_;
  std::atomic<bool> closed_{false};  // set once, on the strand
  const std::shared_ptr<TimerQueue> timerQueue_;
  const std::shared_ptr<Executor> heartbeatQueue_;
  const std::shared_ptr<HTTPClientType> http_;

  // Strand-only state.
  HeaderDictionary headers_;
  Encode encode_;
  Decode decode_;
  std::chrono::nanoseconds heartbeatLeeway_ = Defaults::heartbeatLeeway;
  bool disableSSLCertValidation_ = false;
  std::optional<std::vector<std::uint32_t>> enabledSSLCipherSuites_;
  boost::urls::url endPointUrl_;
  double timeout_ = Defaults::timeoutInterval;
  double heartbeatInterval_ = Defaults::heartbeatInterval;
  BackOff reconnectAfter_ = Defaults::reconnectSteppedBackOff;
  BackOff rejoinAfter_ = Defaults::rejoinSteppedBackOff;
  Logger logger_;
  bool skipHeartbeat_ = false;
  StateChangeCallbacks stateChangeCallbacks_;
  std::vector<std::shared_ptr<RealtimeChannel>> channels_;
  std::vector<BufferedSend> sendBuffer_;
  std::uint64_t ref_ = 0;
  std::unique_ptr<HeartbeatTimer> heartbeatTimer_;
  std::optional<std::string> pendingHeartbeatRef_;
  std::shared_ptr<TimeoutTimer> reconnectTimer_;
  // From the close that schedules a reconnect until it runs or is called off.
  bool reconnectPlanned_ = false;
  CloseStatus closeStatus_ = CloseStatus::unknown;
  std::shared_ptr<PhoenixTransport> connection_;
  // Moved on by every teardown and by each connection connect() opens: work begun before then
  // is overtaken (see callOut).
  std::uint64_t generation_ = 0;
  std::optional<std::string> accessToken_;
};

// Implementation.

template <class Entries, class Input>
RealtimeClient::AfterCall RealtimeClient::callEach(Entries entries, const Input& input) {
  return callOut([&] {
    for (const auto& entry : entries) {
      if (callOut([&] { entry.second.call(input); }).released) return;
    }
  });
}

template <class List, class Box>
std::string RealtimeClient::addCallback(List StateChangeCallbacks::*list, Box box) {
  return strand_->call([&] {
    std::string ref = nextRef();
    (stateChangeCallbacks_.*list).emplace_back(ref, std::move(box));
    return ref;
  });
}

template <class Owner, class Action>
std::string RealtimeClient::delegateOnOpen(const std::shared_ptr<Owner>& owner, Action action) {
  Delegated<std::shared_ptr<const URLResponse>, void> box;
  if constexpr (std::is_invocable_v<Action&, Owner&>) {
    box.delegate(owner, [action = std::move(action)](Owner& o, const auto&) { action(o); });
  } else {
    box.delegate(owner, std::move(action));
  }
  return addCallback(&StateChangeCallbacks::open, std::move(box));
}

template <class Owner, class Action>
std::string RealtimeClient::delegateOnClose(const std::shared_ptr<Owner>& owner, Action action) {
  Delegated<CloseReport, void> box;
  if constexpr (std::is_invocable_v<Action&, Owner&>) {
    box.delegate(owner, [action = std::move(action)](Owner& o, const auto&) { action(o); });
  } else {
    box.delegate(owner, std::move(action));
  }
  return addCallback(&StateChangeCallbacks::close, std::move(box));
}

template <class Owner, class Action>
std::string RealtimeClient::delegateOnError(const std::shared_ptr<Owner>& owner, Action action) {
  Delegated<ErrorReport, void> box;
  box.delegate(owner, std::move(action));
  return addCallback(&StateChangeCallbacks::error, std::move(box));
}

template <class Owner, class Action>
std::string RealtimeClient::delegateOnMessage(const std::shared_ptr<Owner>& owner, Action action) {
  Delegated<RealtimeMessage, void> box;
  box.delegate(owner, std::move(action));
  return addCallback(&StateChangeCallbacks::message, std::move(box));
}

}  // namespace voduzazi::realtime
