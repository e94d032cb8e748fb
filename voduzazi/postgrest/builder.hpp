// PostgrestBuilder: the root of the database request builders. It holds one request while the
// query, transform and filter builders shape it, and executes it: prepares the headers, sends it
// through its own HTTPClient on the caller's thread, turns an unsuccessful status into an error
// and returns the body, the count and, when asked, the rows decoded into the caller's type.
//
//   PostgrestResponse<std::vector<Message>> rows =
//       client.from("messages").select().eq("receiver_id", me).execute<std::vector<Message>>();
//   PostgrestResponse<> raw = client.from("messages").select().execute();   // bytes only
//   auto heads = builder.execute(FetchOptions{.head = true, .count = CountOption::exact});
#pragma once

#include <boost/core/demangle.hpp>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>

#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/http_error.hpp"
#include "voduzazi/helpers/http_request.hpp"
#include "voduzazi/postgrest/configuration.hpp"
#include "voduzazi/postgrest/options.hpp"
#include "voduzazi/postgrest/response.hpp"

namespace voduzazi {

// A handle: copies share one builder (its request, fetch options and HTTP client), so an
// operation on any copy changes them all. Shared objects: safe; every change of the request
// takes the builder's lock, and execution sends a prepared copy outside it.
class PostgrestBuilder {
 public:
  using Configuration = PostgrestClientConfiguration;

  struct MutableState {
    helpers::HTTPRequest request;
    FetchOptions fetchOptions;
  };

  // Owns a new HTTPClient on configuration.fetch, with a LoggerInterceptor when a logger is set.
  PostgrestBuilder(Configuration configuration, helpers::HTTPRequest request);
  // The same on a configuration copy that other builders may share (it never changes).
  PostgrestBuilder(std::shared_ptr<const Configuration> configuration,
                   helpers::HTTPRequest request);

  // Replaces every field of that name. Throws http_types::InvalidFieldNameError for a name that
  // is not an HTTP token; nothing is changed then.
  PostgrestBuilder& setHeader(std::string_view name, std::string_view value);

  // Executes without decoding: the body, the response and the count. Throws PostgrestError for
  // a status outside 200-299 whose body is the database's error record, HTTPError for any other
  // unsuccessful answer, and rethrows transport errors (URLError, CancellationError) unchanged.
  PostgrestResponse<> execute(FetchOptions options = {}) const;

  // As execute(), then decodes the body as T with the configured decoder; a DecodingError is
  // logged (when a logger is set) and rethrown.
  template <class T>
  PostgrestResponse<T> execute(FetchOptions options = {}) const;

  // As execute(), then turns the body into T with `decode` (Data -> T); its errors pass through.
  template <class T, class Decode>
  PostgrestResponse<T> execute(FetchOptions options, Decode&& decode) const;

  // The configuration copy the builder was made with.
  const Configuration& configuration() const noexcept { return *shared_->configuration; }
  // A copy of the request as it stands.
  helpers::HTTPRequest request() const;

 protected:
  // For builders handing their request on: the configuration without a copy.
  const std::shared_ptr<const Configuration>& sharedConfiguration() const noexcept {
    return shared_->configuration;
  }

  // Runs `change` on the stored request under the builder's lock and returns its result.
  template <class Change>
  decltype(auto) changeRequest(Change&& change) const {
    return shared_->mutableState.withValue(
        [&](MutableState& state) -> decltype(auto) { return change(state.request); });
  }

 private:
  struct Shared {
    Shared(std::shared_ptr<const Configuration> configuration, helpers::HTTPRequest request);

    std::shared_ptr<const Configuration> configuration;
    HTTPClient http;
    LockIsolated<MutableState> mutableState;
  };

  // Prepares, sends and checks the status; returns the successful response.
  helpers::HTTPResponse send(const FetchOptions& options) const;

  void logDecodingFailure(std::string_view typeName, const std::exception& error) const;

  std::shared_ptr<Shared> shared_;
};

namespace detail {

// Returns when the status is 200-299. Otherwise throws the PostgrestError the body holds, or,
// when the body is not one, HTTPError with the body and the response.
void throwIfUnsuccessful(const helpers::HTTPResponse& response, const JSONDecoder& decoder);

// The name of a type without its namespaces ("vector<app::Message>" for std::vector).
std::string unqualifiedTypeName(std::string_view demangled);

}  // namespace detail

// Implementation.

template <class T>
PostgrestResponse<T> PostgrestBuilder::execute(FetchOptions options) const {
  return execute<T>(options, [this](const Data& data) {
    try {
      return configuration().decoder->template decode<T>(data);
    } catch (const DecodingError& error) {
      logDecodingFailure(detail::unqualifiedTypeName(boost::core::demangle(typeid(T).name())),
                         error);
      throw;
    }
  });
}

template <class T, class Decode>
PostgrestResponse<T> PostgrestBuilder::execute(FetchOptions options, Decode&& decode) const {
  helpers::HTTPResponse response = send(options);
  T value = std::forward<Decode>(decode)(response.data());
  auto http = response.underlyingResponse();
  return PostgrestResponse<T>(std::move(response).data(), std::move(http), std::move(value));
}

}  // namespace voduzazi
