// The facade's state and its internal steps, shared with the tasks and fetch functions that hold
// the facade weakly.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "voduzazi/client/detail/call_gate.hpp"
#include "voduzazi/client/voduzazi_client.hpp"

namespace voduzazi {

struct VoduzaziClient::Core {
  Core(boost::urls::url url, std::string key, VoduzaziClientOptions options);
  ~Core();

  // The facade's release: closes the gate, ends event deliveries and the auth-event task, and,
  // where that cannot deadlock, waits for the task and for every call still passing the gate.
  void close();

  // --- Authorised requests.
  std::optional<std::string> currentAccessToken() const;
  // The request with "Authorization: Bearer <token>" when there is a token (none once the facade
  // is released); never throws for a missing token (a cancellation still ends the caller).
  URLRequest authorizing(URLRequest request) const;

  // --- Lazily built clients.
  PostgrestClient database();
  FunctionsClient& functions();
  storage::VoduzaziStorageClient& storage();
  std::shared_ptr<realtime::RealtimeClientV2> realtimeV2();

  // --- Auth events.
  // The token to hand the realtime clients for one event, or nothing; decided under the lock.
  std::optional<std::string> forwardTokenChange(auth::AuthChangeEvent event,
                                                const std::optional<auth::Session>& session);
  // Hands a new token to both realtime clients; nothing (no change) reaches neither. The first
  // event builds the second-generation client either way.
  void forwardToRealtimeClients(const std::optional<std::string>& token);

  // In front of the caller's transport and logger as the background work of the auth and
  // realtime clients reaches them, and of the facade's own token steps.
  const std::shared_ptr<detail::CallGate> gate = std::make_shared<detail::CallGate>();
  const VoduzaziClientOptions options;
  const boost::urls::url voduzaziURL;
  const std::string voduzaziKey;
  const boost::urls::url storageURL;
  const boost::urls::url databaseURL;
  const boost::urls::url functionsURL;
  const boost::urls::url authURL;
  const boost::urls::url realtimeURL;
  const std::string storageKey;
  const HTTPFields headers;
  const HeaderDictionary headerDictionary;
  // options.global.logger behind the gate, for the clients that log from their own tasks.
  const std::shared_ptr<VoduzaziLogger> gatedLogger;
  std::unique_ptr<auth::AuthClient> auth;
  // The older realtime client; it connects when a channel subscribes.
  std::shared_ptr<realtime::RealtimeClient> realtime;
  LockIsolated<MutableState> mutableState{MutableState{}};
  // For the fetch functions of the clients this facade builds.
  std::weak_ptr<Core> self;
};

namespace detail {

// Whether waiting for the background work of `core` from this thread could deadlock: this
// thread is part of that work (a listener of its events, its transport or logger called back,
// the older realtime client's strand), which the work may itself be waiting for.
bool isPartOfBackgroundWork(const VoduzaziClient::Core& core);

// A fetch function that authorises through the facade while it lives and sends with `session`.
FetchHandler authorizedFetch(std::weak_ptr<VoduzaziClient::Core> core, HTTPSession session);
// An upload function that authorises through the facade while it lives and sends with `upload`.
UploadHandler authorizedUpload(std::weak_ptr<VoduzaziClient::Core> core, UploadHandler upload);
// A stream function that authorises through the facade while it lives and sends with `stream`.
StreamHandler authorizedStream(std::weak_ptr<VoduzaziClient::Core> core, StreamHandler stream);

// Starts the task that follows the auth client's events for as long as the facade lives.
Task<void> forwardAuthEvents(std::weak_ptr<VoduzaziClient::Core> core);

}  // namespace detail
}  // namespace voduzazi
