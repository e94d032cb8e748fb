#include "voduzazi/postgrest/builder.hpp"

#include <optional>
#include <vector>

#include "voduzazi/helpers/logger_interceptor.hpp"
#include "voduzazi/postgrest/detail/field_names.hpp"

namespace voduzazi {
namespace {

std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptorsFor(
    const PostgrestClientConfiguration& configuration) {
  if (!configuration.logger()) return {};
  return {std::make_shared<LoggerInterceptor>(configuration.logger())};
}

bool readsRows(const HTTPMethod& method) {
  return method == HTTPMethod::get || method == HTTPMethod::head;
}

}  // namespace

PostgrestBuilder::Shared::Shared(std::shared_ptr<const Configuration> configuration,
                                 helpers::HTTPRequest request)
    : configuration(std::move(configuration)),
      http(this->configuration->fetch, interceptorsFor(*this->configuration)),
      mutableState(MutableState{std::move(request), FetchOptions()}) {}

PostgrestBuilder::PostgrestBuilder(Configuration configuration, helpers::HTTPRequest request)
    : PostgrestBuilder(std::make_shared<const Configuration>(std::move(configuration)),
                       std::move(request)) {}

PostgrestBuilder::PostgrestBuilder(std::shared_ptr<const Configuration> configuration,
                                   helpers::HTTPRequest request)
    : shared_(std::make_shared<Shared>(std::move(configuration), std::move(request))) {}

PostgrestBuilder& PostgrestBuilder::setHeader(std::string_view name, std::string_view value) {
  const HTTPField::Name fieldName(name);
  changeRequest([&](helpers::HTTPRequest& request) { request.headers.set(fieldName, value); });
  return *this;
}

helpers::HTTPRequest PostgrestBuilder::request() const {
  return changeRequest([](const helpers::HTTPRequest& request) { return request; });
}

PostgrestResponse<> PostgrestBuilder::execute(FetchOptions options) const {
  helpers::HTTPResponse response = send(options);
  auto http = response.underlyingResponse();
  return PostgrestResponse<>(std::move(response).data(), std::move(http));
}

helpers::HTTPResponse PostgrestBuilder::send(const FetchOptions& options) const {
  using namespace detail::postgrest_fields;
  const std::optional<std::string>& schema = configuration().schema;
  helpers::HTTPRequest prepared = shared_->mutableState.withValue([&](MutableState& state) {
    state.fetchOptions = options;
    helpers::HTTPRequest& request = state.request;
    if (options.count) {
      appendOrUpdate(request.headers, prefer, "count=" + std::string(toString(*options.count)));
    }
    if (!request.headers.contains(HTTPField::Name::accept)) {
      request.headers.set(HTTPField::Name::accept, "application/json");
    }
    request.headers.set(HTTPField::Name::contentType, "application/json");
    // HEAD belongs to this execution only: the builder keeps its own method for the next.
    helpers::HTTPRequest copy = request;
    if (options.head) copy.method = HTTPMethod::head;
    if (schema) copy.headers.set(readsRows(copy.method) ? acceptProfile : contentProfile, *schema);
    return copy;
  });
  helpers::HTTPResponse response = shared_->http.send(prepared);
  detail::throwIfUnsuccessful(response, *configuration().decoder);
  return response;
}

void PostgrestBuilder::logDecodingFailure(std::string_view typeName,
                                          const std::exception& error) const {
  if (const auto& logger = configuration().logger()) {
    logger->error("Fail to decode type '" + std::string(typeName) +
                  "' with error: " + error.what());
  }
}

namespace detail {

void throwIfUnsuccessful(const helpers::HTTPResponse& response, const JSONDecoder& decoder) {
  const int status = response.statusCode();
  if (status >= 200 && status <= 299) return;
  std::optional<PostgrestError> error;
  try {
    error = decoder.decode<PostgrestError>(response.data());
  } catch (const DecodingError&) {
    // Not the database's error record (a proxy's page, an empty or cut body): the raw answer.
  }
  if (error) throw *error;
  throw HTTPError(response.data(), response.underlyingResponse());
}

std::string unqualifiedTypeName(std::string_view demangled) {
  // The last "::" before the first template bracket ends the namespaces.
  const std::string_view head = demangled.substr(0, demangled.find('<'));
  const std::size_t colons = head.rfind("::");
  return std::string(colons == std::string_view::npos ? demangled : demangled.substr(colons + 2));
}

}  // namespace detail
}  // namespace voduzazi
