// The facade's reading of a project URL (caller text): a URL is either refused with
// InvalidProjectURLError, or every service URL derived from it keeps its scheme, host and port
// and ends in the service's path, and the storage key is built from a non-empty host label.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "voduzazi/client/project_url.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voduzazi;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  boost::urls::url project;
  try {
    project = parseProjectURL(text);
  } catch (const InvalidProjectURLError&) {
    return 0;
  }
  // The scheme may come in any letter case ("htTp").
  const auto scheme = project.scheme_id();
  if (scheme != boost::urls::scheme::http && scheme != boost::urls::scheme::https) {
    __builtin_trap();
  }
  for (std::string_view path : {"/rest/v1", "/auth/v1", "/storage/v1"}) {
    const boost::urls::url service = serviceURL(project, path);
    if (service.encoded_host() != project.encoded_host() || service.port() != project.port() ||
        service.scheme_id() != scheme || !service.encoded_path().ends_with(path)) {
      __builtin_trap();
    }
  }
  const std::string key = defaultStorageKey(project);
  if (key.size() <= std::string_view("sb--auth-token").size() || !key.starts_with("sb-") ||
      !key.ends_with("-auth-token")) {
    __builtin_trap();
  }
  return 0;
}
