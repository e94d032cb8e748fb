// Redirects: the client's credentials stay with the origin they were given for, and the method
// and body of each redirect kind are what a browser would send.
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/algorithm/string/predicate.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "loopback_server.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/platform/detail/curl_redirects.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi {
namespace {

using testing::LoopbackServer;

const std::vector<std::string> kCredentials = {"apikey", "Authorization", "Cookie"};

std::optional<std::string> header(const LoopbackServer::Request& request, std::string_view name) {
  for (const auto& [field, value] : request.headers) {
    if (boost::algorithm::iequals(field, name)) return value;
  }
  return std::nullopt;
}

// Answers "/<status>?to=<location>" with that redirect (and a body of its own), and anything
// else with the method and body it got.
LoopbackServer::Response redirectOrEcho(const LoopbackServer::Request& request) {
  LoopbackServer::Response response;
  const auto query = request.target.find("?to=");
  if (query == std::string::npos) {
    response.headers = {{"X-Method", request.method}};
    response.body = "landed:" + request.body;
    return response;
  }
  response.status = std::stoi(request.target.substr(1, query - 1));
  response.headers = {{"Location", request.target.substr(query + 4)}};
  response.body = "the redirect's own body";
  return response;
}

class URLSessionRedirectTest : public ::testing::Test {
 protected:
  // A request to `origin` answered by a redirect of `status` to `location`, with credentials.
  URLRequest redirected(int status, const std::string& location, const std::string& method) {
    URLRequest r;
    r.url = boost::urls::url(origin.url("/" + std::to_string(status) + "?to=" + location));
    r.httpMethod = method;
    r.headerFields = {{"apikey", "service-key"},
                      {"Authorization", "Bearer token"},
                      {"Cookie", "session=1"},
                      {"X-Client-Info", "tests"}};
    return r;
  }

  LoopbackServer origin{redirectOrEcho};
  LoopbackServer other{redirectOrEcho};
  URLSession session;
};

TEST_F(URLSessionRedirectTest, CredentialsGoOnlyToTheOriginTheyWereGivenFor) {
  const std::string elsewhere = other.url("/landed");
  // The same server under another name is another origin.
  const std::string otherHost = "http://localhost:" + std::to_string(origin.port()) + "/landed";
  for (const int status : {302, 307, 308}) {
    for (const char* method : {"GET", "POST", "PUT"}) {
      for (const std::string& location :
           {elsewhere, otherHost, std::string("/landed"), origin.url("/landed")}) {
        const bool sameOrigin = location == "/landed" || location == origin.url("/landed");
        LoopbackServer& landing = location == elsewhere ? other : origin;
        URLRequest r = redirected(status, location, method);
        if (std::string_view(method) != "GET") r.httpBody = "payload";
        const FetchResult result = session.data(r);
        const std::string context = std::to_string(status) + " " + method + " to " + location;
        const auto landed = landing.requests().back();
        ASSERT_EQ(landed.target, "/landed") << context;
        for (const std::string& name : kCredentials) {
          EXPECT_EQ(header(landed, name).has_value(), sameOrigin) << context << ": " << name;
        }
        EXPECT_EQ(header(landed, "X-Client-Info"), "tests") << context;
        EXPECT_EQ(result.data.starts_with("landed:"), true) << context;
      }
    }
  }
}

TEST_F(URLSessionRedirectTest, CredentialsStayOffForTheRestOfTheChain) {
  // Out to the other server, and from there back to the origin.
  const std::string back = other.url("/307?to=" + origin.url("/landed"));
  session.data(redirected(307, back, "GET"));
  const auto landed = origin.requests().back();
  ASSERT_EQ(landed.target, "/landed");
  for (const std::string& name : kCredentials) EXPECT_FALSE(header(landed, name)) << name;
}

TEST_F(URLSessionRedirectTest, SeeOtherTurnsEveryMethodButHeadIntoABodilessGet) {
  for (const char* method : {"POST", "PUT", "PATCH", "DELETE"}) {
    URLRequest r = redirected(303, "/landed", method);
    r.httpBody = "payload";
    EXPECT_EQ(session.data(r).data, "landed:") << method;
    EXPECT_EQ(origin.requests().back().method, "GET") << method;
  }
  session.data(redirected(303, "/landed", "HEAD"));
  EXPECT_EQ(origin.requests().back().method, "HEAD");
}

TEST_F(URLSessionRedirectTest, MovedAndFoundTurnOnlyAPostIntoAGet) {
  for (const int status : {301, 302}) {
    URLRequest post = redirected(status, "/landed", "POST");
    post.httpBody = "payload";
    EXPECT_EQ(session.data(post).data, "landed:") << status;
    EXPECT_EQ(origin.requests().back().method, "GET") << status;
    // Any other method goes on with its body: a PUT replayed empty would overwrite data.
    for (const char* method : {"PUT", "PATCH", "DELETE"}) {
      URLRequest r = redirected(status, "/landed", method);
      r.httpBody = "payload";
      EXPECT_EQ(session.data(r).data, "landed:payload") << status << " " << method;
      EXPECT_EQ(origin.requests().back().method, method) << status << " " << method;
    }
    session.data(redirected(status, "/landed", "HEAD"));
    EXPECT_EQ(origin.requests().back().method, "HEAD");
  }
}

TEST_F(URLSessionRedirectTest, TemporaryAndPermanentRedirectsResendEveryKindOfBody) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("url_session_redirect_" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary) << "from a file";
  struct Removal {
    std::filesystem::path path;
    ~Removal() { std::filesystem::remove(path); }
  } removal{path};
  const std::string elsewhere = other.url("/landed");
  for (const int status : {307, 308}) {
    for (const char* method : {"POST", "PUT", "PATCH"}) {
      const std::string context = std::to_string(status) + " " + method;
      URLRequest inMemory = redirected(status, elsewhere, method);
      inMemory.httpBody = "in memory";
      EXPECT_EQ(session.data(inMemory).data, "landed:in memory") << context;
      EXPECT_EQ(other.requests().back().method, method) << context;

      const Data uploaded = "uploaded";
      EXPECT_EQ(session.upload(redirected(status, elsewhere, method), uploaded).data,
                "landed:uploaded")
          << context;

      URLRequest streamed = redirected(status, "/landed", method);
      streamed.httpBodyStream = std::make_shared<MemoryBodySource>("streamed");
      EXPECT_EQ(session.data(streamed).data, "landed:streamed") << context;

      URLRequest fromFile = redirected(status, elsewhere, method);
      fromFile.httpBodyStream = FileBodySource::open(path);
      EXPECT_EQ(session.data(fromFile).data, "landed:from a file") << context;
      EXPECT_EQ(other.requests().back().method, method) << context;
    }
  }
}

