#include "voduzazi/auth/detail/auth_paths.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace voduzazi::auth::detail {

namespace {

bool isSeparatorOrControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F;
}

void appendSegment(boost::urls::url& url, std::string_view segment) {
  if (segment.empty() || segment == "." || segment == "..") {
    throw std::invalid_argument("Refusing the path segment \"" + std::string(segment) +
                                "\": an id must not be empty, \".\" or \"..\"");
  }
  // Encoded, a slash would still reach another route on a server that decodes before routing.
  if (std::any_of(segment.begin(), segment.end(), isSeparatorOrControl)) {
    throw std::invalid_argument(
        "Refusing an id holding \"/\", \"\\\" or a control character as a path segment");
  }
  url.segments().push_back(segment);  // percent-encodes "?", "#" and "%"
}

boost::urls::url withoutTrailingSlash(const boost::urls::url& base) {
  boost::urls::url url = base;
  auto segments = url.segments();
  if (!segments.empty() && segments.back().empty()) segments.pop_back();
  return url;
}

}  // namespace

boost::urls::url appendingPath(const boost::urls::url& base,
                               std::initializer_list<std::string_view> segments) {
  boost::urls::url url = withoutTrailingSlash(base);
  for (const std::string_view segment : segments) appendSegment(url, segment);
  return url;
}

boost::urls::url appendingPath(const boost::urls::url& base, std::string_view path) {
  boost::urls::url url = withoutTrailingSlash(base);
  while (true) {
    const auto slash = path.find('/');
    appendSegment(url, path.substr(0, slash));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return url;
}

}  // namespace voduzazi::auth::detail
