#include "voduzazi/client/voduzazi_client.hpp"

#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/client/detail/client_core.hpp"
#include "voduzazi/concurrency/detail/wait_for_end.hpp"
#include "voduzazi/helpers/version.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi {
namespace {

constexpr std::string_view accessTokenMisuse =
    "Voduzazi Client is configured with the auth.accessToken option,\n"
    "accessing voduzazi.auth is not possible.";

HTTPFields mergedHeaders(const std::string& key, const HeaderDictionary& global) {
  HTTPFields headers = makeHTTPFields(VoduzaziClient::defaultClientHeaders());
  merge(headers, makeHTTPFields({{"Authorization", "Bearer " + key}, {"Apikey", key}}));
  merge(headers, makeHTTPFields(global));
  return headers;
}

std::unique_ptr<auth::AuthClient> makeAuthClient(const VoduzaziClient::Core& core) {
  const VoduzaziClientOptions& options = core.options;
  auth::AuthClientConfiguration::Options configuration;
  configuration.url = core.authURL;
  configuration.headers = core.headerDictionary;
  configuration.flowType = options.auth.flowType;
  configuration.redirectToURL = options.auth.redirectToURL;
  configuration.storageKey = core.storageKey;
  configuration.localStorage = options.auth.storage;
  configuration.logger = core.gatedLogger;
  configuration.encoder = options.auth.encoder;
  configuration.decoder = options.auth.decoder;
  // The auth client's own requests never pass through the facade's token step. Its refreshes
  // may run in tasks of their own, hence the gate.
  configuration.fetch = detail::gatedFetch(core.gate, options.global.session.data);
  configuration.autoRefreshToken = options.auth.autoRefreshToken;
  return std::make_unique<auth::AuthClient>(auth::AuthClientConfiguration(configuration));
}

std::shared_ptr<realtime::RealtimeClient> makeRealtimeClient(const VoduzaziClient::Core& core) {
  // Every merged header also goes out as a query item of the websocket URL.
  JSONObject params;
  for (const auto& [name, value] : core.headerDictionary) params.emplace(name, value);
  return realtime::RealtimeClient::make(std::string(core.realtimeURL.buffer()),
                                        core.headerDictionary, std::move(params));
}

}  // namespace

VoduzaziClient::Core::Core(boost::urls::url url, std::string key, VoduzaziClientOptions options)
    : options(std::move(options)),
      voduzaziURL(std::move(url)),
      voduzaziKey(std::move(key)),
      storageURL(serviceURL(voduzaziURL, "/storage/v1")),
      databaseURL(serviceURL(voduzaziURL, "/rest/v1")),
      functionsURL(serviceURL(voduzaziURL, "/functions/v1")),
      authURL(serviceURL(voduzaziURL, "/auth/v1")),
      realtimeURL(serviceURL(voduzaziURL, "/realtime/v1")),
      storageKey(this->options.auth.storageKey.value_or(defaultStorageKey(voduzaziURL))),
      headers(mergedHeaders(voduzaziKey, this->options.global.headers)),
      headerDictionary(dictionary(headers)),
      gatedLogger(detail::gatedLogger(gate, this->options.global.logger)) {
  auth = makeAuthClient(*this);
  realtime = makeRealtimeClient(*this);
}

VoduzaziClient::Core::~Core() {
  if (auto task = mutableState.get(&MutableState::listenForAuthEventsTask)) task->cancel();
}

void VoduzaziClient::Core::close() {
  gate->close();
  auth::Dependencies::get(auth->clientID()).eventEmitter.close();
  const auto task = mutableState.get(&MutableState::listenForAuthEventsTask);
  if (task) task->cancel();
  // The auth client's own background work (auto-refresh, refreshes) reaches the caller's store
  // beside the gate: it ends here, a refresh whose request went out once its answer is stored.
  // It waits unless this thread is part of that work.
  auth->close();
  // Released from inside that work (one of its listeners, say), the release cannot wait for it:
  // the work ends by itself, and the closed gate keeps it from the caller's transport and logger.
  if (detail::isPartOfBackgroundWork(*this)) return;
  if (task) voduzazi::detail::waitForEnd(*task);
  gate->waitUntilIdle();
}

PostgrestClient VoduzaziClient::Core::database() {
  return mutableState.withValue([&](MutableState& state) {
    if (!state.rest) {
      state.rest.emplace(databaseURL, options.db.schema, headerDictionary, options.global.logger,
                         detail::authorizedFetch(self, options.global.session), options.db.encoder,
                         options.db.decoder);
    }
    return *state.rest;
  });
}

VoduzaziClient::VoduzaziClient(std::string_view voduzaziURL, std::string voduzaziKey,
                               VoduzaziClientOptions options)
    : VoduzaziClient(parseProjectURL(voduzaziURL), std::move(voduzaziKey), std::move(options)) {}

