// Sequential GETs of a small JSON body from a loopback server: through HTTPClient (no
// interceptors) and URLSession, against the same requests through one reused bare curl handle.
// The process is pinned to one CPU.
//
//   build/release/bench/http_transport 5000
//   # bare curl handle:  0.412 s (82.4 us/request)
//   # HTTPClient:        0.431 s (86.2 us/request)
//   # ratio:             1.046
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bench_support.hpp"
#include "loopback_server.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace {

using voduzazi::testing::LoopbackServer;
using Clock = std::chrono::steady_clock;

constexpr const char* body = R"([{"id":1,"content":"hello","sender_id":"a","receiver_id":"b"}])";

size_t collect(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

double bareCurl(const std::string& url, int requests) {
  CURL* easy = curl_easy_init();
  std::string received;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
  const auto start = Clock::now();
  for (int i = 0; i < requests; ++i) {
    received.clear();
    if (curl_easy_perform(easy) != CURLE_OK) throw std::runtime_error("bare request failed");
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  curl_easy_cleanup(easy);
  return seconds;
}

double throughClient(const std::string& url, int requests) {
  voduzazi::HTTPClient client(voduzazi::defaultFetch(), {});
  const auto request = voduzazi::helpers::HTTPRequest::make(url, voduzazi::HTTPMethod::get);
  const auto start = Clock::now();
  for (int i = 0; i < requests; ++i) {
    if (client.send(*request).statusCode() != 200) throw std::runtime_error("request failed");
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int cpu = bench::pinToOneCpu();
  const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  LoopbackServer server([](const LoopbackServer::Request&) {
    LoopbackServer::Response response;
    response.headers = {{"Content-Type", "application/json"}};
    response.body = body;
    return response;
  });
  const std::string url = server.url("/rest/v1/messages");
  // Warm both paths (connections, allocations), then take the best of five alternating rounds.
  bareCurl(url, 50);
  throughClient(url, 50);
  double bare = 1e30;
  double client = 1e30;
  for (int round = 0; round < 5; ++round) {
    bare = std::min(bare, bareCurl(url, requests));
    client = std::min(client, throughClient(url, requests));
  }
  std::printf("pinned to CPU:     %d\n", cpu);
  std::printf("requests:          %d\n", requests);
  std::printf("bare curl handle:  %.3f s (%.1f us/request)\n", bare, bare / requests * 1e6);
  std::printf("HTTPClient:        %.3f s (%.1f us/request)\n", client, client / requests * 1e6);
  std::printf("ratio:             %.3f\n", client / bare);
  return 0;
}
