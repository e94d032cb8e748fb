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

#include "local_backend/server.hpp"
#include "select_baseline.hpp"
#include "tests/postgrest/message_rows.hpp"
#include "voduzazi/platform/url_session.hpp"
#include "voduzazi/postgrest/client.hpp"

namespace {

constexpr const char* kSender = "0b3d6f1e-0000-4000-8000-00000000000a";
constexpr const char* kReceiver = "0b3d6f1e-0000-4000-8000-00000000000b";
constexpr int kRows = 100;

using voduzazi::testing::Message;
using voduzazi::testing::NewMessage;

// The select both roads send.
voduzazi::PostgrestFilterBuilder select(const voduzazi::PostgrestClient& client) {
  return client.from("messages").select().eq("receiver_id", kReceiver).order("created_at");
}

void seed(const voduzazi::PostgrestClient& client) {
  std::vector<NewMessage> rows;
  for (int i = 0; i < kRows; ++i)
    rows.push_back({kSender, kReceiver, "message number " + std::to_string(i)});
  client.from("messages").insert(rows).execute();
}

bench::Timing throughClient(const voduzazi::PostgrestClient& client, int requests) {
  return bench::timed(requests, [&] {
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
  bench::bareCurl<Message>(request, 50, kRows);
  throughClient(client, 50);
  bench::Timing bare;
  bench::Timing library;
  for (int round = 0; round < 5; ++round) {
    bench::keepBest(bare, bench::bareCurl<Message>(request, requests, kRows));
    bench::keepBest(library, throughClient(client, requests));
  }
  std::printf("pinned to CPU:            %d\n", cpu);
  std::printf("requests:                 %d of %d rows\n", requests, kRows);
  bench::print("bare curl + Boost.JSON:", bare, requests);
  bench::print("PostgrestClient:", library, requests);
  std::printf("ratio:                    %.3f\n", library.wall / bare.wall);
  return 0;
}
