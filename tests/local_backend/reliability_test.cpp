// What must hold under load and abuse: concurrent writers, restarts, oversize and malformed
// requests, and requests without a valid key.
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <thread>

#include "local_backend/detail/crypto.hpp"
#include "tests/local_backend/test_client.hpp"

namespace local_backend::testing {
namespace {

class Reliability : public BackendTest {};

TEST_F(Reliability, ConcurrentInsertsLoseNothing) {
  const auto user = signUp("writer");
  constexpr int kThreads = 8;
  constexpr int kInserts = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kInserts; ++i) {
        const auto result =
            post("/rest/v1/messages",
                 R"({"sender_id":")" + user.id + R"(","receiver_id":")" + user.id +
                     R"(","content":")" + std::to_string(t) + "-" + std::to_string(i) + "\"}",
                 user.accessToken);
        if (result.status != 201) ++failures;
      }
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(failures.load(), 0);
  const auto counted = client_.send(http::verb::head, "/rest/v1/messages", {},
                                    {{"apikey", server_.serviceKey()}, {"Prefer", "count=exact"}});
  EXPECT_EQ(counted.header("Content-Range"), "0-" + std::to_string(kThreads * kInserts - 1) + "/" +
                                                 std::to_string(kThreads * kInserts));
  const auto distinct =
      client_.send(http::verb::get, "/rest/v1/messages?select=content&content=eq.7-199", {},
                   {{"apikey", server_.serviceKey()}});
  EXPECT_EQ(distinct.json().as_array().size(), 1u);
}

TEST(LocalBackendRestart, KeepsUsersSessionsAndRows) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("voduzazi-local-test-" + detail::randomUuid());
  ServerOptions options;
  options.dataDir = dir;
  std::string email = "persist@example.com";
  std::string refreshToken;
  std::string accessToken;
  std::string userId;
  {
    Server server(options);
    TestClient client(server.port());
    const auto signUp = client.send(http::verb::post, "/auth/v1/signup",
                                    R"({"email":")" + email + R"(","password":"secret1"})",
                                    {{"apikey", server.anonKey()}});
    ASSERT_EQ(signUp.status, 200) << signUp.body;
    const auto session = signUp.json();
    refreshToken = session.at("refresh_token").as_string();
    accessToken = session.at("access_token").as_string();
    userId = session.at("user").at("id").as_string();
    const auto row = client.send(
        http::verb::post, "/rest/v1/profiles", R"({"id":")" + userId + R"(","username":"kept"})",
        {{"apikey", server.anonKey()}, {"Authorization", "Bearer " + accessToken}});
    ASSERT_EQ(row.status, 201) << row.body;
  }
  EXPECT_EQ(std::filesystem::status(dir).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  {
    Server server(options);
    TestClient client(server.port());
    const Headers anon{{"apikey", server.anonKey()}};
    EXPECT_EQ(client
                  .send(http::verb::get, "/auth/v1/user", {},
                        {{"apikey", server.anonKey()}, {"Authorization", "Bearer " + accessToken}})
                  .status,
              200);
    const auto refreshed = client.send(http::verb::post, "/auth/v1/token?grant_type=refresh_token",
                                       R"({"refresh_token":")" + refreshToken + "\"}", anon);
    EXPECT_EQ(refreshed.status, 200) << refreshed.body;
    EXPECT_EQ(client
                  .send(http::verb::post, "/auth/v1/token?grant_type=password",
                        R"({"email":")" + email + R"(","password":"secret1"})", anon)
                  .status,
              200);
    const auto rows = client.send(http::verb::get, "/rest/v1/profiles?username=eq.kept", {},
                                  {{"apikey", server.serviceKey()}});
    EXPECT_EQ(rows.json().as_array().size(), 1u);
  }
  std::filesystem::remove_all(dir);
}

