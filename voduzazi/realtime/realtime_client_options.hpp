// RealtimeClientOptions: how a second-generation realtime client connects, beats and retries, and
// the small enumerations it and its channels publish: client, channel and heartbeat statuses and
// the server log level.
//
//   RealtimeClientOptions options(HeaderDictionary{{"apikey", key}});
//   options.heartbeatInterval = Seconds(10);
//   options.logLevel = LogLevel::warn;                       // "log_level=warn" in the URL
//   options.accessToken = [] { return std::optional<std::string>(currentToken()); };
//   auto client = RealtimeClientV2::make(realtimeURL, options);
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi::realtime {

// Seconds with a fraction: every interval of the realtime client.
using Seconds = std::chrono::duration<double>;

// Gives the access token to send, or nothing; may throw. Called from any thread.
using AccessTokenFunction = std::function<std::optional<std::string>()>;

enum class LogLevel { info, warn, error };
std::string_view toString(LogLevel level);
// Exactly "info", "warn" or "error"; nothing for any other text ("WARN" and "warning" included).
std::optional<LogLevel> logLevelFromString(std::string_view text);

// A plain value; copies share the functions and the logger they point to. No field is checked.
struct RealtimeClientOptions {
  static constexpr Seconds defaultHeartbeatInterval{25.0};
  static constexpr Seconds defaultReconnectDelay{7.0};
  static constexpr Seconds defaultTimeoutInterval{10.0};
  static constexpr bool defaultDisconnectOnSessionLoss = true;
  static constexpr bool defaultConnectOnSubscribe = true;
  static constexpr int defaultMaxRetryAttempts = 5;

  // The opening request's headers: "apiKey" (any letter case) must hold the API key;
  // "Authorization" gives the first access token.
  HTTPFields headers{};
  Seconds heartbeatInterval = defaultHeartbeatInterval;
  Seconds reconnectDelay = defaultReconnectDelay;
  // How long a push waits for its reply, and a join attempt for its answer.
  Seconds timeoutInterval = defaultTimeoutInterval;
  // Carried for the caller; nothing in the client reads it.
  bool disconnectOnSessionLoss = defaultDisconnectOnSessionLoss;
  bool connectOnSubscribe = defaultConnectOnSubscribe;
  // Join attempts of one subscribe.
  int maxRetryAttempts = defaultMaxRetryAttempts;
  std::optional<LogLevel> logLevel{};
  // The HTTP step of broadcasts sent without a socket; none means the shared URL session.
  FetchHandler fetch{};
  AccessTokenFunction accessToken{};
  std::shared_ptr<VoduzaziLogger> logger{};

  RealtimeClientOptions() = default;
  // Headers given as a dictionary (one field per entry); throws InvalidFieldNameError for a key
  // that is not a header name.
  explicit RealtimeClientOptions(const HeaderDictionary& headers)
      : headers(makeHTTPFields(headers)) {}
};

// The header that carries the API key ("apiKey"; names compare without regard to case), made
// once on first use.
const HTTPField::Name& apiKeyFieldName();

enum class RealtimeClientStatus { disconnected, connecting, connected };
// "Disconnected", "Connecting", "Connected".
std::string_view toString(RealtimeClientStatus status);

enum class RealtimeChannelStatus { unsubscribed, subscribing, subscribed, unsubscribing };

// What the heartbeat last saw: a beat sent, its reply ok or not, a beat due while the previous one
// went unanswered, or a beat due while disconnected.
enum class HeartbeatStatus { sent, ok, error, timeout, disconnected };

}  // namespace voduzazi::realtime
