#include "loopback_server.hpp"

#include <sys/socket.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace voduzazi::testing {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

struct LoopbackServer::Impl {
  asio::io_context context;
  tcp::acceptor acceptor{context};
};

LoopbackServer::LoopbackServer(Handler handler, std::uint16_t port, const std::string& address)
    : handler_(std::move(handler)),
      impl_(std::make_unique<Impl>()),
      authorityHost_(address.find(':') == std::string::npos ? address : "[" + address + "]") {
  const tcp::endpoint endpoint(asio::ip::make_address(address), port);
  impl_->acceptor.open(endpoint.protocol());
  impl_->acceptor.set_option(asio::socket_base::reuse_address(true));
  impl_->acceptor.bind(endpoint);
  impl_->acceptor.listen();
  port_ = impl_->acceptor.local_endpoint().port();
  acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  // Wake the blocking accept and reads: shutdown(2) is safe from another thread.
  ::shutdown(impl_->acceptor.native_handle(), SHUT_RDWR);
  {
    std::lock_guard lock(mutex_);
    for (const auto& socket : sockets_) {
      ::shutdown(std::static_pointer_cast<tcp::socket>(socket)->native_handle(), SHUT_RDWR);
    }
  }
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

std::string LoopbackServer::url(const std::string& path) const {
  return "http://" + authorityHost_ + ":" + std::to_string(port_) + path;
}

std::vector<LoopbackServer::Request> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::uint16_t LoopbackServer::unusedPort() {
  asio::io_context context;
  tcp::acceptor acceptor(context, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  return acceptor.local_endpoint().port();
}

void LoopbackServer::acceptLoop() {
  while (!stopping_) {
    auto socket = std::make_shared<tcp::socket>(impl_->context);
    boost::system::error_code error;
    impl_->acceptor.accept(*socket, error);
    if (error || stopping_) return;
    ++accepted_;
    std::lock_guard lock(mutex_);
    sockets_.push_back(socket);
    threads_.emplace_back([this, socket] { serve(socket); });
  }
}

void LoopbackServer::serve(std::shared_ptr<void> opaque) {
  auto& socket = *std::static_pointer_cast<tcp::socket>(opaque);
  struct Hangup {
    tcp::socket& socket;
    ~Hangup() {
      boost::system::error_code ignored;
      socket.shutdown(tcp::socket::shutdown_both, ignored);
    }
  } hangup{socket};
  boost::beast::flat_buffer buffer;
  boost::system::error_code error;
  while (!stopping_) {
    // A client that asks before sending its body is told to go on, as a server that takes every
    // body would; without it the client waits a second for the answer.
    http::request_parser<http::string_body> parser;
    http::read_header(socket, buffer, parser, error);
    if (error) return;
    if (boost::beast::iequals(parser.get()[http::field::expect], "100-continue")) {
      http::response<http::empty_body> go(http::status::continue_, parser.get().version());
      http::write(socket, go, error);
      if (error) return;
    }
    http::read(socket, buffer, parser, error);
    if (error) return;
    const http::request<http::string_body> incoming = parser.release();
    Request request{
        std::string(incoming.method_string()), std::string(incoming.target()), {}, incoming.body()};
    for (const auto& field : incoming) {
      request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    Response response = handler_(request);
    if (response.beforeResponse) response.beforeResponse();
    if (response.raw) {
      response.raw([&](std::string_view bytes) {
        asio::write(socket, asio::buffer(bytes.data(), bytes.size()), error);
        return !error;
      });
      return;
    }
    const bool keepAlive = incoming.keep_alive();

    if (response.chunks.empty()) {
      http::response<http::string_body> outgoing(static_cast<http::status>(response.status),
                                                 incoming.version());
      for (const auto& [name, value] : response.headers) outgoing.insert(name, value);
      outgoing.body() = response.body;
      outgoing.keep_alive(keepAlive);
      if (request.method == "HEAD") {
        outgoing.content_length(response.body.size());
        http::response_serializer<http::string_body> serializer(outgoing);
        http::write_header(socket, serializer, error);
      } else {
        outgoing.prepare_payload();
        http::write(socket, outgoing, error);
      }
    } else {
      http::response<http::empty_body> head(static_cast<http::status>(response.status),
                                            incoming.version());
      for (const auto& [name, value] : response.headers) head.insert(name, value);
      head.chunked(true);
      head.keep_alive(keepAlive);
      http::response_serializer<http::empty_body> serializer(head);
      http::write_header(socket, serializer, error);
      for (std::size_t i = 0; i < response.chunks.size() && !error; ++i) {
        asio::write(socket, http::make_chunk(asio::buffer(response.chunks[i])), error);
        if (i == 0 && response.betweenChunks) response.betweenChunks();
      }
      if (!error) asio::write(socket, http::make_chunk_last(), error);
    }
    if (error || !keepAlive) return;
  }
}

LoopbackServer::Response trickled(std::vector<std::string> pieces,
                                  std::chrono::milliseconds pause) {
  LoopbackServer::Response response;
  response.raw = [pieces = std::move(pieces), pause](const auto& send) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(pause);  // the link's pace, not a wait for anything
      if (!send(pieces[i])) return;
    }
  };
  return response;
}

}  // namespace voduzazi::testing
