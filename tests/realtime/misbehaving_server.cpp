#include "tests/realtime/misbehaving_server.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/json.hpp>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace voduzazi::testing {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {

// The answers to one frame: an array frame [join_ref, ref, topic, event, payload] gets an array
// reply; an object frame {"topic", "event", "ref", "join_ref", "payload"} an object reply, and
// after a join reply the broadcast of `broadcastAfterJoin` when set; anything else nothing.
std::vector<std::string> answersTo(const std::string& text,
                                   const MisbehavingServer::Options& options) {
  boost::system::error_code error;
  const auto value = boost::json::parse(text, error);
  if (error) return {};
  const auto statusFor = [&](std::string_view topic, std::string_view event) {
    if (topic == "phoenix") return std::string("ok");
    return event == "phx_join" ? options.joinStatus : options.pushStatus;
  };
  if (const auto* frame = value.if_array()) {
    if (frame->size() != 5 || !(*frame)[2].is_string() || !(*frame)[3].is_string()) return {};
    const auto& topic = (*frame)[2].get_string();
    const auto status = statusFor(topic, (*frame)[3].get_string());
    const boost::json::array reply{(*frame)[0], (*frame)[1], topic, "phx_reply",
                                   boost::json::object{{"status", status}, {"response", {}}}};
    return {boost::json::serialize(reply)};
  }
  const auto* frame = value.if_object();
  const auto* topic = frame ? frame->if_contains("topic") : nullptr;
  const auto* event = frame ? frame->if_contains("event") : nullptr;
  if (topic == nullptr || event == nullptr || !topic->is_string() || !event->is_string()) return {};
  const bool join = event->get_string() == "phx_join";
  boost::json::object response;
  if (join) response["postgres_changes"] = boost::json::array{};
  boost::json::object reply{
      {"topic", *topic},
      {"event", "phx_reply"},
      {"payload",
       boost::json::object{{"status", statusFor(topic->get_string(), event->get_string())},
                           {"response", std::move(response)}}}};
  if (const auto* ref = frame->if_contains("ref")) reply["ref"] = *ref;
  if (const auto* joinRef = frame->if_contains("join_ref")) reply["join_ref"] = *joinRef;
  std::vector<std::string> answers{boost::json::serialize(reply)};
  if (join && !options.broadcastAfterJoin.empty()) {
    answers.push_back(boost::json::serialize(
        boost::json::object{{"topic", *topic},
                            {"event", "broadcast"},
                            {"payload", boost::json::object{{"type", "broadcast"},
                                                            {"event", options.broadcastAfterJoin},
                                                            {"payload", boost::json::object{}}}}}));
  }
  return answers;
}

}  // namespace

// Runs only on its thread; handlers hold it by plain pointer, since the thread is joined (and
// the pending handlers dropped with the context) before it goes.
struct MisbehavingServer::State {
  using Socket = websocket::stream<beast::tcp_stream>;

  explicit State(Options given) : options(std::move(given)) {}

  void accept() {
    acceptor.async_accept([self = this](beast::error_code error, tcp::socket s) {
      if (error) return;
      if (self->options.behaviour == Behaviour::refuse) {
        self->refuse(std::move(s));
      } else {
        self->open(std::make_shared<Socket>(std::move(s)));
      }
      self->accept();
    });
  }

  void refuse(tcp::socket socket) {
    struct Exchange {
      explicit Exchange(tcp::socket s) : stream(std::move(s)) {}
      beast::tcp_stream stream;
      beast::flat_buffer buffer;
      http::request<http::string_body> request;
      http::response<http::string_body> response;
    };
    auto exchange = std::make_shared<Exchange>(std::move(socket));
    http::async_read(exchange->stream, exchange->buffer, exchange->request,
                     [self = this, exchange](beast::error_code error, std::size_t) {
                       if (error) return;
                       exchange->response.result(self->options.handshakeStatus);
                       exchange->response.body() = "not today";
                       exchange->response.prepare_payload();
                       http::async_write(exchange->stream, exchange->response,
                                         [self, exchange](beast::error_code, std::size_t) {
                                           beast::error_code ignored;
                                           exchange->stream.socket().shutdown(
                                               tcp::socket::shutdown_both, ignored);
                                           self->counted();
                                         });
                     });
  }

  void open(std::shared_ptr<Socket> socket) {
    socket->async_accept([self = this, socket](beast::error_code error) {
      if (error) return;
      self->sockets.push_back(socket);
      self->counted();
      // A silent peer reads nothing: the client's frames, its close included, go unanswered.
      if (self->options.behaviour == Behaviour::replyWithStatus) {
        self->read(socket, self->options.repliesBeforeSilence);
      }
    });
  }

  // Answers frames until `repliesLeft` reaches 0 (never when negative), then reads no more.
  void read(std::shared_ptr<Socket> socket, int repliesLeft) {
    if (repliesLeft == 0) return;
    auto buffer = std::make_shared<beast::flat_buffer>();
    socket->async_read(
        *buffer, [self = this, socket, buffer, repliesLeft](beast::error_code error, std::size_t) {
          if (error) return;
          auto answers = std::make_shared<std::vector<std::string>>(
              answersTo(beast::buffers_to_string(buffer->data()), self->options));
          if (answers->empty()) return self->read(socket, repliesLeft);
          socket->text(true);
          self->write(socket, answers, 0, repliesLeft < 0 ? repliesLeft : repliesLeft - 1);
        });
  }

  // Writes the answers in order, then reads on.
  void write(std::shared_ptr<Socket> socket, std::shared_ptr<std::vector<std::string>> answers,
             std::size_t next, int repliesLeft) {
    if (next == answers->size()) return read(socket, repliesLeft);
    socket->async_write(
        net::buffer((*answers)[next]),
        [self = this, socket, answers, next, repliesLeft](beast::error_code error, std::size_t) {
          if (!error) self->write(socket, answers, next + 1, repliesLeft);
        });
  }

  void counted() {
    {
      std::lock_guard lock(mutex);
      ++handled;
    }
    changed.notify_all();
  }

  const Options options;
  net::io_context ioc;
  tcp::acceptor acceptor{ioc, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0)};
  std::vector<std::shared_ptr<Socket>> sockets;  // the I/O thread's only
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  int handled = 0;
  std::thread thread;
};

MisbehavingServer::MisbehavingServer(Options options)
    : state_(std::make_unique<State>(std::move(options))) {
  state_->accept();
  state_->thread = std::thread([state = state_.get()] { state->ioc.run(); });
}

MisbehavingServer::~MisbehavingServer() {
  state_->ioc.stop();
  state_->thread.join();
}

boost::urls::url MisbehavingServer::url(const std::string& path) const {
  return boost::urls::url(
      "ws://127.0.0.1:" + std::to_string(state_->acceptor.local_endpoint().port()) + path);
}

int MisbehavingServer::connections() const {
  std::lock_guard lock(state_->mutex);
  return state_->handled;
}

bool MisbehavingServer::waitForConnections(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->handled >= count; });
}

}  // namespace voduzazi::testing
