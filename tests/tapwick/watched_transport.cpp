#include "tests/tapwick/watched_transport.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/url/params_view.hpp>
#include <boost/url/url_view.hpp>
#include <stdexcept>

#include "voduzazi/helpers/url_error.hpp"

namespace tapwick::testing {

namespace {

constexpr auto kWait = std::chrono::seconds(20);

bool isRefresh(const voduzazi::URLRequest& request) {
  if (!request.url.path().ends_with("/token")) return false;
  const boost::urls::params_view params = boost::urls::url_view(request.url).params();
  const auto grant = params.find("grant_type");
  return grant != params.end() && (*grant).value == "refresh_token";
}

}  // namespace

WatchedTransport::~WatchedTransport() {
  if (frozenListener_ >= 0) ::close(frozenListener_);
}

voduzazi::VoduzaziClientOptions WatchedTransport::options() {
  voduzazi::VoduzaziClientOptions options;
  // The facade's functions hold the transport for as long as they live.
  options.global.session.data = [self = shared_from_this()](const voduzazi::URLRequest& request) {
    return self->exchange(request, [&] { return self->real_.data(request); });
  };
  options.global.session.upload = [self = shared_from_this()](
                                      const voduzazi::URLRequest& request,
                                      const voduzazi::Data& body) {
    return self->exchange(request, [&] { return self->real_.upload(request, body); });
  };
  return options;
}

voduzazi::FetchResult WatchedTransport::exchange(
    const voduzazi::URLRequest& request, const std::function<voduzazi::FetchResult()>& sendReal) {
  const bool refresh = isRefresh(request);
  std::chrono::milliseconds delay{0};
  std::optional<voduzazi::URLRequest> frozen;
  {
    std::lock_guard lock(mutex_);
    ++requestsByPath_[std::string(request.url.path())];
    if (refresh && failRefreshes_) {
      throw voduzazi::URLError(voduzazi::URLError::Code::cannotConnectToHost, "outage");
    }
    if (refresh) {
      delay = refreshDelay_;
      ++refreshesSent_;
      changed_.notify_all();
    }
    if (refresh && frozenPort_) {
      frozen = request;
      frozen->url.set_port_number(*frozenPort_);
    }
  }
  if (frozen) return real_.data(*frozen);
  voduzazi::FetchResult answer = sendReal();
  std::unique_lock lock(mutex_);
  if (refresh) {
    const auto* http = dynamic_cast<const voduzazi::HTTPURLResponse*>(answer.response.get());
    refreshStatuses_.push_back(http ? http->statusCode() : 0);
    // A held answer ends early only when the test lets it go.
    changed_.wait_for(lock, delay, [&] { return released_; });
  }
  if (ended_) {
    throw voduzazi::URLError(voduzazi::URLError::Code::networkConnectionLost, "process ended");
  }
  return answer;
}

void WatchedTransport::holdRefreshAnswers(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  refreshDelay_ = delay;
}

void WatchedTransport::failRefreshes(bool fail) {
  std::lock_guard lock(mutex_);
  failRefreshes_ = fail;
}

void WatchedTransport::freezeRefreshes() {
  std::lock_guard lock(mutex_);
  if (frozenPort_) return;
  // Connections complete in the listen queue and what they send is never read.
  frozenListener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (frozenListener_ < 0 ||
      ::bind(frozenListener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(frozenListener_, 16) != 0 ||
      ::getsockname(frozenListener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no loopback socket for the frozen backend");
  }
  frozenPort_ = ntohs(address.sin_port);
}

void WatchedTransport::end() {
  std::lock_guard lock(mutex_);
  ended_ = true;
}

void WatchedTransport::releaseHeldAnswers() {
  std::lock_guard lock(mutex_);
  released_ = true;
  changed_.notify_all();
}

std::size_t WatchedTransport::refreshesSent() const {
  std::lock_guard lock(mutex_);
  return refreshesSent_;
}

std::vector<int> WatchedTransport::refreshStatuses() const {
  std::lock_guard lock(mutex_);
  return refreshStatuses_;
}

std::size_t WatchedTransport::requestsTo(const std::string& path) const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [sent, times] : requestsByPath_) {
    if (sent.ends_with(path)) count += times;
  }
  return count;
}

bool WatchedTransport::waitForRefreshes(std::size_t count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kWait, [&] { return refreshesSent_ >= count; });
}

}  // namespace tapwick::testing
