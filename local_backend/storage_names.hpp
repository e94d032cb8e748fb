// The naming rules of the storage API: which bucket ids and object paths it accepts.
//
//   if (!isValidBucketName(id)) throw StorageError::invalidBucketName(id);
//   if (!isValidObjectPath(path)) throw StorageError::invalidKey(path);
#pragma once

#include <string_view>

namespace local_backend {

// 1 to 100 characters of ASCII letters, digits, "-", "_" and "."; not starting with "."; not
// one of the words the object routes use ("move", "copy", "list", "sign", "info", "public",
// "authenticated", "upload").
bool isValidBucketName(std::string_view name);

// 1 to 1024 bytes of valid UTF-8 without control characters (NUL included) or "\\"; no leading
// or trailing "/", no empty segment ("a//b") and no segment "." or "..", so that no path can
// name anything outside its bucket or two spellings name one object.
bool isValidObjectPath(std::string_view path);

}  // namespace local_backend
