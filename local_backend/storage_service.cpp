#include "local_backend/storage_service.hpp"

#include <algorithm>
#include <array>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <charconv>
#include <fstream>
#include <map>
#include <set>

#include "local_backend/jwt.hpp"
#include "local_backend/storage_error.hpp"
#include "local_backend/storage_multipart.hpp"
#include "local_backend/storage_names.hpp"
#include "local_backend/timestamp.hpp"

namespace local_backend {

namespace json = boost::json;

namespace detail {

enum class Action {
  listBuckets, createBucket, getBucket, updateBucket, deleteBucket, emptyBucket,
  upload, update, download, head, publicDownload, publicHead, info, remove, list, move, copy,
  sign, signMany, signedDownload, createUploadURL, signedUpload, unknown
};

// What a request asks for: the action and the bucket and object path it names.
struct StorageRoute {
  Action action = Action::unknown;
  std::string bucket;
  std::string path;
};

}  // namespace detail

using detail::Action;

struct StorageService::Upload {
  detail::StagedFile content;
  std::string contentType;
  std::string cacheControl;
  std::optional<std::string> metadata;
};

namespace {

constexpr std::size_t kMaxFieldBytes = 64 * 1024;
constexpr std::int64_t kUploadURLLifetime = 2 * 60 * 60;
constexpr std::string_view kDefaultCacheControl = "max-age=3600";

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "B/P" into bucket B and path P (P empty when there is no "/").
std::pair<std::string, std::string> bucketAndPath(std::string_view rest) {
  const auto slash = rest.find('/');
  if (slash == std::string_view::npos) return {std::string(rest), {}};
  return {std::string(rest.substr(0, slash)), std::string(rest.substr(slash + 1))};
}

struct RoutePattern {
  std::string_view prefix;
  http::verb method;
  Action action;
  bool hasPath;  // bucket and object path below the prefix, else the bucket alone
};

// Longer prefixes first: "object/" with a bucket and path is the catch-all.
constexpr std::array<RoutePattern, 20> kObjectRoutes{{
    {"object/upload/sign/", http::verb::post, Action::createUploadURL, true},
    {"object/upload/sign/", http::verb::put, Action::signedUpload, true},
    {"object/authenticated/", http::verb::get, Action::download, true},
    {"object/authenticated/", http::verb::head, Action::head, true},
    {"render/image/authenticated/", http::verb::get, Action::download, true},
    {"render/image/public/", http::verb::get, Action::publicDownload, true},
    {"object/public/", http::verb::get, Action::publicDownload, true},
    {"object/public/", http::verb::head, Action::publicHead, true},
    {"object/info/", http::verb::get, Action::info, true},
    {"object/list/", http::verb::post, Action::list, false},
    {"object/sign/", http::verb::post, Action::sign, true},
    {"object/sign/", http::verb::get, Action::signedDownload, true},
    {"object/sign/", http::verb::post, Action::signMany, false},
    {"object/", http::verb::post, Action::upload, true},
    {"object/", http::verb::put, Action::update, true},
    {"object/", http::verb::get, Action::download, true},
    {"object/", http::verb::head, Action::head, true},
    {"object/", http::verb::delete_, Action::remove, false},
    {"object/move", http::verb::post, Action::move, false},
    {"object/copy", http::verb::post, Action::copy, false},
}};

detail::StorageRoute bucketRoute(http::verb method, std::string_view rest) {
  using R = detail::StorageRoute;
  if (rest.empty()) {
    if (method == http::verb::get) return R{Action::listBuckets, {}, {}};
    if (method == http::verb::post) return R{Action::createBucket, {}, {}};
    return {};
  }
  if (rest.size() > 6 && rest.substr(rest.size() - 6) == "/empty") {
    if (method != http::verb::post) return {};
    return R{Action::emptyBucket, std::string(rest.substr(0, rest.size() - 6)), {}};
  }
  if (method == http::verb::get) return R{Action::getBucket, std::string(rest), {}};
  if (method == http::verb::put) return R{Action::updateBucket, std::string(rest), {}};
  if (method == http::verb::delete_) return R{Action::deleteBucket, std::string(rest), {}};
  return {};
}

}  // namespace

namespace {

detail::StorageRoute routeOf(http::verb method, std::string_view path) {
  using R = detail::StorageRoute;
  if (path == "bucket") return bucketRoute(method, {});
  if (startsWith(path, "bucket/")) return bucketRoute(method, path.substr(7));
  if (path == "object/move" || path == "object/copy") {
    if (method != http::verb::post) return {};
    return R{path == "object/move" ? Action::move : Action::copy, {}, {}};
  }
  for (const auto& pattern : kObjectRoutes) {
    if (pattern.method != method || !startsWith(path, pattern.prefix)) continue;
    if (pattern.prefix == "object/move" || pattern.prefix == "object/copy") continue;
    const std::string_view rest = path.substr(pattern.prefix.size());
    auto [bucket, object] = bucketAndPath(rest);
    const bool hasPath = rest.find('/') != std::string_view::npos;
    if (hasPath != pattern.hasPath) continue;
    return R{pattern.action, std::move(bucket), std::move(object)};
  }
  return {};
}

// Percent-encodes everything but unreserved characters and "/", for paths in signed URLs.
std::string encodePath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

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

std::optional<std::int64_t> optionalInteger(const json::object& body, std::string_view key) {
  const auto* value = member(body, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_int64()) return value->as_int64();
  if (value->is_uint64() && value->as_uint64() <= INT64_MAX) {
    return static_cast<std::int64_t>(value->as_uint64());
  }
  throw StorageError::invalidRequest("\"" + std::string(key) + "\" must be an integer");
}

void checkPath(std::string_view path) {
  if (!isValidObjectPath(path)) throw StorageError::invalidKey(path);
}

void checkBucketName(std::string_view name) {
  if (!isValidBucketName(name)) throw StorageError::invalidBucketName(name);
}

// The MIME type without parameters, lower-cased.
std::string essenceOf(std::string_view contentType) {
  std::string essence(contentType.substr(0, contentType.find(';')));
  essence.erase(0, essence.find_first_not_of(" \t"));
  essence.erase(essence.find_last_not_of(" \t") + 1);
  std::transform(essence.begin(), essence.end(), essence.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return essence;
}

void checkMimeType(const BucketRecord& bucket, std::string_view contentType) {
  if (!bucket.allowedMimeTypes || bucket.allowedMimeTypes->empty()) return;
  const std::string essence = essenceOf(contentType);
  for (const auto& allowed : *bucket.allowedMimeTypes) {
    const std::string pattern = essenceOf(allowed);
    if (pattern == essence) return;
    if (pattern.size() > 2 && pattern.substr(pattern.size() - 2) == "/*" &&
        startsWith(essence, pattern.substr(0, pattern.size() - 1))) {
      return;
    }
  }
  throw StorageError(http::status::unsupported_media_type, "invalid_mime_type",
                     "mime type " + essence + " is not supported");
}

// A file field "3600" means seconds; anything else is a ready header value.
std::string cacheControlOf(std::string_view value) {
  if (value.empty()) return std::string(kDefaultCacheControl);
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return "max-age=" + std::string(value);
  }
  return std::string(value);
}

bool upsertRequested(const Request& request) {
  const auto upsert = request.find("x-upsert");
  return upsert != request.end() && upsert->value() == "true";
}

std::string headerOf(const Request& request, http::field field) {
  const auto it = request.find(field);
  return it == request.end() ? std::string() : std::string(it->value());
}

json::value bucketJSON(const BucketRecord& bucket) {
  json::object body{{"id", bucket.id},          {"name", bucket.id},
                    {"owner", bucket.owner},    {"public", bucket.isPublic},
                    {"created_at", bucket.createdAt}, {"updated_at", bucket.updatedAt}};
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
  return json::object{
      {"name", std::move(name)},
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
  return json::object{{"name", std::move(name)}, {"id", nullptr},       {"updated_at", nullptr},
                      {"created_at", nullptr},   {"last_accessed_at", nullptr},
                      {"metadata", nullptr}};
}

json::value userMetadata(const ObjectRecord& object) {
  if (!object.metadata) return nullptr;
  boost::system::error_code ec;
  auto value = json::parse(*object.metadata, ec);
  return ec ? json::value(nullptr) : value;
}

Response okMessage(const Request& request, std::string_view message) {
  return jsonResponse(request, http::status::ok, json::object{{"message", message}});
}

// Replaces what could break out of the quoted file name of a Content-Disposition.
std::string safeFileName(std::string_view name) {
  std::string safe;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    safe += (u < 0x20 || u == 0x7f || c == '"' || c == '\\') ? '_' : c;
  }
  return safe;
}

template <class Message>
void setObjectHeaders(Message& response, const ObjectRecord& object,
                      const RequestTarget& target) {
  response.set(http::field::content_type, object.contentType);
  response.set(http::field::cache_control, object.cacheControl);
  response.set(http::field::etag, etagOf(object));
  if (const std::string* download = target.find("download")) {
    const std::string name =
        download->empty() ? object.name.substr(object.name.rfind('/') + 1) : *download;
    response.set(http::field::content_disposition,
                 "attachment; filename=\"" + safeFileName(name) + "\"");
  }
}

// Collects the form fields and writes the file part of a multipart upload to a staged file.
class UploadSink : public MultipartSink {
 public:
  UploadSink(const BucketRecord& bucket, const std::filesystem::path& folder,
             std::uint64_t limit)
      : bucket_(bucket), folder_(folder), limit_(limit) {}

