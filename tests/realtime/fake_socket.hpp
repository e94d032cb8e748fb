// What the older realtime client's unit tests share: a strand that runs work at once on the
// calling thread, an in-memory transport the test opens, feeds and closes, an HTTP client that
// records requests, and a harness that builds a client over them with a test clock and a main
// executor drained by hand.
//
//   SocketHarness harness;
//   auto client = harness.client();
//   client->connect();
//   harness.transport().open();
//   harness.transport().receive(R"([null,"1","phoenix","phx_reply",{"status":"ok"}])");
//   harness.advance(30s);                                  // one heartbeat
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "voduzazi/clocks/test_clock.hpp"
#include "voduzazi/concurrency/main_executor.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::realtime::testing {

// Runs work at once, on the caller's thread, one caller at a time.
class InlineStrand final : public Strand {
 public:
  void post(std::function<void()> work) override { sync(work); }
  void sync(const std::function<void()>& work) override;
  bool isCurrent() const override { return owner_.load() == std::this_thread::get_id(); }

 private:
  std::recursive_mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;
};

// One connection: records what the client does with it; the test plays the server.
class FakeTransport final : public PhoenixTransport {
 public:
  explicit FakeTransport(boost::urls::url url) : url_(std::move(url)) {}

  PhoenixTransportReadyState readyState() const override;
  std::shared_ptr<PhoenixTransportDelegate> delegate() const override;
  void setDelegate(std::shared_ptr<PhoenixTransportDelegate> delegate) override;
  void connect(const std::map<std::string, std::string>& headers) override;
  void disconnect(int code, const std::optional<std::string>& reason) override;
  void send(const Data& data) override;

  // The server's side.
  void open();
  void receive(const std::string& text);
  void closeFromServer(int code, std::optional<std::string> reason = std::nullopt);
  // A transport failure: an error, then a close of 999.
  void fail();
  // From now on each heartbeat sent is answered "ok" at once (or, with false, no longer).
  void answerHeartbeats(bool answer = true);

  const boost::urls::url& url() const { return url_; }
  std::map<std::string, std::string> headers() const;
  std::vector<std::string> sent() const;
  // The sent frames as arrays; waits up to 10 s for at least `count` of them.
  std::vector<JSONArray> frames(std::size_t count = 0) const;
  std::vector<std::pair<int, std::optional<std::string>>> disconnects() const;

 private:
  const boost::urls::url url_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  PhoenixTransportReadyState state_ = PhoenixTransportReadyState::closed;
  std::shared_ptr<PhoenixTransportDelegate> delegate_;
  std::map<std::string, std::string> headers_;
  std::vector<std::string> sent_;
  std::vector<std::pair<int, std::optional<std::string>>> disconnects_;
  bool answersHeartbeats_ = false;
};

// Answers every request with a fixed status and keeps the requests.
class RecordingHTTPClient final : public HTTPClientType {
 public:
  explicit RecordingHTTPClient(int status = 202) : status_(status) {}
  helpers::HTTPResponse send(const helpers::HTTPRequest& request) override;
  std::vector<helpers::HTTPRequest> requests() const;
  void setStatus(int status);

 private:
  mutable std::mutex mutex_;
  int status_;
  std::vector<helpers::HTTPRequest> requests_;
};

class SocketHarness {
 public:
  SocketHarness();
  // Lets every planned time-out come due, so that no timer thread outlives the harness.
  ~SocketHarness();

  // A client on "https://abcd.example.co/realtime/v1" with params {"apikey": "anon-key"} and no
  // headers of the caller's, all of whose connections are FakeTransports; its log lines are kept.
  std::shared_ptr<RealtimeClient> client(
      std::string endPoint = "https://abcd.example.co/realtime/v1",
      std::optional<JSONObject> params = JSONObject{{"apikey", "anon-key"}},
      HeaderDictionary headers = {});
  // The client connected and its transport open.
  std::shared_ptr<RealtimeClient> openClient();

  // The latest connection (throws std::logic_error before the first) and how many were made.
  FakeTransport& transport() const;
  std::size_t transportCount() const;
  // Moves the test clock on, waits until the timer thread has handed over what came due, and
  // runs it; returns how much ran. Throws TasksDidNotSettle when that hand-over takes 10 s.
  std::size_t advance(Duration by);
  std::vector<std::string> logs() const;

  std::shared_ptr<TestClock> clock = std::make_shared<TestClock>();
  std::shared_ptr<AnyClock> anyClock = std::make_shared<AnyClock>(clock);
  std::shared_ptr<ManualMainExecutor> main = std::make_shared<ManualMainExecutor>();
  std::shared_ptr<TimerQueue> timers =
      std::make_shared<TimerQueue>(anyClock, [main = main] { return main; });
  // Replace before client() to run the client on a strand of its own (Strand::serial()).
  std::shared_ptr<Strand> strand = std::make_shared<InlineStrand>();
  std::shared_ptr<RecordingHTTPClient> http = std::make_shared<RecordingHTTPClient>();
  // Set before client() to hear "params" and "transport factory" each time the client asks them.
  std::function<void(const std::string&)> onCallerCode;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<FakeTransport>> transports_;
  std::vector<std::string> logs_;
};

// The text of a server frame [joinRef, ref, topic, event, payload].
std::string frame(const std::optional<std::string>& joinRef, const std::optional<std::string>& ref,
                  const std::string& topic, const std::string& event, const JSONObject& payload);
// A "phx_reply" with the status and response.
std::string reply(const std::optional<std::string>& joinRef, const std::string& ref,
                  const std::string& topic, const std::string& status,
                  const JSONObject& response = {});
// Element `index` of a frame as text ("" when it is not a string).
std::string textAt(const JSONArray& frame, std::size_t index);

// A subscribe report as the tests write it: "subscribed", "timedOut", "closed", "channelError".
std::string nameOf(RealtimeSubscribeStates state);
const JSONObject& payloadOf(const JSONArray& frame);

}  // namespace voduzazi::realtime::testing
