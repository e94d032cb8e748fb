// RealtimeClientV2: one websocket to a project's realtime server, shared by the channels made
// through it. It connects when the first channel subscribes, sends a heartbeat every interval,
// keeps messages pushed while disconnected and sends them once connected, and after any failure
// reconnects after a pause, without limit, until disconnect(). Every new connection joins again
// each channel that was subscribed and not since unsubscribed or removed, also one whose
// subscribe gave up.
//
//   auto client = RealtimeClientV2::make(realtimeURL, RealtimeClientOptions({{"apikey", key}}));
//   auto room = client->channel("room", [](RealtimeChannelConfig& c) { c.presence.key = "ada"; });
//   auto token = room->onBroadcast("typing", [](const JSONObject& payload) { show(payload); });
//   room->subscribeWithError();                        // connects first; throws RealtimeError
//   room->broadcast("typing", {{"who", "ada"}});
//   client->setAuth(userToken);                        // the joined channels get it too
//   client->removeAllChannels();                       // leaves them; the socket closes after
//
// Shared objects: safe; every operation may be called from any thread. Blocking calls
// (connect, setAuth, channel subscriptions) wait on the calling thread. Channel callbacks run on
// the client's receive thread, one message at a time: they must not wait for the channel.
// Status and heartbeat listeners (the channels' status listeners too) run one at a time on one
// listener thread of the client: they must not wait for one another.
// Lifetime: held by shared_ptr; owns its channels, which hold it weakly. The client is released
// when the last reference make() handed out (or a copy of it) goes, whatever its own tasks still
// hold: the release ends the subscribes under way, drops the connection, listener calls not yet
// made and broadcasts not yet sent, and waits for every task and thread the client started
// that may call the caller's things (its connection, receive, heartbeat and rejoin tasks, its
// listener thread and HTTP broadcast workers). Those are cancelled and end within the client's
// time-outs, except a listener or callback under way, which is waited for until it returns; its
// timer thread goes with the client object. From then on nothing calls the transport, fetch,
// token function, logger, listeners or callbacks the caller gave.
// Released from inside one of those tasks (a listener or callback, say), it does not wait for
// that one, which makes no further call of the caller's. Channels then act as if it were gone.
#pragma once

#include <atomic>
#include <boost/url/url.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/async_value_subject.hpp"
#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/observation_token.hpp"
#include "voduzazi/realtime/broadcast_queue.hpp"
#include "voduzazi/realtime/client_timers.hpp"
#include "voduzazi/realtime/detail/listened_subject.hpp"
#include "voduzazi/realtime/detail/listener_queue.hpp"
#include "voduzazi/realtime/detail/task_set.hpp"
#include "voduzazi/realtime/join_config.hpp"
#include "voduzazi/realtime/realtime_client_options.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"
#include "voduzazi/realtime/web_socket.hpp"

namespace voduzazi::realtime {

class RealtimeChannelV2;

class RealtimeClientV2 : public std::enable_shared_from_this<RealtimeClientV2> {
 public:
  // Opens one connection to a websocket URL with the given opening headers; throws when it
  // cannot.
  using WebSocketTransport =
      std::function<std::shared_ptr<WebSocket>(const boost::urls::url&, const HeaderDictionary&)>;
  // A uniformly distributed number in [0, 1]; the join retries' jitter.
  using RandomSource = std::function<double()>;

  // The older way to configure a client; see make(const Configuration&).
  struct Configuration {
    boost::urls::url url;
    std::string apiKey;
    HeaderDictionary headers;
    Seconds heartbeatInterval = RealtimeClientOptions::defaultHeartbeatInterval;
    Seconds reconnectDelay = RealtimeClientOptions::defaultReconnectDelay;
    Seconds timeoutInterval = RealtimeClientOptions::defaultTimeoutInterval;
    bool disconnectOnSessionLoss = RealtimeClientOptions::defaultDisconnectOnSessionLoss;
    bool connectOnSubscribe = RealtimeClientOptions::defaultConnectOnSubscribe;
    std::shared_ptr<VoduzaziLogger> logger{};
  };

