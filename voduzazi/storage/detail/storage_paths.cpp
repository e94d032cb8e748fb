#include "voduzazi/storage/detail/storage_paths.hpp"

#include <array>
#include <boost/url/encode.hpp>
#include <boost/url/rfc/pchars.hpp>
#include <stdexcept>

namespace voduzazi::storage::detail {
namespace {

constexpr std::string_view domainLabel = "voduzazi.";
constexpr std::string_view storageLabel = "storage.voduzazi.";
constexpr std::array<std::string_view, 3> hostedDomains{"voduzazi.co", "voduzazi.in",
                                                        "voduzazi.red"};

bool isHosted(std::string_view host) {
  for (const std::string_view domain : hostedDomains) {
    if (host.ends_with(domain)) return true;
  }
  return false;
}

std::string replacingAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string result;
  for (std::size_t at; (at = text.find(from)) != std::string_view::npos;) {
    result.append(text.substr(0, at)).append(to);
    text.remove_prefix(at + from.size());
  }
  return result.append(text);
}

std::string_view trimmedTrailingSlashes(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

boost::urls::url appendingPath(const boost::urls::url& base, std::string_view path) {
  static constexpr auto pathChars = boost::urls::pchars + '/';
  boost::urls::url url = base;
  std::string encoded(url.encoded_path());
  if (!encoded.ends_with('/')) encoded += '/';
  encoded += boost::urls::encode(path, pathChars);
  url.set_encoded_path(encoded);
  return url;
}

std::string normalizeUploadPath(std::string_view path) {
  std::string normalized;
  for (const char c : path) {
    if (c == '/' && (normalized.empty() || normalized.back() == '/')) continue;
    normalized += c;
  }
  if (!normalized.empty() && normalized.back() == '/') normalized.pop_back();
  return normalized;
}

std::string lastPathComponent(std::string_view path) {
  const std::string_view trimmed = trimmedTrailingSlashes(path);
  if (trimmed.empty()) return path.empty() ? "" : "/";
  return std::string(trimmed.substr(trimmed.rfind('/') + 1));
}

std::string pathExtension(std::string_view path) {
  const std::string name = lastPathComponent(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  return name.substr(dot + 1);
}

boost::urls::url withStorageHost(const boost::urls::url& url) {
  if (!url.has_authority() || url.encoded_host().empty()) {
    throw std::invalid_argument("Client initialized with invalid URL: " +
                                std::string(url.buffer()));
  }
  const std::string host = url.host();
  if (!isHosted(host) || host.find(storageLabel) != std::string::npos) return url;
  boost::urls::url moved = url;
  moved.set_host(replacingAll(host, domainLabel, storageLabel));
  return moved;
}

}  // namespace voduzazi::storage::detail
