// StorageFileApi: the objects of one bucket: uploads (multipart, from memory or streamed from a
// file), signed upload URLs, move, copy, signed and public URLs, removal, listing, download,
// details and existence.
//
//   StorageFileApi avatars = client.storage().from("avatars");
//   avatars.upload("users/7.png", pngBytes);                          // typed by the extension
//   avatars.upload("films/big.mp4", boost::urls::url("file:///tmp/big.mp4"));  // from disk
//   boost::urls::url link = avatars.createSignedURL("users/7.png", 60);
//   Data png = avatars.download("users/7.png");
//
// Each call sends at most one request and blocks until its answer. Throws StorageError or
// HTTPError for an unsuccessful status, DecodingError for an answer that is not what was asked
// for, URLError (badURL) for a URL that cannot be built, MultipartFormDataError for an upload
// source that cannot be read, and what the transport throws. Object paths are sent as given
// (only uploads and updates tidy their slashes). Shared objects: safe.
#pragma once

#include <boost/url/url.hpp>
#include <boost/url/url_view.hpp>
#include <concepts>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "voduzazi/storage/multipart_form_data.hpp"
#include "voduzazi/storage/storage_api.hpp"
#include "voduzazi/storage/storage_models.hpp"
#include "voduzazi/storage/storage_options.hpp"

namespace voduzazi::storage {

// What an upload sends: bytes in memory, or a local file (a "file:" URL) read while sending.
using FileUpload = std::variant<Data, boost::urls::url>;

class StorageFileApi : public StorageApi {
 public:
  using BoundaryFactory = std::function<std::string()>;

  // `makeBoundary` gives each upload's multipart boundary (random by default).
  StorageFileApi(std::string bucketId, StorageClientConfiguration configuration,
                 BoundaryFactory makeBoundary = &MultipartFormData::randomBoundary);

  const std::string& bucketId() const noexcept { return bucketId_; }

  // --- Uploads. POST (upload) sends "x-upsert"; PUT (update) does not. The path's slashes are
  // tidied for the request; the result's `path` is the path as given.
  FileUploadResponse uploadOrUpdate(const HTTPMethod& method, std::string_view path,
                                    const FileUpload& file,
                                    const std::optional<FileOptions>& options) const;
  FileUploadResponse upload(std::string_view path, const Data& data,
                            const FileOptions& options = defaultFileOptions()) const;
  FileUploadResponse upload(std::string_view path, const boost::urls::url& fileURL,
                            const FileOptions& options = defaultFileOptions()) const;
  FileUploadResponse update(std::string_view path, const Data& data,
                            const FileOptions& options = defaultFileOptions()) const;
  FileUploadResponse update(std::string_view path, const boost::urls::url& fileURL,
                            const FileOptions& options = defaultFileOptions()) const;
  // The same requests, answering only the stored key.
  std::string uploadFullPath(std::string_view path, const Data& file,
                             const FileOptions& options = defaultFileOptions()) const;
  std::string updateFullPath(std::string_view path, const Data& file,
                             const FileOptions& options = defaultFileOptions()) const;

  // --- Signed uploads.
  // A URL (with its token) that lets anyone upload to `path` once. Throws StorageError "No
  // token returned by API" when the answer's URL carries no token.
  SignedUploadURL createSignedUploadURL(
      std::string_view path,
      const std::optional<CreateSignedUploadURLOptions>& options = std::nullopt) const;
  SignedURLUploadResponse uploadToSignedURL(
      std::string_view path, std::string_view token, const Data& data,
      const std::optional<FileOptions>& options = std::nullopt) const;
  SignedURLUploadResponse uploadToSignedURL(
      std::string_view path, std::string_view token, const boost::urls::url& fileURL,
      const std::optional<FileOptions>& options = std::nullopt) const;
  SignedURLUploadResponse uploadToSignedURLBody(std::string_view path, std::string_view token,
                                                const FileUpload& file,
                                                const std::optional<FileOptions>& options) const;
  std::string uploadToSignedURLFullPath(
      std::string_view path, std::string_view token, const Data& file,
      const std::optional<FileOptions>& options = std::nullopt) const;

