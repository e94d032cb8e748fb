// What the "App Info" window shows, and the pre-filled feedback mail its "Contact Me" opens.
//
//   openUrl(feedbackMailURL());   // "mailto:...?subject=Regarding%20the%20app:%20Tapwick&body=..."
#pragma once

#include <string>
#include <string_view>

namespace tapwick {

inline constexpr std::string_view kAppName = "Tapwick";
inline constexpr std::string_view kVersionText = "Version: 1.0.0";
inline constexpr std::string_view kLastUpdateText = "Last Update: 21 Oct 2025";
inline constexpr std::string_view kSupportAddress = "support@tapwick.example";

// `text` with every byte outside the characters a URL query may hold percent-encoded.
std::string percentEncodeQueryComponent(std::string_view text);

// "mailto:<support>?subject=...&body=..." with the fixed subject and body, percent-encoded.
std::string feedbackMailURL();

}  // namespace tapwick
