#include "voduzazi/helpers/detail/key_case.hpp"

#include <cctype>
#include <vector>

namespace voduzazi::detail {
namespace {

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
char lower(char c) { return isUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return isLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }
// Only ASCII letters have a case here; any other character continues a word as a lower-case
// letter does, so that a split never falls inside a multi-byte character.
bool continuesWord(char c) { return isLower(c) || static_cast<unsigned char>(c) >= 0x80; }

std::size_t findFrom(std::string_view text, std::size_t from, std::size_t to, bool (*test)(char)) {
  for (std::size_t i = from; i < to; ++i) {
    if (test(text[i])) return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string toSnakeCase(std::string_view key) {
  if (key.empty()) return std::string(key);
  // Words split where lower case turns upper, and a run of capitals is a word of its own up to
  // the capital that starts the next lower-case word.
  std::vector<std::string_view> words;
  std::size_t wordStart = 0;
  std::size_t searchStart = 1;
  const std::size_t end = key.size();
  for (;;) {
    const std::size_t upperAt = findFrom(key, searchStart, end, isUpper);
    if (upperAt == std::string_view::npos) break;
    words.push_back(key.substr(wordStart, upperAt - wordStart));
    const std::size_t lowerAt = findFrom(key, upperAt, end, continuesWord);
    if (lowerAt == std::string_view::npos) {
      wordStart = upperAt;
      searchStart = end;
      break;
    }
    if (lowerAt == upperAt + 1) {
      wordStart = upperAt;
    } else {
      words.push_back(key.substr(upperAt, lowerAt - 1 - upperAt));
      wordStart = lowerAt - 1;
    }
    searchStart = lowerAt + 1;
  }
  words.push_back(key.substr(wordStart));
  std::string result;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) result += '_';
    for (char c : words[i]) result += lower(c);
  }
  return result;
}

std::string fromSnakeCase(std::string_view key) {
  const std::size_t first = key.find_first_not_of('_');
  if (first == std::string_view::npos) return std::string(key);
  const std::size_t last = key.find_last_not_of('_');
  const std::string_view core = key.substr(first, last - first + 1);
  std::vector<std::string_view> parts;
  for (std::size_t start = 0; start <= core.size();) {
    const std::size_t underscore = std::min(core.find('_', start), core.size());
    if (underscore > start) parts.push_back(core.substr(start, underscore - start));
    start = underscore + 1;
  }
  std::string joined;
  if (parts.size() == 1) {
    joined = std::string(core);
  } else {
    for (std::size_t i = 0; i < parts.size(); ++i) {
      for (std::size_t j = 0; j < parts[i].size(); ++j) {
        const char c = parts[i][j];
        joined += (i > 0 && j == 0) ? upper(c) : lower(c);
      }
    }
  }
  return std::string(key.substr(0, first)) + joined + std::string(key.substr(last + 1));
}

}  // namespace voduzazi::detail
