// The backend compiled into the app: the stand-in backend on its fixed port unless the build
// names another (CMake cache variables TAPWICK_PROJECT_URL and TAPWICK_ANON_KEY).
#pragma once

#include <string_view>

namespace tapwick {

extern const std::string_view kProjectURL;
extern const std::string_view kAnonKey;

}  // namespace tapwick
