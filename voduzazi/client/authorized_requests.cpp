#include <algorithm>
#include <cctype>

#include "voduzazi/client/detail/client_core.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"

namespace voduzazi {
namespace {

bool isAuthorization(const std::string& name) {
  constexpr std::string_view authorization = "authorization";
  return std::equal(
      name.begin(), name.end(), authorization.begin(), authorization.end(),
      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

std::optional<std::string> VoduzaziClient::Core::currentAccessToken() const {
  if (options.auth.accessToken) return options.auth.accessToken();
  return auth->session().accessToken;
}

URLRequest VoduzaziClient::Core::authorizing(URLRequest request) const {
  std::optional<std::string> token;
  try {
    if (const auto pass = gate->enter()) token = currentAccessToken();
  } catch (const CancellationError&) {
    throw;
  } catch (...) {
    // No session, or none to be had: the request keeps the API key's bearer.
  }
  if (!token) return request;
  std::erase_if(request.headerFields,
                [](const auto& field) { return isAuthorization(field.first); });
  request.headerFields.emplace_back("Authorization", "Bearer " + *token);
  return request;
}

namespace detail {

FetchHandler authorizedFetch(std::weak_ptr<VoduzaziClient::Core> core, HTTPSession session) {
  return [core = std::move(core), send = std::move(session.data)](const URLRequest& request) {
    // A builder may outlive the facade; it then sends with the headers it was made with.
    if (const auto alive = core.lock()) return send(alive->authorizing(request));
    return send(request);
  };
}

UploadHandler authorizedUpload(std::weak_ptr<VoduzaziClient::Core> core, UploadHandler upload) {
  return [core = std::move(core), send = std::move(upload)](const URLRequest& request,
                                                            const Data& body) {
    if (const auto alive = core.lock()) return send(alive->authorizing(request), body);
    return send(request, body);
  };
}

StreamHandler authorizedStream(std::weak_ptr<VoduzaziClient::Core> core, StreamHandler stream) {
  return [core = std::move(core), send = std::move(stream)](
             const URLRequest& request, const URLSession::ChunkHandler& onChunk,
             const URLSession::ResponseHandler& onResponse) {
    if (const auto alive = core.lock()) {
      return send(alive->authorizing(request), onChunk, onResponse);
    }
    return send(request, onChunk, onResponse);
  };
}

}  // namespace detail
}  // namespace voduzazi
