#include "voduzazi/issue_reporting/debug_description.hpp"

#include <cxxabi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace voduzazi {

std::string quotedDescription(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '\0': quoted += "\\0"; break;
      case '\t': quoted += "\\t"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '"': quoted += "\\\""; break;
      case '\'': quoted += "\\'"; break;
      case '\\': quoted += "\\\\"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char escaped[12];
          std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(c));
          quoted += escaped;
        } else {
          quoted += c;
        }
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
