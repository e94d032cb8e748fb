// The select of postgrest_select (100 message rows), N times, through VoduzaziClient: the
// token step (the auth client's session, read through the secret store on every request), the
// builder, HTTPClient, transport and decoding; against the same bare curl baseline sending the
// very same request. The token step's own cost is timed on its own too.
// The process is pinned to one CPU; the user's secrets go to a fresh folder.
//
// The token step checks the session's item and the (absent) legacy item through the secret
// store: three lstat calls in all while nothing changes (about 2 us each on a virtual machine),
// and the session is decoded again only when its bytes changed since the last read.
//
//   taskset -c 0 build/release/bench/facade_select 2000   (8-core virtual machine, nearly quiet)
//   # token step:               8.4 us/request (8.4 us CPU)
//   # bare curl + Boost.JSON:   0.957 s (478.3 us/request, 127.7 us CPU/request)
//   # VoduzaziClient:           1.125 s (562.7 us/request, 190.5 us CPU/request)
//   # ratio:                    1.177
//   (three runs: token step 8.4 to 8.5 us, ratio 1.14 to 1.18; postgrest_select on the same
//   machine: PostgrestClient 1.14 of the same baseline.)
#include <algorithm>
#include <boost/uuid/uuid_io.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "local_backend/server.hpp"
#include "select_baseline.hpp"
#include "tests/postgrest/message_rows.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace {

constexpr int kRows = 100;

using voduzazi::testing::Message;
using voduzazi::testing::NewMessage;

// The select both roads send.
voduzazi::PostgrestFilterBuilder select(const voduzazi::VoduzaziClient& client,
                                        const std::string& user) {
  return client.from("messages").select().eq("receiver_id", user).order("created_at");
}

// The shared transport, keeping a copy of the requests while `recording` is set.
struct RecordingSession {
  bool recording = false;
  voduzazi::URLRequest last;

  voduzazi::HTTPSession session() {
    voduzazi::HTTPSession shared = voduzazi::HTTPSession::shared();
    shared.data = [this](const voduzazi::URLRequest& request) {
      if (recording) last = request;
      return voduzazi::URLSession::shared().data(request);
    };
    return shared;
  }
};

bench::Timing throughFacade(const voduzazi::VoduzaziClient& client, const std::string& user,
                            int requests) {
  return bench::timed(requests, [&] {
    if (select(client, user).execute<std::vector<Message>>().value.size() != kRows) {
      throw std::runtime_error("request lost rows");
    }
  });
}

bench::Timing tokenStep(const voduzazi::VoduzaziClient& client, int requests) {
  return bench::timed(requests, [&] {
    if (!client.currentAccessToken()) throw std::runtime_error("no token");
  });
}

std::filesystem::path freshDataHome() {
  const auto folder = std::filesystem::temp_directory_path() /
                      ("voduzazi-facade-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  setenv("XDG_DATA_HOME", folder.c_str(), 1);
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  const int cpu = bench::pinToOneCpu();
  const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  const auto dataHome = freshDataHome();
  local_backend::Server server;
  RecordingSession transport;
  voduzazi::VoduzaziClientOptions options;
  options.global.session = transport.session();
  const std::string run = std::to_string(::getpid());
  std::string user;
  {
    voduzazi::VoduzaziClient client(server.url(), server.anonKey(), options);
    const auto signedUp = client.auth().signUp("bench-" + run + "@example.com", "a long password");
    user = boost::uuids::to_string(signedUp.user().id);
    std::vector<NewMessage> rows;
    for (int i = 0; i < kRows; ++i) rows.push_back({user, user, "message " + std::to_string(i)});
    client.from("messages").insert(rows).execute();

    transport.recording = true;
    select(client, user).execute();
    transport.recording = false;
    const voduzazi::URLRequest request = transport.last;

    // Warm both roads, then take the best of five alternating rounds.
    bench::bareCurl<Message>(request, 50, kRows);
    throughFacade(client, user, 50);
    bench::Timing bare;
    bench::Timing facade;
    bench::Timing token;
    for (int round = 0; round < 5; ++round) {
      bench::keepBest(bare, bench::bareCurl<Message>(request, requests, kRows));
      bench::keepBest(facade, throughFacade(client, user, requests));
      bench::keepBest(token, tokenStep(client, requests));
    }
    std::printf("pinned to CPU:            %d\n", cpu);
    std::printf("requests:                 %d of %d rows\n", requests, kRows);
    std::printf("token step:               %.1f us/request (%.1f us CPU)\n",
                token.wall / requests * 1e6, token.cpu / requests * 1e6);
    bench::print("bare curl + Boost.JSON:", bare, requests);
    bench::print("VoduzaziClient:", facade, requests);
    std::printf("ratio:                    %.3f\n", facade.wall / bare.wall);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dataHome, ignored);
  return 0;
}
