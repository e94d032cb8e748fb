// Timestamps as the backend stores and prints them, and the clock that stamps new rows.
//
//   MonotonicClock clock;
//   Timestamp t = clock.now();                      // strictly later than the previous call
//   std::string text = formatTimestamp(t);          // "2025-10-21T08:00:00.123456+00:00"
//   std::optional<Timestamp> p = parseTimestamp("2025-10-21T10:00:00+02:00");
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace local_backend {

using Timestamp = std::chrono::sys_time<std::chrono::microseconds>;

// Fixed-width UTC text, so that the text order is the time order:
// "YYYY-MM-DDTHH:MM:SS.ffffff+00:00".
std::string formatTimestamp(Timestamp time);

// The same instant ending in "Z" instead of "+00:00", as the authentication records carry it.
std::string formatTimestampZulu(Timestamp time);

// Reads ISO 8601 date-times: a date alone, or a date, "T" (or a blank) and a time with optional
// seconds and fraction, followed by "Z", an offset (+HH, +HHMM, +HH:MM) or nothing (UTC).
// nullopt for anything else, including impossible dates and instants outside the years 0000 to
// 9999 in UTC, which the fixed-width form cannot hold.
std::optional<Timestamp> parseTimestamp(std::string_view text);

// Seconds since 1970 of the system clock.
std::int64_t unixNow();

// Hands out strictly increasing times with microsecond resolution, never earlier than the system
// clock and never earlier than a time it was told to pass (the newest stored row at start-up).
// Thread safety: safe. Lifetime: as long as the database that uses it.
class MonotonicClock {
 public:
  Timestamp now();
  void advancePast(Timestamp time);

 private:
  std::mutex mutex_;
  Timestamp last_{};
};

}  // namespace local_backend
