#include "local_backend/storage_service.hpp"

#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <map>
#include <set>

#include "local_backend/jwt.hpp"
#include "local_backend/storage_error.hpp"
#include "local_backend/storage_names.hpp"
#include "local_backend/storage_records.hpp"
#include "local_backend/storage_routes.hpp"
#include "local_backend/storage_upload.hpp"
#include "local_backend/timestamp.hpp"

namespace local_backend {

namespace json = boost::json;

namespace {

constexpr std::int64_t kUploadURLLifetime = 2 * 60 * 60;

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

void checkPath(std::string_view path) {
  if (!isValidObjectPath(path)) throw StorageError::invalidKey(path);
}

void checkBucketName(std::string_view name) {
  if (!isValidBucketName(name)) throw StorageError::invalidBucketName(name);
}

bool upsertRequested(const Request& request) {
  const auto upsert = request.find("x-upsert");
  return upsert != request.end() && upsert->value() == "true";
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
void setObjectHeaders(Message& response, const ObjectRecord& object, const RequestTarget& target) {
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

}  // namespace

StorageService::StorageService(Database& database, const TokenAuthority& tokens,
                               std::filesystem::path root, std::uint64_t maxUploadBytes)
    : tokens_(tokens), store_(database, std::move(root)), maxUploadBytes_(maxUploadBytes) {}

bool StorageService::isPublic(const Request& request, const RequestTarget& target) const {
  switch (storageRouteOf(request.method(), target.path).action) {
    case StorageAction::publicDownload:
    case StorageAction::publicHead:
    case StorageAction::signedDownload:
    case StorageAction::signedUpload:
      return true;
    default:
      return false;
  }
}

std::optional<BodySpool> StorageService::spoolFor(const Request& head,
                                                  const RequestTarget& target) const {
  switch (storageRouteOf(head.method(), target.path).action) {
    case StorageAction::upload:
    case StorageAction::update:
    case StorageAction::signedUpload:
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
    const Route route = storageRouteOf(request.method(), target.path);
    if (route.action == StorageAction::unknown) {
      throw StorageError(
          http::status::not_found, "not_found",
          "Route " + std::string(request.method_string()) + " /" + target.path + " not found");
    }
    return dispatch(request, target, route, body);
  } catch (const StorageError& error) {
    return storageErrorResponse(request, error);  // the router strips a HEAD answer's body
  }
}

Response StorageService::dispatch(const Request& request, const RequestTarget& target,
                                  const Route& route, const std::filesystem::path* body) {
  switch (route.action) {
    case StorageAction::upload:
    case StorageAction::update:
    case StorageAction::signedUpload: {
      if (body != nullptr) return upload(request, target, route, *body);
      // A body read into memory (the TLS port) takes the spooled road through a staged file.
      detail::StagedFile staged(store_.uploadsFolder());
      staged.append(request.body());
      return upload(request, target, route, staged.path());
    }
    case StorageAction::download:
    case StorageAction::publicDownload:
    case StorageAction::signedDownload: {
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
    case StorageAction::head:
    case StorageAction::publicHead: {
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
    case StorageAction::listBuckets:
      return listBuckets(request, caller);
    case StorageAction::createBucket:
      return createBucket(request, caller);
    case StorageAction::getBucket:
      return jsonResponse(request, http::status::ok,
                          bucketJSON(visibleBucket(caller, route.bucket)));
    case StorageAction::updateBucket:
      return updateBucket(request, caller, route);
    case StorageAction::emptyBucket:
      store_.emptyBucket(writableBucket(caller, route.bucket).id);
      return okMessage(request, "Successfully emptied");
    case StorageAction::deleteBucket:
      store_.deleteBucket(writableBucket(caller, route.bucket).id);
      return okMessage(request, "Successfully deleted");
    case StorageAction::list:
      return list(request, caller, route);
    case StorageAction::move:
      return moveOrCopy(request, caller, false);
    case StorageAction::copy:
      return moveOrCopy(request, caller, true);
    case StorageAction::sign:
      return sign(request, caller, route);
    case StorageAction::signMany:
      return signMany(request, caller, route);
    case StorageAction::createUploadURL:
      return createUploadURL(request, caller, route);
    case StorageAction::remove:
      return remove(request, caller, route);
    case StorageAction::info:
      return info(request, caller, route);
    default:
      throw StorageError(http::status::not_found, "not_found", "Route not found");
  }
}

std::optional<FileResponse> StorageService::fileReply(const Request& request,
                                                      const RequestTarget& target) {
  const Route route = storageRouteOf(request.method(), target.path);
  if (route.action != StorageAction::download && route.action != StorageAction::publicDownload &&
      route.action != StorageAction::signedDownload) {
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
  const bool visible =
      bucket && (bucket->isPublic || caller.role == Role::service ||
                 (caller.role == Role::authenticated && bucket->owner == caller.userId));
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

Response StorageService::upload(const Request& request, const RequestTarget& target,
                                const Route& route, const std::filesystem::path& body) {
  checkBucketName(route.bucket);
  checkPath(route.path);
  const std::string key = route.bucket + "/" + route.path;
  std::string owner;
  WriteMode mode = WriteMode::update;
  BucketRecord bucket;
  if (route.action == StorageAction::signedUpload) {
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
    if (route.action == StorageAction::upload) {
      mode = upsertRequested(request) ? WriteMode::upsert : WriteMode::insert;
    }
  }
  std::uint64_t limit = maxUploadBytes_;
  if (bucket.fileSizeLimit) {
    limit = std::min(limit, static_cast<std::uint64_t>(*bucket.fileSizeLimit));
  }
  StagedUpload upload = stageUpload(request, body, bucket, store_.uploadsFolder(), limit);
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

namespace {

using SortField = std::string ObjectRecord::*;

// What a listing asks for: one folder level, filtered by name, sorted, paged.
struct ListQuery {
  std::string folder;  // "" or ending in "/"
  std::string search;
  std::size_t limit = 100;
  std::size_t offset = 0;
  SortField sortField = &ObjectRecord::name;
  bool descending = false;
};

SortField sortFieldOf(const std::string& column) {
  static const std::map<std::string, SortField, std::less<>> kColumns{
      {"name", &ObjectRecord::name},
      {"created_at", &ObjectRecord::createdAt},
      {"updated_at", &ObjectRecord::updatedAt},
      {"last_accessed_at", &ObjectRecord::lastAccessedAt}};
  const auto found = kColumns.find(column);
  if (found == kColumns.end()) {
    throw StorageError::invalidRequest("Cannot sort by \"" + column + "\"");
  }
  return found->second;
}

ListQuery listQueryOf(const json::object& body) {
  ListQuery query;
  if (member(body, "prefix") != nullptr) query.folder = requiredText(body, "prefix");
  if (!query.folder.empty() && query.folder.back() != '/') query.folder += '/';
  const std::int64_t limit = optionalInteger(body, "limit").value_or(100);
  const std::int64_t offset = optionalInteger(body, "offset").value_or(0);
  if (limit < 0 || offset < 0) {
    throw StorageError::invalidRequest("\"limit\" and \"offset\" must not be negative");
  }
  query.limit = static_cast<std::size_t>(limit);
  query.offset = static_cast<std::size_t>(offset);
  if (member(body, "search") != nullptr) query.search = requiredText(body, "search");
  const auto* sortBy = member(body, "sortBy");
  if (sortBy == nullptr || !sortBy->is_object()) return query;
  const auto& sort = sortBy->as_object();
  if (member(sort, "column")) query.sortField = sortFieldOf(requiredText(sort, "column"));
  if (member(sort, "order")) {
    const std::string order = requiredText(sort, "order");
    if (order != "asc" && order != "desc") {
      throw StorageError::invalidRequest("\"order\" must be \"asc\" or \"desc\"");
    }
    query.descending = order == "desc";
  }
  return query;
}

}  // namespace

Response StorageService::list(const Request& request, const Caller& caller, const Route& route) {
  const auto bucket = visibleBucket(caller, route.bucket);
  const ListQuery query = listQueryOf(parseObjectBody(request));
  // Folders (the next path segment of deeper objects) first, by name; then the objects.
  std::set<std::string> folders;
  std::vector<std::pair<std::string, ObjectRecord>> files;
  for (auto& object : store_.objectsWithPrefix(bucket.id, query.folder)) {
    std::string rest = object.name.substr(query.folder.size());
    const auto slash = rest.find('/');
    const std::string name = slash == std::string::npos ? rest : rest.substr(0, slash);
    if (!query.search.empty() && name.find(query.search) == std::string::npos) continue;
    if (slash != std::string::npos) {
      folders.insert(name);
    } else {
      files.emplace_back(name, std::move(object));
    }
  }
  const SortField field = query.sortField;
  const bool byName = field == &ObjectRecord::name;
  std::stable_sort(files.begin(), files.end(), [&](const auto& a, const auto& b) {
    const auto& x = byName ? a.first : a.second.*field;
    const auto& y = byName ? b.first : b.second.*field;
    return query.descending ? y < x : x < y;
  });
  json::array entries;
  std::vector<std::string> folderNames(folders.begin(), folders.end());
  if (query.descending && byName) std::reverse(folderNames.begin(), folderNames.end());
  for (const auto& name : folderNames) entries.push_back(folderJSON(name));
  for (auto& [name, object] : files) entries.push_back(fileObjectJSON(object, name));
  json::array page;
  for (std::size_t i = std::min(query.offset, entries.size());
       i < entries.size() && page.size() < query.limit; ++i) {
    page.push_back(std::move(entries[i]));
  }
  return jsonResponse(request, http::status::ok, page);
}

Response StorageService::moveOrCopy(const Request& request, const Caller& caller, bool copy) {
  const auto body = parseObjectBody(request);
  const std::string fromBucket = requiredText(body, "bucketId");
  const std::string from = requiredText(body, "sourceKey");
  const std::string to = requiredText(body, "destinationKey");
  const std::string toBucket = member(body, "destinationBucket") != nullptr
                                   ? requiredText(body, "destinationBucket")
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
                                      std::int64_t lifetimeSeconds, json::object extra) const {
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
    throw StorageError(
        http::status::bad_request, "InvalidJWT",
        error.kind() == JwtError::Kind::expired ? "jwt expired" : "The signature is invalid");
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
  return jsonResponse(
      request, http::status::ok,
      json::object{{"signedURL", "/object/sign/" + encodePath(key) + "?token=" + token}});
}

Response StorageService::signMany(const Request& request, const Caller& caller,
                                  const Route& route) {
  const auto bucket = visibleBucket(caller, route.bucket);
  const auto body = parseObjectBody(request);
  const std::int64_t expiresIn = expiresInOf(body);
  json::array signedURLs;
  for (const auto& path : requiredTextList(body, "paths")) {
    json::object entry{{"path", path}};
    if (isValidObjectPath(path) && store_.findObject(bucket.id, path)) {
      const std::string key = bucket.id + "/" + path;
      entry["error"] = nullptr;
      entry["signedURL"] =
          "/object/sign/" + encodePath(key) + "?token=" + signToken("download", key, expiresIn, {});
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
  const std::string token =
      signToken("upload", key, kUploadURLLifetime,
                json::object{{"owner", caller.userId}, {"upsert", overwrite}});
  return jsonResponse(
      request, http::status::ok,
      json::object{{"url", "/object/upload/sign/" + encodePath(key) + "?token=" + token},
                   {"token", token}});
}

Response StorageService::remove(const Request& request, const Caller& caller, const Route& route) {
  const auto bucket = writableBucket(caller, route.bucket);
  const auto body = parseObjectBody(request);
  const auto names = requiredTextList(body, "prefixes");
  for (const auto& name : names) checkPath(name);
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
  return jsonResponse(request, http::status::ok, objectInfoJSON(*object));
}

OpenedObject StorageService::openForDownload(const Request& request, const RequestTarget& target,
                                             const Route& route) {
  checkBucketName(route.bucket);
  checkPath(route.path);
  if (route.action == StorageAction::signedDownload) {
    verifyToken(target, "download", route.bucket + "/" + route.path);
  } else if (route.action == StorageAction::publicDownload ||
             route.action == StorageAction::publicHead) {
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
