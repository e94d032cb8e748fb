#include "local_backend/realtime_service.hpp"

#include <boost/json/parse.hpp>
#include <boost/url/parse.hpp>

#include "local_backend/detail/realtime_session.hpp"
#include "local_backend/jwt.hpp"
#include "local_backend/realtime_frame.hpp"

namespace local_backend {

namespace json = boost::json;

RealtimeService::RealtimeService(Database& database, const TokenAuthority& tokens,
                                 RealtimeLimits limits)
    : tokens_(tokens), hub_(database, tokens, limits) {}

Response RealtimeService::handle(const Request& request, const RequestTarget& target) {
  if (target.path != "api/broadcast") {
    return gatewayError(request, http::status::not_found, "no Route matched with those values");
  }
  if (request.method() != http::verb::post) {
    return gatewayError(request, http::status::method_not_allowed, "Use POST to broadcast");
  }
  boost::system::error_code error;
  const json::value body = parseFrameJSON(request.body(), error);
  const auto* messages =
      !error && body.is_object() ? body.as_object().if_contains("messages") : nullptr;
  // One message may come as the object itself rather than in an array.
  if (messages == nullptr || !(messages->is_array() || messages->is_object())) {
    return gatewayError(request, http::status::bad_request,
                        "The body must be a JSON object with a \"messages\" array");
  }
  try {
    hub_.broadcast(messages->is_array() ? messages->as_array() : json::array{*messages});
  } catch (const FrameError& refused) {
    return gatewayError(request, http::status::bad_request, refused.what());
  }
  return emptyResponse(request, http::status::accepted);
}

void RealtimeService::upgrade(detail::PlainStream&& stream, Request&& request) {
  accept(std::move(stream), std::move(request));
}

void RealtimeService::upgrade(detail::TlsStream&& stream, Request&& request) {
  accept(std::move(stream), std::move(request));
}

void RealtimeService::stop() {
  for (auto socket : hub_.sockets()) hub_.detach(socket);
}

template <class Stream>
void RealtimeService::accept(Stream&& stream, Request&& request) {
  Admission admission = admit(request);
  if (admission.refusal) {
    return detail::refuseUpgrade(std::move(stream), std::move(*admission.refusal));
  }
  detail::startRealtimeSession(std::move(stream), std::move(request), hub_, admission.format,
                               std::move(admission.caller));
}

RealtimeService::Admission RealtimeService::admit(const Request& request) const {
  Admission admission;
  if (refusing_) {
    admission.refusal = gatewayError(request, http::status::service_unavailable,
                                     "The realtime service is unavailable");
    return admission;
  }
  const auto url = boost::urls::parse_origin_form(request.target());
  if (!url || url->path() != "/realtime/v1/websocket") {
    admission.refusal =
        gatewayError(request, http::status::not_found, "no Route matched with those values");
    return admission;
  }
  RequestTarget target;
  for (const auto& param : url->params()) target.query.emplace_back(param.key, param.value);
  const std::string key = apiKeyOf(request, target);
  if (key.empty() || !tokens_.isApiKey(key)) {
    admission.refusal =
        gatewayError(request, http::status::unauthorized,
                     key.empty() ? "No API key found in request" : "Invalid API key");
    return admission;
  }
  const auto* vsn = target.find("vsn");
  const auto format = frameFormatOf(vsn ? *vsn : "1.0.0");
  if (!format) {
    admission.refusal = gatewayError(request, http::status::bad_request,
                                     "Unsupported protocol version \"" + *vsn + "\"");
    return admission;
  }
  admission.format = *format;
  admission.caller = tokens_.callerFromToken(key);
  return admission;
}

}  // namespace local_backend
