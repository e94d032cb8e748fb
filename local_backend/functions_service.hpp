// The stand-in edge functions under "/functions/v1": a few built-in functions for tests.
//
//   POST /functions/v1/echo?x=1        {"method","query","headers","body"} of the request
//   GET  /functions/v1/status?code=503&relay=true   that status, "x-relay-error: true" if asked
//   GET  /functions/v1/stream?count=3&pause_ms=50   "chunk 0\n", ... sent piece by piece
//   GET  /functions/v1/slow?ms=200                 "done" after the wait (at most 10 s)
#pragma once

#include "local_backend/router.hpp"

namespace local_backend {

// Thread safety: stateless; any thread.
class FunctionsService : public ServiceHandler {
 public:
  Response handle(const Request& request, const RequestTarget& target) override;
  std::optional<StreamedReply> streamed(const Request& request,
                                        const RequestTarget& target) override;
};

}  // namespace local_backend
