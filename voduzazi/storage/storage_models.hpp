// The records the storage client hands back: buckets, object entries of a listing or removal,
// one object's details, signed URLs and the results of uploads.
//
//   std::vector<Bucket> buckets = storage.listBuckets();
//   for (const FileObject& entry : storage.from("avatars").list("users/7")) show(entry.name);
//   FileUploadResponse uploaded = storage.from("avatars").upload("a.png", bytes);
//   // uploaded.fullPath == "avatars/a.png"
//
// Plain values; buckets and object entries hash (std::hash) consistently with ==. Decoding
// throws DecodingError naming the key path; keys are matched exactly.
#pragma once

#include <boost/json/value.hpp>
#include <boost/url/url.hpp>
#include <boost/uuid/uuid.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/sdk_date.hpp"

namespace voduzazi::storage {

// A bucket. Keys "id", "name", "owner", "public", "created_at", "updated_at" (required),
// "allowed_mime_types", "file_size_limit".
struct Bucket {
  std::string id{};
  std::string name{};
  std::string owner{};
  bool isPublic = false;
  Date createdAt{};
  Date updatedAt{};
  std::optional<std::vector<std::string>> allowedMimeTypes{};
  std::optional<std::int64_t> fileSizeLimit{};

  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static Bucket fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                         const CodingPath& path = {});
  friend bool operator==(const Bucket&, const Bucket&) = default;
};

// One entry of a listing or removal. Only "name" is required; "buckets" is one nested bucket.
struct FileObject {
  std::string name{};
  std::optional<std::string> bucketId{};
  std::optional<std::string> owner{};
  std::optional<boost::uuids::uuid> id{};
  std::optional<Date> updatedAt{};
  std::optional<Date> createdAt{};
  std::optional<Date> lastAccessedAt{};
  std::optional<JSONObject> metadata{};
  std::optional<Bucket> buckets{};

  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static FileObject fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                             const CodingPath& path = {});
  friend bool operator==(const FileObject&, const FileObject&) = default;
};

// One object's details. "id", "version" and "name" are required; `id` is text here.
struct FileObjectV2 {
  std::string id{};
  std::string version{};
  std::string name{};
  std::optional<std::string> bucketId{};
  std::optional<Date> updatedAt{};
  std::optional<Date> createdAt{};
  std::optional<Date> lastAccessedAt{};
  std::optional<std::int64_t> size{};
  std::optional<std::string> cacheControl{};
  std::optional<std::string> contentType{};
  std::optional<std::string> etag{};
  std::optional<Date> lastModified{};
  std::optional<JSONObject> metadata{};

  static FileObjectV2 fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                               const CodingPath& path = {});
  friend bool operator==(const FileObjectV2&, const FileObjectV2&) = default;
};

// Keys "error", "signedURL" (required, a URL) and "path" (required).
struct SignedURL {
  std::optional<std::string> error{};
  boost::urls::url signedURL{};
  std::string path{};

  static SignedURL fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                            const CodingPath& path = {});
};

// Where to send an upload without a session, and the token that allows it.
struct SignedUploadURL {
  boost::urls::url signedURL{};
  std::string path{};  // as the caller gave it
  std::string token{};
};

struct FileUploadResponse {
  std::string id{};        // the stored object's id
  std::string path{};      // as the caller gave it
  std::string fullPath{};  // the stored key, bucket id first
};

struct SignedURLUploadResponse {
  std::string path{};      // as the caller gave it
  std::string fullPath{};  // the stored key
};

}  // namespace voduzazi::storage

// Hashes consistent with ==: every field in declared order.
template <>
struct std::hash<voduzazi::storage::Bucket> {
  std::size_t operator()(const voduzazi::storage::Bucket& bucket) const;
};
template <>
struct std::hash<voduzazi::storage::FileObject> {
  std::size_t operator()(const voduzazi::storage::FileObject& object) const;
};
template <>
struct std::hash<voduzazi::storage::FileObjectV2> {
  std::size_t operator()(const voduzazi::storage::FileObjectV2& object) const;
};
