#include "local_backend/storage_store.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <system_error>

#include "local_backend/detail/crypto.hpp"
#include "local_backend/storage_error.hpp"

namespace local_backend {

namespace {

constexpr std::string_view kBucketColumns =
    "id, owner, public, file_size_limit, allowed_mime_types, created_at, updated_at";
constexpr std::string_view kObjectColumns =
    "id, bucket_id, name, owner, version, size, content_type, cache_control, metadata, "
    "created_at, updated_at, last_accessed_at";

std::optional<std::string> mimeTypesText(const std::optional<std::vector<std::string>>& types) {
  if (!types) return std::nullopt;
  boost::json::array array;
  for (const auto& type : *types) array.emplace_back(type);
  return boost::json::serialize(array);
}

BucketRecord readBucket(const Statement& s) {
  BucketRecord bucket{s.text(0),    s.text(1), s.integer(2) != 0, std::nullopt,
                      std::nullopt, s.text(5), s.text(6)};
  if (!s.isNull(3)) bucket.fileSizeLimit = s.integer(3);
  if (const auto types = s.optionalText(4)) {
    std::vector<std::string> list;
    const auto parsed = boost::json::parse(*types);
    for (const auto& type : parsed.as_array()) {
      list.emplace_back(type.as_string());
    }
    bucket.allowedMimeTypes = std::move(list);
  }
  return bucket;
}

ObjectRecord readObject(const Statement& s) {
  return ObjectRecord{s.text(0), s.text(1), s.text(2),         s.text(3), s.text(4),  s.integer(5),
                      s.text(6), s.text(7), s.optionalText(8), s.text(9), s.text(10), s.text(11)};
}

std::optional<ObjectRecord> findObjectIn(const Connection& c, const std::string& bucket,
                                         const std::string& name) {
  Statement s = c.prepare("SELECT " + std::string(kObjectColumns) +
                          " FROM storage_objects WHERE bucket_id = ?1 AND name = ?2");
  s.bind(1, bucket).bind(2, name);
  if (!s.step()) return std::nullopt;
  return readObject(s);
}

void insertObject(const Connection& c, const ObjectRecord& o) {
  Statement s = c.prepare("INSERT INTO storage_objects (" + std::string(kObjectColumns) +
                          ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
  s.bind(1, o.id).bind(2, o.bucketId).bind(3, o.name).bind(4, o.owner).bind(5, o.version);
  s.bind(6, o.size).bind(7, o.contentType).bind(8, o.cacheControl).bind(9, o.metadata);
  s.bind(10, o.createdAt).bind(11, o.updatedAt).bind(12, o.lastAccessedAt);
  s.step();
}

void deleteObjectRow(const Connection& c, const ObjectRecord& o) {
  Statement s = c.prepare("DELETE FROM storage_objects WHERE bucket_id = ?1 AND name = ?2");
  s.bind(1, o.bucketId).bind(2, o.name);
  s.step();
}

std::vector<ObjectRecord> objectsOf(const Connection& c, const std::string& bucket) {
  Statement s = c.prepare("SELECT " + std::string(kObjectColumns) +
                          " FROM storage_objects WHERE bucket_id = ?1");
  s.bind(1, bucket);
  std::vector<ObjectRecord> objects;
  while (s.step()) objects.push_back(readObject(s));
  return objects;
}

}  // namespace

StorageStore::StorageStore(Database& database, std::filesystem::path root)
    : database_(database), root_(std::move(root)) {
  std::filesystem::create_directories(objectsFolder());
  std::filesystem::remove_all(uploadsFolder());
  std::filesystem::create_directories(uploadsFolder());
}

std::vector<BucketRecord> StorageStore::listBuckets() const {
  return database_.transaction([](Connection& c) {
    Statement s =
        c.prepare("SELECT " + std::string(kBucketColumns) + " FROM storage_buckets ORDER BY id");
    std::vector<BucketRecord> buckets;
    while (s.step()) buckets.push_back(readBucket(s));
    return buckets;
  });
}

std::optional<BucketRecord> StorageStore::findBucket(const std::string& id) const {
  return database_.transaction([&](Connection& c) -> std::optional<BucketRecord> {
    Statement s =
        c.prepare("SELECT " + std::string(kBucketColumns) + " FROM storage_buckets WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return readBucket(s);
  });
}

void StorageStore::createBucket(const BucketRecord& bucket) {
  database_.transaction([&](Connection& c) {
    Statement s = c.prepare("INSERT INTO storage_buckets (" + std::string(kBucketColumns) +
                            ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6) ON CONFLICT (id) DO NOTHING");
    s.bind(1, bucket.id).bind(2, bucket.owner).bind(3, std::int64_t{bucket.isPublic});
    if (bucket.fileSizeLimit)
      s.bind(4, *bucket.fileSizeLimit);
    else
      s.bindNull(4);
    s.bind(5, mimeTypesText(bucket.allowedMimeTypes));
    s.bind(6, formatTimestampZulu(database_.clock().now()));
    s.step();
    if (c.changes() == 0) throw StorageError::duplicate();
  });
}

void StorageStore::updateBucket(const BucketRecord& bucket) {
  database_.transaction([&](Connection& c) {
    Statement s = c.prepare(
        "UPDATE storage_buckets SET public = ?2, file_size_limit = ?3, allowed_mime_types = ?4, "
        "updated_at = ?5 WHERE id = ?1");
    s.bind(1, bucket.id).bind(2, std::int64_t{bucket.isPublic});
    if (bucket.fileSizeLimit)
      s.bind(3, *bucket.fileSizeLimit);
    else
      s.bindNull(3);
    s.bind(4, mimeTypesText(bucket.allowedMimeTypes));
    s.bind(5, formatTimestampZulu(database_.clock().now()));
    s.step();
    if (c.changes() == 0) throw StorageError::bucketNotFound();
  });
}

void StorageStore::emptyBucket(const std::string& id) {
  const auto removed = database_.transaction([&](Connection& c) {
    auto objects = objectsOf(c, id);
    Statement s = c.prepare("DELETE FROM storage_objects WHERE bucket_id = ?1");
    s.bind(1, id);
    s.step();
    return objects;
  });
  for (const auto& object : removed) removeContent(object.version);
}

void StorageStore::deleteBucket(const std::string& id) {
  database_.transaction([&](Connection& c) {
    Statement count = c.prepare("SELECT count(*) FROM storage_objects WHERE bucket_id = ?1");
    count.bind(1, id);
    count.step();
    if (count.integer(0) > 0) {
      throw StorageError(http::status::conflict, "InvalidRequest",
                         "The bucket you tried to delete is not empty");
    }
    Statement s = c.prepare("DELETE FROM storage_buckets WHERE id = ?1");
    s.bind(1, id);
    s.step();
    if (c.changes() == 0) throw StorageError::bucketNotFound();
  });
}

std::optional<ObjectRecord> StorageStore::findObject(const std::string& bucket,
                                                     const std::string& name) const {
  return database_.transaction([&](Connection& c) { return findObjectIn(c, bucket, name); });
}

std::vector<ObjectRecord> StorageStore::objectsWithPrefix(const std::string& bucket,
                                                          const std::string& prefix) const {
  return database_.transaction([&](Connection& c) {
    Statement s = c.prepare("SELECT " + std::string(kObjectColumns) +
                            " FROM storage_objects WHERE bucket_id = ?1 AND "
                            "substr(name, 1, length(?2)) = ?2 ORDER BY name");
    s.bind(1, bucket).bind(2, prefix);
    std::vector<ObjectRecord> objects;
    while (s.step()) objects.push_back(readObject(s));
    return objects;
  });
}

std::optional<OpenedObject> StorageStore::openObject(const std::string& bucket,
                                                     const std::string& name) {
  // Opened under the database lock: a concurrent replacement removes the old version's file
  // only after its commit, and an open file outlives its removal.
  return database_.transaction([&](Connection& c) -> std::optional<OpenedObject> {
    auto record = findObjectIn(c, bucket, name);
    if (!record) return std::nullopt;
    OpenedObject opened{std::move(*record), {}};
    boost::beast::error_code ec;
    opened.file.open(contentPath(opened.record.version).c_str(), boost::beast::file_mode::scan, ec);
    if (ec) throw std::system_error(ec, "cannot open the content of " + name);
    return opened;
  });
}

ObjectRecord StorageStore::commitObject(const ObjectRecord& draft, detail::StagedFile content,
                                        WriteMode mode) {
  ObjectRecord record = draft;
  record.version = detail::randomUuid();
  record.size = static_cast<std::int64_t>(content.size());
  std::optional<std::string> replaced;
  try {
    // Inside: the folder's flush may fail after the rename, leaving a file that no row names.
    content.commit(contentPath(record.version));
    database_.transaction([&](Connection& c) {
      const auto existing = findObjectIn(c, record.bucketId, record.name);
      if (existing && mode == WriteMode::insert) throw StorageError::duplicate();
      if (!existing && mode == WriteMode::update) throw StorageError::objectNotFound();
      const std::string now = formatTimestampZulu(database_.clock().now());
      record.id = existing ? existing->id : detail::randomUuid();
      record.createdAt = existing ? existing->createdAt : now;
      record.updatedAt = now;
      record.lastAccessedAt = now;
      if (existing) {
        deleteObjectRow(c, *existing);
        replaced = existing->version;
      }
      insertObject(c, record);
    });
  } catch (...) {
    removeContent(record.version);
    throw;
  }
  if (replaced) removeContent(*replaced);
  return record;
}

void StorageStore::moveObject(const ObjectRecord& from, const std::string& toBucket,
                              const std::string& toName) {
  database_.transaction([&](Connection& c) {
    if (findObjectIn(c, toBucket, toName)) throw StorageError::duplicate();
    Statement s = c.prepare(
        "UPDATE storage_objects SET bucket_id = ?3, name = ?4, updated_at = ?5 "
        "WHERE bucket_id = ?1 AND name = ?2");
    s.bind(1, from.bucketId).bind(2, from.name).bind(3, toBucket).bind(4, toName);
    s.bind(5, formatTimestampZulu(database_.clock().now()));
    s.step();
    if (c.changes() == 0) throw StorageError::objectNotFound();
  });
}

ObjectRecord StorageStore::copyObject(const ObjectRecord& from, const std::string& toBucket,
                                      const std::string& toName, const std::string& owner) {
  detail::StagedFile copy(uploadsFolder());
  {
    auto source = openObject(from.bucketId, from.name);
    if (!source) throw StorageError::objectNotFound();
    std::string chunk(64 * 1024, '\0');
    boost::beast::error_code ec;
    for (;;) {
      const std::size_t n = source->file.file().read(chunk.data(), chunk.size(), ec);
      if (ec) throw std::system_error(ec, "cannot read the content of " + from.name);
      if (n == 0) break;
      copy.append(std::string_view(chunk.data(), n));
    }
  }
  ObjectRecord draft = from;
  draft.bucketId = toBucket;
  draft.name = toName;
  draft.owner = owner;
  return commitObject(draft, std::move(copy), WriteMode::insert);
}

std::vector<ObjectRecord> StorageStore::removeObjects(const std::string& bucket,
                                                      const std::vector<std::string>& names) {
  const auto removed = database_.transaction([&](Connection& c) {
    std::vector<ObjectRecord> objects;
    for (const auto& name : names) {
      if (auto object = findObjectIn(c, bucket, name)) {
        deleteObjectRow(c, *object);
        objects.push_back(std::move(*object));
      }
    }
    return objects;
  });
  for (const auto& object : removed) removeContent(object.version);
  return removed;
}

std::filesystem::path StorageStore::contentPath(const std::string& version) const {
  return objectsFolder() / version;
}

void StorageStore::removeContent(const std::string& version) const noexcept {
  std::error_code ignored;
  std::filesystem::remove(contentPath(version), ignored);
}

}  // namespace local_backend
