// Text forms of request and response parts for the log, with secrets replaced by "<redacted>".
#pragma once

#include <boost/url/url.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/helpers/data.hpp"

namespace voduzazi::detail {

// True for the names whose values are secrets ("password", "access_token", ...).
bool isSecretName(std::string_view name);

// "<none>" without a body; a form body (when `formEncoded`) with secret pairs redacted; JSON
// pretty-printed with sorted keys and secret members redacted, or "<JSON body of N bytes>" for
// JSON that cannot be redacted (too deeply nested, a number past the double range); else the
// UTF-8 text. "<failed>" for a text that is not UTF-8.
std::string bodyText(const std::optional<Data>& body, bool formEncoded = false);

// The URL with secret values of its query and fragment pairs redacted and every percent-escape
// decoded; empty when the escapes do not decode.
std::string decodedURLText(const boost::urls::url& url);

}  // namespace voduzazi::detail