  // What changes while the client lives; read a snapshot with mutableState().
  struct MutableState {
    std::optional<std::string> accessToken;
    std::int64_t ref = 0;  // the last message reference handed out
    std::optional<std::string> pendingHeartbeatRef;
    std::optional<Task<void>> heartbeatTask;
    std::optional<Task<void>> messageTask;
    std::optional<Task<void>> connectionTask;
    std::map<std::string, std::shared_ptr<RealtimeChannelV2>> channels;  // by topic
    // Frames waiting for a connection (or, after a reconnect, for their channel's join).
    std::vector<std::pair<std::string, Data>> sendBuffer;  // topic, frame
    std::set<std::string> awaitingRejoin;                  // topics whose frames wait
    std::shared_ptr<WebSocket> conn;
    // Which channel object sent each join of the current connection, by reference: frames of
    // an earlier object's join never reach a newer object of its topic.
    std::map<std::string, std::weak_ptr<RealtimeChannelV2>> joins;
    std::uint64_t connections = 0;  // opened so far; the current one's number
  };

  // Connects over URLSessionWebSocket and sends HTTP through options.fetch (the shared URL
  // session when absent), logged when there is a logger. Throws std::invalid_argument when the
  // headers hold no "apiKey".
  static std::shared_ptr<RealtimeClientV2> make(boost::urls::url url,
                                                RealtimeClientOptions options);
  // With the caller's transport, HTTP client and random source (a seeded generator by default).
  static std::shared_ptr<RealtimeClientV2> make(boost::urls::url url, RealtimeClientOptions options,
                                                WebSocketTransport transport,
                                                std::shared_ptr<HTTPClientType> http,
                                                RandomSource random = {});
  // Options from the configuration: its headers (the API key must be among them; `apiKey` fills
  // the "apiKey" header only when they have none), intervals and logger, 5 retry attempts.
  static std::shared_ptr<RealtimeClientV2> make(const Configuration& configuration);
  // The options make(Configuration) builds.
  static RealtimeClientOptions optionsFrom(const Configuration& configuration);

  ~RealtimeClientV2();
  RealtimeClientV2(const RealtimeClientV2&) = delete;
  RealtimeClientV2& operator=(const RealtimeClientV2&) = delete;

  const boost::urls::url& url() const noexcept { return url_; }
  // The options given, with "X-Client-Info: realtime-cpp/<version>" added when they had none.
  const RealtimeClientOptions& options() const noexcept { return options_; }
  const std::shared_ptr<HTTPClientType>& http() const noexcept { return http_; }
  const std::string& apikey() const noexcept { return apikey_; }
  MutableState mutableState() const;

  // --- Connection.
  RealtimeClientStatus status() const { return statusSubject_.value(); }
  // The current status, then each change.
  AsyncStream<RealtimeClientStatus> statusChange() { return statusSubject_.values(); }
  // Calls `listener` with the current status and each change (on the client's listener thread)
  // until the token is cancelled or released, or the client is released.
  std::shared_ptr<ObservationToken> onStatusChange(
      std::function<void(RealtimeClientStatus)> listener);
  // Returns once connected; a call while connecting waits for the attempt under way. Throws
  // CancellationError when the calling task is cancelled first, on the release, and when a
  // disconnect() ends the attempt it waits for, unless another connect() or a subscribe has
  // started a new attempt by then: it then waits for that one.
  void connect();
  // Closes the connection with `code` and `reason` and stops the connection's tasks. Returns at
  // once. No reconnect follows: a reconnect under way ends, and the client connects again only
  // for the next connect() or subscribe.
  void disconnect(std::optional<int> code = std::nullopt,
                  std::optional<std::string> reason = std::nullopt);

  // --- Heartbeat.
  // The last heartbeat status when there is one, then each later one.
  AsyncStream<HeartbeatStatus> heartbeat();
  // Calls `listener` as onStatusChange does, with the heartbeat statuses of heartbeat().
  std::shared_ptr<ObservationToken> onHeartbeat(std::function<void(HeartbeatStatus)> listener);

  // --- Sending.
  // Sends the message now when connected, else keeps it until the next connection opens.
  // Messages leave in the order of these calls. A message that cannot be encoded, or pushed from
  // a cancelled task, is logged and dropped.
  void push(const RealtimeMessageV2& message);
  // "1", "2", ...; starts again from "1" after every disconnect.
  std::string makeRef();

  // --- Access token.
  // Uses `token`, or else options.accessToken's (an error counts as none). A changed token is
  // stored and sent to every subscribed channel.
  void setAuth(std::optional<std::string> token = std::nullopt);
  // The token last accepted (at first the last word of the "Authorization" header).
  std::optional<std::string> accessToken() const;

