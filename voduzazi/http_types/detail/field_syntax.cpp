#include "voduzazi/http_types/detail/field_syntax.hpp"

#include <algorithm>
#include <array>

namespace voduzazi::http_types::detail {
namespace {

constexpr std::array<bool, 256> makeTokenTable() {
  std::array<bool, 256> table{};
  for (unsigned char c : std::string_view("!#$%&'*+-.^_`|~")) table[c] = true;
  for (unsigned c = '0'; c <= '9'; ++c) table[c] = true;
  for (unsigned c = 'A'; c <= 'Z'; ++c) table[c] = true;
  for (unsigned c = 'a'; c <= 'z'; ++c) table[c] = true;
  return table;
}

constexpr std::array<bool, 256> tokenTable = makeTokenTable();

bool isWhitespace(unsigned char octet) noexcept { return octet == ' ' || octet == '\t'; }

// SP, HTAB, visible ASCII or obs-text.
bool isValueOctet(unsigned char octet) noexcept {
  return isWhitespace(octet) || (octet >= 0x21 && octet <= 0x7E) || octet >= 0x80;
}

}  // namespace

bool isToken(std::string_view text) noexcept {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return tokenTable[static_cast<unsigned char>(c)]; });
}

bool isNonEmptyToken(std::string_view text) noexcept { return !text.empty() && isToken(text); }

bool isValidFieldValue(std::string_view octets) noexcept {
  if (octets.empty()) return true;
  if (isWhitespace(octets.front()) || isWhitespace(octets.back())) return false;
  return std::all_of(octets.begin(), octets.end(),
                     [](char c) { return isValueOctet(static_cast<unsigned char>(c)); });
}

std::string cleanedValueStrictly(std::string octets) {
  if (isValidFieldValue(octets)) return octets;
  for (char& c : octets) {
    if (!isValueOctet(static_cast<unsigned char>(c))) c = ' ';
  }
  const auto notWhitespace = [](char c) { return !isWhitespace(static_cast<unsigned char>(c)); };
  const auto first = std::find_if(octets.begin(), octets.end(), notWhitespace);
  const auto last = std::find_if(octets.rbegin(), octets.rend(), notWhitespace).base();
  if (first >= last) return {};
  return std::string(first, last);
}

std::string cleanedValueLeniently(std::string octets) {
  std::replace_if(
      octets.begin(), octets.end(), [](char c) { return c == '\0' || c == '\n' || c == '\r'; },
      ' ');
  return octets;
}

bool isValidReasonPhrase(std::string_view phrase) noexcept {
  return std::all_of(phrase.begin(), phrase.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
  });
}

bool isStatusText(std::string_view octets) noexcept {
  return octets.size() == 3 &&
         std::all_of(octets.begin(), octets.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int statusCode(std::string_view digits) noexcept {
  return (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
}

}  // namespace voduzazi::http_types::detail
