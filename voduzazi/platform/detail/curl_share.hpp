// The libcurl share of a session (DNS cache, TLS sessions) and the once-per-process library
// initialisation.
#pragma once

#include <curl/curl.h>

#include <array>
#include <mutex>

namespace voduzazi::detail {

// Runs curl_global_init the first time it is called; later calls do nothing.
void initializeCurl();

// Shared objects: safe (libcurl locks through the callbacks below). Lifetime: must outlive
// every easy handle that uses it.
class CurlShare {
 public:
  CurlShare();
  ~CurlShare();
  CurlShare(const CurlShare&) = delete;
  CurlShare& operator=(const CurlShare&) = delete;

  CURLSH* handle() const noexcept { return share_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void unlock(CURL*, curl_lock_data data, void* self);

  CURLSH* share_;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes_;
};

}  // namespace voduzazi::detail