TEST_F(URLSessionRedirectTest, AStreamGetsOnlyTheFinalResponse) {
  std::vector<int> statuses;
  std::string body;
  const auto head = session.stream(
      redirected(302, other.url("/landed"), "GET"), [&](std::string_view chunk) { body += chunk; },
      [&](const HTTPURLResponse& response) { statuses.push_back(response.statusCode()); });
  EXPECT_EQ(statuses, std::vector<int>{200});
  EXPECT_EQ(body, "landed:");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->url().buffer(), other.url("/landed"));
}

TEST_F(URLSessionRedirectTest, ARedirectWithoutALocationIsTheResponse) {
  URLRequest r = redirected(302, "", "GET");
  const FetchResult result = session.data(r);
  EXPECT_EQ(std::dynamic_pointer_cast<const HTTPURLResponse>(result.response)->statusCode(), 302);
  EXPECT_EQ(result.data, "the redirect's own body");
}

TEST_F(URLSessionRedirectTest, GivesUpAfterSixteenRedirects) {
  // Each answer sends the client on to the next of a chain longer than the limit.
  std::string location = "/landed";
  for (int i = 0; i < 20; ++i) location = "/302?to=" + location;
  try {
    session.data(redirected(302, location, "GET"));
    ADD_FAILURE() << "followed more than 16 redirects";
  } catch (const URLError& error) {
    EXPECT_EQ(error.code(), URLError::Code::httpTooManyRedirects);
  }
  EXPECT_EQ(origin.requests().size(), 17u);
}

TEST(SameOrigin, ComparesSchemeHostAndPortWithTheSchemesOwnPort) {
  const auto same = [](const char* a, const char* b) {
    return detail::sameOrigin(boost::urls::url(a), boost::urls::url(b));
  };
  EXPECT_TRUE(same("http://h.example/a", "HTTP://H.example:80/b?c"));
  EXPECT_TRUE(same("https://h.example:443/", "https://h.example"));
  EXPECT_FALSE(same("http://h.example/", "https://h.example/"));
  EXPECT_FALSE(same("http://h.example/", "http://h.example:8080/"));
  EXPECT_FALSE(same("http://h.example/", "http://sub.h.example/"));
  EXPECT_FALSE(same("http://127.0.0.1/", "http://localhost/"));
  EXPECT_FALSE(same("ftp://h.example/", "ftp://h.example/")) << "no port known";
}

}  // namespace
}  // namespace voduzazi
