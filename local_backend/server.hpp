// The local stand-in backend, in-process: authentication under "/auth/v1", the REST database
// API under "/rest/v1", the realtime websocket under "/realtime/v1", storage under
// "/storage/v1" and edge functions under "/functions/v1", on 127.0.0.1 (and on a TLS port when
// asked), with its data in SQLite and object files (in memory and a temporary folder, or in a
// data folder).
//
//   local_backend::Server server;                       // free port, in memory
//   std::string base = server.url();                    // "http://127.0.0.1:41234"
//   client.connect(base, server.anonKey());
//   server.stop();                                      // or let the destructor stop it
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace local_backend {

class RealtimeService;

// A certificate chain and its private key, both PEM.
struct TlsIdentity {
  std::string certificateChainPem;
  std::string privateKeyPem;
};

// The secret of the fixed development keys: with it the anonymous key is a constant.
inline constexpr std::string_view kDevelopmentJwtSecret =
    "voduzazi-local-development-secret-do-not-use-in-production";

struct ServerOptions {
  // 0 picks a free port.
  std::uint16_t port = 0;
  // The folder of the database file and of "storage/" with the object files, created owner-only
  // when missing (an existing folder keeps its mode); none keeps the database in memory and the
  // objects in a temporary folder the server removes when it stops.
  std::optional<std::filesystem::path> dataDir;
  // Lifetime of the access tokens the authentication service issues.
  std::chrono::seconds jwtExpiry{3600};
  std::string jwtSecret{kDevelopmentJwtSecret};
  // When set, sign-up answers a bare user and sign-in waits for a confirmation.
  bool confirmEmail = false;
  // Redirect URLs accepted besides loopback ones: those starting with one of these.
  std::vector<std::string> redirectAllowList;
  // Lifetime of one-time codes, and wrong tries after which a user's code is void.
  std::chrono::seconds otpLifetime{3600};
  int maxOtpAttempts = 5;
  unsigned threads = 4;
  // When set, a second port serves TLS (HTTPS and wss) with this identity.
  std::optional<TlsIdentity> tls;
  std::size_t maxBodyBytes = 1024 * 1024;
  // The largest stored object; upload bodies go to disk as they arrive, whatever their size.
  std::uint64_t maxUploadBytes = 100 * 1024 * 1024;
};

// "$XDG_DATA_HOME/voduzazi-local", falling back to "~/.local/share/voduzazi-local".
std::filesystem::path defaultDataDir();

// Serving starts in the constructor and ends in stop() or the destructor.
// Thread safety: the accessors are safe from any thread; stop() from one thread at a time.
// Lifetime: owns its worker threads, its database and its listening socket.
class Server {
 public:
  // Throws when the data folder or database cannot be opened or the port cannot be bound.
  explicit Server(ServerOptions options = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::uint16_t port() const noexcept;
  // "http://127.0.0.1:PORT", without a trailing slash.
  std::string url() const;
  const std::string& anonKey() const noexcept;
  const std::string& serviceKey() const noexcept;
  // "https://127.0.0.1:PORT" of the TLS port; throws std::logic_error without ServerOptions::tls.
  std::string tlsUrl() const;

  // The realtime service, for tests that drive its sockets.
  RealtimeService& realtime() noexcept;

  // Stops accepting, drops open connections and joins the workers. Idempotent.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace local_backend
