// The stored form of field and pseudo-header values: one byte per octet, as sent on the wire.
//
//   auto value = detail::ISOLatin1String::fromOctets("caf\xC3\xA9");
//   value.text();        // "café" (octets read as UTF-8)
//   value.storedText();  // "cafÃ©" (each octet as the character with that code point)
//   auto back = detail::ISOLatin1String::fromStoredText(value.storedText());  // == value
#pragma once

#include <string>
#include <string_view>

namespace voduzazi::http_types::detail {

class ISOLatin1String {
 public:
  ISOLatin1String() = default;

  // The octets as given; text passed here contributes its UTF-8 bytes.
  static ISOLatin1String fromOctets(std::string octets) {
    return ISOLatin1String(std::move(octets));
  }

  // Reads text in which each character stands for one octet (the coded form). A character
  // above U+00FF has no octet of its own and is kept as its UTF-8 bytes, never truncated to
  // its low eight bits (which could turn U+010A into a line feed).
  static ISOLatin1String fromStoredText(std::string_view text);

  std::string_view octets() const noexcept { return octets_; }

  // The octets as UTF-8 text, each ill-formed sequence replaced by U+FFFD.
  std::string text() const;

  // Each octet as the character with that code point, UTF-8 encoded.
  std::string storedText() const;

  friend bool operator==(const ISOLatin1String&, const ISOLatin1String&) = default;

 private:
  explicit ISOLatin1String(std::string octets) : octets_(std::move(octets)) {}

  std::string octets_;
};

}  // namespace voduzazi::http_types::detail
