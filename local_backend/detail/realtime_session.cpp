#include "local_backend/detail/realtime_session.hpp"

#include <boost/asio/post.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <deque>
#include <variant>

namespace local_backend::detail {

namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace websocket = beast::websocket;

template <class Stream>
class RealtimeSession final : public RealtimeSocket,
                              public std::enable_shared_from_this<RealtimeSession<Stream>> {
 public:
  RealtimeSession(Stream&& stream, RealtimeHub& hub, FrameFormat format, Caller caller)
      : ws_(std::move(stream)), hub_(hub), format_(format), caller_(std::move(caller)) {}

  void start(Request&& request) {
    for (const auto& field : request) {
      headers_.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    // Frames a little over the limit are read whole and refused with a close frame the client
    // gets to read; far bigger ones fail the connection at once.
    ws_.read_message_max(4 * hub_.limits().maxFrameBytes);
    // Attached before the handshake answer leaves, so the socket is known to the hub by the time
    // the client sees it open; what the hub sends meanwhile waits for the handshake.
    id_ = hub_.attach(this->shared_from_this(), format_, caller_, headers_);
    ws_.async_accept(request, [self = this->shared_from_this()](beast::error_code error) {
      if (error) return self->end();
      self->accepted_ = true;
      self->writeNext();
      self->read();
    });
  }

  void sendText(std::string text) override { post(Message{std::move(text), false}); }
  void sendBinary(std::string data) override { post(Message{std::move(data), true}); }

  void close(int code, std::string reason) override { post(CloseFrame{code, std::move(reason)}); }

  void drop() override {
    net::post(ws_.get_executor(), [self = this->shared_from_this()] {
      beast::error_code ignored;
      auto& socket = beast::get_lowest_layer(self->ws_).socket();
      socket.shutdown(net::ip::tcp::socket::shutdown_both, ignored);
      socket.close(ignored);
    });
  }

 private:
  struct Message {
    std::string data;
    bool binary;
  };
  struct CloseFrame {
    int code;
    std::string reason;
  };
  using Outgoing = std::variant<Message, CloseFrame>;

  void post(Outgoing outgoing) {
    net::post(ws_.get_executor(),
              [self = this->shared_from_this(), outgoing = std::move(outgoing)]() mutable {
                self->enqueue(std::move(outgoing));
              });
  }

  void read() {
    ws_.async_read(
        buffer_, [self = this->shared_from_this()](beast::error_code error, std::size_t) {
          if (error) return self->end();
          if (!self->ws_.got_text()) {
            self->enqueue(CloseFrame{1003, "binary frames are not supported"});
          } else if (self->buffer_.size() > self->hub_.limits().maxFrameBytes) {
            self->enqueue(CloseFrame{1009, "frame too large"});
          } else {
            self->hub_.receive(self->id_, beast::buffers_to_string(self->buffer_.data()));
          }
          self->buffer_.consume(self->buffer_.size());
          self->read();
        });
  }

  void enqueue(Outgoing outgoing) {
    if (closing_ || ended_) return;
    if (std::holds_alternative<CloseFrame>(outgoing)) closing_ = true;
    outgoing_.push_back(std::move(outgoing));
    writeNext();
  }

  void writeNext() {
    if (!accepted_ || writing_) return;
    if (outgoing_.empty() || ended_) {
      writing_ = false;
      return;
    }
    writing_ = true;
    auto done = [self = this->shared_from_this()](beast::error_code error, auto&&...) {
      self->outgoing_.pop_front();
      self->writing_ = false;
      if (error) return;  // the read loop sees the connection end
      self->writeNext();
    };
    if (const auto* message = std::get_if<Message>(&outgoing_.front())) {
      ws_.text(!message->binary);
      ws_.async_write(net::buffer(message->data), done);
    } else {
      const auto& frame = std::get<CloseFrame>(outgoing_.front());
      websocket::close_reason reason(static_cast<std::uint16_t>(frame.code));
      reason.reason.assign(frame.reason.data(),
                           std::min(frame.reason.size(), reason.reason.max_size()));
      ws_.async_close(reason, done);
    }
  }

  void end() {
    if (ended_) return;
    ended_ = true;
    hub_.detach(id_);
  }

  websocket::stream<Stream> ws_;
  RealtimeHub& hub_;
  const FrameFormat format_;
  const Caller caller_;
  HandshakeHeaders headers_;
  std::uint64_t id_ = 0;
  beast::flat_buffer buffer_;
  std::deque<Outgoing> outgoing_;
  bool accepted_ = false;
  bool writing_ = false;
  bool closing_ = false;
  bool ended_ = false;
};

template <class Stream>
void start(Stream&& stream, Request&& request, RealtimeHub& hub, FrameFormat format,
           Caller caller) {
  auto session =
      std::make_shared<RealtimeSession<Stream>>(std::move(stream), hub, format, std::move(caller));
  session->start(std::move(request));
}

template <class Stream>
void refuse(Stream&& stream, Response&& response) {
  struct Refusal {
    Stream stream;
    Response response;
  };
  auto refusal = std::make_shared<Refusal>(Refusal{std::move(stream), std::move(response)});
  refusal->response.keep_alive(false);
  refusal->response.prepare_payload();
  http::async_write(refusal->stream, refusal->response, [refusal](beast::error_code, std::size_t) {
    beast::error_code ignored;
    beast::get_lowest_layer(refusal->stream)
        .socket()
        .shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  });
}

}  // namespace

void startRealtimeSession(PlainStream&& stream, Request&& request, RealtimeHub& hub,
                          FrameFormat format, Caller caller) {
  start(std::move(stream), std::move(request), hub, format, std::move(caller));
}

void startRealtimeSession(TlsStream&& stream, Request&& request, RealtimeHub& hub,
                          FrameFormat format, Caller caller) {
  start(std::move(stream), std::move(request), hub, format, std::move(caller));
}

void refuseUpgrade(PlainStream&& stream, Response&& response) {
  refuse(std::move(stream), std::move(response));
}

void refuseUpgrade(TlsStream&& stream, Response&& response) {
  refuse(std::move(stream), std::move(response));
}

}  // namespace local_backend::detail
