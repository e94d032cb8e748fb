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

// "<none>" without a body; JSON pretty-printed with sorted keys and secret members redacted; a
// form body (when `formEncoded`) with secret pairs redacted; else the UTF-8 text or "<failed>".
std::string bodyText(const std::optional<Data>& body, bool formEncoded = false);

// The URL with secret query values redacted and every percent-escape decoded; empty when the
// escapes do not decode.
std::string decodedURLText(const boost::urls::url& url);

}  // namespace voduzazi::detail
