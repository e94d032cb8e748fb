#include "voduzazi/realtime/phoenix_transport.hpp"

#include <boost/url/parse.hpp>
#include <cstdio>

#include "voduzazi/helpers/detail/utf8.hpp"

namespace voduzazi::realtime {

namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

boost::urls::url URLSessionTransport::webSocketURL(const boost::urls::url& url) {
  std::string text(url.buffer());
  replaceAll(text, "http://", "ws://");
  replaceAll(text, "https://", "wss://");
  // Replacing a scheme keeps a valid URL valid.
  return boost::urls::url(boost::urls::parse_uri_reference(text).value());
}

URLSessionTransport::URLSessionTransport(const boost::urls::url& url,
                                         WebSocketTaskConfiguration configuration)
    : url_(webSocketURL(url)), configuration_(std::move(configuration)) {}

URLSessionTransport::~URLSessionTransport() {
  std::shared_ptr<WebSocketTask> task;
  {
    std::lock_guard lock(mutex_);
    task = std::move(task_);
  }
}

PhoenixTransportReadyState URLSessionTransport::readyState() const {
  std::lock_guard lock(mutex_);
  return readyState_;
}

std::shared_ptr<PhoenixTransportDelegate> URLSessionTransport::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void URLSessionTransport::setDelegate(std::shared_ptr<PhoenixTransportDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

void URLSessionTransport::connect(const std::map<std::string, std::string>& headers) {
  URLRequest request;
  request.url = url_;
  request.timeoutInterval = 60;
  for (const auto& [name, value] : headers) request.headerFields.emplace_back(name, value);
  std::weak_ptr<URLSessionTransport> weak = weak_from_this();
  std::shared_ptr<WebSocketTask> previous;
  std::shared_ptr<WebSocketTask> task;
  {
    std::lock_guard lock(mutex_);
    const std::uint64_t generation = ++generation_;
    WebSocketTaskDelegate callbacks;
    callbacks.didOpen = [weak, generation](const std::string&) {
      if (auto self = weak.lock()) self->opened(generation);
    };
    callbacks.didReceive = [weak, generation](const WebSocketMessage& message) {
      if (auto self = weak.lock()) self->received(generation, message);
    };
    callbacks.didClose = [weak, generation](int code, const std::optional<Data>& reason) {
      if (auto self = weak.lock()) self->closed(generation, code, reason);
    };
    callbacks.didComplete = [weak, generation](const std::optional<WebSocketTaskError>& error) {
      if (auto self = weak.lock()) self->completed(generation, error);
    };
    task = WebSocketTask::make(request, {}, configuration_, std::move(callbacks));
    readyState_ = PhoenixTransportReadyState::connecting;
    opened_ = false;
    previous = std::exchange(task_, task);
  }
  task->resume();
  // `previous` ends here, outside the lock: its destructor cancels it and waits for its thread.
}

void URLSessionTransport::disconnect(int code, const std::optional<std::string>& reason) {
  std::shared_ptr<WebSocketTask> task;
  {
    std::lock_guard lock(mutex_);
    readyState_ = PhoenixTransportReadyState::closing;
    task = task_;
  }
  if (task) task->cancel(code, reason.value_or(""));
}

void URLSessionTransport::send(const Data& data) {
  std::shared_ptr<WebSocketTask> task;
  {
    std::lock_guard lock(mutex_);
    task = task_;
  }
  if (task) task->send(WebSocketMessage{WebSocketMessage::Kind::text, data});
}

void URLSessionTransport::opened(std::uint64_t generation) {
  std::shared_ptr<PhoenixTransportDelegate> delegate;
  std::shared_ptr<const URLResponse> response;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    readyState_ = PhoenixTransportReadyState::open;
    opened_ = true;
    delegate = delegate_;
    response = task_->response();
  }
  if (delegate) delegate->onOpen(std::move(response));
}

void URLSessionTransport::received(std::uint64_t generation, const WebSocketMessage& message) {
  std::shared_ptr<PhoenixTransportDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    delegate = delegate_;
  }
  if (message.kind == WebSocketMessage::Kind::binary) {
    std::printf("Data received. This method is unsupported by the Client\n");
    return;
  }
  if (delegate) delegate->onMessage(message.data);
}

void URLSessionTransport::closed(std::uint64_t generation, int code,
                                 const std::optional<Data>& reason) {
  std::shared_ptr<PhoenixTransportDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    readyState_ = PhoenixTransportReadyState::closed;
    delegate = delegate_;
  }
  if (!delegate) return;
  // A reason that is not UTF-8 is no reason.
  const bool readable = reason && voduzazi::detail::isValidUTF8(*reason);
  delegate->onClose(code, readable ? reason : std::nullopt);
}

void URLSessionTransport::completed(std::uint64_t generation,
                                    const std::optional<WebSocketTaskError>& error) {
  if (!error) return;
  bool afterOpening = false;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    afterOpening = opened_;
  }
  // After the opening, a failure is the receive loop's: reported without a response.
  std::shared_ptr<const URLResponse> response;
  if (afterOpening) {
    std::printf("Error when receiving %s\n", error->what());
  } else {
    response = error->response();
  }
  abnormalErrorReceived(*error, std::move(response));
}

void URLSessionTransport::abnormalErrorReceived(const WebSocketTaskError& error,
                                                std::shared_ptr<const URLResponse> response) {
  std::shared_ptr<PhoenixTransportDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    readyState_ = PhoenixTransportReadyState::closed;
    delegate = delegate_;
  }
  if (!delegate) return;
  delegate->onError(error, response);
  delegate->onClose(999, error.localizedDescription());
}

}  // namespace voduzazi::realtime
