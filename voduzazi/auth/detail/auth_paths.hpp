// Auth endpoint URLs: the configured auth URL with path segments appended, each one
// percent-encoded on its own; an id holding a separator or a control character is refused, so an
// id taken from a caller or a server can never reach another endpoint, even on a server that
// decodes the path before routing.
//
//   boost::urls::url url = detail::appendingPath(base, {"factors", factorId, "verify"});
//   // https://x/auth/v1/factors/a%3Fb/verify for the id "a?b"; "abc/../admin" throws
#pragma once

#include <boost/url/url.hpp>
#include <initializer_list>
#include <string_view>

namespace voduzazi::auth::detail {

// `base` with each segment appended (a trailing empty segment of `base` is dropped first).
// Throws std::invalid_argument for an empty segment, "." or "..", or one holding "/", "\" or a
// control character.
boost::urls::url appendingPath(const boost::urls::url& base,
                               std::initializer_list<std::string_view> segments);

// `path` split at "/" into segments, for the fixed endpoint paths ("user/identities/authorize").
boost::urls::url appendingPath(const boost::urls::url& base, std::string_view path);

}  // namespace voduzazi::auth::detail
