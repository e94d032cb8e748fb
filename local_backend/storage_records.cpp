#include "local_backend/storage_records.hpp"

#include <boost/json/parse.hpp>
#include <charconv>
#include <cstdint>

#include "local_backend/storage_error.hpp"

namespace local_backend {

namespace json = boost::json;

json::object parseObjectBody(const Request& request) {
  boost::system::error_code ec;
  auto value = json::parse(request.body(), ec);
  if (ec || !value.is_object()) {
    throw StorageError::invalidRequest("The request body must be a JSON object");
  }
  return std::move(value.as_object());
}

const json::value* member(const json::object& body, std::string_view key) {
  const auto* value = body.if_contains(key);
  return value == nullptr || value->is_null() ? nullptr : value;
}

std::string requiredText(const json::object& body, std::string_view key) {
  const auto* value = member(body, key);
  if (value == nullptr || !value->is_string()) {
    throw StorageError::invalidRequest("\"" + std::string(key) + "\" must be a string");
  }
  return std::string(value->as_string());
}

std::vector<std::string> requiredTextList(const json::object& body, std::string_view key) {
  const auto* value = member(body, key);
  const auto refuse = [&] {
    return StorageError::invalidRequest("\"" + std::string(key) + "\" must be a list of strings");
  };
  if (value == nullptr || !value->is_array()) throw refuse();
  std::vector<std::string> list;
  for (const auto& item : value->as_array()) {
    if (!item.is_string()) throw refuse();
    list.emplace_back(item.as_string());
  }
  return list;
}

std::optional<std::int64_t> optionalInteger(const json::object& body, std::string_view key) {
  const auto* value = member(body, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_int64()) return value->as_int64();
  if (value->is_uint64() && value->as_uint64() <= INT64_MAX) {
    return static_cast<std::int64_t>(value->as_uint64());
  }
  throw StorageError::invalidRequest("\"" + std::string(key) + "\" must be an integer");
}

// The limit and MIME types of a bucket body; absent keys leave `bucket` as it is, null clears.
void readBucketOptions(const json::object& body, BucketRecord& bucket) {
  if (const auto* isPublic = body.if_contains("public"); isPublic && !isPublic->is_null()) {
    if (!isPublic->is_bool()) throw StorageError::invalidRequest("\"public\" must be a boolean");
    bucket.isPublic = isPublic->as_bool();
  }
  if (const auto* limit = body.if_contains("file_size_limit")) {
    if (limit->is_null()) {
      bucket.fileSizeLimit.reset();
    } else if (limit->is_string()) {
      const std::string text(limit->as_string());
      std::int64_t value = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        throw StorageError::invalidRequest("\"file_size_limit\" must be a byte count");
      }
      bucket.fileSizeLimit = value;
    } else {
      bucket.fileSizeLimit = optionalInteger(body, "file_size_limit");
      if (*bucket.fileSizeLimit < 0) {
        throw StorageError::invalidRequest("\"file_size_limit\" must be a byte count");
      }
    }
  }
  if (const auto* types = body.if_contains("allowed_mime_types")) {
    if (types->is_null()) {
      bucket.allowedMimeTypes.reset();
    } else {
      bucket.allowedMimeTypes = requiredTextList(body, "allowed_mime_types");
    }
  }
}

json::object bucketJSON(const BucketRecord& bucket) {
  json::object body{{"id", bucket.id},
                    {"name", bucket.id},
                    {"owner", bucket.owner},
                    {"public", bucket.isPublic},
                    {"created_at", bucket.createdAt},
                    {"updated_at", bucket.updatedAt}};
  body["file_size_limit"] =
      bucket.fileSizeLimit ? json::value(*bucket.fileSizeLimit) : json::value(nullptr);
  if (bucket.allowedMimeTypes) {
    json::array types;
    for (const auto& type : *bucket.allowedMimeTypes) types.emplace_back(type);
    body["allowed_mime_types"] = std::move(types);
  } else {
    body["allowed_mime_types"] = nullptr;
  }
  return body;
}

std::string etagOf(const ObjectRecord& object) { return "\"" + object.version + "\""; }

// A listing or removal entry: the object's system metadata under "metadata".
json::object fileObjectJSON(const ObjectRecord& object, std::string name) {
  return json::object{{"name", std::move(name)},
                      {"id", object.id},
                      {"bucket_id", object.bucketId},
                      {"owner", object.owner},
                      {"updated_at", object.updatedAt},
                      {"created_at", object.createdAt},
                      {"last_accessed_at", object.lastAccessedAt},
                      {"metadata", json::object{{"eTag", etagOf(object)},
                                                {"size", object.size},
                                                {"mimetype", object.contentType},
                                                {"cacheControl", object.cacheControl},
                                                {"lastModified", object.updatedAt},
                                                {"contentLength", object.size},
                                                {"httpStatusCode", 200}}}};
}

json::object folderJSON(std::string name) {
  return json::object{{"name", std::move(name)},     {"id", nullptr},
                      {"updated_at", nullptr},       {"created_at", nullptr},
                      {"last_accessed_at", nullptr}, {"metadata", nullptr}};
}

namespace {

json::value userMetadata(const ObjectRecord& object) {
  if (!object.metadata) return nullptr;
  boost::system::error_code ec;
  auto value = json::parse(*object.metadata, ec);
  return ec ? json::value(nullptr) : value;
}

}  // namespace

json::object objectInfoJSON(const ObjectRecord& object) {
  return json::object{{"id", object.id},
                      {"version", object.version},
                      {"name", object.name},
                      {"bucket_id", object.bucketId},
                      {"size", object.size},
                      {"content_type", object.contentType},
                      {"cache_control", object.cacheControl},
                      {"etag", etagOf(object)},
                      {"last_modified", object.updatedAt},
                      {"created_at", object.createdAt},
                      {"updated_at", object.updatedAt},
                      {"last_accessed_at", object.lastAccessedAt},
                      {"metadata", userMetadata(object)}};
}

}  // namespace local_backend