  // --- Channels.
  std::map<std::string, std::shared_ptr<RealtimeChannelV2>> channels() const;
  // The channel of topic "realtime:<name>": the registered one, or a new one configured by
  // `options` (which then runs on the calling thread).
  std::shared_ptr<RealtimeChannelV2> channel(
      std::string_view name, const std::function<void(RealtimeChannelConfig&)>& options = {});
  // Registers a channel under its topic, replacing any there.
  void addChannel(std::shared_ptr<RealtimeChannelV2> channel);
  // Ends the channel's subscribes under way (they throw RealtimeError at once, send no more joins
  // and never connect the client again), leaves a subscribed channel (waiting up to
  // timeoutInterval for the server's close) or one whose join is still unanswered, drops it from
  // the registry with the frames that waited for it, and closes the connection when no channel
  // is left.
  void removeChannel(const std::shared_ptr<RealtimeChannelV2>& channel);
  // removeChannel for every channel at once; returns when all are done.
  void removeAllChannels();
  // Drops the registry entry of the channel's topic when it is this channel.
  void remove(const RealtimeChannelV2& channel);

  // --- URLs.
  // https becomes wss and http ws; other schemes stay.
  static boost::urls::url realtimeBaseURL(const boost::urls::url& url);
  // The base URL's query items, then "apikey" (when given), "vsn=1.0.0" and "log_level" (when
  // given); "/websocket" appended to the path, "//" folded.
  static boost::urls::url realtimeWebSocketURL(const boost::urls::url& baseURL,
                                               const std::optional<std::string>& apikey,
                                               std::optional<LogLevel> logLevel);

  // A number in [0, 1] from the random source.
  double random() const;

  // The time-outs of the client and its channels, on one timer thread.
  ClientTimers& timers() const noexcept { return *timers_; }
  // The HTTP broadcasts of its channels, on a few shared worker threads.
  BroadcastQueue& broadcasts() const noexcept { return *broadcasts_; }

 private:
  friend class RealtimeChannelV2;
  // What make() hands out; its end releases the client.
  struct Lease;

  RealtimeClientV2(boost::urls::url url, RealtimeClientOptions options,
                   WebSocketTransport transport, std::shared_ptr<HTTPClientType> http,
                   RandomSource random);

  // The release: stops and waits as the class comment says. Idempotent.
  void close();
  bool isClosed() const;
  // A reference that keeps the client open, while one is held elsewhere.
  std::shared_ptr<RealtimeClientV2> handle() const { return handle_.lock(); }
  // Starts `body` on a task the release waits for; nothing once released.
  std::optional<Task<void>> startTask(std::function<void()> body);

  // Registers the channel unless a channel holds its topic; false when another object does.
  bool registerIfAbsent(const std::shared_ptr<RealtimeChannelV2>& channel);
  // The channel sent the join `ref` on the current connection.
  void noteJoin(const std::string& ref, const std::shared_ptr<RealtimeChannelV2>& channel);
  // Drops a registered channel with the frames that wait for it; true when it sent a join on the
  // current connection.
  bool detach(const RealtimeChannelV2& channel);
  // A subscribe's wait for a connection. Unlike connect(), a disconnect does not end it: the
  // subscribe's attempt times out instead, and its retry connects.
  void waitUntilConnected();