  void beginPart(const MultipartHeaders& headers) override {
    const auto disposition = formDisposition(headers);
    if (!disposition) throw MultipartError("a part has no form-data disposition");
    field_ = disposition->name;
    value_.clear();
    inFile_ = disposition->fileName.has_value();
    if (!inFile_) return;
    if (file_) throw MultipartError("the form holds more than one file");
    const std::string* type = headers.find("Content-Type");
    contentType_ = type != nullptr ? *type : "application/octet-stream";
    checkMimeType(bucket_, contentType_);
    file_.emplace(folder_);
  }

  void partData(std::string_view bytes) override {
    if (inFile_) {
      if (file_->size() + bytes.size() > limit_) throw StorageError::tooLarge();
      file_->append(bytes);
      return;
    }
    if (value_.size() + bytes.size() > kMaxFieldBytes) {
      throw StorageError::invalidRequest("The form field \"" + field_ + "\" is too long");
    }
    value_.append(bytes);
  }

  void endPart() override {
    if (inFile_) return;
    if (field_ == "cacheControl") cacheControl_ = value_;
    if (field_ == "metadata") metadata_ = value_;
  }

  std::optional<detail::StagedFile> file_;
  std::string contentType_;
  std::string cacheControl_;
  std::optional<std::string> metadata_;

