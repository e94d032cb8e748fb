#include "tapwick/app_info.hpp"

#include <cctype>
#include <cstdio>

namespace tapwick {

namespace {

bool allowedInQuery(unsigned char c) {
  if (std::isalnum(c)) return true;
  static constexpr std::string_view kAllowed = "!$&'()*+,-./:;=?@_~";
  return kAllowed.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string percentEncodeQueryComponent(std::string_view text) {
  std::string encoded;
  for (const char raw : text) {
    const auto c = static_cast<unsigned char>(raw);
    if (allowedInQuery(c)) {
      encoded += raw;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  return encoded;
}

std::string feedbackMailURL() {
  constexpr std::string_view subject = "Regarding the app: Tapwick";
  constexpr std::string_view body =
      "Hello,\n\nI am writing regarding the Tapwick app.\n\nQuestions / Feedback:\n1. \n2. \n3. "
      "\n\nBest regards,";
  return "mailto:" + std::string(kSupportAddress) +
         "?subject=" + percentEncodeQueryComponent(subject) +
         "&body=" + percentEncodeQueryComponent(body);
}

}  // namespace tapwick
