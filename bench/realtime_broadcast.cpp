// The trip of one small broadcast from one client to another through the in-process stand-in
// backend (RealtimeClientV2 and RealtimeChannelV2 on both ends: encoding, the socket, the hub's
// fan-out, the receive loop, decoding and the channel's callback), against a bare Beast
// websocket client and echo server on the same machine (client to server to client, the same
// two legs). Between the two, bare Beast clients through the stand-in show what the stand-in
// itself costs. The process is pinned to one CPU, so every hand-over between threads is a
// context switch.
//
//   build/release/bench/realtime_broadcast 4000
//   # bare Beast echo:       p50     15.5 us, p99     20.4 us
//   # bare via stand-in:     p50     44.1 us, p99     83.9 us
//   # RealtimeClientV2:      p50     74.1 us, p99    118.6 us
//   # ratio to bare via stand-in (p50): 1.680
//   # ratio (p50):           4.781
#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.hpp"
#include "local_backend/server.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace {

namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace voduzazi;
using namespace voduzazi::realtime;

struct Percentiles {
  double p50 = 0;
  double p99 = 0;
};

Percentiles percentiles(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) {
    return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
  };
  return {at(0.50), at(0.99)};
}

double microsSince(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::micro>(end - start).count();
}

// The payload both roads carry, about the size of a chat line.
const std::string kText = "typing: a short message of about sixty characters in all...";

// A Beast websocket server that echoes every message on one connection.
class EchoServer {
 public:
  EchoServer() : acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~EchoServer() { thread_.join(); }
  unsigned short port() const { return acceptor_.local_endpoint().port(); }

 private:
  void serve() {
    websocket::stream<tcp::socket> socket(acceptor_.accept());
    socket.accept();
    boost::beast::flat_buffer buffer;
    boost::system::error_code error;
    for (;;) {
      socket.read(buffer, error);
      if (error) return;
      socket.text(socket.got_text());
      socket.write(buffer.data(), error);
      if (error) return;
      buffer.consume(buffer.size());
    }
  }

  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::thread thread_;
};

std::vector<double> bareEcho(int trips) {
  EchoServer server;
  asio::io_context io;
  websocket::stream<tcp::socket> socket(io);
  socket.next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server.port()));
  socket.handshake("127.0.0.1", "/");
  socket.text(true);
  boost::beast::flat_buffer buffer;
  const std::string message = R"({"event":"typing","payload":{"text":")" + kText + R"("}})";
  std::vector<double> micros;
  for (int i = 0; i < trips; ++i) {
    const auto start = Clock::now();
    socket.write(asio::buffer(message));
    socket.read(buffer);
    micros.push_back(microsSince(start, Clock::now()));
    buffer.consume(buffer.size());
  }
  socket.close(websocket::close_code::normal);
  boost::beast::flat_buffer rest;
  boost::system::error_code ignored;
  socket.read(rest, ignored);  // the server's answer to the close
  return micros;
}

// A bare Beast client of the stand-in's websocket, speaking the object frames by hand.
class BareClient {
 public:
  BareClient(const local_backend::Server& server, asio::io_context& io) : socket_(io) {
    socket_.next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server.port()));
    socket_.handshake("127.0.0.1",
                      "/realtime/v1/websocket?apikey=" + server.anonKey() + "&vsn=1.0.0");
    socket_.text(true);
  }
  void send(const std::string& frame) { socket_.write(asio::buffer(frame)); }
  // Reads frames until one contains `marker`.
  void readUntil(std::string_view marker) {
    for (;;) {
      buffer_.consume(buffer_.size());
      socket_.read(buffer_);
      if (boost::beast::buffers_to_string(buffer_.data()).find(marker) != std::string::npos) return;
    }
  }

 private:
  websocket::stream<tcp::socket> socket_;
  boost::beast::flat_buffer buffer_;
};