 private:
  const BucketRecord& bucket_;
  std::filesystem::path folder_;
  std::uint64_t limit_;
  std::string field_;
  std::string value_;
  bool inFile_ = false;
};

void parseMultipart(const std::filesystem::path& body, const std::string& boundary,
                    MultipartSink& sink) {
  std::ifstream in(body, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the spooled upload");
  MultipartReader reader(boundary, sink);
  std::string chunk(64 * 1024, '\0');
  try {
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      reader.feed(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
    }
    reader.finish();
  } catch (const MultipartError& error) {
    throw StorageError::invalidRequest(std::string("Malformed multipart body: ") + error.what());
  }
}

std::optional<std::string> checkedMetadata(std::optional<std::string> metadata) {
  if (!metadata) return std::nullopt;
  boost::system::error_code ec;
  const auto value = json::parse(*metadata, ec);
  if (ec || !value.is_object()) {
    throw StorageError::invalidRequest("The metadata field must be a JSON object");
  }
  return metadata;
}

}  // namespace

StorageService::StorageService(Database& database, const TokenAuthority& tokens,
                               std::filesystem::path root, std::uint64_t maxUploadBytes)
    : tokens_(tokens), store_(database, std::move(root)), maxUploadBytes_(maxUploadBytes) {}

bool StorageService::isPublic(const Request& request, const RequestTarget& target) const {
  switch (routeOf(request.method(), target.path).action) {
    case Action::publicDownload:
    case Action::publicHead:
    case Action::signedDownload:
    case Action::signedUpload:
      return true;
    default:
      return false;
  }
}

std::optional<BodySpool> StorageService::spoolFor(const Request& head,
                                                  const RequestTarget& target) const {
  switch (routeOf(head.method(), target.path).action) {
    case Action::upload:
    case Action::update:
    case Action::signedUpload:
      return BodySpool{store_.uploadsFolder(), maxBodyBytes()};
    default:
      return std::nullopt;
  }
}

Response StorageService::handle(const Request& request, const RequestTarget& target) {
  return serve(request, target, nullptr);
}

Response StorageService::handleSpooled(const Request& head, const std::filesystem::path& body,
                                       const RequestTarget& target) {
  return serve(head, target, &body);
}

Response StorageService::serve(const Request& request, const RequestTarget& target,
                               const std::filesystem::path* body) {
  try {
    const Route route = routeOf(request.method(), target.path);
    if (route.action == Action::unknown) {
      throw StorageError(http::status::not_found, "not_found",
                         "Route " + std::string(request.method_string()) + " /" + target.path +
                             " not found");
    }
    return dispatch(request, target, route, body);
  } catch (const StorageError& error) {
    return storageErrorResponse(request, error);
  }
}

Response StorageService::dispatch(const Request& request, const RequestTarget& target,
                                  const Route& route, const std::filesystem::path* body) {
  switch (route.action) {
    case Action::upload:
    case Action::update:
    case Action::signedUpload: {
      if (body != nullptr) return upload(request, target, route, *body);
      // A body read into memory (the TLS port) takes the spooled road through a staged file.
      detail::StagedFile staged(store_.uploadsFolder());
      staged.append(request.body());
      return upload(request, target, route, staged.path());
    }
    case Action::download:
    case Action::publicDownload:
    case Action::signedDownload: {
      // The in-memory road, for the TLS port; the plain listener takes fileReply().
      auto opened = openForDownload(request, target, route);
      Response response{http::status::ok, request.version()};
      response.keep_alive(request.keep_alive());
      setObjectHeaders(response, opened.record, target);
      auto& file = opened.file.file();
      response.body().resize(static_cast<std::size_t>(opened.record.size));
      boost::beast::error_code ec;
      const std::size_t read = file.read(response.body().data(), response.body().size(), ec);
      if (ec) throw std::system_error(ec, "cannot read the content of " + opened.record.name);
      response.body().resize(read);
      response.prepare_payload();
      return response;
    }
    case Action::head:
    case Action::publicHead: {
      auto opened = openForDownload(request, target, route);
      Response response{http::status::ok, request.version()};
      response.keep_alive(request.keep_alive());
      setObjectHeaders(response, opened.record, target);
      response.content_length(static_cast<std::uint64_t>(opened.record.size));
      return response;
    }
    default:
      break;
  }
  const Caller caller = callerOf(request, target);
  switch (route.action) {
    case Action::listBuckets: return listBuckets(request, caller);
    case Action::createBucket: return createBucket(request, caller);
    case Action::getBucket:
      return jsonResponse(request, http::status::ok,
                          bucketJSON(visibleBucket(caller, route.bucket)));
    case Action::updateBucket: return updateBucket(request, caller, route);
    case Action::emptyBucket:
      store_.emptyBucket(writableBucket(caller, route.bucket).id);
      return okMessage(request, "Successfully emptied");
    case Action::deleteBucket:
      store_.deleteBucket(writableBucket(caller, route.bucket).id);
      return okMessage(request, "Successfully deleted");
    case Action::list: return list(request, caller, route);
    case Action::move: return moveOrCopy(request, caller, false);
    case Action::copy: return moveOrCopy(request, caller, true);
    case Action::sign: return sign(request, caller, route);
    case Action::signMany: return signMany(request, caller, route);
    case Action::createUploadURL: return createUploadURL(request, caller, route);
    case Action::remove: return remove(request, caller, route);
    case Action::info: return info(request, caller, route);
    default:
      throw StorageError(http::status::not_found, "not_found", "Route not found");
  }
}

std::optional<FileResponse> StorageService::fileReply(const Request& request,
                                                      const RequestTarget& target) {
  const Route route = routeOf(request.method(), target.path);
  if (route.action != Action::download && route.action != Action::publicDownload &&
      route.action != Action::signedDownload) {
    return std::nullopt;
  }
  try {
    auto opened = openForDownload(request, target, route);
    FileResponse response{http::status::ok, request.version()};
    response.keep_alive(request.keep_alive());
    setObjectHeaders(response, opened.record, target);
    response.body() = std::move(opened.file);
    response.prepare_payload();
    return response;
  } catch (const StorageError&) {
    return std::nullopt;  // handle() answers with the refusal
  }
}

Caller StorageService::callerOf(const Request& request, const RequestTarget& target) const {
  std::string token;
  if (const auto header = request.find(http::field::authorization); header != request.end()) {
    token = bearerTokenOf(header->value());
  } else {
    token = apiKeyOf(request, target);
  }
  if (token.empty()) return Caller{};
  try {
    return tokens_.callerFromToken(token);
  } catch (const JwtError& error) {
    throw StorageError(http::status::bad_request, "InvalidJWT",
                       error.kind() == JwtError::Kind::expired ? "jwt expired" : error.what());
  }
}

BucketRecord StorageService::visibleBucket(const Caller& caller, const std::string& id) const {
  checkBucketName(id);
  auto bucket = store_.findBucket(id);
  const bool visible = bucket && (bucket->isPublic || caller.role == Role::service ||
                                  (caller.role == Role::authenticated &&
                                   bucket->owner == caller.userId));
  if (!visible) throw StorageError::bucketNotFound();
  return std::move(*bucket);
}

BucketRecord StorageService::writableBucket(const Caller& caller, const std::string& id) const {
  auto bucket = visibleBucket(caller, id);
  if (caller.role == Role::service) return bucket;
  if (caller.role == Role::authenticated && bucket.owner == caller.userId) return bucket;
  throw StorageError::notAllowed(caller.role == Role::anon);
}

Response StorageService::listBuckets(const Request& request, const Caller& caller) {
  json::array buckets;
  for (const auto& bucket : store_.listBuckets()) {
    if (bucket.isPublic || caller.role == Role::service ||
        (caller.role == Role::authenticated && bucket.owner == caller.userId)) {
      buckets.push_back(bucketJSON(bucket));
    }
  }
  return jsonResponse(request, http::status::ok, buckets);
}

namespace {

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
      return;
    }
    if (!types->is_array()) {
      throw StorageError::invalidRequest("\"allowed_mime_types\" must be a list of strings");
    }
    std::vector<std::string> list;
    for (const auto& type : types->as_array()) {
      if (!type.is_string()) {
        throw StorageError::invalidRequest("\"allowed_mime_types\" must be a list of strings");
      }
      list.emplace_back(type.as_string());
    }
    bucket.allowedMimeTypes = std::move(list);
  }
}

}  // namespace

