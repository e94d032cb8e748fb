#include "local_backend/timestamp.hpp"

#include <charconv>
#include <cstdio>

namespace local_backend {

namespace {

using std::chrono::days;
using std::chrono::floor;
using std::chrono::hours;
using std::chrono::microseconds;
using std::chrono::minutes;
using std::chrono::seconds;

constexpr Timestamp kFirst{std::chrono::sys_days{std::chrono::year{0} / 1 / 1}};
constexpr Timestamp kLast{std::chrono::sys_days{std::chrono::year{10000} / 1 / 1} -
                          microseconds{1}};

std::string format(Timestamp time, std::string_view zone) {
  const auto day = floor<days>(time);
  const std::chrono::year_month_day ymd{day};
  const std::chrono::hh_mm_ss clock{time - day};
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%06lld",
                static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()),
                static_cast<long long>(clock.subseconds().count()));
  return std::string(buffer) + std::string(zone);
}

// Reads exactly `width` digits at `pos`.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t width) {
  if (pos + width > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Parses the zone suffix starting at `pos`; returns the offset east of UTC.
std::optional<minutes> parseZone(std::string_view text, std::size_t pos) {
  if (pos == text.size()) return minutes{0};
  const char sign = text[pos];
  if ((sign == 'Z' || sign == 'z') && pos + 1 == text.size()) return minutes{0};
  if (sign != '+' && sign != '-') return std::nullopt;
  const auto hh = digits(text, pos + 1, 2);
  if (!hh || *hh > 23) return std::nullopt;
  std::size_t next = pos + 3;
  int mm = 0;
  if (next < text.size()) {
    if (text[next] == ':') ++next;
    const auto m = digits(text, next, 2);
    if (!m || *m > 59 || next + 2 != text.size()) return std::nullopt;
    mm = *m;
  }
  const minutes offset{*hh * 60 + mm};
  return sign == '-' ? -offset : offset;
}

}  // namespace

std::string formatTimestamp(Timestamp time) { return format(time, "+00:00"); }

std::string formatTimestampZulu(Timestamp time) { return format(time, "Z"); }

std::optional<Timestamp> parseTimestamp(std::string_view text) {
  const auto year = digits(text, 0, 4);
  const auto month = digits(text, 5, 2);
  const auto day = digits(text, 8, 2);
  if (!year || !month || !day || text[4] != '-' || text[7] != '-') return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year{*year},
                                        std::chrono::month{static_cast<unsigned>(*month)},
                                        std::chrono::day{static_cast<unsigned>(*day)}};
  if (!ymd.ok()) return std::nullopt;
  Timestamp result{std::chrono::sys_days{ymd}};
  if (text.size() == 10) return result;
  if (text[10] != 'T' && text[10] != 't' && text[10] != ' ') return std::nullopt;
  const auto hh = digits(text, 11, 2);
  const auto mi = digits(text, 14, 2);
  if (!hh || !mi || text.size() < 16 || text[13] != ':' || *hh > 23 || *mi > 59) {
    return std::nullopt;
  }
  result += hours{*hh} + minutes{*mi};
  std::size_t pos = 16;
  if (pos < text.size() && text[pos] == ':') {
    const auto ss = digits(text, pos + 1, 2);
    if (!ss || *ss > 60) return std::nullopt;
    result += seconds{*ss};
    pos += 3;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      const std::size_t start = pos;
      long long micros = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (pos - start < 6) micros = micros * 10 + (text[pos] - '0');
        ++pos;
      }
      if (pos == start) return std::nullopt;
      for (std::size_t n = pos - start; n < 6; ++n) micros *= 10;
      result += microseconds{micros};
    }
  }
  const auto offset = parseZone(text, pos);
  if (!offset) return std::nullopt;
  result -= *offset;
  // The fixed-width form holds four-digit years only; an offset or a leap second can carry a
  // time past either end.
  if (result < kFirst || result > kLast) return std::nullopt;
  return result;
}

std::int64_t unixNow() {
  return std::chrono::duration_cast<seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Timestamp MonotonicClock::now() {
  const auto system = std::chrono::time_point_cast<microseconds>(std::chrono::system_clock::now());
  const std::lock_guard lock(mutex_);
  last_ = system > last_ ? system : last_ + microseconds{1};
  return last_;
}

void MonotonicClock::advancePast(Timestamp time) {
  const std::lock_guard lock(mutex_);
  if (time > last_) last_ = time;
}

}  // namespace local_backend
