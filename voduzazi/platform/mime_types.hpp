// MIME types by file-name extension: a built-in table of common types, then the system's
// /etc/mime.types for the rest.
//
//   preferredMIMEType("png");           // "image/png"
//   preferredMIMEType("JPG");           // "image/jpeg": letter case does not matter
//   preferredMIMEType("no-such-ext");   // std::nullopt
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace voduzazi {

// The type for an extension (without its dot), or nothing when none is known. Reads
// /etc/mime.types once, on first use. Thread-safe.
std::optional<std::string> preferredMIMEType(std::string_view pathExtension);

// Extension (lower case) to type, from text in the mime.types layout: a type and its extensions
// per line, blank-separated, "#" starting a comment. The first type named for an extension wins;
// lines whose type is not "major/minor" are skipped.
std::map<std::string, std::string, std::less<>> parseMIMETypes(std::string_view text);

}  // namespace voduzazi