Response StorageService::createBucket(const Request& request, const Caller& caller) {
  if (caller.role == Role::anon) throw StorageError::notAllowed(true);
  const auto body = parseObjectBody(request);
  BucketRecord bucket;
  bucket.id = member(body, "id") != nullptr ? requiredText(body, "id") : requiredText(body, "name");
  checkBucketName(bucket.id);
  bucket.owner = caller.userId;
  readBucketOptions(body, bucket);
  store_.createBucket(bucket);
  return jsonResponse(request, http::status::ok, json::object{{"name", bucket.id}});
}

Response StorageService::updateBucket(const Request& request, const Caller& caller,
                                      const Route& route) {
  auto bucket = writableBucket(caller, route.bucket);
  readBucketOptions(parseObjectBody(request), bucket);
  store_.updateBucket(bucket);
  return okMessage(request, "Successfully updated");
}

StorageService::Upload StorageService::readUpload(const Request& request,
                                                  const BucketRecord& bucket,
                                                  const std::filesystem::path& body) const {
  std::uint64_t limit = maxUploadBytes_;
  if (bucket.fileSizeLimit) limit = std::min(limit, static_cast<std::uint64_t>(*bucket.fileSizeLimit));
  const std::string contentType = headerOf(request, http::field::content_type);
  if (const auto boundary = multipartBoundary(contentType)) {
    UploadSink sink(bucket, store_.uploadsFolder(), limit);
    parseMultipart(body, *boundary, sink);
    if (!sink.file_) throw StorageError::invalidRequest("The form holds no file");
    return Upload{std::move(*sink.file_), sink.contentType_, cacheControlOf(sink.cacheControl_),
                  checkedMetadata(sink.metadata_)};
  }
  if (startsWith(essenceOf(contentType), "multipart/")) {
    throw StorageError::invalidRequest("The multipart body has no usable boundary");
  }
  // Raw bytes: the body is the content.
  if (std::filesystem::file_size(body) > limit) throw StorageError::tooLarge();
  const std::string type = contentType.empty() ? "application/octet-stream" : contentType;
  checkMimeType(bucket, type);
  detail::StagedFile content(store_.uploadsFolder());
  content.appendFile(body);
  return Upload{std::move(content), type,
                cacheControlOf(headerOf(request, http::field::cache_control)), std::nullopt};
}

