#include "local_backend/detail/like_pattern.hpp"

namespace local_backend::detail {

namespace {

char fold(char c, bool caseInsensitive) {
  return caseInsensitive && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length of the UTF-8 sequence that starts at `pos` (1 for stray continuation bytes).
std::size_t characterLength(std::string_view text, std::size_t pos) {
  std::size_t length = 1;
  while (pos + length < text.size() &&
         (static_cast<unsigned char>(text[pos + length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

}  // namespace

bool isValidLikePattern(std::string_view pattern) {
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    if (pattern[p] == '\\' && ++p == pattern.size()) return false;
  }
  return true;
}

bool likeMatches(std::string_view text, std::string_view pattern, bool caseInsensitive) {
  if (!isValidLikePattern(pattern)) return false;
  // Greedy matching with one backtrack point, the classic linear-space wildcard algorithm.
  std::size_t t = 0;
  std::size_t p = 0;
  std::size_t starPattern = std::string_view::npos;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      starPattern = ++p;
      starText = t;
      continue;
    }
    if (p < pattern.size() && pattern[p] == '_') {
      t += characterLength(text, t);
      ++p;
      continue;
    }
    if (p < pattern.size()) {
      std::size_t literal = p;
      if (pattern[p] == '\\' && p + 1 < pattern.size()) literal = p + 1;
      if (fold(pattern[literal], caseInsensitive) == fold(text[t], caseInsensitive)) {
        p = literal + 1;
        ++t;
        continue;
      }
    }
    if (starPattern == std::string_view::npos) return false;
    p = starPattern;
    starText += characterLength(text, starText);
    t = starText;
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

}  // namespace local_backend::detail
