// The HTTP messages the services see, and builders for their JSON and empty responses.
//
//   Response r = jsonResponse(request, http::status::ok, boost::json::object{{"ok", true}});
//   Response e = emptyResponse(request, http::status::no_content);
#pragma once

#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/json/value.hpp>
#include <string>
#include <utility>
#include <vector>

namespace local_backend {

namespace http = boost::beast::http;

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
// A response whose body is sent from a file as it is read.
using FileResponse = http::response<http::file_body>;

// The request target split for a service: the path below the service's prefix ("signup",
// "messages") and the query items, percent-decoded, in their order.
struct RequestTarget {
  std::string path;
  std::vector<std::pair<std::string, std::string>> query;

  // The value of the first query item of that name, or nullptr.
  const std::string* find(std::string_view name) const;
};

// A response with the request's HTTP version and keep-alive, "Content-Type: application/json".
Response jsonResponse(const Request& request, http::status status, const boost::json::value& body);

// A response without a body ("Content-Length: 0", none at all for 204).
Response emptyResponse(const Request& request, http::status status);

}  // namespace local_backend
