// StorageClientConfiguration: what a storage client is built from: the storage URL, the headers
// of every request, the JSON coders, the transport and the logger; and the storage coders.
//
//   StorageClientConfiguration configuration{
//       .url = boost::urls::url("https://abcd.example.co/storage/v1"),
//       .headers = {{"Authorization", "Bearer " + key}, {"apikey", key}},
//       .session = StorageHTTPSession(URLSession::shared())};
//   VoduzaziStorageClient storage(configuration);
#pragma once

#include <boost/url/url.hpp>
#include <memory>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi::storage {

// The encoder of bucket bodies: field names in snake_case, otherwise default settings.
const std::shared_ptr<const JSONEncoder>& defaultStorageEncoder();
// The library's decoder: ISO 8601 dates with or without fractional seconds, keys as declared.
const std::shared_ptr<const JSONDecoder>& defaultStorageDecoder();
// Default settings, keys as declared: for the file API's camelCase bodies.
const std::shared_ptr<const JSONEncoder>& plainStorageEncoder();

// The transport functions. Every storage request, uploads included, goes through `fetch`;
// `upload` is carried for callers of the record.
struct StorageHTTPSession {
  FetchHandler fetch;
  UploadHandler upload;

  StorageHTTPSession(FetchHandler fetch, UploadHandler upload)
      : fetch(std::move(fetch)), upload(std::move(upload)) {}
  // The session's data and upload calls; the session must outlive the record's copies.
  explicit StorageHTTPSession(URLSession& session);
};

// A plain value; the client keeps its own prepared copy.
struct StorageClientConfiguration {
  boost::urls::url url;
  HeaderDictionary headers;
  std::shared_ptr<const JSONEncoder> encoder = defaultStorageEncoder();
  std::shared_ptr<const JSONDecoder> decoder = defaultStorageDecoder();
  StorageHTTPSession session = StorageHTTPSession(URLSession::shared());
  // Every request and response is logged through it when present.
  std::shared_ptr<VoduzaziLogger> logger{};
  // Moves a hosted project's host to its storage host ("abcd.storage.voduzazi.co").
  bool useNewHostname = false;
};

}  // namespace voduzazi::storage
