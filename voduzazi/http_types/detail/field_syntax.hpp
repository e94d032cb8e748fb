// The character rules of field names, field values, methods and reason phrases.
//
//   detail::isToken("Content-Type");                 // true
//   detail::statusCode("007");                       // 7
//   detail::isValidFieldValue(" padded");            // false: leading space
//   detail::cleanedValueStrictly("a\r\nb");          // "a  b"
//   detail::cleanedValueLeniently(" a\r\n");         // " a  "
#pragma once

#include <string>
#include <string_view>

namespace voduzazi::http_types::detail {

// Every byte is a token character. The empty text passes: callers that need a non-empty
// token test emptiness themselves.
bool isToken(std::string_view text) noexcept;

// A token with at least one character: the rule for field names and methods.
bool isNonEmptyToken(std::string_view text) noexcept;

// The field-value rule on octets: no leading or trailing SP/HTAB, and only SP, HTAB,
// visible ASCII and octets 0x80-0xFF.
bool isValidFieldValue(std::string_view octets) noexcept;

// Returns the octets unchanged when valid; otherwise maps every disallowed octet to SP and
// trims SP/HTAB at both ends. The result always satisfies isValidFieldValue.
std::string cleanedValueStrictly(std::string octets);

// Replaces NUL, CR and LF with SP and changes nothing else.
std::string cleanedValueLeniently(std::string octets);

// No control byte other than HTAB, and no DEL.
bool isValidReasonPhrase(std::string_view phrase) noexcept;

// Exactly three ASCII digits: the ":status" value form.
bool isStatusText(std::string_view octets) noexcept;

// The code written by three ASCII digits (isStatusText holds): "404" gives 404.
int statusCode(std::string_view digits) noexcept;

}  // namespace voduzazi::http_types::detail
