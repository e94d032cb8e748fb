// How the storage client turns object paths into request URLs and file names.
#pragma once

#include <boost/url/url.hpp>
#include <string>
#include <string_view>

namespace voduzazi::storage::detail {

// `base` with `path` appended after one "/": a "/" in `path` stays a separator, every other
// character a path cannot hold is percent-encoded, and nothing is resolved (".." is sent as is).
boost::urls::url appendingPath(const boost::urls::url& base, std::string_view path);

// Slashes trimmed from both ends and each run of them inside made one: "/a//b/" gives "a/b".
std::string normalizeUploadPath(std::string_view path);

// The last component of a slash-separated path, trailing slashes ignored: "a/b/c.png/" gives
// "c.png".
std::string lastPathComponent(std::string_view path);

// The extension of the last component without its dot, empty when it has none ("a.tar.gz" gives
// "gz"; ".profile" and "notes" give "").
std::string pathExtension(std::string_view path);

// The host moved to the storage host ("abcd.voduzazi.co" becomes "abcd.storage.voduzazi.co") for
// the hosted domains; any other host is kept. Throws std::invalid_argument, naming the URL, for a
// URL without a host.
boost::urls::url withStorageHost(const boost::urls::url& url);

}  // namespace voduzazi::storage::detail
