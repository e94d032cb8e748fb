#include "local_backend/router.hpp"

#include <boost/json/object.hpp>
#include <boost/url/parse.hpp>
#include <cctype>
#include <cstdio>
#include <exception>

#include "local_backend/detail/utf8.hpp"

namespace local_backend {

namespace {

std::optional<RequestTarget> parseTarget(std::string_view target) {
  const auto url = boost::urls::parse_origin_form(target);
  if (!url) return std::nullopt;
  RequestTarget parsed;
  parsed.path = url->path();
  for (const auto& param : url->params()) {
    if (!detail::isValidUtf8(param.key) || !detail::isValidUtf8(param.value)) {
      return std::nullopt;
    }
    parsed.query.emplace_back(param.key, param.value);
  }
  if (!detail::isValidUtf8(parsed.path)) return std::nullopt;
  return parsed;
}

// "/rest/v1/messages" below "/rest/v1" is "messages"; the prefix must end at a segment boundary.
std::optional<std::string> below(const std::string& path, const std::string& prefix) {
  if (path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  if (path.size() == prefix.size()) return std::string();
  if (path[prefix.size()] != '/') return std::nullopt;
  return path.substr(prefix.size() + 1);
}

// A HEAD answer announces its length but carries no body, or a kept-alive connection would read
// the body as the start of the next answer. One already without body keeps the length it set.
Response fitForMethod(const Request& request, Response response) {
  if (request.method() != http::verb::head || response.body().empty()) return response;
  const auto length = response.body().size();
  response.body().clear();
  response.content_length(length);
  return response;
}

}  // namespace

std::string apiKeyOf(const Request& request, const RequestTarget& target) {
  if (const auto header = request.find("apikey"); header != request.end()) {
    return std::string(header->value());
  }
  if (const auto* query = target.find("apikey")) return *query;
  return {};
}

std::string bearerTokenOf(std::string_view authorization) {
  constexpr std::string_view kScheme = "bearer ";
  if (authorization.size() <= kScheme.size()) return {};
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(authorization[i])) != kScheme[i]) return {};
  }
  return std::string(authorization.substr(kScheme.size()));
}

Response gatewayError(const Request& request, http::status status, std::string_view message,
                      std::string_view hint) {
  boost::json::object body{{"message", message}};
  if (!hint.empty()) body["hint"] = hint;
  return jsonResponse(request, status, body);
}

void Router::mount(std::string prefix, std::shared_ptr<ServiceHandler> service) {
  mounts_.push_back(Mount{std::move(prefix), std::move(service)});
}

template <class Call>
Response Router::dispatch(const Request& request, Call&& call) const {
  auto target = parseTarget(request.target());
  if (!target) {
    return gatewayError(request, http::status::bad_request,
                        "The request target is not a valid URL path and query");
  }
  auto resolved = resolve(*target);
  if (!resolved) {
    return gatewayError(request, http::status::not_found, "no Route matched with those values");
  }
  const Mount* chosen = resolved->mount;
  target = std::move(resolved->target);
  // Public requests too: a failure that left here would end the listener's thread.
  const auto guarded = [&] {
    try {
      return call(*chosen->service, *target);
    } catch (const std::exception& error) {
      // The reason goes to the operator; the client learns nothing about the internals.
      std::fprintf(stderr, "local backend: %s %s failed: %s\n",
                   std::string(request.method_string()).c_str(), chosen->prefix.c_str(),
                   error.what());
      return gatewayError(request, http::status::internal_server_error,
                          "An unexpected error occurred");
    }
  };
  Response response = [&] {
    const std::string key = apiKeyOf(request, *target);
    if (key.empty() && chosen->service->isPublic(request, *target)) return guarded();
    if (key.empty()) {
      return gatewayError(request, http::status::unauthorized, "No API key found in request",
                          "No `apikey` request header or url param was found.");
    }
    if (!tokens_.isApiKey(key)) {
      return gatewayError(request, http::status::unauthorized, "Invalid API key",
                          "Double check the `anon` or `service_role` API key of this server.");
    }
    return guarded();
  }();
  chosen->service->finish(response);
  return response;
}

Response Router::route(const Request& request) const {
  return fitForMethod(request,
                      dispatch(request, [&](ServiceHandler& service, const RequestTarget& target) {
                        return service.handle(request, target);
                      }));
}

Response Router::routeSpooled(const Request& head, const std::filesystem::path& body) const {
  return fitForMethod(head,
                      dispatch(head, [&](ServiceHandler& service, const RequestTarget& target) {
                        return service.handleSpooled(head, body, target);
                      }));
}

std::optional<Router::Resolved> Router::resolve(const RequestTarget& target) const {
  std::optional<Resolved> chosen;
  for (const auto& mount : mounts_) {
    auto sub = below(target.path, mount.prefix);
    if (sub && (!chosen || mount.prefix.size() > chosen->mount->prefix.size())) {
      chosen = Resolved{&mount, target};
      chosen->target.path = std::move(*sub);
    }
  }
  return chosen;
}

std::optional<Router::Resolved> Router::admit(const Request& request) const {
  const auto target = parseTarget(request.target());
  if (!target) return std::nullopt;
  auto resolved = resolve(*target);
  if (!resolved) return std::nullopt;
  const std::string key = apiKeyOf(request, resolved->target);
  const bool admitted = key.empty() ? resolved->mount->service->isPublic(request, resolved->target)
                                    : tokens_.isApiKey(key);
  if (!admitted) return std::nullopt;
  return resolved;
}

std::optional<StreamedReply> Router::streamed(const Request& request) const {
  const auto target = parseTarget(request.target());
  if (!target) return std::nullopt;
  const auto resolved = resolve(*target);
  if (!resolved || !tokens_.isApiKey(apiKeyOf(request, resolved->target))) return std::nullopt;
  try {
    return resolved->mount->service->streamed(request, resolved->target);
  } catch (const std::exception&) {
    return std::nullopt;  // route() answers, and reports the failure
  }
}

std::optional<BodySpool> Router::spoolFor(const Request& head) const {
  const auto resolved = admit(head);
  if (!resolved) return std::nullopt;
  return resolved->mount->service->spoolFor(head, resolved->target);
}

std::optional<FileResponse> Router::fileReply(const Request& request) const {
  const auto resolved = admit(request);
  if (!resolved) return std::nullopt;
  try {
    return resolved->mount->service->fileReply(request, resolved->target);
  } catch (const std::exception&) {
    return std::nullopt;  // route() answers, and reports the failure
  }
}

}  // namespace local_backend
