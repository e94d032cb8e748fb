// The same select of 100 message rows from the in-process stand-in backend, N times: through
// PostgrestClient (builder, HTTPClient, transport, decoding into a struct) and through one
// reused bare curl handle with the same headers whose body Boost.JSON parses into the same
// structs. The process is pinned to one CPU.
//
//   build/release/bench/postgrest_select 2000
//   # bare curl + Boost.JSON: 0.903 s (451.5 us/request, 120.2 us CPU/request)
//   # PostgrestClient:        0.951 s (475.5 us/request, 131.0 us CPU/request)
//   # ratio:                  1.053
#include <curl/curl.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "local_backend/server.hpp"
#include "tests/postgrest/message_rows.hpp"
#include "voduzazi/platform/url_session.hpp"
#include "voduzazi/postgrest/client.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSender = "0b3d6f1e-0000-4000-8000-00000000000a";
constexpr const char* kReceiver = "0b3d6f1e-0000-4000-8000-00000000000b";
constexpr int kRows = 100;

using voduzazi::testing::Message;
using voduzazi::testing::NewMessage;

struct Timing {
  double wall = 0;
  double cpu = 0;
};

// The select both roads send.
voduzazi::PostgrestFilterBuilder select(const voduzazi::PostgrestClient& client) {
  return client.from("messages").select().eq("receiver_id", kReceiver).order("created_at");
}

void seed(const voduzazi::PostgrestClient& client) {
  std::vector<NewMessage> rows;
  for (int i = 0; i < kRows; ++i) rows.push_back({kSender, kReceiver, "message number " + std::to_string(i)});
  client.from("messages").insert(rows).execute();
}

size_t collect(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

template <class Body>
Timing timed(int requests, Body&& body) {
  const auto start = Clock::now();
  const double cpuStart = bench::threadCpuSeconds();
  for (int i = 0; i < requests; ++i) body();
  return {std::chrono::duration<double>(Clock::now() - start).count(),
          bench::threadCpuSeconds() - cpuStart};
}

Timing bareCurl(const voduzazi::URLRequest& request, int requests) {
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
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
  const Timing timing = timed(requests, [&] {
    received.clear();
    if (curl_easy_perform(easy) != CURLE_OK) throw std::runtime_error("bare request failed");
    auto rows = boost::json::value_to<std::vector<Message>>(boost::json::parse(received));
    if (rows.size() != kRows) throw std::runtime_error("bare request lost rows");
  });
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  return timing;
}

Timing throughClient(const voduzazi::PostgrestClient& client, int requests) {
  return timed(requests, [&] {
    if (select(client).execute<std::vector<Message>>().value.size() != kRows) {
      throw std::runtime_error("request lost rows");
    }
  });
}

// The wire form of the client's request, so the bare handle sends the very same one.
voduzazi::URLRequest recordedRequest(const voduzazi::PostgrestClient& client) {
  voduzazi::URLRequest recorded;
  auto configuration = client.configuration();
  const voduzazi::FetchHandler send = configuration.fetch;
  configuration.fetch = [&](const voduzazi::URLRequest& request) {
    recorded = request;
    return send(request);
  };
  select(voduzazi::PostgrestClient(configuration)).execute();
  return recorded;
}

void print(const char* name, const Timing& timing, int requests) {
  std::printf("%-25s %.3f s (%.1f us/request, %.1f us CPU/request)\n", name, timing.wall,
              timing.wall / requests * 1e6, timing.cpu / requests * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const int cpu = bench::pinToOneCpu();
  const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  local_backend::Server server;
  voduzazi::PostgrestClient client(boost::urls::url(server.url() + "/rest/v1"), std::nullopt,
                                   {{"apikey", server.serviceKey()}}, voduzazi::defaultFetch());
  client.setAuth(server.serviceKey());
  seed(client);
  const voduzazi::URLRequest request = recordedRequest(client);
  // Warm both roads, then take the best of five alternating rounds.
  bareCurl(request, 50);
  throughClient(client, 50);
  Timing bare{1e30, 1e30};
  Timing library{1e30, 1e30};
  for (int round = 0; round < 5; ++round) {
    const Timing b = bareCurl(request, requests);
    const Timing l = throughClient(client, requests);
    if (b.wall < bare.wall) bare = b;
    if (l.wall < library.wall) library = l;
  }
  std::printf("pinned to CPU:            %d\n", cpu);
  std::printf("requests:                 %d of %d rows\n", requests, kRows);
  print("bare curl + Boost.JSON:", bare, requests);
  print("PostgrestClient:", library, requests);
  std::printf("ratio:                    %.3f\n", library.wall / bare.wall);
  return 0;
}
