#include "tests/local_backend/test_client.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/json/parse.hpp>

namespace local_backend::testing {

namespace net = boost::asio;
using tcp = net::ip::tcp;

boost::json::value HttpResult::json() const {
  boost::system::error_code ec;
  auto value = boost::json::parse(body, ec);
  EXPECT_FALSE(ec) << "not JSON: " << body;
  return ec ? boost::json::value() : value;
}

std::string HttpResult::header(std::string_view name) const {
  const auto it = headers.find(name);
  return it == headers.end() ? std::string() : std::string(it->value());
}

HttpResult TestClient::send(http::verb method, const std::string& target, const std::string& body,
                            const Headers& headers) const {
  net::io_context ioc;
  tcp::socket socket(ioc);
  socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port_));
  http::request<http::string_body> request{method, target, 11};
  request.set(http::field::host, "127.0.0.1");
  for (const auto& [name, value] : headers) request.insert(name, value);
  if (!body.empty()) {
    if (request.find(http::field::content_type) == request.end()) {
      request.set(http::field::content_type, "application/json");
    }
    request.body() = body;
  }
  request.prepare_payload();
  request.keep_alive(false);
  http::write(socket, request);
  boost::beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 * 1024 * 1024);
  parser.skip(method == http::verb::head);
  http::read(socket, buffer, parser);
  auto response = parser.release();
  HttpResult result;
  result.status = static_cast<int>(response.result_int());
  result.body = response.body();
  result.headers = response.base();
  return result;
}

BackendTest::BackendTest(local_backend::ServerOptions options)
    : server_(std::move(options)), client_(server_.port()) {}

Headers BackendTest::keyHeaders(const std::string& bearer) const {
  Headers headers{{"apikey", server_.anonKey()}};
  if (!bearer.empty()) headers.emplace_back("Authorization", "Bearer " + bearer);
  return headers;
}

HttpResult BackendTest::call(http::verb method, const std::string& target, const std::string& body,
                             const std::string& bearer, Headers extra) const {
  Headers headers = keyHeaders(bearer);
  headers.insert(headers.end(), extra.begin(), extra.end());
  return client_.send(method, target, body, headers);
}

HttpResult BackendTest::get(const std::string& target, const std::string& bearer,
                            Headers extra) const {
  return call(http::verb::get, target, {}, bearer, std::move(extra));
}

HttpResult BackendTest::post(const std::string& target, const std::string& body,
                             const std::string& bearer, Headers extra) const {
  return call(http::verb::post, target, body, bearer, std::move(extra));
}

TestUser BackendTest::signUp(const std::string& name) {
  const std::string email = name + std::to_string(++users_) + "@example.com";
  const auto result =
      post("/auth/v1/signup", R"({"email":")" + email + R"(","password":"secret-password"})");
  EXPECT_EQ(result.status, 200) << result.body;
  const auto body = result.json();
  if (!body.is_object() || !body.as_object().contains("access_token")) return {};
  const auto& session = body.as_object();
  return TestUser{std::string(session.at("user").at("id").as_string()), email,
                  std::string(session.at("access_token").as_string()),
                  std::string(session.at("refresh_token").as_string())};
}

}  // namespace local_backend::testing
