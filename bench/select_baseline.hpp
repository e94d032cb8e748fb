// What the select benchmarks share: timing a loop in wall and CPU time, the bare curl baseline
// (one reused handle sending a recorded request, its body parsed by Boost.JSON into the same
// rows) and the printing of one road's result.
#pragma once

#include <curl/curl.h>

#include <boost/json/parse.hpp>
#include <boost/json/value_to.hpp>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "voduzazi/helpers/url_request.hpp"

namespace bench {

struct Timing {
  double wall = 0;
  double cpu = 0;
};

template <class Body>
Timing timed(int requests, Body&& body) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const double cpuStart = threadCpuSeconds();
  for (int i = 0; i < requests; ++i) body();
  return {std::chrono::duration<double>(Clock::now() - start).count(),
          threadCpuSeconds() - cpuStart};
}

// Keeps the best (least wall time) of the timings it is shown.
inline void keepBest(Timing& best, const Timing& candidate) {
  if (best.wall == 0 || candidate.wall < best.wall) best = candidate;
}

inline std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Sends `request` (a GET) `requests` times on one curl handle and decodes each body into
// Rows; throws when a request fails or a body holds another number of rows than `rows`.
template <class Row>
Timing bareCurl(const voduzazi::URLRequest& request, int requests, std::size_t rows) {
  CURL* easy = curl_easy_init();
  std::string received;
  curl_slist* headers = nullptr;
  for (const auto& [name, value] : request.headerFields) {
    headers = curl_slist_append(headers, (name + ": " + value).c_str());
  }
  const std::string url(request.url.buffer());
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collectBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
  const Timing timing = timed(requests, [&] {
    received.clear();
    if (curl_easy_perform(easy) != CURLE_OK) throw std::runtime_error("bare request failed");
    auto decoded = boost::json::value_to<std::vector<Row>>(boost::json::parse(received));
    if (decoded.size() != rows) throw std::runtime_error("bare request lost rows");
  });
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  return timing;
}

inline void print(const char* name, const Timing& timing, int requests) {
  std::printf("%-25s %.3f s (%.1f us/request, %.1f us CPU/request)\n", name, timing.wall,
              timing.wall / requests * 1e6, timing.cpu / requests * 1e6);
}

}  // namespace bench
