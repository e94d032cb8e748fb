// The storage API under "/storage/v1": buckets, and objects uploaded (multipart or raw bytes),
// downloaded (with a key and token, from public buckets, or through signed URLs), listed, moved,
// copied and removed. Upload bodies are streamed to disk by the listener and downloads sent from
// disk, so object sizes are bounded by the upload limit only, never by memory.
//
//   auto storage = std::make_shared<StorageService>(db, tokens, root, 64 << 20);
//   router.mount("/storage/v1", storage);
//   // POST /storage/v1/object/avatars/me.png   (multipart form, "x-upsert: true")
//
// Who may do what: the service role everything; a signed-in user creates buckets (owning them),
// sees public buckets and their own, and writes objects only into buckets they own; the
// anonymous key reads objects of public buckets. Buckets a caller may not see answer 404.
// Signed URLs carry an HS256 token over the object's bucket and path, its purpose and expiry.
#pragma once

#include <cstdint>
#include <filesystem>

#include "local_backend/database.hpp"
#include "local_backend/router.hpp"
#include "local_backend/storage_routes.hpp"
#include "local_backend/storage_store.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

// Thread safety: safe. Lifetime: the server's; the database and token authority outlive it.
class StorageService : public ServiceHandler {
 public:
  // `root` holds the object contents and staged uploads; objects larger than `maxUploadBytes`
  // are refused (413).
  StorageService(Database& database, const TokenAuthority& tokens, std::filesystem::path root,
                 std::uint64_t maxUploadBytes);

  Response handle(const Request& request, const RequestTarget& target) override;
  bool isPublic(const Request& request, const RequestTarget& target) const override;
  std::optional<BodySpool> spoolFor(const Request& head,
                                    const RequestTarget& target) const override;
  Response handleSpooled(const Request& head, const std::filesystem::path& body,
                         const RequestTarget& target) override;
  std::optional<FileResponse> fileReply(const Request& request,
                                        const RequestTarget& target) override;

  // Requests whose body may exceed this are spooled; the multipart framing gets some room.
  std::uint64_t maxBodyBytes() const noexcept { return maxUploadBytes_ + 64 * 1024; }

 private:
  using Route = StorageRoute;

  Response serve(const Request& request, const RequestTarget& target,
                 const std::filesystem::path* body);
  Response dispatch(const Request& request, const RequestTarget& target, const Route& route,
                    const std::filesystem::path* body);
  Caller callerOf(const Request& request, const RequestTarget& target) const;
  BucketRecord visibleBucket(const Caller& caller, const std::string& id) const;
  BucketRecord writableBucket(const Caller& caller, const std::string& id) const;

  Response listBuckets(const Request& request, const Caller& caller);
  Response createBucket(const Request& request, const Caller& caller);
  Response updateBucket(const Request& request, const Caller& caller, const Route& route);

  Response upload(const Request& request, const RequestTarget& target, const Route& route,
                  const std::filesystem::path& body);
  Response list(const Request& request, const Caller& caller, const Route& route);
  Response moveOrCopy(const Request& request, const Caller& caller, bool copy);
  Response sign(const Request& request, const Caller& caller, const Route& route);
  Response signMany(const Request& request, const Caller& caller, const Route& route);
  Response createUploadURL(const Request& request, const Caller& caller, const Route& route);
  Response remove(const Request& request, const Caller& caller, const Route& route);
  Response info(const Request& request, const Caller& caller, const Route& route);

  // The object a download names, opened, after the caller's or the signature's checks.
  OpenedObject openForDownload(const Request& request, const RequestTarget& target,
                               const Route& route);
  std::string signToken(const std::string& purpose, const std::string& key,
                        std::int64_t lifetimeSeconds, boost::json::object extra) const;
  // The claims of a signed URL's token for this purpose and object; throws StorageError.
  boost::json::object verifyToken(const RequestTarget& target, const std::string& purpose,
                                  const std::string& key) const;

  const TokenAuthority& tokens_;
  StorageStore store_;
  std::uint64_t maxUploadBytes_;
};

}  // namespace local_backend
