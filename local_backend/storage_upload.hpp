// What an upload body holds: a multipart form ("cacheControl", "metadata" and one file part) or
// raw bytes, read from the spooled body piece by piece into a staged content file, with the
// object's content type, cache control and metadata, checked against the size limit and the
// bucket's MIME types as it goes.
//
//   StagedUpload upload = stageUpload(head, spooledBody, bucket, uploadsFolder, limit);
//   store.commitObject(draft, std::move(upload.content), mode);
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "local_backend/detail/staged_file.hpp"
#include "local_backend/http_message.hpp"
#include "local_backend/storage_store.hpp"

namespace local_backend {

struct StagedUpload {
  detail::StagedFile content;
  std::string contentType;
  std::string cacheControl;             // a header value ("max-age=3600")
  std::optional<std::string> metadata;  // a JSON object's text
};

// Throws StorageError: 400 for a malformed form, a form without a file, a multipart type without
// a boundary or metadata that is not a JSON object; 413 for content over `limit`; 415 for a type
// the bucket does not allow. Throws std::system_error when the files fail.
StagedUpload stageUpload(const Request& head, const std::filesystem::path& body,
                         const BucketRecord& bucket, const std::filesystem::path& folder,
                         std::uint64_t limit);

// Throws StorageError 415 unless the bucket allows the type (by its type without parameters,
// without regard to case; "image/*" allows every image type). No list allows everything.
void checkMimeType(const BucketRecord& bucket, std::string_view contentType);

}  // namespace local_backend
