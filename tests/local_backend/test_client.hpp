// A small blocking HTTP client for black-box tests of the local backend, and a fixture that
// starts an in-memory server on a free port with helpers for signed-in users.
//
//   TestClient client(server.port());
//   HttpResult r = client.send(http::verb::get, "/rest/v1/profiles?select=*",
//                              {}, {{"apikey", server.anonKey()}});
//   EXPECT_EQ(r.status, 200);
#pragma once

#include <gtest/gtest.h>

#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/json/value.hpp>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "local_backend/server.hpp"

namespace local_backend::testing {

namespace http = boost::beast::http;

using Headers = std::vector<std::pair<std::string, std::string>>;

struct HttpResult {
  int status = 0;
  std::string body;
  http::fields headers;

  // The body parsed as JSON; a test failure (and null) when it is not JSON.
  boost::json::value json() const;
  std::string header(std::string_view name) const;
};

// One connection per request. Thread safety: distinct objects safe, shared objects unsafe.
class TestClient {
 public:
  explicit TestClient(std::uint16_t port) : port_(port) {}

  HttpResult send(http::verb method, const std::string& target, const std::string& body = {},
                  const Headers& headers = {}) const;

 private:
  std::uint16_t port_;
};

// A user signed up through the authentication API.
struct TestUser {
  std::string id;
  std::string email;
  std::string accessToken;
  std::string refreshToken;
};

// Starts a server in memory for each test.
class BackendTest : public ::testing::Test {
 protected:
  explicit BackendTest(local_backend::ServerOptions options = {});

  // Headers with the anonymous key and, when given, a bearer token.
  Headers keyHeaders(const std::string& bearer = {}) const;

  HttpResult get(const std::string& target, const std::string& bearer = {},
                 Headers extra = {}) const;
  HttpResult post(const std::string& target, const std::string& body,
                  const std::string& bearer = {}, Headers extra = {}) const;
  HttpResult call(http::verb method, const std::string& target, const std::string& body,
                  const std::string& bearer, Headers extra) const;

  // Signs up a new user with a unique address and password "secret-password".
  TestUser signUp(const std::string& name);

  local_backend::Server server_;
  TestClient client_;

 private:
  int users_ = 0;
};

}  // namespace local_backend::testing