VoduzaziClient::VoduzaziClient(const boost::urls::url& voduzaziURL, std::string voduzaziKey,
                               VoduzaziClientOptions options) {
  checkProjectURL(voduzaziURL);
  core_ = std::make_shared<Core>(voduzaziURL, std::move(voduzaziKey), std::move(options));
  core_->self = core_;
  if (!core_->options.auth.accessToken) {
    Task<void> task = detail::forwardAuthEvents(core_);
    core_->mutableState.withValue(
        [&](MutableState& state) { state.listenForAuthEventsTask = task; });
  }
}

VoduzaziClient::~VoduzaziClient() {
  // Nothing the facade started may reach the caller's transport, logger or listeners once this
  // returns.
  core_->close();
}

const VoduzaziClientOptions& VoduzaziClient::options() const { return core_->options; }
const boost::urls::url& VoduzaziClient::voduzaziURL() const { return core_->voduzaziURL; }
const std::string& VoduzaziClient::voduzaziKey() const { return core_->voduzaziKey; }
const boost::urls::url& VoduzaziClient::authURL() const { return core_->authURL; }
const boost::urls::url& VoduzaziClient::databaseURL() const { return core_->databaseURL; }
const boost::urls::url& VoduzaziClient::storageURL() const { return core_->storageURL; }
const boost::urls::url& VoduzaziClient::functionsURL() const { return core_->functionsURL; }
const boost::urls::url& VoduzaziClient::realtimeURL() const { return core_->realtimeURL; }
const std::string& VoduzaziClient::storageKey() const { return core_->storageKey; }
HeaderDictionary VoduzaziClient::headers() const { return core_->headerDictionary; }

auth::AuthClient& VoduzaziClient::auth() const {
  if (core_->options.auth.accessToken) reportIssue(std::string(accessTokenMisuse));
  return *core_->auth;
}

const std::shared_ptr<realtime::RealtimeClient>& VoduzaziClient::realtime() const {
  return core_->realtime;
}

void VoduzaziClient::handle(const boost::urls::url& url) const { auth().handle(url); }

FunctionsClient& VoduzaziClient::Core::functions() {
  return *mutableState.withValue([&](MutableState& state) {
    if (!state.functions) {
      state.functions = std::make_shared<FunctionsClient>(
          functionsURL, headerDictionary, options.functions.region, options.global.logger,
          detail::authorizedFetch(self, options.global.session),
          detail::authorizedStream(self, defaultStreamHandler()));
    }
    return state.functions;
  });
}

storage::VoduzaziStorageClient& VoduzaziClient::Core::storage() {
  return *mutableState.withValue([&](MutableState& state) {
    if (!state.storage) {
      storage::StorageClientConfiguration configuration{
          .url = storageURL,
          .headers = headerDictionary,
          .encoder = storage::defaultStorageEncoder(),
          .decoder = storage::defaultStorageDecoder(),
          .session = storage::StorageHTTPSession(
              detail::authorizedFetch(self, options.global.session),
              detail::authorizedUpload(self, options.global.session.upload)),
          .logger = options.global.logger,
          .useNewHostname = options.storage.useNewHostname};
      state.storage = std::make_shared<storage::VoduzaziStorageClient>(std::move(configuration));
    }
    return state.storage;
  });
}

PostgrestClient VoduzaziClient::database() const { return core_->database(); }

storage::VoduzaziStorageClient& VoduzaziClient::storage() const { return core_->storage(); }

FunctionsClient& VoduzaziClient::functions() const { return core_->functions(); }

PostgrestQueryBuilder VoduzaziClient::from(std::string_view table) const {
  return database().from(table);
}

PostgrestFilterBuilder VoduzaziClient::rpc(std::string_view function,
                                           std::optional<CountOption> count) const {
  return database().rpc(function, false, false, count);
}

PostgrestClient VoduzaziClient::schema(std::string schema) const {
  return database().schema(std::move(schema));
}

FetchResult VoduzaziClient::sendAuthorized(const URLRequest& request) const {
  return core_->options.global.session.data(core_->authorizing(request));
}

FetchResult VoduzaziClient::uploadAuthorized(const URLRequest& request, const Data& body) const {
  return core_->options.global.session.upload(core_->authorizing(request), body);
}

std::optional<std::string> VoduzaziClient::currentAccessToken() const {
  return core_->currentAccessToken();
}

VoduzaziClient::MutableState VoduzaziClient::mutableState() const {
  return core_->mutableState.value();
}

const HeaderDictionary& VoduzaziClient::defaultClientHeaders() {
  static const HeaderDictionary headers = [] {
    HeaderDictionary built{{"X-Client-Info", "voduzazi-cpp/" + std::string(version)}};
    if (platform) built.emplace("X-Voduzazi-Client-Platform", std::string(*platform));
    if (const auto& release = platformVersion()) {
      built.emplace("X-Voduzazi-Client-Platform-Version", *release);
    }
    return built;
  }();
  return headers;
}

}  // namespace voduzazi
