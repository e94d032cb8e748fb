// What a caller hands a client it releases later (transport, store, logger), each reporting to one
// record that tells the calls made after the release from those made before.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/auth/auth_local_storage.hpp"
#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi::auth::testing {

// Where everything the caller passed in reports. It outlives them all, so that a call made after
// the release is recorded instead of reaching an object that is gone.
// Shared objects: safe.
class CallerRecord {
 public:
  // From now on every call counts as late.
  void release() { released_ = true; }
  bool isReleased() const { return released_; }

  void called(const std::string& what);
  std::vector<std::string> lateCalls() const;

  std::atomic<bool> releasing{false};
  std::atomic<bool> transportGone{false};
  std::atomic<int> refreshes{0};
  // A call that found the transport destroyed (and was refused here instead of crashing).
  std::atomic<bool> refusedAfterDestruction{false};

 private:
  std::atomic<bool> released_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> late_;
};

// A transport the caller owns and destroys right after the client. Its functions hold it by
// address, as a caller's lambdas over a local object do; the record tells when that address no
// longer holds a transport. A refresh it answers with a fresh session ("fresh", "next"), or
// refuses as a server that no longer knows the session; when it holds refreshes back, only until
// the release has begun. Every other request gets an empty JSON array.
class CallerTransport {
 public:
  struct Behaviour {
    bool holdsRefreshes = false;
    bool refusesRefreshes = false;
  };

  CallerTransport(std::shared_ptr<CallerRecord> record, Behaviour behaviour)
      : record_(std::move(record)), behaviour_(behaviour) {}
  ~CallerTransport() { record_->transportGone = true; }
  CallerTransport(const CallerTransport&) = delete;
  CallerTransport& operator=(const CallerTransport&) = delete;

  // The transport's send function.
  FetchHandler fetch();

 private:
  const std::shared_ptr<CallerRecord> record_;
  const Behaviour behaviour_;
};

// The caller's session store. A slow one takes its time over every write once the release has
// begun: it lets the release return first if the release does not wait for it.
class CallerStorage : public AuthLocalStorage {
 public:
  explicit CallerStorage(std::shared_ptr<CallerRecord> record, bool slowWrites = false)
      : record_(std::move(record)), slowWrites_(slowWrites) {}

  void store(const std::string& key, const Data& value) override;
  std::optional<Data> retrieve(const std::string& key) override;
  void remove(const std::string& key) override;

  // The store itself, read and written without counting.
  InMemoryAuthLocalStorage inner;

 private:
  void takeTime() const;

  const std::shared_ptr<CallerRecord> record_;
  const bool slowWrites_;
};

class CallerLogger : public VoduzaziLogger {
 public:
  explicit CallerLogger(std::shared_ptr<CallerRecord> record) : record_(std::move(record)) {}
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override;

 private:
  const std::shared_ptr<CallerRecord> record_;
};

// Puts a session with `accessToken` (refresh token "refresh-" + accessToken) under `key`.
void storeSessionIn(InMemoryAuthLocalStorage& storage, const std::string& key,
                    const std::string& accessToken, double expiresAt);
bool holdsToken(InMemoryAuthLocalStorage& storage, const std::string& key,
                const std::string& accessToken);

// Whether the refresh under way at the release ended as it should have: "fresh" stored under
// `key`, or, when the server refused it, the session removed.
bool refreshEnded(InMemoryAuthLocalStorage& storage, const std::string& key, bool refused);

// The late calls of `record`, once a refresh that was under way at the release has had every
// chance to end (refreshEnded, or the transport found gone).
std::vector<std::string> lateCallsOnceRefreshed(const CallerRecord& record,
                                                InMemoryAuthLocalStorage& storage,
                                                const std::string& key, bool refused = false);

}  // namespace voduzazi::auth::testing