Response StorageService::upload(const Request& request, const RequestTarget& target,
                                const Route& route, const std::filesystem::path& body) {
  checkBucketName(route.bucket);
  checkPath(route.path);
  const std::string key = route.bucket + "/" + route.path;
  std::string owner;
  WriteMode mode = WriteMode::update;
  BucketRecord bucket;
  if (route.action == Action::signedUpload) {
    // The token speaks for the user who asked for the URL, with the upsert choice made then.
    const auto claims = verifyToken(target, "upload", key);
    const auto* upsert = claims.if_contains("upsert");
    mode = upsert != nullptr && upsert->is_bool() && upsert->as_bool() ? WriteMode::upsert
                                                                       : WriteMode::insert;
    if (const auto* signer = claims.if_contains("owner"); signer && signer->is_string()) {
      owner = signer->as_string();
    }
    auto found = store_.findBucket(route.bucket);
    if (!found) throw StorageError::bucketNotFound();
    bucket = std::move(*found);
  } else {
    const Caller caller = callerOf(request, target);
    bucket = writableBucket(caller, route.bucket);
    owner = caller.userId;
    if (route.action == Action::upload) {
      mode = upsertRequested(request) ? WriteMode::upsert : WriteMode::insert;
    }
  }
  Upload upload = readUpload(request, bucket, body);
  ObjectRecord draft;
  draft.bucketId = route.bucket;
  draft.name = route.path;
  draft.owner = owner;
  draft.contentType = upload.contentType;
  draft.cacheControl = upload.cacheControl;
  draft.metadata = upload.metadata;
  const auto stored = store_.commitObject(draft, std::move(upload.content), mode);
  return jsonResponse(request, http::status::ok, json::object{{"Key", key}, {"Id", stored.id}});
}

