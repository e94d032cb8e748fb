// The options callers hand to the file API: image transforms, listing and sort options, upload
// options, the destination of a move or copy, and signed upload URL options.
//
//   TransformOptions thumb{.width = 100, .height = 100, .resize = "cover"};
//   Data small = storage.from("avatars").download("a.png", thumb);
//   SearchOptions page{.limit = 20, .offset = 40, .sortBy = SortBy{"created_at", "desc"}};
//   FileOptions options{.contentType = "image/png", .upsert = true};
//
// Plain values; an absent field is never replaced by a default.
#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/query_items.hpp"

namespace voduzazi::storage {

// An image transform. Nothing is checked or clamped: the server decides.
struct TransformOptions {
  std::optional<std::int64_t> width{};
  std::optional<std::int64_t> height{};
  std::optional<std::string> resize{};
  std::optional<std::int64_t> quality{};
  std::optional<std::string> format{};

  // "width", "height", "resize", "quality", "format", in that order, each only when present;
  // values unescaped.
  std::vector<URLQueryItem> queryItems() const;
  // The same keys as a JSON object, absent fields left out.
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct SortBy {
  std::optional<std::string> column{};
  std::optional<std::string> order{};  // "asc" or "desc"

  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// A listing's options. `prefix` is always replaced by the listed folder.
struct SearchOptions {
  std::string prefix{};
  std::optional<std::int64_t> limit{};
  std::optional<std::int64_t> offset{};
  std::optional<SortBy> sortBy{};
  std::optional<std::string> search{};

  // "prefix" always; "limit", "offset", "sortBy", "search" when present.
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// An upload's options. Without a content type, a bytes upload's type comes from the path's
// extension.
struct FileOptions {
  std::string cacheControl = "3600";  // seconds, as decimal text
  std::optional<std::string> contentType{};
  bool upsert = false;
  std::optional<std::string> duplex{};
  std::optional<JSONObject> metadata{};
  std::optional<HeaderDictionary> headers{};  // extra request headers
};

struct DestinationOptions {
  std::optional<std::string> destinationBucket{};  // absent: the source bucket
};

struct CreateSignedUploadURLOptions {
  bool upsert = false;
};

// Limit 100, offset 0, sorted by "name" "asc", no search text.
const SearchOptions& defaultSearchOptions();
// Cache control "3600", no content type (the extension decides), upsert false.
const FileOptions& defaultFileOptions();

}  // namespace voduzazi::storage
