#include "voduzazi/realtime/detail/utf8_lossy.hpp"

namespace voduzazi::realtime::detail {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed sequence at `at`, or 0, with `bad` set to how many bytes make
// up its maximal ill-formed prefix.
std::size_t sequenceAt(std::string_view bytes, std::size_t at, std::size_t& bad) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  bad = 1;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (at + i >= bytes.size()) return 0;
    const auto byte = static_cast<unsigned char>(bytes[at + i]);
    const bool fits = i == 1 ? (byte >= low && byte <= high) : isContinuation(byte);
    if (!fits) return 0;
    bad = i + 1;
  }
  return length;
}

}  // namespace

std::string decodeUTF8Lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t bad = 1;
    if (const std::size_t length = sequenceAt(bytes, at, bad)) {
      text.append(bytes.substr(at, length));
      at += length;
    } else {
      text.append(kReplacement);
      at += bad;
    }
  }
  return text;
}

}  // namespace voduzazi::realtime::detail