Response StorageService::list(const Request& request, const Caller& caller, const Route& route) {
  const auto bucket = visibleBucket(caller, route.bucket);
  const auto body = parseObjectBody(request);
  std::string folder = member(body, "prefix") != nullptr ? requiredText(body, "prefix") : "";
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const std::int64_t limit = optionalInteger(body, "limit").value_or(100);
  const std::int64_t offset = optionalInteger(body, "offset").value_or(0);
  if (limit < 0 || offset < 0) {
    throw StorageError::invalidRequest("\"limit\" and \"offset\" must not be negative");
  }
  const std::string search = member(body, "search") != nullptr ? requiredText(body, "search") : "";
  std::string column = "name";
  bool descending = false;
  if (const auto* sortBy = member(body, "sortBy"); sortBy != nullptr && sortBy->is_object()) {
    if (member(sortBy->as_object(), "column")) column = requiredText(sortBy->as_object(), "column");
    if (member(sortBy->as_object(), "order")) {
      const std::string order = essenceOf(requiredText(sortBy->as_object(), "order"));
      if (order != "asc" && order != "desc") {
        throw StorageError::invalidRequest("\"order\" must be \"asc\" or \"desc\"");
      }
      descending = order == "desc";
    }
  }
  using Field = std::string ObjectRecord::*;
  static const std::map<std::string, Field, std::less<>> kColumns{
      {"name", &ObjectRecord::name},
      {"created_at", &ObjectRecord::createdAt},
      {"updated_at", &ObjectRecord::updatedAt},
      {"last_accessed_at", &ObjectRecord::lastAccessedAt}};
  const auto sortColumn = kColumns.find(column);
  if (sortColumn == kColumns.end()) {
    throw StorageError::invalidRequest("Cannot sort by \"" + column + "\"");
  }
  // Folders (the next path segment of deeper objects) first, by name; then the objects.
  std::set<std::string> folders;
  std::vector<std::pair<std::string, ObjectRecord>> files;
  for (auto& object : store_.objectsWithPrefix(bucket.id, folder)) {
    std::string rest = object.name.substr(folder.size());
    const auto slash = rest.find('/');
    const std::string name = slash == std::string::npos ? rest : rest.substr(0, slash);
    if (!search.empty() && name.find(search) == std::string::npos) continue;
    if (slash != std::string::npos) {
      folders.insert(name);
    } else {
      files.emplace_back(name, std::move(object));
    }
  }
  const Field field = sortColumn->second;
  std::stable_sort(files.begin(), files.end(), [&](const auto& a, const auto& b) {
    const auto& x = field == &ObjectRecord::name ? a.first : a.second.*field;
    const auto& y = field == &ObjectRecord::name ? b.first : b.second.*field;
    return descending ? y < x : x < y;
  });
  json::array entries;
  std::vector<std::string> folderNames(folders.begin(), folders.end());
  if (descending && column == "name") std::reverse(folderNames.begin(), folderNames.end());
  for (const auto& name : folderNames) entries.push_back(folderJSON(name));
  for (auto& [name, object] : files) entries.push_back(fileObjectJSON(object, name));
  json::array page;
  for (std::size_t i = static_cast<std::size_t>(std::min<std::int64_t>(offset, entries.size()));
       i < entries.size() && page.size() < static_cast<std::size_t>(limit); ++i) {
    page.push_back(std::move(entries[i]));
  }
  return jsonResponse(request, http::status::ok, page);
}

