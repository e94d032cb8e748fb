// Redirects: the client's credentials stay with the origin they were given for, and the method
// and body of each redirect kind are what a browser would send.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/url/encode.hpp>
#include <boost/url/pct_string_view.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "loopback_server.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/platform/detail/curl_redirects.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi {
namespace {

using testing::lastOf;
using testing::LoopbackServer;
using testing::trickled;

const std::vector<std::string> kCredentials = {"apikey", "Authorization", "Cookie"};

std::optional<std::string> header(const LoopbackServer::Request& request, std::string_view name) {
  for (const auto& [field, value] : request.headers) {
    if (boost::algorithm::iequals(field, name)) return value;
  }
  return std::nullopt;
}

// Answers "/<status>?to=<location>" with that redirect (the location percent-decoded, and a body
// of its own), and anything else with the method and body it got.
LoopbackServer::Response redirectOrEcho(const LoopbackServer::Request& request) {
  LoopbackServer::Response response;
  const auto query = request.target.find("?to=");
  if (query == std::string::npos) {
    response.headers = {{"X-Method", request.method}};
    response.body = "landed:" + request.body;
    return response;
  }
  response.status = std::stoi(request.target.substr(1, query - 1));
  const std::string location = request.target.substr(query + 4);
  const auto encoded = boost::urls::make_pct_string_view(location);
  response.headers = {{"Location", encoded ? encoded->decode() : location}};
  response.body = "the redirect's own body";
  return response;
}

// A request to `origin` answered by a redirect of `status` to `location` (any bytes), with the
// client's credentials.
URLRequest redirected(const LoopbackServer& origin, int status, const std::string& location,
                      const std::string& method = "GET") {
  URLRequest r;
  r.url =
      boost::urls::url(origin.url("/" + std::to_string(status) + "?to=" +
                                  boost::urls::encode(location, boost::urls::unreserved_chars)));
  r.httpMethod = method;
  r.headerFields = {{"apikey", "service-key"},
                    {"Authorization", "Bearer token"},
                    {"Cookie", "session=1"},
                    {"X-Client-Info", "tests"}};
  return r;
}

// The fields that describe a request's body, here for a body of `length` bytes.
std::vector<std::pair<std::string, std::string>> bodyFields(std::size_t length) {
  return {{"Content-Type", "application/json"},
          {"Content-Encoding", "identity"},
          {"Content-Language", "en"},
          {"Content-Location", "/draft"},
          {"Content-Length", std::to_string(length)}};
}

URLRequest withBody(URLRequest request, const std::string& body) {
  for (auto& field : bodyFields(body.size())) request.headerFields.push_back(std::move(field));
  request.httpBody = body;
  // A field that outlived its body would announce a length the server then waits for.
  request.timeoutInterval = 5;
  return request;
}

const std::vector<std::string> kBodyFields = [] {
  std::vector<std::string> names;
  for (const auto& [name, value] : bodyFields(0)) names.push_back(name);
  return names;
}();

// Which of `names` `request` carries.
std::vector<std::string> fieldsAmong(const LoopbackServer::Request& request,
                                     const std::vector<std::string>& names) {
  std::vector<std::string> found;
  for (const std::string& name : names) {
    if (header(request, name)) found.push_back(name);
  }
  return found;
}

// The fields with which a caller sends its body in chunks, waiting for the server's go-ahead and
// announcing a trailer: each promises a body, so it goes no further than the body.
const std::vector<std::pair<std::string, std::string>> kChunkedFields = {
    {"Transfer-Encoding", "chunked"}, {"Expect", "100-continue"}, {"Trailer", "X-Checksum"}};

const std::vector<std::string> kChunkedFieldNames = [] {
  std::vector<std::string> names;
  for (const auto& [name, value] : kChunkedFields) names.push_back(name);
  return names;
}();

// The same body sent in chunks two ways: a POST from memory and a PUT from a body source.
std::vector<URLRequest> chunked(URLRequest post, const std::string& body) {
  post.httpMethod = "POST";
  for (const auto& field : kChunkedFields) post.headerFields.push_back(field);
  // A field that outlived its body would promise chunks the server then waits for.
  post.timeoutInterval = 3;
  URLRequest put = post;
  post.httpBody = body;
  put.httpMethod = "PUT";
  put.httpBodyStream = std::make_shared<MemoryBodySource>(body);
  return {post, put};
}

std::vector<std::string> credentialsOf(const LoopbackServer::Request& request) {
  return fieldsAmong(request, kCredentials);
}

std::vector<std::string> bodyFieldsOf(const LoopbackServer::Request& request) {
  return fieldsAmong(request, kBodyFields);
}

class URLSessionRedirectTest : public ::testing::Test {
 protected:
  URLRequest redirected(int status, const std::string& location, const std::string& method) {
    return voduzazi::redirected(origin, status, location, method);
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
        const auto landed = lastOf(landing.requests(), "the landing requests");
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
  const auto landed = lastOf(origin.requests(), "the origin's requests");
  ASSERT_EQ(landed.target, "/landed");
  for (const std::string& name : kCredentials) EXPECT_FALSE(header(landed, name)) << name;
}

// However the server writes a Location within its origin (libcurl passes on what a strict URL
// grammar refuses), the request it leads to carries the credentials.
TEST_F(URLSessionRedirectTest, ARedirectWithinTheOriginKeepsTheCredentialsWhateverItsPathHolds) {
  const std::vector<std::string> paths = {
      "/x#frag", "/a|b", "/q?a={1,2}", "/100%", "/rest/v1/items?tags=cs.{a,b}&name=eq.\"x y\"",
      "/a\"b",   "/a^b", "/a`b",       "/<a>",  "/a\\b",
      "/[a]",    "/%zz", "/a b",       "/x?#",  "/%"};
  for (const std::string& path : paths) {
    for (const std::string& location : {path, origin.url(path)}) {
      session.data(redirected(307, location, "GET"));
      const auto requests = origin.requests();
      ASSERT_GE(requests.size(), 2u) << location;
      EXPECT_EQ(requests.back().target.find("?to="), std::string::npos)
          << location << " not followed";
      EXPECT_EQ(credentialsOf(requests.back()), kCredentials) << location;
    }
  }
}

// An absolute Location with a raw space goes where a relative one does, as libcurl writes it.
TEST_F(URLSessionRedirectTest, ARawSpaceInALocationIsSentEscaped) {
  for (const std::string& location : {origin.url("/a b?c d"), std::string("/a b?c d")}) {
    const FetchResult result = session.data(redirected(302, location, "GET"));
    EXPECT_EQ(result.data, "landed:") << location;
    EXPECT_EQ(lastOf(origin.requests(), "the origin's requests").target, "/a%20b?c+d") << location;
    EXPECT_EQ(result.response->url().buffer(), origin.url("/a%20b?c+d")) << location;
    EXPECT_EQ(credentialsOf(lastOf(origin.requests(), "the origin's requests")), kCredentials)
        << location;
  }
}

// The caller's host written in another form than libcurl writes it is still the same origin;
// another host is not.
TEST(URLSessionRedirect, AnIPv6OriginIsTheSameWhicheverWayItsAddressIsWritten) {
  std::optional<LoopbackServer> server;
  try {
    server.emplace(redirectOrEcho, 0, "::1");
  } catch (const std::exception& error) {
    GTEST_SKIP() << "no IPv6 loopback: " << error.what();
  }
  URLSession session;
  const std::string port = std::to_string(server->port());
  for (const std::string host : {"[0:0:0:0:0:0:0:1]", "[::1]", "[0::1]", "[::0:1]"}) {
    URLRequest r = redirected(*server, 307, "/x");
    r.url = boost::urls::url("http://" + host + ":" + port + std::string(r.url.encoded_resource()));
    session.data(r);
    EXPECT_EQ(lastOf(server->requests(), "the requests received").target, "/x") << host;
    EXPECT_EQ(credentialsOf(lastOf(server->requests(), "the requests received")), kCredentials)
        << host;
  }
  // The same server reached by another name is another origin.
  LoopbackServer v4(redirectOrEcho);
  session.data(redirected(*server, 307, v4.url("/x")));
  EXPECT_EQ(lastOf(v4.requests(), "the IPv4 requests").target, "/x");
  EXPECT_TRUE(credentialsOf(lastOf(v4.requests(), "the IPv4 requests")).empty());
}

// Only 301, 302, 303, 307 and 308 redirect: any other 3xx, a Location or not, is the answer.
TEST_F(URLSessionRedirectTest, AnyOtherStatusWithALocationIsTheResponse) {
  for (const int status : {300, 304, 305, 306, 399}) {
    LoopbackServer server([status](const LoopbackServer::Request&) {
      const std::string body = status == 304 ? "" : "the answer itself";
      return trickled({"HTTP/1.1 " + std::to_string(status) + " Whatever\r\nLocation: /landed\r\n" +
                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body},
                      std::chrono::milliseconds(0));
    });
    URLRequest r;
    r.url = boost::urls::url(server.url("/asked"));
    const FetchResult result = session.data(r);
    const auto response = std::dynamic_pointer_cast<const HTTPURLResponse>(result.response);
    ASSERT_TRUE(response) << status;
    EXPECT_EQ(response->statusCode(), status);
    EXPECT_EQ(result.data, status == 304 ? "" : "the answer itself") << status;
    EXPECT_EQ(response->url().buffer(), server.url("/asked")) << status;
    EXPECT_EQ(server.requests().size(), 1u) << status;
  }
}

TEST_F(URLSessionRedirectTest, SeeOtherTurnsEveryMethodButHeadIntoABodilessGet) {
  for (const char* method : {"POST", "PUT", "PATCH", "DELETE"}) {
    const URLRequest r = withBody(redirected(303, "/landed", method), "payload");
    EXPECT_EQ(session.data(r).data, "landed:") << method;
    EXPECT_EQ(lastOf(origin.requests(), "the origin's requests").method, "GET") << method;
    // The fields that described the body went with it; the credentials stay in their origin.
    EXPECT_THAT(bodyFieldsOf(lastOf(origin.requests(), "the origin's requests")),
                ::testing::IsEmpty())
        << method;
    EXPECT_EQ(credentialsOf(lastOf(origin.requests(), "the origin's requests")), kCredentials)
        << method;
  }
  session.data(redirected(303, "/landed", "HEAD"));
  EXPECT_EQ(lastOf(origin.requests(), "the origin's requests").method, "HEAD");
}

TEST_F(URLSessionRedirectTest, MovedAndFoundTurnOnlyAPostIntoAGet) {
  for (const int status : {301, 302}) {
    const URLRequest post = withBody(redirected(status, "/landed", "POST"), "payload");
    EXPECT_EQ(session.data(post).data, "landed:") << status;
    EXPECT_EQ(lastOf(origin.requests(), "the origin's requests").method, "GET") << status;
    EXPECT_THAT(bodyFieldsOf(lastOf(origin.requests(), "the origin's requests")),
                ::testing::IsEmpty())
        << status;
    // Any other method goes on with its body: a PUT replayed empty would overwrite data.
    for (const char* method : {"PUT", "PATCH", "DELETE"}) {
      const URLRequest r = withBody(redirected(status, "/landed", method), "payload");
      EXPECT_EQ(session.data(r).data, "landed:payload") << status << " " << method;
      EXPECT_EQ(lastOf(origin.requests(), "the origin's requests").method, method)
          << status << " " << method;
      EXPECT_EQ(bodyFieldsOf(lastOf(origin.requests(), "the origin's requests")), kBodyFields)
          << status << " " << method;
    }
    session.data(redirected(status, "/landed", "HEAD"));
    EXPECT_EQ(lastOf(origin.requests(), "the origin's requests").method, "HEAD");
  }
}

TEST_F(URLSessionRedirectTest, SeeOtherDropsTheChunkedFramingAndTheExpectationWithTheBody) {
  for (const URLRequest& r : chunked(redirected(303, "/landed", "POST"), "payload")) {
    const std::string& method = r.httpMethod;
    EXPECT_EQ(session.data(r).data, "landed:") << method;
    const auto requests = origin.requests();
    ASSERT_GE(requests.size(), 2u) << method;
    // The first request did go out in chunks, so the fields had something to go with.
    EXPECT_EQ(requests.end()[-2].body, "payload") << method;
    EXPECT_EQ(fieldsAmong(requests.end()[-2], kChunkedFieldNames), kChunkedFieldNames) << method;
    EXPECT_EQ(requests.back().method, "GET") << method;
    EXPECT_THAT(fieldsAmong(requests.back(), kChunkedFieldNames), ::testing::IsEmpty()) << method;
  }
}

TEST_F(URLSessionRedirectTest, TemporaryRedirectKeepsTheChunkedFramingWithTheBody) {
  for (const URLRequest& r : chunked(redirected(307, "/landed", "POST"), "payload")) {
    const std::string& method = r.httpMethod;
    EXPECT_EQ(session.data(r).data, "landed:payload") << method;
    EXPECT_EQ(lastOf(origin.requests(), "the origin's requests").method, method);
    EXPECT_EQ(fieldsAmong(lastOf(origin.requests(), "the origin's requests"), kChunkedFieldNames),
              kChunkedFieldNames)
        << method;
  }
}

TEST_F(URLSessionRedirectTest, ABodyDroppedOnceStaysDroppedWithItsFieldsForTheRestOfTheChain) {
  for (URLRequest r : chunked(redirected(303, "/307?to=/landed", "POST"), "payload")) {
    for (auto& field : bodyFields(0)) {
      if (field.first != "Content-Length") r.headerFields.push_back(std::move(field));
    }
    const std::string& method = r.httpMethod;
    EXPECT_EQ(session.data(r).data, "landed:") << method;
    const auto landed = lastOf(origin.requests(), "the origin's requests");
    ASSERT_EQ(landed.target, "/landed") << method;
    EXPECT_EQ(landed.method, "GET") << method;
    EXPECT_THAT(fieldsAmong(landed, kChunkedFieldNames), ::testing::IsEmpty()) << method;
    EXPECT_THAT(bodyFieldsOf(landed), ::testing::IsEmpty()) << method;
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
      const URLRequest inMemory = withBody(redirected(status, elsewhere, method), "in memory");
      EXPECT_EQ(session.data(inMemory).data, "landed:in memory") << context;
      EXPECT_EQ(lastOf(other.requests(), "the other origin's requests").method, method) << context;
      EXPECT_EQ(bodyFieldsOf(lastOf(other.requests(), "the other origin's requests")), kBodyFields)
          << context;

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
      EXPECT_EQ(lastOf(other.requests(), "the other origin's requests").method, method) << context;
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

// Case aside, an IPv6 address by its value, the scheme's own port when none is written.
TEST(SameOrigin, ComparesSchemeHostAndPortWithTheSchemesOwnPort) {
  struct Case {
    std::string_view a;
    std::string_view b;
    bool same;
  };
  const Case cases[] = {
      {"http://h.example/a", "HTTP://H.example:80/b?c", true},
      {"https://h.example:443/", "https://h.example", true},
      {"http://h.example/", "http://h.example:/", true},
      {"http://h.example/", "http://%68.example/", true},
      {"http://h.example/", "https://h.example/", false},
      {"http://h.example/", "http://h.example:8080/", false},
      {"https://h.example/", "https://h.example:80/", false},
      {"http://h.example/", "http://sub.h.example/", false},
      {"http://h.example/", "http://h.example./", false},
      {"http://127.0.0.1/", "http://localhost/", false},
      {"ftp://h.example/", "ftp://h.example/", false},  // not http(s)
      {"http://h.example/", "not a URL", false},
      {"http://h.example/", std::string_view("http://h.example/\0x", 19), false},
      {"http://[0:0:0:0:0:0:0:1]:8080/", "http://[::1]:8080/x", true},
      {"http://[::FFFF:127.0.0.1]/", "http://[::ffff:7f00:1]/", true},
      {"http://[2001:DB8::1]/", "http://[2001:db8:0::1]/", true},
      {"http://[::1]/", "http://[::2]/", false},
      {"http://[::1]/", "http://127.0.0.1/", false},
      {"http://[fe80::1%25eth0]/", "http://[fe80:0::1%25eth0]/", true},
      {"http://[fe80::1%25eth0]/", "http://[fe80::1%25eth1]/", false},
  };
  for (const auto& [a, b, same] : cases) {
    EXPECT_EQ(detail::sameOrigin(a, b), same) << a << " and " << b;
    EXPECT_EQ(detail::sameOrigin(b, a), same) << b << " and " << a;
  }
}

TEST(SameOrigin, IgnoresWhateverThePathQueryAndFragmentHold) {
  for (const char* rest : {"/x#frag", "/a|b", "/q?a={1,2}", "/100%", "/a b", "/\"\\<>^`[]",
                           "?tags=cs.{a,b}&name=eq.\"x y\"", "#", "/%zz?%#%", "/\xC3\xA9"}) {
    EXPECT_TRUE(
        detail::sameOrigin("http://127.0.0.1:8080/", std::string("http://127.0.0.1:8080") + rest))
        << rest;
  }
}

TEST(RedirectTarget, IsTheLocationAsLibcurlWritesItWithWhatAURLMayNotHoldEscaped) {
  EXPECT_EQ(detail::redirectTarget("http://h.example/a b?c d"), "http://h.example/a%20b?c+d");
  EXPECT_EQ(detail::redirectTarget("http://h.example/a|b?x={1}"), "http://h.example/a|b?x={1}");
  EXPECT_EQ(detail::redirectTarget("http://h.example/a/../b"), "http://h.example/a/../b");
  EXPECT_EQ(detail::redirectTarget("http://h.example/\xC3\xA9"), "http://h.example/%c3%a9");
  EXPECT_EQ(detail::redirectTarget("http://[zz/"), std::nullopt);
  EXPECT_EQ(detail::redirectTarget("/relative"), std::nullopt);
}

TEST(IsRedirectStatus, OnlyTheFiveRedirectStatuses) {
  for (long status = 100; status < 600; ++status) {
    const bool redirects =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    EXPECT_EQ(detail::isRedirectStatus(status), redirects) << status;
  }
}

}  // namespace
}  // namespace voduzazi
