#include "voduzazi/postgrest/client.hpp"

#include <boost/algorithm/string/predicate.hpp>
#include <initializer_list>
#include <utility>
#include <vector>

#include "voduzazi/postgrest/detail/field_names.hpp"

namespace voduzazi {
namespace {

// The URL with each component appended to its path as one escaped segment.
boost::urls::url appendingPath(const boost::urls::url& base,
                               std::initializer_list<std::string_view> components) {
  boost::urls::url url = base;
  auto segments = url.segments();
  // A trailing slash leaves an empty last segment, which the first component takes over.
  if (!segments.empty() && segments.back().empty()) segments.pop_back();
  for (std::string_view component : components) segments.push_back(component);
  return url;
}

helpers::HTTPRequest requestFor(const PostgrestClientConfiguration& configuration,
                                boost::urls::url url, HTTPMethod method,
                                std::optional<Data> body = std::nullopt) {
  return helpers::HTTPRequest(std::move(url), std::move(method), {},
                              makeHTTPFields(configuration.headers), std::move(body));
}

// Removes the entries named `name` in any letter case, so a header is never sent twice.
void eraseHeader(HeaderDictionary& headers, std::string_view name) {
  std::erase_if(headers, [&](const auto& entry) { return boost::iequals(entry.first, name); });
}

bool holdsHeader(const HeaderDictionary& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (boost::iequals(key, name)) return true;
  }
  return false;
}

// Query items of rpc parameters sent with GET or HEAD, in the object's order.
std::vector<URLQueryItem> parameterItems(const boost::json::value& params) {
  const boost::json::object* object = params.if_object();
  if (!object) {
    throw PostgrestError(std::nullopt, std::nullopt, std::nullopt,
                         "Params should be a key-value type when using `GET` or `HEAD` options.");
  }
  std::vector<URLQueryItem> items;
  for (const auto& member : *object) {
    items.push_back({std::string(member.key()),
                     PostgrestFilterValue(AnyJSON::fromJSON(member.value())).rawValue()});
  }
  return items;
}

}  // namespace

PostgrestClient::PostgrestClient(Configuration configuration)
    : configuration_(std::make_shared<LockIsolated<Configuration>>(std::move(configuration))) {
  configuration_->withValue([](Configuration& value) {
    for (const auto& [name, text] : Configuration::defaultHeaders()) {
      // A caller's own value wins, whatever the letter case of its name.
      if (!holdsHeader(value.headers, name)) value.headers.emplace(name, text);
    }
  });
}

PostgrestClient::PostgrestClient(boost::urls::url url, std::optional<std::string> schema,
                                 HeaderDictionary headers, std::shared_ptr<VoduzaziLogger> logger,
                                 FetchHandler fetch, std::shared_ptr<JSONEncoder> encoder,
                                 std::shared_ptr<JSONDecoder> decoder)
    : PostgrestClient(Configuration(std::move(url), std::move(schema), std::move(headers),
                                    std::move(logger), std::move(fetch), std::move(encoder),
                                    std::move(decoder))) {}

PostgrestClient::PostgrestClient(boost::urls::url url, std::optional<std::string> schema,
                                 HeaderDictionary headers, FetchHandler fetch,
                                 std::shared_ptr<JSONEncoder> encoder,
                                 std::shared_ptr<JSONDecoder> decoder)
    : PostgrestClient(url, std::move(schema), std::move(headers), nullptr, std::move(fetch),
                      std::move(encoder), std::move(decoder)) {}

PostgrestClient::Configuration PostgrestClient::configuration() const {
  return configuration_->value();
}

PostgrestClient& PostgrestClient::setAuth(std::optional<std::string> token) {
  configuration_->withValue([&](Configuration& value) {
    eraseHeader(value.headers, "Authorization");
    if (token) value.headers.emplace("Authorization", "Bearer " + *token);
  });
  return *this;
}

PostgrestQueryBuilder PostgrestClient::from(std::string_view table) const {
  Configuration configuration = this->configuration();
  helpers::HTTPRequest request =
      requestFor(configuration, appendingPath(configuration.url, {table}), HTTPMethod::get);
  return PostgrestQueryBuilder(std::move(configuration), std::move(request));
}

PostgrestFilterBuilder PostgrestClient::rpc(std::string_view function, bool head, bool get,
                                            std::optional<CountOption> count) const {
  return rpc(function, NoParams(), head, get, count);
}

PostgrestFilterBuilder PostgrestClient::rpcRequest(std::string_view function,
                                                   const std::optional<boost::json::value>& params,
                                                   bool head, bool get,
                                                   std::optional<CountOption> count) const {
  Configuration configuration = this->configuration();
  boost::urls::url url = appendingPath(configuration.url, {"rpc", function});
  HTTPMethod method = HTTPMethod::post;
  std::optional<Data> body;
  if (head || get) {
    method = head ? HTTPMethod::head : HTTPMethod::get;
    if (params) appendQueryItems(url, parameterItems(*params));
  } else if (params) {
    body = configuration.encoder->write(*params);
  }
  helpers::HTTPRequest request =
      requestFor(configuration, std::move(url), std::move(method), std::move(body));
  if (count) {
    request.headers.set(detail::postgrest_fields::prefer, "count=" + std::string(toString(*count)));
  }
  return PostgrestFilterBuilder(std::move(configuration), std::move(request));
}

PostgrestClient PostgrestClient::schema(std::string schema) const {
  Configuration configuration = this->configuration();
  configuration.schema = std::move(schema);
  return PostgrestClient(std::move(configuration));
}

}  // namespace voduzazi