Response StorageService::moveOrCopy(const Request& request, const Caller& caller, bool copy) {
  const auto body = parseObjectBody(request);
  const std::string fromBucket = requiredText(body, "bucketId");
  const std::string from = requiredText(body, "sourceKey");
  const std::string to = requiredText(body, "destinationKey");
  const std::string toBucket =
      member(body, "destinationBucket") != nullptr ? requiredText(body, "destinationBucket")
                                                   : fromBucket;
  checkPath(from);
  checkPath(to);
  const auto source = copy ? visibleBucket(caller, fromBucket) : writableBucket(caller, fromBucket);
  const auto destination = writableBucket(caller, toBucket);
  const auto object = store_.findObject(source.id, from);
  if (!object) throw StorageError::objectNotFound();
  if (destination.fileSizeLimit && object->size > *destination.fileSizeLimit) {
    throw StorageError::tooLarge();
  }
  checkMimeType(destination, object->contentType);
  if (!copy) {
    store_.moveObject(*object, destination.id, to);
    return okMessage(request, "Successfully moved");
  }
  const auto stored = store_.copyObject(*object, destination.id, to, caller.userId);
  return jsonResponse(request, http::status::ok,
                      json::object{{"Key", destination.id + "/" + to}, {"Id", stored.id}});
}

std::string StorageService::signToken(const std::string& purpose, const std::string& key,
                                      std::int64_t lifetimeSeconds,
                                      json::object extra) const {
  const std::int64_t now = unixNow();
  extra["url"] = key;
  extra["purpose"] = purpose;
  extra["iat"] = now;
  extra["exp"] = now + lifetimeSeconds;
  return tokens_.sign(extra);
}

json::object StorageService::verifyToken(const RequestTarget& target, const std::string& purpose,
                                         const std::string& key) const {
  const std::string* token = target.find("token");
  if (token == nullptr || token->empty()) {
    throw StorageError(http::status::bad_request, "InvalidJWT", "The URL carries no token");
  }
  json::object claims;
  try {
    claims = tokens_.verify(*token);
  } catch (const JwtError& error) {
    throw StorageError(http::status::bad_request, "InvalidJWT",
                       error.kind() == JwtError::Kind::expired ? "jwt expired"
                                                               : "The signature is invalid");
  }
  const auto* url = claims.if_contains("url");
  const auto* kind = claims.if_contains("purpose");
  if (url == nullptr || kind == nullptr || !url->is_string() || !kind->is_string() ||
      url->as_string() != key || kind->as_string() != purpose) {
    throw StorageError(http::status::bad_request, "InvalidSignature",
                       "The signature does not match this object");
  }
  return claims;
}

namespace {

std::int64_t expiresInOf(const json::object& body) {
  const auto expiresIn = optionalInteger(body, "expiresIn");
  if (!expiresIn || *expiresIn <= 0 || *expiresIn > 10LL * 365 * 24 * 3600) {
    throw StorageError::invalidRequest("\"expiresIn\" must be a positive number of seconds");
  }
  return *expiresIn;
}

}  // namespace

Response StorageService::sign(const Request& request, const Caller& caller, const Route& route) {
  const auto bucket = visibleBucket(caller, route.bucket);
  checkPath(route.path);
  const std::int64_t expiresIn = expiresInOf(parseObjectBody(request));
  if (!store_.findObject(bucket.id, route.path)) throw StorageError::objectNotFound();
  const std::string key = bucket.id + "/" + route.path;
  const std::string token = signToken("download", key, expiresIn, {});
  return jsonResponse(request, http::status::ok,
                      json::object{{"signedURL", "/object/sign/" + encodePath(key) +
                                                     "?token=" + token}});
}

