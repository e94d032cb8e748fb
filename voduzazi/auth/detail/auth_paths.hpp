// Auth endpoint URLs: the configured auth URL with path segments appended, each one
// percent-encoded on its own, so an id taken from a caller or a server can never reach another
// endpoint.
//
//   boost::urls::url url = detail::appendingPath(base, {"factors", factorId, "verify"});
//   // https://x/auth/v1/factors/abc%2F..%2Fadmin/verify for the id "abc/../admin"
#pragma once

#include <boost/url/url.hpp>
#include <initializer_list>
#include <string_view>

namespace voduzazi::auth::detail {

// `base` with each segment appended (a trailing empty segment of `base` is dropped first).
// Throws std::invalid_argument for an empty segment, "." or "..".
boost::urls::url appendingPath(const boost::urls::url& base,
                               std::initializer_list<std::string_view> segments);

// `path` split at "/" into segments, for the fixed endpoint paths ("user/identities/authorize").
boost::urls::url appendingPath(const boost::urls::url& base, std::string_view path);

}  // namespace voduzazi::auth::detail
