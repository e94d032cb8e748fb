#include "local_backend/functions_service.hpp"

#include <algorithm>
#include <boost/json/object.hpp>
#include <charconv>
#include <thread>

namespace local_backend {
namespace {

// The query item as a number in [low, high]; `fallback` when absent or not a number.
long numberOf(const RequestTarget& target, std::string_view name, long fallback, long low,
              long high) {
  const std::string* text = target.find(name);
  if (text == nullptr) return fallback;
  long value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return fallback;
  return std::clamp(value, low, high);
}

Response textResponse(const Request& request, http::status status, std::string body) {
  Response response{status, request.version()};
  response.keep_alive(request.keep_alive());
  response.set(http::field::content_type, "text/plain");
  response.body() = std::move(body);
  response.prepare_payload();
  return response;
}

Response echo(const Request& request, const RequestTarget& target) {
  boost::json::object query;
  for (const auto& [name, value] : target.query) query[name] = value;
  boost::json::object headers;
  for (const auto& field : request) {
    std::string name(field.name_string());
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    headers[name] = std::string(field.value());
  }
  return jsonResponse(request, http::status::ok,
                      boost::json::object{{"method", std::string(request.method_string())},
                                          {"query", std::move(query)},
                                          {"headers", std::move(headers)},
                                          {"body", request.body()}});
}

Response status(const Request& request, const RequestTarget& target) {
  const auto number = static_cast<unsigned>(numberOf(target, "code", 200, 200, 599));
  const auto code = http::int_to_status(number);
  // These answers have no body.
  const bool bodiless = code == http::status::no_content || code == http::status::not_modified;
  Response response =
      bodiless ? emptyResponse(request, code)
               : textResponse(request, code, "status " + std::to_string(number));
  response.result(number);  // also a code without a name, such as 299
  if (const auto* relay = target.find("relay"); relay != nullptr && *relay == "true") {
    response.set("x-relay-error", "true");
  }
  return response;
}

}  // namespace

Response FunctionsService::handle(const Request& request, const RequestTarget& target) {
  if (target.path == "echo") return echo(request, target);
  if (target.path == "status") return status(request, target);
  if (target.path == "slow") {
    std::this_thread::sleep_for(std::chrono::milliseconds(numberOf(target, "ms", 200, 0, 10000)));
    return textResponse(request, http::status::ok, "done");
  }
  return jsonResponse(request, http::status::not_found,
                      boost::json::object{{"message", "Function not found"}});
}

std::optional<StreamedReply> FunctionsService::streamed(const Request& request,
                                                        const RequestTarget& target) {
  if (target.path != "stream") return std::nullopt;
  StreamedReply reply{textResponse(request, http::status::ok, {}), {},
                      std::chrono::milliseconds(numberOf(target, "pause_ms", 50, 0, 60000))};
  const long count = numberOf(target, "count", 3, 0, 1000);
  for (long i = 0; i < count; ++i) reply.chunks.push_back("chunk " + std::to_string(i) + "\n");
  return reply;
}

}  // namespace local_backend
