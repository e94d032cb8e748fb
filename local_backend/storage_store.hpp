// Buckets and objects of the storage service: their records in the database and their contents
// as files, one per object version, in "<root>/objects". A new version is written to a staged
// file, flushed, renamed and only then committed to its row, so a row always names complete
// content; the replaced version's file is removed after the commit.
//
//   StorageStore store(database, root);
//   store.createBucket(bucket);
//   ObjectRecord stored = store.commitObject(draft, std::move(stagedFile), WriteMode::insert);
#pragma once

#include <boost/beast/http/file_body.hpp>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "local_backend/database.hpp"
#include "local_backend/detail/staged_file.hpp"

namespace local_backend {

struct BucketRecord {
  std::string id;
  std::string owner;  // the creating user's id; empty for the service role
  bool isPublic = false;
  std::optional<std::int64_t> fileSizeLimit;
  std::optional<std::vector<std::string>> allowedMimeTypes;
  std::string createdAt;
  std::string updatedAt;
};

struct ObjectRecord {
  std::string id;
  std::string bucketId;
  std::string name;
  std::string owner;
  std::string version;
  std::int64_t size = 0;
  std::string contentType;
  std::string cacheControl;
  std::optional<std::string> metadata;  // the caller's JSON object, as sent
  std::string createdAt;
  std::string updatedAt;
  std::string lastAccessedAt;
};

// An object's record with its content opened for reading.
struct OpenedObject {
  ObjectRecord record;
  boost::beast::http::file_body::value_type file;
};

// insert: the object must not exist; update: it must; upsert: either.
enum class WriteMode { insert, update, upsert };

// Thread safety: safe; records change inside database transactions. Lifetime: the database
// must outlive it. Throws StorageError for refusals (duplicates, missing objects, non-empty
// buckets), SqliteError and std::system_error for failures.
class StorageStore {
 public:
  // Creates "<root>/objects" and "<root>/uploads" (emptied: what is there is left from an
  // interrupted run).
  StorageStore(Database& database, std::filesystem::path root);

  // Where uploaded bodies and new contents are staged; on the file system of the contents.
  std::filesystem::path uploadsFolder() const { return root_ / "uploads"; }
  std::filesystem::path objectsFolder() const { return root_ / "objects"; }

  std::vector<BucketRecord> listBuckets() const;
  std::optional<BucketRecord> findBucket(const std::string& id) const;
  void createBucket(const BucketRecord& bucket);
  void updateBucket(const BucketRecord& bucket);
  // Removes every object of the bucket.
  void emptyBucket(const std::string& id);
  // Refuses (409) while the bucket holds objects.
  void deleteBucket(const std::string& id);

  std::optional<ObjectRecord> findObject(const std::string& bucket, const std::string& name) const;
  // The objects whose names start with `prefix`, by name.
  std::vector<ObjectRecord> objectsWithPrefix(const std::string& bucket,
                                              const std::string& prefix) const;
  std::optional<OpenedObject> openObject(const std::string& bucket, const std::string& name);
  // Makes `content` the object's content: `draft` gives bucket, name, owner, content type,
  // cache control and metadata; id, version, size and times are filled here.
  ObjectRecord commitObject(const ObjectRecord& draft, detail::StagedFile content, WriteMode mode);
  // Renames an object (into another bucket, too); the destination must not exist.
  void moveObject(const ObjectRecord& from, const std::string& toBucket, const std::string& toName);
  ObjectRecord copyObject(const ObjectRecord& from, const std::string& toBucket,
                          const std::string& toName, const std::string& owner);
  // The objects removed; names that name no object are skipped.
  std::vector<ObjectRecord> removeObjects(const std::string& bucket,
                                          const std::vector<std::string>& names);

 private:
  std::filesystem::path contentPath(const std::string& version) const;
  void removeContent(const std::string& version) const noexcept;

  Database& database_;
  std::filesystem::path root_;
};

}  // namespace local_backend
