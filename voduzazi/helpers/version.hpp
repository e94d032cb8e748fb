// The library's version and the platform strings it reports to the backend.
//
//   std::string clientInfo = "functions-cpp/" + std::string(version);   // "functions-cpp/2.33.2"
//   if (platform) headers.set(platformName, std::string(*platform));     // "Linux"
//   if (const auto& release = platformVersion()) use(*release);          // e.g. "6.1.0"
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voduzazi {

// The library's version, the last part of every "X-Client-Info" value.
inline constexpr std::string_view version = "2.33.2";

// The operating system's name.
inline constexpr std::optional<std::string_view> platform = std::string_view("Linux");

// The running kernel's release as major.minor.patch ("6.1.0" for "6.1.0-18-amd64"), computed
// once per process; absent only when the release cannot be read. Safe from any thread.
const std::optional<std::string>& platformVersion();

}  // namespace voduzazi
