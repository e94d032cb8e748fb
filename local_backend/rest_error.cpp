#include "local_backend/rest_error.hpp"

#include <boost/json/object.hpp>

namespace local_backend {

namespace {

boost::json::value optionalText(const std::optional<std::string>& text) {
  return text ? boost::json::value(*text) : boost::json::value(nullptr);
}

}  // namespace

RestError syntaxError(const std::string& message, std::optional<std::string> details) {
  return RestError(http::status::bad_request, "PGRST100", message, std::move(details));
}

Response restErrorResponse(const Request& request, const RestError& error) {
  // "details" is the protocol's key; our database client reads "detail".
  const boost::json::object body{{"code", error.code()},
                                 {"message", error.what()},
                                 {"details", optionalText(error.details())},
                                 {"detail", optionalText(error.details())},
                                 {"hint", optionalText(error.hint())}};
  return jsonResponse(request, error.status(), body);
}

}  // namespace local_backend
