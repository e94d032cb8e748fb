#include "local_backend/storage_routes.hpp"

#include <array>
#include <utility>

namespace local_backend {

namespace {

// "B/P" into bucket B and path P (P empty when there is no "/").
std::pair<std::string, std::string> bucketAndPath(std::string_view rest) {
  const auto slash = rest.find('/');
  if (slash == std::string_view::npos) return {std::string(rest), {}};
  return {std::string(rest.substr(0, slash)), std::string(rest.substr(slash + 1))};
}

struct RoutePattern {
  std::string_view prefix;
  http::verb method;
  StorageAction action;
  bool hasPath;  // bucket and object path below the prefix, else the bucket alone
};

// Longer prefixes first: "object/" with a bucket and path is the catch-all.
constexpr std::array<RoutePattern, 18> kObjectRoutes{{
    {"object/upload/sign/", http::verb::post, StorageAction::createUploadURL, true},
    {"object/upload/sign/", http::verb::put, StorageAction::signedUpload, true},
    {"object/authenticated/", http::verb::get, StorageAction::download, true},
    {"object/authenticated/", http::verb::head, StorageAction::head, true},
    {"render/image/authenticated/", http::verb::get, StorageAction::download, true},
    {"render/image/public/", http::verb::get, StorageAction::publicDownload, true},
    {"object/public/", http::verb::get, StorageAction::publicDownload, true},
    {"object/public/", http::verb::head, StorageAction::publicHead, true},
    {"object/info/", http::verb::get, StorageAction::info, true},
    {"object/list/", http::verb::post, StorageAction::list, false},
    {"object/sign/", http::verb::post, StorageAction::sign, true},
    {"object/sign/", http::verb::get, StorageAction::signedDownload, true},
    {"object/sign/", http::verb::post, StorageAction::signMany, false},
    {"object/", http::verb::post, StorageAction::upload, true},
    {"object/", http::verb::put, StorageAction::update, true},
    {"object/", http::verb::get, StorageAction::download, true},
    {"object/", http::verb::head, StorageAction::head, true},
    {"object/", http::verb::delete_, StorageAction::remove, false},
}};

StorageRoute bucketRoute(http::verb method, std::string_view rest) {
  using R = StorageRoute;
  if (rest.empty()) {
    if (method == http::verb::get) return R{StorageAction::listBuckets, {}, {}};
    if (method == http::verb::post) return R{StorageAction::createBucket, {}, {}};
    return {};
  }
  if (rest.size() > 6 && rest.substr(rest.size() - 6) == "/empty") {
    if (method != http::verb::post) return {};
    return R{StorageAction::emptyBucket, std::string(rest.substr(0, rest.size() - 6)), {}};
  }
  if (method == http::verb::get) return R{StorageAction::getBucket, std::string(rest), {}};
  if (method == http::verb::put) return R{StorageAction::updateBucket, std::string(rest), {}};
  if (method == http::verb::delete_) return R{StorageAction::deleteBucket, std::string(rest), {}};
  return {};
}

}  // namespace

StorageRoute storageRouteOf(http::verb method, std::string_view path) {
  using R = StorageRoute;
  if (path == "bucket") return bucketRoute(method, {});
  if (path.starts_with("bucket/")) return bucketRoute(method, path.substr(7));
  if (path == "object/move" || path == "object/copy") {
    if (method != http::verb::post) return {};
    return R{path == "object/move" ? StorageAction::move : StorageAction::copy, {}, {}};
  }
  for (const auto& pattern : kObjectRoutes) {
    if (pattern.method != method || !path.starts_with(pattern.prefix)) continue;
    const std::string_view rest = path.substr(pattern.prefix.size());
    auto [bucket, object] = bucketAndPath(rest);
    const bool hasPath = rest.find('/') != std::string_view::npos;
    if (hasPath != pattern.hasPath) continue;
    return R{pattern.action, std::move(bucket), std::move(object)};
  }
  return {};
}

}  // namespace local_backend
