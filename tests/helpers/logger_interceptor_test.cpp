#include "voduzazi/helpers/logger_interceptor.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "test_support.hpp"
#include "voduzazi/helpers/detail/log_redaction.hpp"
#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi {
namespace {

using helpers::HTTPRequest;
using testing::RecordingLogger;
using testing::ScriptedFetch;

struct LoggerInterceptorTest : ::testing::Test {
  std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();

  std::vector<VoduzaziLogMessage> send(HTTPRequest request, ScriptedFetch::Step step) {
    ScriptedFetch fetch({std::move(step)});
    HTTPClient client(fetch.handler(), {std::make_shared<LoggerInterceptor>(logger)});
    try {
      client.send(request);
    } catch (...) {
    }
    return logger->messages();
  }
};

HTTPRequest get(std::vector<URLQueryItem> query = {}) {
  return HTTPRequest(boost::urls::url("https://example.com/rest/v1/items"), HTTPMethod::get,
                     std::move(query));
}

TEST_F(LoggerInterceptorTest, LogsRequestAndResponseAtVerboseLevel) {
  const auto messages = send(get({{"name", "a b"}}), ScriptedFetch::status(200, "plain text"));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].level, VoduzaziLogLevel::verbose);
  EXPECT_EQ(messages[0].message,
            "Request: GET https://example.com/rest/v1/items?name=a b\nBody: <none>");
  EXPECT_EQ(messages[0].fileID, "helpers/logger_interceptor.cpp");
  EXPECT_EQ(messages[0].function, "intercept");
  EXPECT_EQ(messages[1].message, "Response: Status code: 200 Content-Length: -1\nBody: plain text");
}

TEST_F(LoggerInterceptorTest, PrettyPrintsJSONBodiesWithSortedKeys) {
  HTTPRequest request = get();
  request.method = HTTPMethod::post;
  request.body = R"({"b":1,"a":[true]})";
  const auto messages = send(request, ScriptedFetch::status(201, "\xff\xfe"));
  EXPECT_EQ(messages[0].message,
            "Request: POST https://example.com/rest/v1/items\nBody: {\n  \"a\" : [\n    true\n  ],"
            "\n  \"b\" : 1\n}");
  EXPECT_EQ(messages[1].message, "Response: Status code: 201 Content-Length: -1\nBody: <failed>");
}

TEST_F(LoggerInterceptorTest, RedactsSecretsInBodiesAndQueries) {
  HTTPRequest request(boost::urls::url("https://example.com/auth/v1/token"), HTTPMethod::post,
                      {{"grant_type", "password"},
                       {"refresh_token", "r-secret"},
                       {"apikey", "q-secret"}});
  request.body =
      R"({"email":"a@b.c","password":"p-secret","token":"o-secret",)"
      R"("nested":{"code_verifier":"v-secret"},"nonce":"n-secret",)"
      R"("vuvere_meta_security":{"captcha_token":"c-secret"},"email_change_token":"e-secret"})";
  request.headers.set(HTTPField::Name::authorization, "Bearer h-secret");
  request.headers.set(HTTPField::Name("apikey"), "k-secret");
  const auto messages = send(
      request, ScriptedFetch::status(200, R"({"access_token":"a-secret","id_token":"i-secret"})"));
  for (const auto& message : messages) {
    for (const char* secret :
         {"r-secret", "p-secret", "o-secret", "v-secret", "h-secret", "k-secret", "a-secret",
          "i-secret", "q-secret", "n-secret", "c-secret", "e-secret"}) {
      EXPECT_EQ(message.description().find(secret), std::string::npos) << secret;
    }
  }
  EXPECT_NE(messages[0].message.find("refresh_token=<redacted>"), std::string::npos);
  EXPECT_NE(messages[0].message.find("\"password\" : \"<redacted>\""), std::string::npos);
  EXPECT_NE(messages[0].message.find("a@b.c"), std::string::npos);

  HTTPRequest form = get();
  form.method = HTTPMethod::post;
  form.headers.set(HTTPField::Name::contentType, "application/x-www-form-urlencoded");
  form.body = "user=ada&password=f-secret";
  logger = std::make_shared<RecordingLogger>();
  EXPECT_NE(send(form, ScriptedFetch::status(204))[0].message.find("user=ada&password=<redacted>"),
            std::string::npos);
}

TEST_F(LoggerInterceptorTest, NeverLogsTheRawTextOfJSONItCannotRedact) {
  auto bodyLine = [this](std::string body, const char* contentType = "application/json") {
    HTTPRequest request = get();
    request.method = HTTPMethod::post;
    request.headers.set(HTTPField::Name::contentType, contentType);
    request.body = std::move(body);
    logger = std::make_shared<RecordingLogger>();
    const std::string message = send(request, ScriptedFetch::status(204))[0].message;
    return message.substr(message.find("\nBody: ") + 7);
  };
  const std::string infinite = R"({"password":"hunter2","x":1e999})";
  EXPECT_EQ(bodyLine(infinite), "<JSON body of 32 bytes>");
  EXPECT_EQ(bodyLine(R"({"password":"hunter2","x":0e400})"),
            "{\n  \"password\" : \"<redacted>\",\n  \"x\" : 0.0\n}");
  const std::string nested40 = R"({"password":"hunter2","x":)" + std::string(40, '[') +
                               std::string(40, ']') + "}";
  EXPECT_NE(bodyLine(nested40).find("\"password\" : \"<redacted>\""), std::string::npos);
  const std::string nested600 = R"({"password":"hunter2","x":)" + std::string(600, '[') +
                                std::string(600, ']') + "}";
  EXPECT_EQ(bodyLine(nested600), "<JSON body of " + std::to_string(nested600.size()) + " bytes>");
  // Text that is not JSON at all is logged as it is.
  EXPECT_EQ(bodyLine("password hunter2", "text/plain"), "password hunter2");
}

