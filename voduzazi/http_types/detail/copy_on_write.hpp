// The uniqueness test behind the message model's copy-on-write values.
//
//   if (!detail::isUniquelyReferenced(storage_)) storage_ = std::make_shared<S>(*storage_);
//   storage_->change();
#pragma once

#include <atomic>
#include <memory>

namespace voduzazi::http_types::detail {

// True when `storage` is the only owner, so the caller (who has exclusive access to the value
// holding it) may change the object in place.
template <class T>
bool isUniquelyReferenced(const std::shared_ptr<T>& storage) noexcept {
  if (storage.use_count() != 1) return false;
    // use_count() is a relaxed load; the fence pairs with the release of the last other owner,
    // so that its reads of the storage happen before our writes.
#if defined(__SANITIZE_THREAD__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wtsan"
#endif
  std::atomic_thread_fence(std::memory_order_acquire);
#if defined(__SANITIZE_THREAD__)
#pragma GCC diagnostic pop
#endif
  return true;
}

}  // namespace voduzazi::http_types::detail