TEST(LocalBackendDataDir, KeepsAFolderModeAndMakesTheDatabaseOwnerOnly) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("voduzazi-local-test-" + detail::randomUuid());
  std::filesystem::create_directory(dir);
  const auto shared = std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                      std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                      std::filesystem::perms::others_exec;
  std::filesystem::permissions(dir, shared, std::filesystem::perm_options::replace);
  {
    ServerOptions options;
    options.dataDir = dir;
    Server server(options);
    // Something written, so that the journal exists while the server runs.
    TestClient(server.port())
        .send(http::verb::post, "/auth/v1/signup",
              R"({"email":"m@example.com","password":"secret1"})", {{"apikey", server.anonKey()}});
    EXPECT_EQ(std::filesystem::status(dir / "backend.sqlite3-wal").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  EXPECT_EQ(std::filesystem::status(dir).permissions() & std::filesystem::perms::all, shared);
  // The database holds password hashes, and the folder no longer hides it.
  EXPECT_EQ(
      std::filesystem::status(dir / "backend.sqlite3").permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::remove_all(dir);
}

TEST_F(Reliability, RefusesOversizeBodies) {
  const std::string huge = R"({"content":")" + std::string(2 * 1024 * 1024, 'x') + "\"}";
  const auto result = post("/rest/v1/messages", huge, signUp("big").accessToken);
  EXPECT_EQ(result.status, 413);
  EXPECT_TRUE(result.json().is_object());
  // The server goes on serving.
  EXPECT_EQ(get("/rest/v1/profiles", server_.serviceKey()).status, 200);
}

TEST_F(Reliability, RefusesMissingAndInvalidKeys) {
  const auto missing = client_.send(http::verb::get, "/rest/v1/profiles");
  EXPECT_EQ(missing.status, 401);
  EXPECT_EQ(missing.json().at("message"), "No API key found in request");
  const auto wrong = client_.send(http::verb::get, "/auth/v1/user", {}, {{"apikey", "nonsense"}});
  EXPECT_EQ(wrong.status, 401);
  EXPECT_EQ(wrong.json().at("message"), "Invalid API key");
  EXPECT_EQ(wrong.header("X-Voduzazi-Api-Version"), "2024-01-01");
  // A user's access token is not an API key.
  const auto user = signUp("key");
  EXPECT_EQ(
      client_.send(http::verb::get, "/rest/v1/profiles", {}, {{"apikey", user.accessToken}}).status,
      401);
  Server other([] {
    ServerOptions options;
    options.jwtSecret = "a-different-secret-for-another-server-0123";
    return options;
  }());
  EXPECT_NE(other.anonKey(), server_.anonKey());
  EXPECT_EQ(
      client_.send(http::verb::get, "/rest/v1/profiles", {}, {{"apikey", other.anonKey()}}).status,
      401);
  // The key may also come as a query item.
  EXPECT_EQ(
      client_.send(http::verb::get, "/rest/v1/profiles?apikey=" + server_.serviceKey()).status,
      200);
  const auto nowhere = get("/storage/v1/object");
  EXPECT_EQ(nowhere.status, 404);
}

TEST_F(Reliability, AnswersGarbageWithoutFallingOver) {
  namespace net = boost::asio;
  net::io_context ioc;
  net::ip::tcp::socket socket(ioc);
  socket.connect({net::ip::make_address("127.0.0.1"), server_.port()});
  net::write(socket, net::buffer(std::string("NOT HTTP AT ALL\r\n\r\n")));
  std::string answer;
  boost::system::error_code ec;
  net::read(socket, net::dynamic_buffer(answer), ec);
  EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << answer;
  EXPECT_EQ(get("/rest/v1/profiles", server_.serviceKey()).status, 200);
}

TEST(LocalBackendStop, ClosesThePortAndOpenConnections) {
  namespace net = boost::asio;
  Server server;
  net::io_context ioc;
  net::ip::tcp::socket open(ioc);
  const net::ip::tcp::endpoint endpoint{net::ip::make_address("127.0.0.1"), server.port()};
  open.connect(endpoint);
  server.stop();

  std::string answer;
  boost::system::error_code ec = net::error::would_block;
  net::async_read(open, net::dynamic_buffer(answer),
                  [&](boost::system::error_code e, std::size_t) { ec = e; });
  ioc.run_for(std::chrono::seconds{10});  // the deadline of a connection left open
  // Closed, either as a served connection or as one still waiting to be accepted.
  EXPECT_TRUE(ec == net::error::eof || ec == net::error::connection_reset) << ec.message();
  net::ip::tcp::socket late(ioc);
  late.connect(endpoint, ec);
  EXPECT_EQ(ec, net::error::connection_refused) << ec.message();
}

TEST(LocalBackendKeys, AreDeterministicForTheDevelopmentSecret) {
  Server first;
  Server second;
  EXPECT_EQ(first.anonKey(), second.anonKey());
  EXPECT_EQ(first.serviceKey(), second.serviceKey());
  EXPECT_NE(first.anonKey(), first.serviceKey());
  EXPECT_EQ(first.anonKey().size(), 208u);
  EXPECT_NE(first.port(), second.port());
  EXPECT_EQ(first.url(), "http://127.0.0.1:" + std::to_string(first.port()));
}

}  // namespace
}  // namespace local_backend::testing
