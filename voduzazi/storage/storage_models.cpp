#include "voduzazi/storage/storage_models.hpp"

#include <tuple>

#include "voduzazi/helpers/keyed_coding.hpp"
#include "voduzazi/storage/detail/record_hash.hpp"

namespace voduzazi::storage {
namespace {

constexpr auto bucketFields = std::tuple{field("id", &Bucket::id),
                                         field("name", &Bucket::name),
                                         field("owner", &Bucket::owner),
                                         field("public", &Bucket::isPublic),
                                         field("created_at", &Bucket::createdAt),
                                         field("updated_at", &Bucket::updatedAt),
                                         field("allowed_mime_types", &Bucket::allowedMimeTypes),
                                         field("file_size_limit", &Bucket::fileSizeLimit)};

constexpr auto fileObjectFields = std::tuple{field("name", &FileObject::name),
                                             field("bucket_id", &FileObject::bucketId),
                                             field("owner", &FileObject::owner),
                                             field("id", &FileObject::id),
                                             field("updated_at", &FileObject::updatedAt),
                                             field("created_at", &FileObject::createdAt),
                                             field("last_accessed_at", &FileObject::lastAccessedAt),
                                             field("metadata", &FileObject::metadata),
                                             field("buckets", &FileObject::buckets)};

constexpr auto fileObjectV2Fields =
    std::tuple{field("id", &FileObjectV2::id),
               field("version", &FileObjectV2::version),
               field("name", &FileObjectV2::name),
               field("bucket_id", &FileObjectV2::bucketId),
               field("updated_at", &FileObjectV2::updatedAt),
               field("created_at", &FileObjectV2::createdAt),
               field("last_accessed_at", &FileObjectV2::lastAccessedAt),
               field("size", &FileObjectV2::size),
               field("cache_control", &FileObjectV2::cacheControl),
               field("content_type", &FileObjectV2::contentType),
               field("etag", &FileObjectV2::etag),
               field("last_modified", &FileObjectV2::lastModified),
               field("metadata", &FileObjectV2::metadata)};

// Every coded field of the record, in declared order.
template <class Record, class Fields>
std::size_t hashFields(const Record& record, const Fields& fields) {
  detail::RecordHash hash;
  std::apply([&](const auto&... field) { (hash.add(record.*field.member), ...); }, fields);
  return hash.value();
}

constexpr auto signedURLFields =
    std::tuple{field("error", &SignedURL::error), field("signedURL", &SignedURL::signedURL),
               field("path", &SignedURL::path)};

}  // namespace

boost::json::value Bucket::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, bucketFields);
}

Bucket Bucket::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                        const CodingPath& path) {
  return decodeFields(json, decoder, path, bucketFields);
}

boost::json::value FileObject::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, fileObjectFields);
}

FileObject FileObject::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                const CodingPath& path) {
  return decodeFields(json, decoder, path, fileObjectFields);
}

FileObjectV2 FileObjectV2::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                    const CodingPath& path) {
  return decodeFields(json, decoder, path, fileObjectV2Fields);
}

SignedURL SignedURL::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                              const CodingPath& path) {
  return decodeFields(json, decoder, path, signedURLFields);
}

}  // namespace voduzazi::storage

std::size_t std::hash<voduzazi::storage::Bucket>::operator()(
    const voduzazi::storage::Bucket& bucket) const {
  return voduzazi::storage::hashFields(bucket, voduzazi::storage::bucketFields);
}

std::size_t std::hash<voduzazi::storage::FileObject>::operator()(
    const voduzazi::storage::FileObject& object) const {
  return voduzazi::storage::hashFields(object, voduzazi::storage::fileObjectFields);
}

std::size_t std::hash<voduzazi::storage::FileObjectV2>::operator()(
    const voduzazi::storage::FileObjectV2& object) const {
  return voduzazi::storage::hashFields(object, voduzazi::storage::fileObjectV2Fields);
}