Response StorageService::signMany(const Request& request, const Caller& caller,
                                  const Route& route) {
  const auto bucket = visibleBucket(caller, route.bucket);
  const auto body = parseObjectBody(request);
  const std::int64_t expiresIn = expiresInOf(body);
  const auto* paths = member(body, "paths");
  if (paths == nullptr || !paths->is_array()) {
    throw StorageError::invalidRequest("\"paths\" must be a list of strings");
  }
  json::array signedURLs;
  for (const auto& item : paths->as_array()) {
    if (!item.is_string()) throw StorageError::invalidRequest("\"paths\" must be a list of strings");
    const std::string path(item.as_string());
    json::object entry{{"path", path}};
    if (isValidObjectPath(path) && store_.findObject(bucket.id, path)) {
      const std::string key = bucket.id + "/" + path;
      entry["error"] = nullptr;
      entry["signedURL"] = "/object/sign/" + encodePath(key) + "?token=" +
                           signToken("download", key, expiresIn, {});
    } else {
      entry["error"] = "Either the object does not exist or you do not have access to it";
      entry["signedURL"] = nullptr;
    }
    signedURLs.push_back(std::move(entry));
  }
  return jsonResponse(request, http::status::ok, signedURLs);
}

Response StorageService::createUploadURL(const Request& request, const Caller& caller,
                                         const Route& route) {
  const auto bucket = writableBucket(caller, route.bucket);
  checkPath(route.path);
  const bool overwrite = upsertRequested(request);
  const std::string key = bucket.id + "/" + route.path;
  const std::string token = signToken("upload", key, kUploadURLLifetime,
                                      json::object{{"owner", caller.userId}, {"upsert", overwrite}});
  return jsonResponse(request, http::status::ok,
                      json::object{{"url", "/object/upload/sign/" + encodePath(key) +
                                               "?token=" + token},
                                   {"token", token}});
}

Response StorageService::remove(const Request& request, const Caller& caller,
                                const Route& route) {
  const auto bucket = writableBucket(caller, route.bucket);
  const auto body = parseObjectBody(request);
  const auto* prefixes = member(body, "prefixes");
  if (prefixes == nullptr || !prefixes->is_array()) {
    throw StorageError::invalidRequest("\"prefixes\" must be a list of strings");
  }
  std::vector<std::string> names;
  for (const auto& item : prefixes->as_array()) {
    if (!item.is_string()) {
      throw StorageError::invalidRequest("\"prefixes\" must be a list of strings");
    }
    names.emplace_back(item.as_string());
    checkPath(names.back());
  }
  json::array removed;
  for (const auto& object : store_.removeObjects(bucket.id, names)) {
    removed.push_back(fileObjectJSON(object, object.name));
  }
  return jsonResponse(request, http::status::ok, removed);
}

Response StorageService::info(const Request& request, const Caller& caller, const Route& route) {
  const auto bucket = visibleBucket(caller, route.bucket);
  checkPath(route.path);
  const auto object = store_.findObject(bucket.id, route.path);
  if (!object) throw StorageError::objectNotFound();
  return jsonResponse(request, http::status::ok,
                      json::object{{"id", object->id},
                                   {"version", object->version},
                                   {"name", object->name},
                                   {"bucket_id", object->bucketId},
                                   {"size", object->size},
                                   {"content_type", object->contentType},
                                   {"cache_control", object->cacheControl},
                                   {"etag", etagOf(*object)},
                                   {"last_modified", object->updatedAt},
                                   {"created_at", object->createdAt},
                                   {"updated_at", object->updatedAt},
                                   {"last_accessed_at", object->lastAccessedAt},
                                   {"metadata", userMetadata(*object)}});
}

OpenedObject StorageService::openForDownload(const Request& request, const RequestTarget& target,
                                             const Route& route) {
  checkBucketName(route.bucket);
  checkPath(route.path);
  if (route.action == Action::signedDownload) {
    verifyToken(target, "download", route.bucket + "/" + route.path);
  } else if (route.action == Action::publicDownload || route.action == Action::publicHead) {
    const auto bucket = store_.findBucket(route.bucket);
    if (!bucket || !bucket->isPublic) throw StorageError::bucketNotFound();
  } else {
    visibleBucket(callerOf(request, target), route.bucket);
  }
  auto opened = store_.openObject(route.bucket, route.path);
  if (!opened) throw StorageError::objectNotFound();
  return std::move(*opened);
}

}  // namespace local_backend