// The same trip with bare clients through the stand-in: what the server itself costs.
std::vector<double> bareThroughServer(const local_backend::Server& server, int trips) {
  asio::io_context io;
  BareClient sender(server, io);
  BareClient receiver(server, io);
  const std::string join =
      R"({"topic":"realtime:bare","event":"phx_join","ref":"1","join_ref":"1","payload":{}})";
  for (BareClient* client : {&sender, &receiver}) {
    client->send(join);
    client->readUntil("phx_reply");
  }
  std::vector<double> micros;
  for (int i = 0; i < trips; ++i) {
    const std::string sequence = "\"sequence\":" + std::to_string(i) + "}";
    const std::string frame =
        R"({"topic":"realtime:bare","event":"broadcast","join_ref":"1","payload":)"
        R"({"type":"broadcast","event":"typing","payload":{"text":")" +
        kText + R"(",)" + sequence + "}}";
    const auto start = Clock::now();
    sender.send(frame);
    receiver.readUntil(sequence);
    micros.push_back(microsSince(start, Clock::now()));
  }
  return micros;
}

// Where the receiving channel's callback reports each arrival.
class Arrivals {
 public:
  void arrived(std::int64_t sequence) {
    const auto now = Clock::now();
    {
      std::lock_guard lock(mutex_);
      last_ = {sequence, now};
    }
    changed_.notify_one();
  }
  // The arrival time of `sequence`; throws when it does not come within 5 seconds.
  Clock::time_point waitFor(std::int64_t sequence) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(5),
                           [&] { return last_ && last_->first == sequence; })) {
      throw std::runtime_error("a broadcast was lost");
    }
    return last_->second;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::pair<std::int64_t, Clock::time_point>> last_;
};

std::vector<double> throughClients(const local_backend::Server& server, int trips) {
  RealtimeClientOptions options({{"apikey", server.anonKey()}});
  const boost::urls::url url(server.url() + "/realtime/v1");
  auto sender = RealtimeClientV2::make(url, options);
  auto receiver = RealtimeClientV2::make(url, options);
  auto outbox = sender->channel("bench");
  auto inbox = receiver->channel("bench");
  Arrivals arrivals;
  auto token = inbox->onBroadcast("typing", [&](const JSONObject& broadcast) {
    const auto* payload = broadcast.at("payload").objectValue();
    arrivals.arrived(*payload->at("sequence").intValue());
  });
  inbox->subscribeWithError();
  outbox->subscribeWithError();
  std::vector<double> micros;
  for (std::int64_t sequence = 0; sequence < trips; ++sequence) {
    const auto start = Clock::now();
    outbox->broadcast("typing", JSONObject{{"text", kText}, {"sequence", sequence}});
    micros.push_back(microsSince(start, arrivals.waitFor(sequence)));
  }
  sender->removeAllChannels();
  receiver->removeAllChannels();
  return micros;
}

void print(const char* label, const Percentiles& result) {
  std::printf("%-22s p50 %8.1f us, p99 %8.1f us\n", label, result.p50, result.p99);
}

}  // namespace

int main(int argc, char** argv) {
  const int cpu = bench::pinToOneCpu();
  const int trips = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
  local_backend::Server server;
  // Warm both roads, then measure each.
  bareEcho(200);
  bareThroughServer(server, 200);
  throughClients(server, 200);
  const Percentiles bare = percentiles(bareEcho(trips));
  const Percentiles standIn = percentiles(bareThroughServer(server, trips));
  const Percentiles library = percentiles(throughClients(server, trips));
  std::printf("pinned to CPU:         %d\n", cpu);
  std::printf("trips:                 %d\n", trips);
  print("bare Beast echo:", bare);
  print("bare via stand-in:", standIn);
  print("RealtimeClientV2:", library);
  std::printf("ratio to bare via stand-in (p50): %.3f\n", library.p50 / standIn.p50);
  std::printf("ratio (p50):           %.3f\n", library.p50 / bare.p50);
  return 0;
}