  // Connection (realtime_client_v2_connection.cpp).
  void startConnecting(bool reconnect);
  void startConnectingLocked(bool reconnect);
  // The tasks of a connection, and its attempts, carry the generation they were started in.
  static void runConnection(const std::weak_ptr<RealtimeClientV2>& weak, bool reconnect,
                            std::optional<Task<void>> previous, std::uint64_t generation);
  static bool waitBeforeReconnect(const std::weak_ptr<RealtimeClientV2>& weak);
  bool attemptConnection(std::uint64_t generation);
  // The channels a new connection joins again, and that connection's number.
  struct Rejoins {
    std::vector<std::shared_ptr<RealtimeChannelV2>> channels;
    std::uint64_t connection = 0;
  };
  void onConnected(Rejoins rejoin);
  // Joins the channels again, one after another, on a task that holds the client.
  void rejoinLater(Rejoins rejoins);
  void rejoinChannels(const Rejoins& rejoins);
  // The number of the connection a frame pushed now goes out on: the open one, else the next.
  std::uint64_t connectionOfNextFrame() const;
  static void listenForMessages(const std::weak_ptr<RealtimeClientV2>& weak,
                                const AsyncStream<WebSocketEvent>& events,
                                std::uint64_t generation);
  bool handleEvent(const WebSocketEvent& event, std::uint64_t generation);
  void onMessage(const RealtimeMessageV2& message);
  // With mutex_ held: the frame belongs to a join another object of the topic sent.
  bool isOfAnotherObject(const RealtimeMessageV2& message,
                         const std::shared_ptr<RealtimeChannelV2>& channel) const;
  void onClose(std::optional<int> code, const std::string& reason, std::uint64_t generation);
  void onError(const std::exception_ptr& error);
  // On a task of the connection of `generation`: disconnects and starts the next attempt,
  // unless a teardown since (a disconnect, another reconnect, the release) ended it.
  void reconnect(std::optional<std::string> disconnectReason, std::uint64_t generation);
  // disconnect(), or with the generation of the connection it replaces reconnect().
  void closeConnection(std::optional<int> code, std::optional<std::string> reason,
                       std::optional<std::uint64_t> reconnecting);
  // What a teardown decided under mutex_ and does after it, since cancelling runs the tasks'
  // stop callbacks (a transport's too) at once: the tasks to cancel, then the socket to close.
  struct Teardown {
    std::vector<Task<void>> tasks;
    std::shared_ptr<WebSocket> conn;
    void finish(std::optional<int> code, std::optional<std::string> reason) const;
  };
  // Closes and forgets the connection and its tasks; the status becomes disconnected.
  void resetConnection(std::optional<int> code, std::optional<std::string> reason);
  // resetConnection with mutex_ held, up to what `teardown` does after it.
  void resetConnectionLocked(Teardown& teardown);

  // Heartbeat and sending (realtime_client_v2_sending.cpp).
  static void runHeartbeat(const std::weak_ptr<RealtimeClientV2>& weak, Seconds interval,
                           std::uint64_t generation);
  void sendHeartbeat(std::uint64_t generation);
  std::string makeRefLocked();
  // Sends the buffered frames `take` selects, in order; call with sendMutex_ held.
  void sendBuffered(const std::function<bool(const std::string& topic)>& take);
  // The frames of `topic` no longer wait for its join.
  void releaseTopic(const std::string& topic);
  void logSendFailure(const RealtimeMessageV2& message, const std::string& error) const;

  // Set once released: the logger given (which channels share) then drops every line.
  const std::shared_ptr<std::atomic<bool>> released_ = std::make_shared<std::atomic<bool>>(false);
  const boost::urls::url url_;
  const RealtimeClientOptions options_;
  const WebSocketTransport wsTransport_;
  const std::shared_ptr<HTTPClientType> http_;
  const RandomSource random_;
  const std::string apikey_;
  std::weak_ptr<RealtimeClientV2> handle_;  // what make() handed out
  const std::shared_ptr<detail::ListenerQueue> listeners_ =
      std::make_shared<detail::ListenerQueue>();
  detail::ListenedSubject<RealtimeClientStatus> statusSubject_{RealtimeClientStatus::disconnected,
                                                               listeners_};
  detail::ListenedSubject<std::optional<HeartbeatStatus>> heartbeatSubject_{std::nullopt,
                                                                            listeners_};
  detail::TaskSet tasks_;
  // Declared in this order so that the workers, which read the timers' time, go first.
  const std::unique_ptr<ClientTimers> timers_ = std::make_unique<ClientTimers>();
  const std::unique_ptr<BroadcastQueue> broadcasts_;
  // Guards state_; held only for short steps, never while calling out or cancelling a task.
  mutable std::mutex mutex_;
  MutableState state_;
  bool closed_ = false;  // guarded by mutex_
  // Guarded by mutex_: the connection attempts the caller asked for (connect(), a subscribe),
  // numbered from 1, and the latest one that a disconnect() ended.
  std::uint64_t askedAttempt_ = 0;
  std::uint64_t endedAttempt_ = 0;
  // Guarded by mutex_: moved on by every teardown (a disconnect, a reconnect, the release). A
  // task of an earlier generation, cancelled or not yet, acts on no connection.
  std::uint64_t generation_ = 0;
  std::uint64_t connectionGeneration_ = 0;  // that of state_.connectionTask
  // Orders frames on the connection: held from the decision to send a frame until it was sent.
  std::mutex sendMutex_;
};

}  // namespace voduzazi::realtime
