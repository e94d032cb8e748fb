#include "voduzazi/helpers/sdk_date.hpp"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <variant>

namespace voduzazi {
namespace {

using namespace std::chrono;

// Reads exactly `digits` decimal digits at `at`, advancing it.
std::optional<int> readNumber(std::string_view text, std::size_t& at, std::size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += digits;
  return value;
}

bool expect(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

enum class Failure { badForm, outOfRange };

using Reading = std::variant<Date, Failure>;

// "Z", "+hh:mm", "+hhmm", "-hh:mm" or "-hhmm" as an offset east of UTC.
std::optional<minutes> readZone(std::string_view text, std::size_t& at) {
  if (expect(text, at, 'Z')) return minutes(0);
  if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return std::nullopt;
  const int sign = text[at] == '-' ? -1 : 1;
  ++at;
  const auto hoursPart = readNumber(text, at, 2);
  if (!hoursPart) return std::nullopt;
  expect(text, at, ':');
  const auto minutesPart = readNumber(text, at, 2);
  if (!minutesPart || *hoursPart > 23 || *minutesPart > 59) return std::nullopt;
  return minutes(sign * (*hoursPart * 60 + *minutesPart));
}

// The date, or why there is none.
Reading readDate(std::string_view text) {
  std::size_t at = 0;
  const auto y = readNumber(text, at, 4);
  if (!y || !expect(text, at, '-')) return Failure::badForm;
  const auto mo = readNumber(text, at, 2);
  if (!mo || !expect(text, at, '-')) return Failure::badForm;
  const auto d = readNumber(text, at, 2);
  if (!d || !expect(text, at, 'T')) return Failure::badForm;
  const auto h = readNumber(text, at, 2);
  if (!h || !expect(text, at, ':')) return Failure::badForm;
  const auto mi = readNumber(text, at, 2);
  if (!mi || !expect(text, at, ':')) return Failure::badForm;
  const auto s = readNumber(text, at, 2);
  if (!s) return Failure::badForm;

  nanoseconds fraction{0};
  if (expect(text, at, '.')) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 9) {
      value = value * 10 + (text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0) return Failure::badForm;
    for (std::size_t i = digits; i < 9; ++i) value *= 10;
    fraction = nanoseconds(value);
  }
  minutes offset{0};
  if (at < text.size()) {
    const auto zone = readZone(text, at);
    if (!zone) return Failure::badForm;
    offset = *zone;
  }
  if (at != text.size()) return Failure::badForm;

  const year_month_day day{year(*y), month(static_cast<unsigned>(*mo)),
                           std::chrono::day(static_cast<unsigned>(*d))};
  if (!day.ok() || *h > 23 || *mi > 59 || *s > 59) return Failure::badForm;
  // Whole seconds first: the nanosecond time point holds only the years 1678 to 2261.
  const auto wholeSeconds = sys_days(day) + hours(*h) + minutes(*mi) + seconds(*s) - offset;
  constexpr auto first = ceil<seconds>(Date::min()) + seconds(1);
  constexpr auto last = floor<seconds>(Date::max()) - seconds(1);
  if (wholeSeconds < first || wholeSeconds > last) return Failure::outOfRange;
  return time_point_cast<Date::duration>(wholeSeconds) + fraction;
}

}  // namespace

std::optional<Date> sdkDate(std::string_view text) {
  const Reading reading = readDate(text);
  if (const Date* date = std::get_if<Date>(&reading)) return *date;
  return std::nullopt;
}

std::string sdkDateString(Date date) {
  const auto milliseconds = floor<std::chrono::milliseconds>(date);
  const auto days = floor<std::chrono::days>(milliseconds);
  const year_month_day ymd{days};
  const hh_mm_ss<std::chrono::milliseconds> time{milliseconds - days};
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03d",
                static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return buffer;
}

boost::json::value encodeSDKDate(Date date) { return boost::json::string(sdkDateString(date)); }

Date decodeSDKDate(const boost::json::value& json, const http_types::CodingPath& codingPath) {
  using http_types::DecodingError;
  if (json.is_null()) {
    throw DecodingError(DecodingError::Kind::valueNotFound, codingPath,
                        "Expected String value but found null instead.");
  }
  if (!json.is_string()) {
    throw DecodingError(DecodingError::Kind::typeMismatch, codingPath,
                        "Expected to decode String but found another type instead.");
  }
  const std::string_view text = json.get_string();
  const Reading reading = readDate(text);
  if (const Date* date = std::get_if<Date>(&reading)) return *date;
  const bool badForm = std::get<Failure>(reading) == Failure::badForm;
  throw DecodingError(DecodingError::Kind::dataCorrupted, codingPath,
                      (badForm ? "Invalid date format: " : "Date out of range: ") +
                          std::string(text));
}

}  // namespace voduzazi
