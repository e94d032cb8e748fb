// Text forms of request and response parts for the log, with secrets replaced by "<redacted>".
#pragma once

#include <boost/url/url.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/data.hpp"

namespace voduzazi::detail {

// True for the names whose values are secrets at any depth of a body ("password",
// "access_token", "secret", ...).
bool isSecretName(std::string_view name);

// True for the query and fragment items whose values are secrets: the names above and "code"
// (an authorisation code; in a body "code" is as often an error code, so it is no secret there).
bool isSecretURLItemName(std::string_view name);

// "<none>" without a body; a form body (when `formEncoded`) with secret pairs redacted; JSON
// pretty-printed with sorted keys, secret members redacted, and the secret items of URLs inside
// string values redacted, or "<JSON body of N bytes>" for JSON that cannot be redacted (too
// deeply nested, a number past the double range); else the UTF-8 text. "<failed>" for a text
// that is not UTF-8. `moreSecretNames` are redacted too, at any depth.
std::string bodyText(const std::optional<Data>& body, bool formEncoded = false,
                     const std::vector<std::string>& moreSecretNames = {});

// A websocket frame or other one-line JSON text for the log: as `bodyText`, but written in one
// line with its members in their order.
std::string frameText(std::string_view text);

// A copy of `object` for the log, redacted as `bodyText` redacts a JSON body.
JSONObject redactedObject(const JSONObject& object);

// The URL with secret values of its query and fragment pairs redacted and every percent-escape
// decoded; empty when the escapes do not decode.
std::string decodedURLText(const boost::urls::url& url);

}  // namespace voduzazi::detail
