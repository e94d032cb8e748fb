#include "voduzazi/platform/detail/curl_lanes.hpp"

#include <new>
#include <utility>

namespace voduzazi::detail {
namespace {

// Idle lanes kept beyond this many are closed: a burst of parallel requests should not leave
// as many connections open for good.
constexpr std::size_t maximumIdleLanes = 8;

}  // namespace

CurlLanes::Lease CurlLanes::borrow() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<CurlLane> lane = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(lane));
    }
  }
  auto lane = std::make_unique<CurlLane>();
  lane->multi.reset(curl_multi_init());
  lane->easy.reset(curl_easy_init());
  if (!lane->multi || !lane->easy) throw std::bad_alloc();
  return Lease(*this, std::move(lane));
}

void CurlLanes::giveBack(std::unique_ptr<CurlLane> lane) {
  std::lock_guard lock(mutex_);
  if (idle_.size() < maximumIdleLanes) idle_.push_back(std::move(lane));
}

CurlLanes::Lease::~Lease() {
  if (lane_) owner_->giveBack(std::move(lane_));
}

}  // namespace voduzazi::detail
