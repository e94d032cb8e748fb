#include "tests/auth/caller_fakes.hpp"

#include <chrono>
#include <stdexcept>

#include "tests/auth/auth_client_fakes.hpp"

namespace voduzazi::auth::testing {
namespace {

using namespace std::chrono_literals;

FetchResult answer(const URLRequest& request, CallerRecord& record,
                   CallerTransport::Behaviour behaviour) {
  if (!request.url.path().ends_with("/token")) return FakeAuthServer::answer(request, 200, "[]");
  ++record.refreshes;
  if (behaviour.holdsRefreshes) eventually([&] { return record.releasing.load(); }, 10s);
  if (behaviour.refusesRefreshes) {
    return FakeAuthServer::answer(
        request, 400, R"({"code":"refresh_token_not_found","msg":"Invalid Refresh Token"})");
  }
  return FakeAuthServer::answer(request, 200, sessionBody("fresh", "next", secondsFromNow(3600)));
}

}  // namespace

void CallerRecord::called(const std::string& what) {
  if (!released_) return;
  std::lock_guard lock(mutex_);
  late_.push_back(what);
}

std::vector<std::string> CallerRecord::lateCalls() const {
  std::lock_guard lock(mutex_);
  return late_;
}

FetchHandler CallerTransport::fetch() {
  // Only the entry reads the transport's address; a call under way when it is destroyed goes on
  // with copies, so that what it does next is recorded rather than a crash.
  return [this, record = record_](const URLRequest& request) {
    record->called("transport: " + std::string(request.url.path()));
    if (record->transportGone) {
      record->refusedAfterDestruction = true;
      throw std::logic_error("the transport was destroyed");
    }
    FetchResult result = answer(request, *record, behaviour_);
    record->called("transport returned: " + std::string(request.url.path()));
    return result;
  };
}

void CallerStorage::store(const std::string& key, const Data& value) {
  takeTime();
  record_->called("store");
  inner.store(key, value);
}

std::optional<Data> CallerStorage::retrieve(const std::string& key) {
  record_->called("retrieve");
  return inner.retrieve(key);
}

void CallerStorage::remove(const std::string& key) {
  takeTime();
  record_->called("remove");
  inner.remove(key);
}

void CallerStorage::takeTime() const {
  if (!slowWrites_) return;
  eventually([&] { return record_->releasing.load(); });
  eventually([&] { return record_->isReleased(); }, 100ms);
}

void CallerLogger::log(const VoduzaziLogMessage& message) {
  record_->called("logger: " + message.message);
}

void storeSessionIn(InMemoryAuthLocalStorage& storage, const std::string& key,
                    const std::string& accessToken, double expiresAt) {
  storage.store(
      key, JSONEncoder().encode(makeSession(accessToken, "refresh-" + accessToken, expiresAt)));
}

bool holdsToken(InMemoryAuthLocalStorage& storage, const std::string& key,
                const std::string& accessToken) {
  const auto bytes = storage.retrieve(key);
  return bytes && bytes->find("\"" + accessToken + "\"") != std::string::npos;
}

bool refreshEnded(InMemoryAuthLocalStorage& storage, const std::string& key, bool refused) {
  return refused ? !storage.retrieve(key).has_value() : holdsToken(storage, key, "fresh");
}

std::vector<std::string> lateCallsOnceRefreshed(const CallerRecord& record,
                                                InMemoryAuthLocalStorage& storage,
                                                const std::string& key, bool refused) {
  eventually(
      [&] { return refreshEnded(storage, key, refused) || record.refusedAfterDestruction.load(); });
  return record.lateCalls();
}

}  // namespace voduzazi::auth::testing
