// VoduzaziClient: the one object an application needs. From the project URL and the API key it
// derives every service URL and default header, builds the auth client at once and the database
// client on first use, sends every database request with the signed-in user's access token (or
// the API key without a session), and hands each new token to the realtime clients.
//
//   VoduzaziClient client("https://abcd.example.co", anonKey);   // default options
//   client.auth().signIn("ada@example.com", "correct horse");
//   client.from("messages").insert(row).execute();                // "Bearer <user's token>"
//   auto rows = client.from("messages").select().eq("receiver_id", me)
//                   .order("created_at").execute<std::vector<Message>>();
//   auto token = client.auth().onAuthStateChange([](auth::AuthChangeEvent, const auto&) {});
//   auto room = client.channel("room");                           // second-generation realtime
//   room->subscribeWithError();
//
// Shared objects: safe; any thread may use the accessors and the clients they hand out.
// Lifetime: owns the auth client, both realtime clients, the database client and the
// auth-event task. Destroying the facade cancels the task, closes the auth client (its
// auto-refresh stops; a refresh whose request went out may end with its answer stored within
// auth::AuthClient::releaseWait, 5 s, and is then called off: an answer arriving later is lost,
// and the server may have spent the stored token) and waits for them and for the background work
// under way, so that once the destructor returns nothing the facade started calls the transport,
// session store, logger or listeners given to it; then it frees the clients. The auth client's
// registry entry keeps that logger, store and transport (about 8 KB) for the rest of the process,
// uncalled. Destroyed from inside that work (one of its listeners, say), it returns without
// waiting and the work ends by itself, kept from those by then. Request builders handed out
// earlier stay usable; without the facade they send no user token.
#pragma once

#include <boost/url/url.hpp>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/client/client_options.hpp"
#include "voduzazi/client/project_url.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/functions/functions_client.hpp"
#include "voduzazi/postgrest/client.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"
#include "voduzazi/storage/voduzazi_storage_client.hpp"

namespace voduzazi::realtime {
class RealtimeClient;
}

namespace voduzazi {

class VoduzaziClient {
 public:
  // What the facade fills after construction, all under one lock.
  struct MutableState {
    std::optional<Task<void>> listenForAuthEventsTask;
    std::optional<PostgrestClient> rest;
    std::shared_ptr<FunctionsClient> functions;
    std::shared_ptr<storage::VoduzaziStorageClient> storage;
    std::shared_ptr<realtime::RealtimeClientV2> realtime;  // the second generation
    // The last access token handed to the realtime clients.
    std::optional<std::string> changedAccessToken;
  };

  // Checks the URL and derives everything from it; starts the auth-event task unless
  // options.auth.accessToken is set. Throws InvalidProjectURLError for a URL that is not http or
  // https or has no host.
  VoduzaziClient(std::string_view voduzaziURL, std::string voduzaziKey,
                 VoduzaziClientOptions options = {});
  VoduzaziClient(const boost::urls::url& voduzaziURL, std::string voduzaziKey,
                 VoduzaziClientOptions options = {});
  ~VoduzaziClient();
  VoduzaziClient(const VoduzaziClient&) = delete;
  VoduzaziClient& operator=(const VoduzaziClient&) = delete;

  const VoduzaziClientOptions& options() const;
  const boost::urls::url& voduzaziURL() const;
  const std::string& voduzaziKey() const;
  const boost::urls::url& authURL() const;
  const boost::urls::url& databaseURL() const;
  const boost::urls::url& storageURL() const;
  const boost::urls::url& functionsURL() const;
  const boost::urls::url& realtimeURL() const;
  // The storage key the auth client was given (options.auth.storageKey, or the derived one).
  const std::string& storageKey() const;

  // The merged default headers by name: the library's, then "Authorization" and "Apikey" with
  // the key, then options.global.headers, each layer replacing names of the one below.
  HeaderDictionary headers() const;

  // The auth client. With options.auth.accessToken set, each call first reports that using it
  // is a misconfiguration.
  auth::AuthClient& auth() const;

