#include "voduzazi/http_types/detail/iso_latin1_string.hpp"

#include "voduzazi/http_types/detail/utf8.hpp"

namespace voduzazi::http_types::detail {

ISOLatin1String ISOLatin1String::fromStoredText(std::string_view text) {
  if (isASCII(text)) return ISOLatin1String(std::string(text));
  std::string octets;
  octets.reserve(text.size());
  for (std::size_t position = 0; position < text.size();) {
    const DecodedScalar scalar = decodeScalar(text, position);
    if (scalar.valid && scalar.value <= 0xFF) {
      octets.push_back(static_cast<char>(scalar.value));
    } else {
      // Above U+00FF, or not UTF-8 at all: the bytes are all 0x80 or above, so keeping them
      // verbatim can add no control octet.
      octets.append(text.substr(position, scalar.length));
    }
    position += scalar.length;
  }
  return ISOLatin1String(std::move(octets));
}

std::string ISOLatin1String::text() const {
  if (isASCII(octets_)) return octets_;
  return repairedUTF8(octets_);
}

std::string ISOLatin1String::storedText() const {
  if (isASCII(octets_)) return octets_;
  std::string text;
  text.reserve(octets_.size() * 2);
  for (char octet : octets_) appendScalar(text, static_cast<unsigned char>(octet));
  return text;
}

}  // namespace voduzazi::http_types::detail
