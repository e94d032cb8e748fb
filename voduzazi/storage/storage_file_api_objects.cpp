// The object side of the file API: move, copy, signed and public URLs, removal, listing,
// download, details and existence.
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <charconv>

#include "voduzazi/helpers/http_error.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/storage/detail/storage_paths.hpp"
#include "voduzazi/storage/storage_error.hpp"
#include "voduzazi/storage/storage_file_api.hpp"

namespace voduzazi::storage {
namespace {

// One element of a signing answer.
struct SignedPath {
  std::string signedURL;

  static SignedPath fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                             const CodingPath& path = {}) {
    return {KeyedDecoder(json, decoder, path).decode<std::string>("signedURL")};
  }
};

// The status a storage error names, when its text is a whole decimal number.
std::optional<std::int64_t> statusOf(const StorageError& error) {
  if (!error.statusCode() || error.statusCode()->empty()) return std::nullopt;
  std::string_view text = *error.statusCode();
  if (text.front() == '+') text.remove_prefix(1);
  std::int64_t status = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), status);
  if (failure != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return status;
}

// The statuses with which `exists` answers false.
bool isAbsent(std::optional<std::int64_t> status) { return status == 400 || status == 404; }

}  // namespace

helpers::HTTPResponse StorageFileApi::postJSON(std::string_view path, Data body) const {
  return execute(helpers::HTTPRequest(url(path), HTTPMethod::post, {}, {}, std::move(body)));
}

Data StorageFileApi::moveBody(std::string_view from, std::string_view to,
                              const std::optional<DestinationOptions>& options) const {
  // A map's keys are written as they stand, whatever the encoder's key strategy.
  boost::json::object body;
  body["bucketId"] = bucketId_;
  body["sourceKey"] = from;
  body["destinationKey"] = to;
  body["destinationBucket"] = nullptr;
  if (options && options->destinationBucket)
    body["destinationBucket"] = *options->destinationBucket;
  return configuration().encoder->write(body);
}

void StorageFileApi::move(std::string_view from, std::string_view to,
                          const std::optional<DestinationOptions>& options) const {
  postJSON("object/move", moveBody(from, to, options));
}

std::string StorageFileApi::copy(std::string_view from, std::string_view to,
                                 const std::optional<DestinationOptions>& options) const {
  const helpers::HTTPResponse response = postJSON("object/copy", moveBody(from, to, options));
  return KeyedDecoder(JSONDecoder::parse(response.data()), *configuration().decoder, {})
      .decode<std::string>("Key");
}

boost::urls::url StorageFileApi::createSignedURL(
    std::string_view path, std::int64_t expiresIn, const std::optional<std::string>& download,
    const std::optional<TransformOptions>& transform) const {
  const JSONEncoder& plain = *plainStorageEncoder();
  KeyedEncoder body(plain);
  body.encode("expiresIn", expiresIn);
  body.encodeIfPresent("transform", transform);
  const helpers::HTTPResponse response = postJSON(
      "object/sign/" + bucketId_ + "/" + std::string(path), plain.write(std::move(body).json()));
  return makeSignedURL(decoded<SignedPath>(response).signedURL, download);
}

std::vector<boost::urls::url> StorageFileApi::createSignedURLs(
    const std::vector<std::string>& paths, std::int64_t expiresIn,
    const std::optional<std::string>& download) const {
  const JSONEncoder& plain = *plainStorageEncoder();
  KeyedEncoder body(plain);
  body.encode("expiresIn", expiresIn);
  body.encode("paths", paths);
  const auto signedPaths = decoded<std::vector<SignedPath>>(
      postJSON("object/sign/" + bucketId_, plain.write(std::move(body).json())));
  std::vector<boost::urls::url> urls;
  for (const SignedPath& signedPath : signedPaths) {
    urls.push_back(makeSignedURL(signedPath.signedURL, download));
  }
  return urls;
}

std::vector<FileObject> StorageFileApi::remove(const std::vector<std::string>& paths) const {
  boost::json::object body;
  body["prefixes"] = boost::json::array(paths.begin(), paths.end());
  return decoded<std::vector<FileObject>>(
      execute(helpers::HTTPRequest(url("object/" + bucketId_), HTTPMethod::delete_, {}, {},
                                   configuration().encoder->write(body))));
}

std::vector<FileObject> StorageFileApi::list(const std::optional<std::string>& path,
                                             const std::optional<SearchOptions>& options) const {
  SearchOptions search = options ? *options : defaultSearchOptions();
  search.prefix = path.value_or("");
  const JSONEncoder& plain = *plainStorageEncoder();
  return decoded<std::vector<FileObject>>(
      postJSON("object/list/" + bucketId_, plain.encode(search)));
}

Data StorageFileApi::download(std::string_view path,
                              const std::optional<TransformOptions>& options) const {
  const std::string segment = options ? "render/image/authenticated" : "object";
  helpers::HTTPRequest request(url(segment + "/" + bucketId_ + "/" + std::string(path)),
                               HTTPMethod::get);
  if (options) request.query = options->queryItems();
  return execute(std::move(request)).data();
}

FileObjectV2 StorageFileApi::info(std::string_view path) const {
  return decoded<FileObjectV2>(execute(helpers::HTTPRequest(
      url("object/info/" + bucketId_ + "/" + std::string(path)), HTTPMethod::get)));
}

bool StorageFileApi::exists(std::string_view path) const {
  try {
    execute(helpers::HTTPRequest(url("object/" + bucketId_ + "/" + std::string(path)),
                                 HTTPMethod::head));
    return true;
  } catch (const StorageError& error) {
    if (isAbsent(statusOf(error))) return false;
    throw;
  } catch (const HTTPError& error) {
    // A HEAD answer has no body to tell a 400's reason by: a name that cannot exist (a folder,
    // "..") is not there either.
    if (error.response() && isAbsent(error.response()->statusCode())) return false;
    throw;
  }
}

boost::urls::url StorageFileApi::getPublicURL(
    std::string_view path, const std::optional<std::string>& download,
    const std::optional<TransformOptions>& options) const {
  std::vector<URLQueryItem> query;
  if (download) query.push_back({"download", *download});
  if (options) {
    for (URLQueryItem& item : options->queryItems()) query.push_back(std::move(item));
  }
  const std::string segment = options ? "render/image" : "object";
  boost::urls::url url = detail::appendingPath(
      configuration().url, segment + "/public/" + bucketId_ + "/" + std::string(path));
  url.remove_query();
  return query.empty() ? url : appendingQueryItems(url, query);
}

}  // namespace voduzazi::storage
