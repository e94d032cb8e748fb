#include "local_backend/http_message.hpp"

#include <boost/json/serialize.hpp>

namespace local_backend {

const std::string* RequestTarget::find(std::string_view name) const {
  for (const auto& [key, value] : query) {
    if (key == name) return &value;
  }
  return nullptr;
}

Response jsonResponse(const Request& request, http::status status, const boost::json::value& body) {
  Response response{status, request.version()};
  response.set(http::field::content_type, "application/json; charset=utf-8");
  response.keep_alive(request.keep_alive());
  response.body() = boost::json::serialize(body);
  response.prepare_payload();
  return response;
}

Response emptyResponse(const Request& request, http::status status) {
  Response response{status, request.version()};
  response.keep_alive(request.keep_alive());
  // A 204 must not carry a Content-Length; every other empty answer says 0.
  if (status != http::status::no_content) response.prepare_payload();
  return response;
}

}  // namespace local_backend
