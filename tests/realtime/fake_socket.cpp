#include "tests/realtime/fake_socket.hpp"

#include <chrono>
#include <stdexcept>

#include "tests/support/settle.hpp"

namespace voduzazi::realtime::testing {

void InlineStrand::sync(const std::function<void()>& work) {
  std::lock_guard lock(mutex_);
  struct Depth {
    InlineStrand& strand;
    explicit Depth(InlineStrand& s) : strand(s) {
      if (strand.depth_++ == 0) strand.owner_.store(std::this_thread::get_id());
    }
    ~Depth() {
      if (--strand.depth_ == 0) strand.owner_.store(std::thread::id());
    }
  } depth(*this);
  work();
}

PhoenixTransportReadyState FakeTransport::readyState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::shared_ptr<PhoenixTransportDelegate> FakeTransport::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void FakeTransport::setDelegate(std::shared_ptr<PhoenixTransportDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

void FakeTransport::connect(const std::map<std::string, std::string>& headers) {
  std::lock_guard lock(mutex_);
  headers_ = headers;
  state_ = PhoenixTransportReadyState::connecting;
}

void FakeTransport::disconnect(int code, const std::optional<std::string>& reason) {
  std::lock_guard lock(mutex_);
  disconnects_.emplace_back(code, reason);
  state_ = PhoenixTransportReadyState::closing;
}

void FakeTransport::send(const Data& data) {
  bool answer = false;
  {
    std::lock_guard lock(mutex_);
    sent_.push_back(data);
    answer = answersHeartbeats_;
  }
  changed_.notify_all();
  if (!answer) return;
  const auto json = Defaults::decode(data);
  const auto* sent = json ? json->arrayValue() : nullptr;
  if (sent && sent->size() == 5 && textAt(*sent, 3) == "heartbeat") {
    receive(reply(std::nullopt, textAt(*sent, 1), "phoenix", "ok"));
  }
}

void FakeTransport::answerHeartbeats(bool answer) {
  std::lock_guard lock(mutex_);
  answersHeartbeats_ = answer;
}

void FakeTransport::open() {
  {
    std::lock_guard lock(mutex_);
    state_ = PhoenixTransportReadyState::open;
  }
  if (auto listener = delegate()) listener->onOpen(nullptr);
}

void FakeTransport::receive(const std::string& text) {
  if (auto listener = delegate()) listener->onMessage(text);
}

void FakeTransport::closeFromServer(int code, std::optional<std::string> reason) {
  {
    std::lock_guard lock(mutex_);
    state_ = PhoenixTransportReadyState::closed;
  }
  if (auto listener = delegate()) listener->onClose(code, reason);
}

void FakeTransport::fail() {
  {
    std::lock_guard lock(mutex_);
    state_ = PhoenixTransportReadyState::closed;
  }
  if (auto listener = delegate()) {
    listener->onError(
        WebSocketTaskError(std::make_error_code(std::errc::connection_refused), "refused"),
        nullptr);
    listener->onClose(999, "refused");
  }
}

std::map<std::string, std::string> FakeTransport::headers() const {
  std::lock_guard lock(mutex_);
  return headers_;
}

std::vector<std::string> FakeTransport::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::vector<JSONArray> FakeTransport::frames(std::size_t count) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(10), [&] { return sent_.size() >= count; });
  std::vector<JSONArray> frames;
  for (const auto& text : sent_) {
    auto json = Defaults::decode(text);
    frames.push_back(json && json->arrayValue() ? *json->arrayValue() : JSONArray{});
  }
  return frames;
}

std::vector<std::pair<int, std::optional<std::string>>> FakeTransport::disconnects() const {
  std::lock_guard lock(mutex_);
  return disconnects_;
}

helpers::HTTPResponse RecordingHTTPClient::send(const helpers::HTTPRequest& request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(request);
  return helpers::HTTPResponse(
      "", std::make_shared<HTTPURLResponse>(request.url, status_, HeaderFieldList{}));
}

std::vector<helpers::HTTPRequest> RecordingHTTPClient::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void RecordingHTTPClient::setStatus(int status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}

SocketHarness::SocketHarness() = default;
SocketHarness::~SocketHarness() {
  // Time-outs still planned wait on threads of their own: let them come due and end (a time-out
  // may plan one more, such as the leave after a join time-out).
  // The test has checked what it checks, so a timer thread that is late does not fail it here.
  for (int round = 0; round < 3; ++round) {
    clock->advance(std::chrono::hours(1));
    main->runPending();
  }
}

std::shared_ptr<RealtimeClient> SocketHarness::client(std::string endPoint,
                                                      std::optional<JSONObject> params,
                                                      HeaderDictionary headers) {
  RealtimeClient::Environment environment{strand, timers, main, http};
  auto factory = [this](const boost::urls::url& url) {
    if (onCallerCode) onCallerCode("transport factory");
    auto transport = std::make_shared<FakeTransport>(url);
    std::lock_guard lock(mutex_);
    transports_.push_back(transport);
    return transport;
  };
  auto client = RealtimeClient::make(
      std::move(endPoint), std::move(headers),
      [this, params] {
        if (onCallerCode) onCallerCode("params");
        return params;
      },
      std::string(Defaults::vsn), factory, environment);
  client->setLogger([this](const std::string& line) {
    std::lock_guard lock(mutex_);
    logs_.push_back(line);
  });
  return client;
}

std::shared_ptr<RealtimeClient> SocketHarness::openClient() {
  auto made = client();
  made->connect();
  transport().open();
  return made;
}

FakeTransport& SocketHarness::transport() const {
  std::lock_guard lock(mutex_);
  if (transports_.empty()) {
    throw std::logic_error("SocketHarness::transport(): no connection made yet");
  }
  return *transports_.back();
}

std::size_t SocketHarness::transportCount() const {
  std::lock_guard lock(mutex_);
  return transports_.size();
}

std::size_t SocketHarness::advance(Duration by) {
  clock->advance(by);
  voduzazi::testing::settle("SocketHarness::advance(" + describeDuration(by) +
                            "), before it runs the timers that came due");
  return main->runPending();
}

std::vector<std::string> SocketHarness::logs() const {
  std::lock_guard lock(mutex_);
  return logs_;
}

std::string frame(const std::optional<std::string>& joinRef, const std::optional<std::string>& ref,
                  const std::string& topic, const std::string& event, const JSONObject& payload) {
  return encodeArrayFrame(joinRef, ref, topic, event, payload);
}

std::string reply(const std::optional<std::string>& joinRef, const std::string& ref,
                  const std::string& topic, const std::string& status, const JSONObject& response) {
  return frame(joinRef, ref, topic, "phx_reply",
               JSONObject{{"status", status}, {"response", response}});
}

std::string nameOf(RealtimeSubscribeStates state) {
  switch (state) {
    case RealtimeSubscribeStates::subscribed:
      return "subscribed";
    case RealtimeSubscribeStates::timedOut:
      return "timedOut";
    case RealtimeSubscribeStates::closed:
      return "closed";
    case RealtimeSubscribeStates::channelError:
      return "channelError";
  }
  return "";
}

std::string textAt(const JSONArray& frame, std::size_t index) {
  if (index >= frame.size() || frame[index].stringValue() == nullptr) return "";
  return *frame[index].stringValue();
}

const JSONObject& payloadOf(const JSONArray& frame) {
  static const JSONObject none;
  if (frame.size() < 5 || frame[4].objectValue() == nullptr) return none;
  return *frame[4].objectValue();
}

}  // namespace voduzazi::realtime::testing
