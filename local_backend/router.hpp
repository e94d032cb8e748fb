// Dispatch of every request to the service mounted under the longest matching path prefix,
// behind the gateway's API-key check.
//
//   Router router(tokens);
//   router.mount("/auth/v1", authService);
//   router.mount("/rest/v1", restService);
//   Response response = router.route(request);
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "local_backend/http_message.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

// A reply whose body goes out in pieces (chunked), with a pause before each piece.
struct StreamedReply {
  Response head;
  std::vector<std::string> chunks;
  std::chrono::milliseconds pause{0};
};

// Where the listener streams a request body instead of holding it: a file in `folder`, refused
// (413) beyond `maxBytes`.
struct BodySpool {
  std::filesystem::path folder;
  std::uint64_t maxBytes = 0;
};

// One backend service (authentication, REST, ...). Thread safety: handle() is called from
// several worker threads at once. Lifetime: shared by the router.
class ServiceHandler {
 public:
  virtual ~ServiceHandler() = default;

  // Answers one request whose key the gateway has accepted. May throw; the router then answers
  // 500 without details.
  virtual Response handle(const Request& request, const RequestTarget& target) = 0;

  // True for the few requests a browser makes without an API key (a sign-in page); the gateway
  // then lets them through without one.
  virtual bool isPublic(const Request&, const RequestTarget&) const { return false; }

  // Adjusts every response under this service's prefix, the gateway's refusals included.
  virtual void finish(Response&) const {}
  // A reply to send piece by piece instead of handle()'s, for a request with a valid key.
  virtual std::optional<StreamedReply> streamed(const Request&, const RequestTarget&) {
    return std::nullopt;
  }
  // Where the body of this request goes when it is streamed to disk; nothing reads it into
  // memory (within the listener's body limit). Asked with the head only, before the body.
  virtual std::optional<BodySpool> spoolFor(const Request&, const RequestTarget&) const {
    return std::nullopt;
  }
  // Answers a request whose body the listener streamed to the file `body` (the request's own
  // body is empty). The file is removed after the answer unless the service moved it away.
  virtual Response handleSpooled(const Request& head, const std::filesystem::path&,
                                 const RequestTarget& target) {
    return handle(head, target);
  }
  // A reply whose body is sent from a file, for a request the gateway admits; nothing lets
  // handle() answer (refusals included). finish() does not see these replies.
  virtual std::optional<FileResponse> fileReply(const Request&, const RequestTarget&) {
    return std::nullopt;
  }
};

// Thread safety: mount() before serving; route() is safe from any thread. Lifetime: the server's.
class Router {
 public:
  explicit Router(const TokenAuthority& tokens) : tokens_(tokens) {}

  void mount(std::string prefix, std::shared_ptr<ServiceHandler> service);

  // Never throws: malformed targets, missing or invalid keys and unknown paths get 4xx bodies,
  // a failing service a 500.
  Response route(const Request& request) const;
  // The streamed reply of the service the request is for, when it has one and the request
  // carries a valid API key; nothing otherwise (route() then answers).
  std::optional<StreamedReply> streamed(const Request& request) const;
  // The spool of the service the head is for, when the gateway admits the request.
  std::optional<BodySpool> spoolFor(const Request& head) const;
  // As route(), for a request whose body is in the file `body`.
  Response routeSpooled(const Request& head, const std::filesystem::path& body) const;
  // The file reply of the service the request is for, when the gateway admits the request.
  std::optional<FileResponse> fileReply(const Request& request) const;

 private:
  struct Mount {
    std::string prefix;
    std::shared_ptr<ServiceHandler> service;
  };

  struct Resolved {
    const Mount* mount;
    RequestTarget target;  // its path below the mount's prefix
  };
  std::optional<Resolved> resolve(const RequestTarget& target) const;
  // The resolved request when the gateway lets it through: a valid API key, or none for a
  // request its service calls public.
  std::optional<Resolved> admit(const Request& request) const;
  // The gateway's checks around one call of the service.
  template <class Call>
  Response dispatch(const Request& request, Call&& call) const;

  const TokenAuthority& tokens_;
  std::vector<Mount> mounts_;
};

// The API key of a request: the "apikey" header, else the "apikey" query item, else empty.
std::string apiKeyOf(const Request& request, const RequestTarget& target);

// The token of an "Authorization" value "Bearer <token>" (the scheme without regard to case);
// empty for any other value.
std::string bearerTokenOf(std::string_view authorization);

// The JSON error body of the gateway: {"message": ..., "hint": ...}.
Response gatewayError(const Request& request, http::status status, std::string_view message,
                      std::string_view hint = {});

}  // namespace local_backend
