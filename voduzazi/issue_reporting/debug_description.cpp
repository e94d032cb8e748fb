#include "voduzazi/issue_reporting/debug_description.hpp"

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
      std::snprintf(code, sizeof code, "\\u{%x}", static_cast<unsigned>(c));
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

std::string floatingDescription(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  // Whole numbers keep a fractional part so they read as floating point ("2.0", not "2").
  if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

}  // namespace detail
}  // namespace voduzazi
