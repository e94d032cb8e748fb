// The stand-in auth service's request bodies: whatever arrives at its one-time code, PKCE, factor
// and admin endpoints is answered, never with a server error, and nothing escapes.
//
// Input: an endpoint selector byte, a bearer selector byte, then the request body.
#include <array>

#include "local_backend/auth_service.hpp"
#include "local_backend/database.hpp"
#include "local_backend/router.hpp"
#include "local_backend/token_authority.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;
using namespace local_backend;

namespace {

struct Endpoint {
  http::verb method;
  const char* target;
};

constexpr std::array<Endpoint, 10> endpoints{{
    {http::verb::post, "/auth/v1/otp"},
    {http::verb::post, "/auth/v1/verify"},
    {http::verb::post, "/auth/v1/resend"},
    {http::verb::post, "/auth/v1/recover"},
    {http::verb::post, "/auth/v1/token?grant_type=pkce"},
    {http::verb::post, "/auth/v1/factors"},
    {http::verb::post, "/auth/v1/factors/00000000-0000-0000-0000-000000000000/verify"},
    {http::verb::put, "/auth/v1/admin/users/00000000-0000-0000-0000-000000000000"},
    {http::verb::post, "/auth/v1/admin/invite?redirect_to=app%3A%2F%2Fcb"},
    {http::verb::get, "/auth/v1/admin/users?page=2&per_page=x"},
}};

struct Backend {
  Database database;
  TokenAuthority tokens{"fuzzing-secret-of-at-least-32-characters", std::chrono::seconds(60)};
  Router router{tokens};
  Backend() {
    router.mount("/auth/v1", std::make_shared<AuthService>(database, tokens, AuthOptions{}));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Backend backend;
  FuzzInput in(data, size);
  const Endpoint& endpoint = endpoints[in.byte() % endpoints.size()];
  const bool asService = in.byte() % 2 == 1;
  Request request{endpoint.method, endpoint.target, 11};
  request.set(http::field::host, "127.0.0.1");
  request.set("apikey", asService ? backend.tokens.serviceKey() : backend.tokens.anonKey());
  request.body() = std::string(in.rest());
  request.prepare_payload();
  const Response response = backend.router.route(request);
  FUZZ_CHECK(response.result_int() < 500);
  return 0;
}
