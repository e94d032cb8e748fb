// The upload side of the file API: multipart uploads and updates, signed upload URLs and the
// uploads to them, and the absolute form of a signed path.
#include <algorithm>
#include <boost/url/parse.hpp>

#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/storage/detail/storage_paths.hpp"
#include "voduzazi/storage/storage_error.hpp"
#include "voduzazi/storage/storage_file_api.hpp"

namespace voduzazi::storage {
namespace {

const HTTPField::Name& xUpsert() {
  static const HTTPField::Name name("x-upsert");
  return name;
}

const HTTPField::Name& duplex() {
  static const HTTPField::Name name("duplex");
  return name;
}

void appendText(MultipartFormData& form, std::string_view name, Data text) {
  const std::uint64_t length = text.size();
  form.append(std::make_shared<MemoryBodySource>(std::move(text)), length, partHeaders(name));
}

// "cacheControl", then "metadata" when given, then the file part named "".
template <class Upload>
void appendParts(MultipartFormData& form, const Upload& file, std::string_view path,
                 const FileOptions& options) {
  appendText(form, "cacheControl", options.cacheControl);
  if (options.metadata) appendText(form, "metadata", encodeMetadata(*options.metadata));
  if (const auto* url = std::get_if<boost::urls::url_view>(&file)) {
    form.append(boost::urls::url(*url), "");
    return;
  }
  const std::string_view bytes = std::get<std::string_view>(file);
  const std::string type = options.contentType.value_or(mimeType(detail::pathExtension(path)));
  form.append(std::make_shared<BorrowedBodySource>(bytes), bytes.size(),
              partHeaders("", detail::lastPathComponent(path), type));
}

std::string responseKey(const boost::json::value& json, const JSONDecoder& decoder,
                        std::string_view key) {
  return KeyedDecoder(json, decoder, {}).decode<std::string>(key);
}

boost::urls::url parsedURL(std::string_view text) {
  auto parsed = boost::urls::parse_uri_reference(text);
  if (!parsed) throw URLError(URLError::Code::badURL);
  return boost::urls::url(*parsed);
}

}  // namespace

StorageFileApi::StorageFileApi(std::string bucketId, StorageClientConfiguration configuration,
                               BoundaryFactory makeBoundary)
    : StorageApi(std::move(configuration)),
      bucketId_(std::move(bucketId)),
      makeBoundary_(std::move(makeBoundary)) {}

StorageFileApi::BorrowedUpload StorageFileApi::borrow(const FileUpload& file) {
  if (const auto* url = std::get_if<boost::urls::url>(&file)) return boost::urls::url_view(*url);
  return std::string_view(std::get<Data>(file));
}

helpers::HTTPRequest StorageFileApi::uploadRequest(const HTTPMethod& method, boost::urls::url url,
                                                   std::string_view path,
                                                   const BorrowedUpload& file,
                                                   const FileOptions& options, bool upsert) const {
  HTTPFields headers = options.headers ? makeHTTPFields(*options.headers) : HTTPFields();
  if (upsert) headers.set(xUpsert(), options.upsert ? "true" : "false");
  headers.set(duplex(), options.duplex);
  MultipartFormData form(makeBoundary_());
  appendParts(form, file, path, options);
  // The body is this form: a caller's type would lose its boundary.
  headers.set(HTTPField::Name::contentType, form.contentType());
  if (!headers.contains(HTTPField::Name::cacheControl)) {
    headers.set(HTTPField::Name::cacheControl, "max-age=" + options.cacheControl);
  }
  helpers::HTTPRequest request(std::move(url), method, {}, std::move(headers));
  request.bodyStream = form.encodeStreamed();
  return request;
}

FileUploadResponse StorageFileApi::sendUpload(const HTTPMethod& method, std::string_view path,
                                              const BorrowedUpload& file,
                                              const FileOptions& options) const {
  const std::string key = bucketId_ + "/" + detail::normalizeUploadPath(path);
  const helpers::HTTPResponse response = execute(
      uploadRequest(method, url("object/" + key), path, file, options, method == HTTPMethod::post));
  const boost::json::value json = JSONDecoder::parse(response.data());
  const JSONDecoder& decoder = *configuration().decoder;
  std::string fullPath = responseKey(json, decoder, "Key");
  return {responseKey(json, decoder, "Id"), std::string(path), std::move(fullPath)};
}

FileUploadResponse StorageFileApi::uploadOrUpdate(const HTTPMethod& method, std::string_view path,
                                                  const FileUpload& file,
                                                  const std::optional<FileOptions>& options) const {
  return sendUpload(method, path, borrow(file), options ? *options : defaultFileOptions());
}

FileUploadResponse StorageFileApi::upload(std::string_view path, const Data& data,
                                          const FileOptions& options) const {
  return sendUpload(HTTPMethod::post, path, std::string_view(data), options);
}

FileUploadResponse StorageFileApi::upload(std::string_view path, const boost::urls::url& fileURL,
                                          const FileOptions& options) const {
  return sendUpload(HTTPMethod::post, path, boost::urls::url_view(fileURL), options);
}

FileUploadResponse StorageFileApi::update(std::string_view path, const Data& data,
                                          const FileOptions& options) const {
  return sendUpload(HTTPMethod::put, path, std::string_view(data), options);
}

FileUploadResponse StorageFileApi::update(std::string_view path, const boost::urls::url& fileURL,
                                          const FileOptions& options) const {
  return sendUpload(HTTPMethod::put, path, boost::urls::url_view(fileURL), options);
}

std::string StorageFileApi::uploadFullPath(std::string_view path, const Data& file,
                                           const FileOptions& options) const {
  return upload(path, file, options).fullPath;
}

std::string StorageFileApi::updateFullPath(std::string_view path, const Data& file,
                                           const FileOptions& options) const {
  return update(path, file, options).fullPath;
}

boost::urls::url StorageFileApi::makeSignedURL(std::string_view signedPath,
                                               const std::optional<std::string>& download) const {
  const boost::urls::url signedURL = parsedURL(signedPath);
  boost::urls::url url = configuration().url;
  std::string path(url.encoded_path());
  if (!signedURL.encoded_path().starts_with('/')) path += '/';
  path += signedURL.encoded_path();
  url.set_encoded_path(path);
  if (signedURL.has_query()) {
    url.set_encoded_query(signedURL.encoded_query());
  } else {
    url.remove_query();
  }
  // Escaped by the library's rule: a "+" in a name stays a plus, never a space.
  if (download) appendQueryItems(url, {{"download", *download}});
  return url;
}

SignedUploadURL StorageFileApi::createSignedUploadURL(
    std::string_view path, const std::optional<CreateSignedUploadURLOptions>& options) const {
  HTTPFields headers;
  if (options && options->upsert) headers.set(xUpsert(), "true");
  const helpers::HTTPResponse response =
      execute(helpers::HTTPRequest(url("object/upload/sign/" + bucketId_ + "/" + std::string(path)),
                                   HTTPMethod::post, {}, std::move(headers)));
  const std::string signedPath =
      responseKey(JSONDecoder::parse(response.data()), *configuration().decoder, "url");
  boost::urls::url signedURL = makeSignedURL(signedPath, std::nullopt);
  const auto params = signedURL.params();
  const auto token = std::find_if(params.begin(), params.end(),
                                  [](const auto& param) { return param.key == "token"; });
  if (token == params.end() || !(*token).has_value) {
    throw StorageError(std::nullopt, "No token returned by API", std::nullopt);
  }
  std::string value = (*token).value;
  return {std::move(signedURL), std::string(path), std::move(value)};
}

SignedURLUploadResponse StorageFileApi::sendSignedUpload(std::string_view path,
                                                         std::string_view token,
                                                         const BorrowedUpload& file,
                                                         const FileOptions& options) const {
  helpers::HTTPRequest request = uploadRequest(
      HTTPMethod::put, url("object/upload/sign/" + bucketId_ + "/" + std::string(path)), path, file,
      options, true);
  request.query = {{"token", std::string(token)}};
  const helpers::HTTPResponse response = execute(std::move(request));
  return {std::string(path),
          responseKey(JSONDecoder::parse(response.data()), *configuration().decoder, "Key")};
}

SignedURLUploadResponse StorageFileApi::uploadToSignedURLBody(
    std::string_view path, std::string_view token, const FileUpload& file,
    const std::optional<FileOptions>& options) const {
  return sendSignedUpload(path, token, borrow(file), options ? *options : defaultFileOptions());
}

SignedURLUploadResponse StorageFileApi::uploadToSignedURL(
    std::string_view path, std::string_view token, const Data& data,
    const std::optional<FileOptions>& options) const {
  return sendSignedUpload(path, token, std::string_view(data),
                          options ? *options : defaultFileOptions());
}

SignedURLUploadResponse StorageFileApi::uploadToSignedURL(
    std::string_view path, std::string_view token, const boost::urls::url& fileURL,
    const std::optional<FileOptions>& options) const {
  return sendSignedUpload(path, token, boost::urls::url_view(fileURL),
                          options ? *options : defaultFileOptions());
}

std::string StorageFileApi::uploadToSignedURLFullPath(
    std::string_view path, std::string_view token, const Data& file,
    const std::optional<FileOptions>& options) const {
  return uploadToSignedURL(path, token, file, options).fullPath;
}

}  // namespace voduzazi::storage
