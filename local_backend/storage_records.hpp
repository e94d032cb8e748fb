// The storage API's JSON: reading request bodies (with StorageError 400 for what does not fit)
// and writing the bucket and object records of its answers.
//
//   auto body = parseObjectBody(request);
//   std::string to = requiredText(body, "destinationKey");
//   return jsonResponse(request, http::status::ok, bucketJSON(bucket));
#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "local_backend/http_message.hpp"
#include "local_backend/storage_store.hpp"

namespace local_backend {

// The body as a JSON object.
boost::json::object parseObjectBody(const Request& request);
// The member of that name unless it is absent or null.
const boost::json::value* member(const boost::json::object& body, std::string_view key);
std::string requiredText(const boost::json::object& body, std::string_view key);
std::vector<std::string> requiredTextList(const boost::json::object& body, std::string_view key);
std::optional<std::int64_t> optionalInteger(const boost::json::object& body, std::string_view key);
// "public", "file_size_limit" (a number, a text of digits or null) and "allowed_mime_types" (a
// list of texts or null) into `bucket`; absent keys leave it as it is, null clears.
void readBucketOptions(const boost::json::object& body, BucketRecord& bucket);

// {"id", "name", "owner", "public", "created_at", "updated_at", "file_size_limit",
// "allowed_mime_types"}.
boost::json::object bucketJSON(const BucketRecord& bucket);
// A listing or removal entry under `name`, with the system metadata ("eTag", "size", "mimetype",
// "cacheControl", "lastModified", "contentLength", "httpStatusCode") under "metadata".
boost::json::object fileObjectJSON(const ObjectRecord& object, std::string name);
// A folder of a listing: the name, every other key null.
boost::json::object folderJSON(std::string name);
// The detailed record of one object, with the caller's metadata under "metadata".
boost::json::object objectInfoJSON(const ObjectRecord& object);
// The quoted version, sent as "ETag".
std::string etagOf(const ObjectRecord& object);

}  // namespace local_backend
