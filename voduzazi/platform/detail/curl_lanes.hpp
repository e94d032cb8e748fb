// The transfer lanes of a session: a lane is one easy handle in one multi handle, with the
// keep-alive connections that multi handle keeps. A transfer borrows a lane for its duration.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <vector>

namespace voduzazi::detail {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

struct CurlLane {
  std::unique_ptr<CURLM, MultiDeleter> multi;
  std::unique_ptr<CURL, EasyDeleter> easy;  // not in `multi` while the lane is idle
  // Whether `easy` holds the options every transfer shares; set by the first transfer.
  bool configured = false;
};

// libcurl supports no connection cache shared by concurrent threads, so each lane keeps its own
// and serves one transfer at a time, on whichever thread borrowed it. The most recently returned
// lane is lent first, so sequential requests, from any thread, reuse one warm connection.
// Shared objects: safe. Lifetime: must outlive every lease; destroys its idle lanes.
class CurlLanes {
 public:
  class Lease;

  CurlLanes() = default;
  CurlLanes(const CurlLanes&) = delete;
  CurlLanes& operator=(const CurlLanes&) = delete;

  // An idle lane, or a new one. Throws std::bad_alloc when libcurl cannot make one.
  Lease borrow();

 private:
  void giveBack(std::unique_ptr<CurlLane> lane);

  std::mutex mutex_;
  std::vector<std::unique_ptr<CurlLane>> idle_;
};

// One borrowed lane. The transfer that borrows it clears the options that point into itself
// before returning it; the options every transfer shares stay set. Movable, not copyable.
class CurlLanes::Lease {
 public:
  Lease(CurlLanes& owner, std::unique_ptr<CurlLane> lane)
      : owner_(&owner), lane_(std::move(lane)) {}
  Lease(Lease&&) = default;
  Lease& operator=(Lease&&) = delete;
  ~Lease();

  CURLM* multi() const noexcept { return lane_->multi.get(); }
  CURL* easy() const noexcept { return lane_->easy.get(); }
  bool configured() const noexcept { return lane_->configured; }
  void markConfigured() noexcept { lane_->configured = true; }

 private:
  CurlLanes* owner_;
  std::unique_ptr<CurlLane> lane_;
};

}  // namespace voduzazi::detail
