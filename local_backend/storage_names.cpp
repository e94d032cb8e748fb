#include "local_backend/storage_names.hpp"

#include <algorithm>
#include <array>

#include "local_backend/detail/utf8.hpp"

namespace local_backend {

namespace {

constexpr std::array<std::string_view, 8> kRouteWords{"move", "copy",          "list",   "sign",
                                                      "info", "authenticated", "upload", "public"};

bool isBucketChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

bool isValidSegment(std::string_view segment) {
  return !segment.empty() && segment != "." && segment != "..";
}

}  // namespace

bool isValidBucketName(std::string_view name) {
  if (name.empty() || name.size() > 100 || name.front() == '.') return false;
  if (!std::all_of(name.begin(), name.end(), isBucketChar)) return false;
  return std::find(kRouteWords.begin(), kRouteWords.end(), name) == kRouteWords.end();
}

bool isValidObjectPath(std::string_view path) {
  if (path.empty() || path.size() > 1024 || !detail::isValidUtf8(path)) return false;
  const bool clean = std::none_of(path.begin(), path.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f || c == '\\';
  });
  if (!clean) return false;
  for (std::size_t start = 0;;) {
    const auto slash = path.find('/', start);
    if (!isValidSegment(path.substr(start, slash - start))) return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

}  // namespace local_backend