TEST_F(LoggerInterceptorTest, RedactsFormBodiesWhateverTheCaseOfTheirType) {
  auto bodyLine = [this](const char* contentType, const char* body) {
    HTTPRequest request = get();
    request.method = HTTPMethod::post;
    request.headers.set(HTTPField::Name::contentType, contentType);
    request.body = body;
    logger = std::make_shared<RecordingLogger>();
    const std::string message = send(request, ScriptedFetch::status(204))[0].message;
    return message.substr(message.find("\nBody: ") + 7);
  };
  EXPECT_EQ(bodyLine("Application/X-WWW-Form-Urlencoded", "a=1&password=hunter2"),
            "a=1&password=<redacted>");
  EXPECT_EQ(bodyLine("APPLICATION/X-WWW-FORM-URLENCODED; charset=utf-8", "password=hunter2"),
            "password=<redacted>");
  // A form that happens to be a JSON string is still a form.
  EXPECT_EQ(bodyLine("application/x-www-form-urlencoded", R"("&password=hunter2&")"),
            R"("&password=<redacted>&")");
}

// A query may start inside a fragment (a hash router's route) or inside a value (a URL passed
// on): its secret items are redacted as those of the URL's own query, escaped separators too.
TEST(LogRedaction, RedactsSecretItemsWhereverAQueryStarts) {
  const auto logged = [](const char* url) {
    return detail::decodedURLText(boost::urls::url(url));
  };
  EXPECT_EQ(logged("app://cb#/route?access_token=a-secret&refresh_token=r-secret&x=1"),
            "app://cb#/route?access_token=<redacted>&refresh_token=<redacted>&x=1");
  EXPECT_EQ(logged("app://cb#access_token=a-secret&expires_in=1"),
            "app://cb#access_token=<redacted>&expires_in=1");
  EXPECT_EQ(logged("app://cb#/a?b=1?code=c-secret"), "app://cb#/a?b=1?code=<redacted>");
  EXPECT_EQ(logged("app://cb#/route%3Faccess_token=a-secret"),
            "app://cb#/route?access_token=<redacted>");
  EXPECT_EQ(logged("app://cb#x=1%26access_token%3Da-secret"), "app://cb#x=1&access_token=<redacted>");
  EXPECT_EQ(logged("https://h/p?next=/cb?code=c-secret&tab=2"),
            "https://h/p?next=/cb?code=<redacted>&tab=2");
  // Nothing secret: the URL as it came, escapes decoded.
  EXPECT_EQ(logged("app://cb#/route?tab=2&q=a%20b"), "app://cb#/route?tab=2&q=a b");
}

TEST_F(LoggerInterceptorTest, LogsAFailureOnceAndRethrowsTheSameError) {
  ScriptedFetch fetch({ScriptedFetch::fail(URLError(URLError::Code::timedOut, "slow"))});
  HTTPClient client(fetch.handler(), {std::make_shared<LoggerInterceptor>(logger)});
  try {
    client.send(get());
    FAIL();
  } catch (const URLError& error) {
    EXPECT_EQ(error.code(), URLError::Code::timedOut);
  }
  const auto messages = logger->messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].level, VoduzaziLogLevel::error);
  EXPECT_EQ(messages[1].message, "Response: Failure URLError(timedOut): slow");
}

TEST_F(LoggerInterceptorTest, EveryRecordOfOneRequestSharesARequestID) {
  ScriptedFetch fetch({ScriptedFetch::status(200)});
  HTTPClient client(
      [&](const URLRequest& request) {
        logger->debug("deeper in the chain");
        return fetch.handler()(request);
      },
      {std::make_shared<LoggerInterceptor>(logger)});
  client.send(get());
  client.send(get());
  const auto messages = logger->messages();
  ASSERT_EQ(messages.size(), 6u);
  std::set<std::string> ids;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const AnyJSON& id = messages[i].additionalContext.at("requestID");
    ASSERT_TRUE(id.stringValue());
    EXPECT_TRUE(std::regex_match(*id.stringValue(),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                            "[0-9A-F]{12}")));
    if (i % 3 != 0) {
      EXPECT_EQ(id, messages[i - 1].additionalContext.at("requestID"));
    }
    ids.insert(*id.stringValue());
  }
  EXPECT_EQ(ids.size(), 2u);
}

}  // namespace
}  // namespace voduzazi