  // --- Object operations.
  void move(std::string_view from, std::string_view to,
            const std::optional<DestinationOptions>& options = std::nullopt) const;
  // The new object's key.
  std::string copy(std::string_view from, std::string_view to,
                   const std::optional<DestinationOptions>& options = std::nullopt) const;
  std::vector<FileObject> remove(const std::vector<std::string>& paths) const;
  // The folder's entries (the bucket's top level without a path).
  std::vector<FileObject> list(const std::optional<std::string>& path = std::nullopt,
                               const std::optional<SearchOptions>& options = std::nullopt) const;
  // The object's bytes; with a transform, the rendered image.
  Data download(std::string_view path,
                const std::optional<TransformOptions>& options = std::nullopt) const;
  FileObjectV2 info(std::string_view path) const;
  // False when the server answers 404 or 400 (a name that cannot exist, such as "folder/");
  // other statuses and transport failures throw.
  bool exists(std::string_view path) const;

  // --- URLs. A download value adds the "download" query item ("" asks for the stored name);
  // the bool forms take true for "" and false for none.
  boost::urls::url createSignedURL(
      std::string_view path, std::int64_t expiresIn,
      const std::optional<std::string>& download = std::nullopt,
      const std::optional<TransformOptions>& transform = std::nullopt) const;
  template <std::same_as<bool> Bool>
  boost::urls::url createSignedURL(
      std::string_view path, std::int64_t expiresIn, Bool download,
      const std::optional<TransformOptions>& transform = std::nullopt) const {
    return createSignedURL(path, expiresIn, downloadValue(download), transform);
  }
  std::vector<boost::urls::url> createSignedURLs(
      const std::vector<std::string>& paths, std::int64_t expiresIn,
      const std::optional<std::string>& download = std::nullopt) const;
  template <std::same_as<bool> Bool>
  std::vector<boost::urls::url> createSignedURLs(const std::vector<std::string>& paths,
                                                 std::int64_t expiresIn, Bool download) const {
    return createSignedURLs(paths, expiresIn, downloadValue(download));
  }
  // The absolute URL of a signed path the server answered with. Sends nothing.
  boost::urls::url makeSignedURL(std::string_view signedPath,
                                 const std::optional<std::string>& download) const;
  // The object's URL in a public bucket. Sends nothing.
  boost::urls::url getPublicURL(
      std::string_view path, const std::optional<std::string>& download = std::nullopt,
      const std::optional<TransformOptions>& options = std::nullopt) const;
  template <std::same_as<bool> Bool>
  boost::urls::url getPublicURL(
      std::string_view path, Bool download,
      const std::optional<TransformOptions>& options = std::nullopt) const {
    return getPublicURL(path, downloadValue(download), options);
  }

 private:
  static std::optional<std::string> downloadValue(bool download) {
    return download ? std::optional<std::string>("") : std::nullopt;
  }
  // An upload's content for the length of one call: the caller's bytes, read where they are
  // (a large object is never copied), or a local file.
  using BorrowedUpload = std::variant<std::string_view, boost::urls::url_view>;
  static BorrowedUpload borrow(const FileUpload& file);

  FileUploadResponse sendUpload(const HTTPMethod& method, std::string_view path,
                                const BorrowedUpload& file, const FileOptions& options) const;
  SignedURLUploadResponse sendSignedUpload(std::string_view path, std::string_view token,
                                           const BorrowedUpload& file,
                                           const FileOptions& options) const;
  // Headers, form and body of an upload; `upsert` says whether "x-upsert" goes out. The body
  // reads `file` while it is sent, so the request must be sent before the call returns.
  helpers::HTTPRequest uploadRequest(const HTTPMethod& method, boost::urls::url url,
                                     std::string_view path, const BorrowedUpload& file,
                                     const FileOptions& options, bool upsert) const;
  Data moveBody(std::string_view from, std::string_view to,
                const std::optional<DestinationOptions>& options) const;
  helpers::HTTPResponse postJSON(std::string_view path, Data body) const;

  std::string bucketId_;
  BoundaryFactory makeBoundary_;
};

}  // namespace voduzazi::storage
