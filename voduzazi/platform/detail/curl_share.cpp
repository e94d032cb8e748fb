#include "voduzazi/platform/detail/curl_share.hpp"

#include <new>

namespace voduzazi::detail {

void initializeCurl() {
  static const bool initialized = [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw std::bad_alloc();
    return true;
  }();
  (void)initialized;
}

CurlShare::CurlShare() {
  initializeCurl();
  share_ = curl_share_init();
  if (!share_) throw std::bad_alloc();
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlShare::lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlShare::unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  // Not CURL_LOCK_DATA_CONNECT: libcurl does not support sharing connections between threads
  // that transfer at the same time. Connections stay with the session's lanes instead.
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

CurlShare::~CurlShare() { curl_share_cleanup(share_); }

void CurlShare::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<CurlShare*>(self)->mutexes_[data].lock();
}

void CurlShare::unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<CurlShare*>(self)->mutexes_[data].unlock();
}

}  // namespace voduzazi::detail
