#include "voduzazi/concurrency/debug_description.hpp"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <utility>

namespace voduzazi {

std::string quotedDescription(std::string_view text) {
  static constexpr std::pair<char, std::string_view> kEscapes[] = {
      {'\0', "\\0"}, {'\t', "\\t"}, {'\n', "\\n"}, {'\r', "\\r"},
      {'"', "\\\""}, {'\'', "\\'"}, {'\\', "\\\\"}};
  std::string quoted = "\"";
  for (const char c : text) {
    const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                      [c](const auto& entry) { return entry.first == c; });
    if (escape != std::end(kEscapes)) {
      quoted += escape->second;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      char code[12];
      std::snprintf(code, sizeof code, "\\u{%X}", static_cast<unsigned>(c));
      quoted += code;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string typeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? name.get() : type.name();
}

namespace detail {

namespace {

// The shortest text that reads back as `value`: plain decimals with at least one fractional digit
// ("2.0", "100000.0"), exponential notation for magnitudes below 1e-4 or above `largest`.
template <class F>
std::string shortestDescription(F value, F largest) {
  char buffer[128];
  const F magnitude = std::fabs(value);
  const bool exponential =
      std::isfinite(value) && magnitude != 0 && (magnitude < F(1e-4) || magnitude > largest);
  const auto result = std::to_chars(
      buffer, buffer + sizeof buffer, value,
      exponential ? std::chars_format::scientific : std::chars_format::fixed);
  std::string text(buffer, result.ptr);
  if (std::isfinite(value) && !exponential && text.find('.') == std::string::npos) text += ".0";
  return text;
}

}  // namespace

std::string floatingDescription(double value) { return shortestDescription(value, 0x1.0p54); }
std::string floatingDescription(float value) { return shortestDescription(value, 0x1.0p25f); }
std::string floatingDescription(long double value) {
  return shortestDescription(value, 0x1.0p64L);
}

}  // namespace detail
}  // namespace voduzazi
