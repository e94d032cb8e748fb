// Which storage operation a request names: the action, its bucket and its object path, from the
// method and the path below "/storage/v1".
//
//   StorageRoute route = storageRouteOf(http::verb::post, "object/avatars/me/a.png");
//   // route.action == StorageAction::upload, route.bucket "avatars", route.path "me/a.png"
#pragma once

#include <string>
#include <string_view>

#include "local_backend/http_message.hpp"

namespace local_backend {

enum class StorageAction {
  listBuckets,
  createBucket,
  getBucket,
  updateBucket,
  deleteBucket,
  emptyBucket,
  upload,
  update,
  download,
  head,
  publicDownload,
  publicHead,
  info,
  remove,
  list,
  move,
  copy,
  sign,
  signMany,
  signedDownload,
  createUploadURL,
  signedUpload,
  unknown
};

struct StorageRoute {
  StorageAction action = StorageAction::unknown;
  std::string bucket;
  std::string path;  // empty for the routes that name a bucket only
};

// StorageAction::unknown for any path or method the storage API does not serve. The bucket and
// path are not checked here.
StorageRoute storageRouteOf(http::verb method, std::string_view path);

}  // namespace local_backend
