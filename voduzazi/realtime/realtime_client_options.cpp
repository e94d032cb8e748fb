#include "voduzazi/realtime/realtime_client_options.hpp"

#include <array>
#include <utility>

namespace voduzazi::realtime {

namespace {

constexpr std::array<std::pair<LogLevel, std::string_view>, 3> kLogLevels{{
    {LogLevel::info, "info"},
    {LogLevel::warn, "warn"},
    {LogLevel::error, "error"},
}};

}  // namespace

std::string_view toString(LogLevel level) {
  for (const auto& [candidate, text] : kLogLevels) {
    if (candidate == level) return text;
  }
  return "info";
}

std::optional<LogLevel> logLevelFromString(std::string_view text) {
  for (const auto& [level, raw] : kLogLevels) {
    if (raw == text) return level;
  }
  return std::nullopt;
}

std::string_view toString(RealtimeClientStatus status) {
  switch (status) {
    case RealtimeClientStatus::disconnected:
      return "Disconnected";
    case RealtimeClientStatus::connecting:
      return "Connecting";
    case RealtimeClientStatus::connected:
      return "Connected";
  }
  return "Disconnected";
}

const HTTPField::Name& apiKeyFieldName() {
  static const HTTPField::Name name("apiKey");
  return name;
}

}  // namespace voduzazi::realtime