  // The database client, built on first use (once, also under concurrent first use).
  PostgrestClient database() const;
  PostgrestQueryBuilder from(std::string_view table) const;
  // database().rpc(...) with head and get false. Throws what encoding the params throws.
  template <class Params>
  PostgrestFilterBuilder rpc(std::string_view function, const Params& params,
                             std::optional<CountOption> count = std::nullopt) const;
  PostgrestFilterBuilder rpc(std::string_view function,
                             std::optional<CountOption> count = std::nullopt) const;
  PostgrestClient schema(std::string schema) const;

  // Passes an incoming URL (an OAuth redirect or a deep link) to auth().handle(url), so the
  // misconfiguration report of auth() applies. Returns at once; the auth client works in the
  // background.
  void handle(const boost::urls::url& url) const;

  // The edge-functions client, built on first use (once): functionsURL(), headers(),
  // options.functions.region and the global logger; its ordinary and streamed requests both
  // carry the signed-in user's token (or the API key without a session). Lives as long as the
  // facade.
  FunctionsClient& functions() const;

  // The older realtime client, built with the facade from realtimeURL() and headers() (which
  // also go out as the websocket URL's query); nothing connects until one of its channels
  // subscribes. Each new access token of the auth client reaches it through setAuth, also one
  // that another program sharing the session store stored (announced when this one next reads
  // the session); an event that changes no token reaches neither realtime client.
  const std::shared_ptr<realtime::RealtimeClient>& realtime() const;

  // The storage client, built on first use (once): storageURL(), headers(), the storage coders,
  // the global logger and options.storage.useNewHostname; every request it sends, uploads
  // included, carries the signed-in user's token (or the API key without a session). Lives as
  // long as the facade.
  storage::VoduzaziStorageClient& storage() const;

  // The second-generation realtime client, built on first use (once; the first auth event uses
  // it): realtimeURL(), options.realtime with the facade's headers laid over its own, the global
  // logger when it has none and, when it has no token function, one that asks
  // currentAccessToken() while the facade lives (a function of the caller's is kept, with a
  // warning). It connects when a channel subscribes. Lives as long as the facade.
  std::shared_ptr<realtime::RealtimeClientV2> realtimeV2() const;
  // The second-generation client's channels, its channel(name, options), and its removals (which
  // leave the channels and close its socket after the last one).
  std::vector<std::shared_ptr<realtime::RealtimeChannelV2>> channels() const;
  std::shared_ptr<realtime::RealtimeChannelV2> channel(
      std::string_view name,
      const std::function<void(realtime::RealtimeChannelConfig&)>& options = {}) const;
  void removeChannel(const std::shared_ptr<realtime::RealtimeChannelV2>& channel) const;
  void removeAllChannels() const;

  // The fetch step of the database, edge-functions and storage clients: sets
  // "Authorization: Bearer <token>" when currentAccessToken() gives a token (its errors count as
  // none), then sends with options.global.session. Transport errors are thrown unchanged.
  FetchResult sendAuthorized(const URLRequest& request) const;
  FetchResult uploadAuthorized(const URLRequest& request, const Data& body) const;
  // options.auth.accessToken's result when set, else the access token of the auth client's
  // session (refreshed first when it expires within 30 seconds). Throws what those throw.
  std::optional<std::string> currentAccessToken() const;

  // A snapshot of the lazily filled state.
  MutableState mutableState() const;

  // The library's headers of every facade: "X-Client-Info" and, when known, the platform's name
  // and version. Built once per process.
  static const HeaderDictionary& defaultClientHeaders();

  // The state behind the facade, held weakly by its task and fetch functions; internal.
  struct Core;

 private:
  std::shared_ptr<Core> core_;
};

// Implementation.

template <class Params>
PostgrestFilterBuilder VoduzaziClient::rpc(std::string_view function, const Params& params,
                                           std::optional<CountOption> count) const {
  return database().rpc(function, params, false, false, count);
}

}  // namespace voduzazi
