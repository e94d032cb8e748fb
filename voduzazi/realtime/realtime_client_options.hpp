// RealtimeClientOptions: the settings of the second-generation realtime client: headers,
// heartbeat, reconnect and request timings, session-loss and subscribe behaviour, retries,
// logging, and where its requests and access tokens come from.
//
//   RealtimeClientOptions options;                       // every default
//   options.heartbeatInterval = std::chrono::seconds(15);
//   options.accessToken = [] { return std::optional<std::string>(currentToken()); };
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/http_types/http_fields.hpp"

namespace voduzazi::realtime {

// Gives the access token to send, or nothing; may throw. Called from any thread.
using AccessTokenFunction = std::function<std::optional<std::string>()>;

// A plain value; the functions and logger it points to are shared, not copied.
struct RealtimeClientOptions {
  enum class LogLevel { info, warn, error };

  HTTPFields headers{};
  std::chrono::milliseconds heartbeatInterval{25'000};
  std::chrono::milliseconds reconnectDelay{7'000};
  std::chrono::milliseconds timeoutInterval{10'000};
  bool disconnectOnSessionLoss = true;
  bool connectOnSubscribe = true;
  int maxRetryAttempts = 5;
  std::optional<LogLevel> logLevel{};
  FetchHandler fetch{};
  AccessTokenFunction accessToken{};
  std::shared_ptr<VoduzaziLogger> logger{};
};

}  // namespace voduzazi::realtime
