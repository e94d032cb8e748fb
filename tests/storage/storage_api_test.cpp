#include "voduzazi/storage/storage_api.hpp"

#include <gtest/gtest.h>

#include "storage_fakes.hpp"
#include "voduzazi/helpers/http_error.hpp"
#include "voduzazi/helpers/version.hpp"
#include "voduzazi/storage/storage_error.hpp"
#include "voduzazi/storage/voduzazi_storage_client.hpp"

namespace voduzazi::storage {
namespace {

using testing::FakeFetch;
using testing::Reply;

helpers::HTTPRequest get(const StorageApi& api, HTTPFields headers = {}) {
  return helpers::HTTPRequest(api.configuration().url, HTTPMethod::get, {}, std::move(headers));
}

StorageClientConfiguration withURL(std::string_view url, bool useNewHostname) {
  StorageClientConfiguration configuration = FakeFetch().configuration();
  configuration.url = boost::urls::url(url);
  configuration.useNewHostname = useNewHostname;
  return configuration;
}

std::string preparedURL(std::string_view url, bool useNewHostname = true) {
  return std::string(StorageApi(withURL(url, useNewHostname)).configuration().url.buffer());
}

TEST(StorageApi, AddsItsClientInfoOnlyWhenTheExactKeyIsMissing) {
  const FakeFetch fetch;
  const std::string ours = "storage-cpp/" + std::string(version);
  EXPECT_EQ(StorageApi(fetch.configuration()).configuration().headers.at("X-Client-Info"), ours);
  EXPECT_EQ(StorageApi(fetch.configuration({{"X-Client-Info", "app/1"}}))
                .configuration()
                .headers.at("X-Client-Info"),
            "app/1");
  const StorageApi lowerCase(fetch.configuration({{"x-client-info", "app/1"}}));
  EXPECT_EQ(lowerCase.configuration().headers.at("X-Client-Info"), ours);
  EXPECT_EQ(lowerCase.configuration().headers.at("x-client-info"), "app/1");
}

TEST(StorageApi, NewHostnameMovesOnlyHostedProjectHosts) {
  EXPECT_EQ(preparedURL("https://abcd.voduzazi.co/storage/v1?x=1"),
            "https://abcd.storage.voduzazi.co/storage/v1?x=1");
  EXPECT_EQ(preparedURL("http://abcd.voduzazi.red:8000/storage/v1"),
            "http://abcd.storage.voduzazi.red:8000/storage/v1");
  EXPECT_EQ(preparedURL("https://abcd.storage.voduzazi.co/storage/v1"),
            "https://abcd.storage.voduzazi.co/storage/v1");
  EXPECT_EQ(preparedURL("https://files.example.com/storage/v1"),
            "https://files.example.com/storage/v1");
  EXPECT_EQ(preparedURL("http://127.0.0.1:54321/storage/v1"), "http://127.0.0.1:54321/storage/v1");
  EXPECT_EQ(preparedURL("https://abcd.voduzazi.co/storage/v1", false),
            "https://abcd.voduzazi.co/storage/v1");
  // Preparing twice changes nothing.
  const StorageApi once(withURL("https://abcd.voduzazi.in/s", true));
  EXPECT_EQ(StorageApi(once.configuration()).configuration().url, once.configuration().url);
}

TEST(StorageApi, NewHostnameWithoutAHostIsAnErrorNotAStop) {
  try {
    StorageApi api(withURL("/storage/v1", true));
    ADD_FAILURE() << "accepted a URL without a host";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "Client initialized with invalid URL: /storage/v1");
  }
  EXPECT_NO_THROW(StorageApi(withURL("/storage/v1", false)));
}

TEST(StorageApi, TheRequestsOwnHeaderWinsOverTheConfiguredOne) {
  const FakeFetch fetch;
  const StorageApi api(fetch.configuration({{"Authorization", "Bearer key"}, {"apikey", "key"}}));
  api.execute(get(api, HTTPFields{{HTTPField::Name::authorization, "Bearer user"}}));
  EXPECT_EQ(fetch.last().header("authorization"), "Bearer user");
  EXPECT_EQ(fetch.last().header("apikey"), "key");
  EXPECT_EQ(fetch.last().header("X-Client-Info"), "storage-cpp/" + std::string(version));
}

TEST(StorageApi, ReturnsEvery2xxAndMapsOtherStatusesToStorageOrHTTPErrors) {
  for (const int status : {200, 299}) {
    const FakeFetch fetch({{status, "ok"}});
    const StorageApi api(fetch.configuration());
    EXPECT_EQ(api.execute(get(api)).data(), "ok");
  }
  const auto thrown = [](Reply reply) -> std::exception_ptr {
    const FakeFetch fetch({reply});
    const StorageApi api(fetch.configuration());
    try {
      api.execute(get(api));
    } catch (...) {
      return std::current_exception();
    }
    return nullptr;
  };
  const auto storageError = [&](Reply reply) -> std::optional<StorageError> {
    try {
      std::rethrow_exception(thrown(reply));
    } catch (const StorageError& error) {
      return error;
    } catch (...) {
      return std::nullopt;
    }
  };
  const auto httpStatus = [&](Reply reply) -> int {
    try {
      std::rethrow_exception(thrown(reply));
    } catch (const HTTPError& error) {
      return error.response()->statusCode();
    } catch (...) {
      return 0;
    }
  };
  EXPECT_EQ(storageError({404, R"({"message":"gone"})"}),
            StorageError(std::nullopt, "gone", std::nullopt));
  EXPECT_EQ(storageError({300, R"({"statusCode":"404","error":"not_found","message":"m"})"}),
            StorageError("404", "m", "not_found"));
  EXPECT_STREQ(storageError({400, R"({"message":"gone"})"})->what(), "gone");
  EXPECT_EQ(storageError({199, R"({"message":"informational"})"})->message(), "informational");
  EXPECT_EQ(httpStatus({500, "not json"}), 500);
  EXPECT_EQ(httpStatus({400, R"({"statusCode":404,"message":"m"})"}), 400);
  EXPECT_EQ(httpStatus({400, R"({"error":"no message"})"}), 400);
  EXPECT_EQ(httpStatus({502, ""}), 502);
}

TEST(VoduzaziStorageClient, EachFileApiIsANewObjectWithTheClientsConfiguration) {
  const FakeFetch fetch;
  const VoduzaziStorageClient client(fetch.configuration({{"apikey", "k"}}));
  const StorageFileApi first = client.from("avatars");
  const StorageFileApi second = client.from("avatars");
  EXPECT_NE(&first, &second);
  EXPECT_EQ(first.bucketId(), "avatars");
  EXPECT_EQ(first.configuration().headers, client.configuration().headers);
  EXPECT_EQ(first.configuration().url, second.configuration().url);
}

}  // namespace
}  // namespace voduzazi::storage
