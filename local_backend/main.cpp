// The local backend as a program: serves on 127.0.0.1 until SIGINT or SIGTERM.
//
//   voduzazi-local-backend --port 8484 --data-dir ~/.local/share/voduzazi-local
//   voduzazi-local-backend --memory --jwt-expiry 60
//   voduzazi-local-backend --memory --max-upload-bytes 268435456   # objects up to 256 MiB
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "local_backend/server.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: voduzazi-local-backend [--port N] [--data-dir DIR | --memory]\n"
    "                              [--jwt-expiry SECONDS] [--jwt-secret SECRET]\n"
    "                              [--confirm-email] [--max-upload-bytes N]\n";

// 64 GiB: beyond any object the stand-in is meant to hold.
constexpr long kLargestUploadLimit = 64L * 1024 * 1024 * 1024;

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "voduzazi-local-backend: " << message << "\n" << kUsage;
  std::exit(2);
}

long numberArgument(std::string_view flag, const char* text, long min, long max) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < min || value > max) {
    usageError(std::string(flag) + " expects a number from " + std::to_string(min) + " to " +
               std::to_string(max));
  }
  return value;
}

local_backend::ServerOptions parseArguments(int argc, char** argv) {
  local_backend::ServerOptions options;
  options.port = 8484;
  bool memory = false;
  std::optional<std::string> dataDir;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) usageError(std::string(flag) + " expects a value");
      return argv[++i];
    };
    if (flag == "--port") {
      options.port = static_cast<std::uint16_t>(numberArgument(flag, next(), 0, 65535));
    } else if (flag == "--data-dir") {
      dataDir = next();
    } else if (flag == "--memory") {
      memory = true;
    } else if (flag == "--jwt-expiry") {
      options.jwtExpiry = std::chrono::seconds{numberArgument(flag, next(), 1, 31'536'000)};
    } else if (flag == "--jwt-secret") {
      options.jwtSecret = next();
      if (options.jwtSecret.size() < 32) usageError("--jwt-secret needs at least 32 characters");
    } else if (flag == "--confirm-email") {
      options.confirmEmail = true;
    } else if (flag == "--max-upload-bytes") {
      options.maxUploadBytes =
          static_cast<std::uint64_t>(numberArgument(flag, next(), 1, kLargestUploadLimit));
    } else if (flag == "--help" || flag == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      usageError("unknown argument " + std::string(flag));
    }
  }
  if (memory && dataDir) usageError("--data-dir and --memory exclude each other");
  if (!memory) {
    options.dataDir = dataDir ? std::filesystem::path(*dataDir) : local_backend::defaultDataDir();
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parseArguments(argc, argv);
  // Block the stop signals before any thread starts, so that only sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  try {
    local_backend::Server server(options);
    std::cout << "url: " << server.url() << "\n"
              << "anon key: " << server.anonKey() << "\n"
              << "service key: " << server.serviceKey() << std::endl;
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
  } catch (const std::exception& error) {
    std::cerr << "voduzazi-local-backend: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
