#include "local_backend/server.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "local_backend/auth_service.hpp"
#include "local_backend/database.hpp"
#include "local_backend/detail/http_listener.hpp"
#include "local_backend/detail/tls_listener.hpp"
#include "local_backend/realtime_service.hpp"
#include "local_backend/rest_service.hpp"
#include "local_backend/functions_service.hpp"
#include "local_backend/storage_service.hpp"
#include "local_backend/router.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

namespace {

std::unique_ptr<Database> openDatabase(const std::optional<std::filesystem::path>& dataDir) {
  if (!dataDir) return std::make_unique<Database>();
  // A folder of our own is private; one the caller already has (say /tmp) keeps its mode.
  if (std::filesystem::create_directories(*dataDir)) {
    std::filesystem::permissions(*dataDir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
  }
  // The file holds password hashes: a new one is owner-only, and SQLite gives its journal files
  // the same mode. An existing file keeps its mode.
  const auto file = *dataDir / "backend.sqlite3";
  if (const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); fd >= 0) {
    ::close(fd);
  }
  return std::make_unique<Database>(file);
}

// A private folder in the system's temporary folder, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "voduzazi-local-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "cannot create " + pattern);
    }
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

std::filesystem::path defaultDataDir() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return std::filesystem::path(xdg) / "voduzazi-local";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" /
         "voduzazi-local";
}

struct Server::Impl {
  explicit Impl(const ServerOptions& options)
      : scratch(options.dataDir ? nullptr : std::make_unique<TemporaryFolder>()),
        database(openDatabase(options.dataDir)),
        tokens(options.jwtSecret, options.jwtExpiry),
        router(tokens) {
    AuthOptions auth;
    auth.confirmEmail = options.confirmEmail;
    auth.redirectAllowList = options.redirectAllowList;
    auth.otpLifetime = options.otpLifetime;
    auth.maxOtpAttempts = options.maxOtpAttempts;
    router.mount("/auth/v1", std::make_shared<AuthService>(*database, tokens, std::move(auth)));
    auto rest = std::make_shared<RestService>(*database, tokens);
    router.mount("/rest/v1", rest);
    realtime = std::make_shared<RealtimeService>(*database, tokens);
    router.mount("/realtime/v1", realtime);
    router.mount("/functions/v1", std::make_shared<FunctionsService>());
    router.mount("/storage/v1",
                 std::make_shared<StorageService>(
                     *database, tokens,
                     options.dataDir ? *options.dataDir / "storage" : scratch->path(),
                     options.maxUploadBytes));
    rest->setRowChangeListener([service = realtime.get()](const RowChange& change) {
      service->hub().publish(change);
    });
    const unsigned count = options.threads == 0 ? 1 : options.threads;
    ioc.emplace(static_cast<int>(count));
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                                  options.port);
    const detail::HttpLimits limits{options.maxBodyBytes, 16 * 1024, std::chrono::seconds{60}};
    listener =
        std::make_shared<detail::HttpListener>(*ioc, endpoint, router, limits, realtime.get());
    port = listener->port();
    listener->start();
    if (options.tls) {
      tlsListener = std::make_shared<detail::TlsListener>(
          *ioc, boost::asio::ip::tcp::endpoint(endpoint.address(), 0),
          detail::makeServerTlsContext(options.tls->certificateChainPem,
                                       options.tls->privateKeyPem),
          router, *realtime, limits);
      tlsPort = tlsListener->port();
      tlsListener->start();
    }
    for (unsigned i = 0; i < count; ++i) workers.emplace_back([this] { ioc->run(); });
  }

  void stop() {
    if (!ioc) return;
    ioc->stop();
    for (auto& worker : workers) {
      if (worker.joinable()) worker.join();
    }
    workers.clear();
    realtime->stop();  // its sockets go while their I/O context still exists
    // The pending accept and every connection live in the context's handlers: destroying it
    // closes the listening socket and the open connections.
    listener.reset();
    tlsListener.reset();
    ioc.reset();
  }

  // Declared first, so that it goes last: the object files of a server without a data folder.
  std::unique_ptr<TemporaryFolder> scratch;
  std::unique_ptr<Database> database;
  TokenAuthority tokens;
  Router router;
  std::optional<boost::asio::io_context> ioc;
  std::shared_ptr<RealtimeService> realtime;
  std::shared_ptr<detail::HttpListener> listener;
  std::shared_ptr<detail::TlsListener> tlsListener;
  std::uint16_t port = 0;
  std::optional<std::uint16_t> tlsPort;
  std::vector<std::thread> workers;
};

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(options)) {}

Server::~Server() { stop(); }

std::uint16_t Server::port() const noexcept { return impl_->port; }

std::string Server::url() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

const std::string& Server::anonKey() const noexcept { return impl_->tokens.anonKey(); }

const std::string& Server::serviceKey() const noexcept { return impl_->tokens.serviceKey(); }

std::string Server::tlsUrl() const {
  if (!impl_->tlsPort) throw std::logic_error("the server was started without TLS");
  return "https://127.0.0.1:" + std::to_string(*impl_->tlsPort);
}

RealtimeService& Server::realtime() noexcept { return *impl_->realtime; }

void Server::stop() { impl_->stop(); }

}  // namespace local_backend
