#include "tapwick/display_date.hpp"

#include <ctime>
#include <regex>

#include "voduzazi/helpers/sdk_date.hpp"

namespace tapwick {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string formatDisplayDate(std::string_view timestamp) {
  static const std::regex offsetAtEnd(R"([-+]\d{2}:?\d{2}$)");
  static const std::regex longFraction(R"(\.(\d{4,})Z$)");
  // An internet date-time with a fraction of seconds, which this form requires.
  static const std::regex dateTime(
      R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{1,9}(Z|[-+]\d{2}:?\d{2}))");

  std::string s(trimmed(timestamp));
  const bool endsInZ = !s.empty() && (s.back() == 'Z' || s.back() == 'z');
  if (!endsInZ && !std::regex_search(s, offsetAtEnd)) s += 'Z';
  std::smatch fraction;
  if (std::regex_search(s, fraction, longFraction)) {
    // The match ends the text, so it is the one to cut to milliseconds.
    s.replace(static_cast<std::size_t>(fraction.position(0)), fraction.length(0),
              "." + fraction[1].str().substr(0, 3) + "Z");
  }
  if (!std::regex_match(s, dateTime)) return std::string(timestamp);
  const auto instant = voduzazi::sdkDate(s);
  if (!instant) return std::string(timestamp);

  const std::time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(*instant));
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return std::string(timestamp);
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, "%d %b %Y, %H:%M", &local);
  return length == 0 ? std::string(timestamp) : std::string(text, length);
}

}  // namespace tapwick
