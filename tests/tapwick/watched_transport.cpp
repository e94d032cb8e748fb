#include "tests/tapwick/watched_transport.hpp"

#include <boost/url/params_view.hpp>
#include <boost/url/url_view.hpp>

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
  {
    std::lock_guard lock(mutex_);
    ++requestsByPath_[std::string(request.url.path())];
    if (refresh && failRefreshes_) {
      throw voduzazi::URLError(voduzazi::URLError::Code::cannotConnectToHost, "outage");
    }
    if (refresh) delay = refreshDelay_;
  }
  voduzazi::FetchResult answer = sendReal();
  std::unique_lock lock(mutex_);
  if (refresh) {
    ++refreshesSent_;
    const auto* http = dynamic_cast<const voduzazi::HTTPURLResponse*>(answer.response.get());
    refreshStatuses_.push_back(http ? http->statusCode() : 0);
    changed_.notify_all();
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
