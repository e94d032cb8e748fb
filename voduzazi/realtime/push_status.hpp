// PushStatus: the status of a reply to a pushed message, shared by both realtime clients.
//
//   if (auto status = pushStatusFromString("ok")) handle(*status);   // PushStatus::ok
//   std::string_view text = toString(PushStatus::timeout);           // "timeout"
#pragma once

#include <optional>
#include <string_view>

namespace voduzazi::realtime {

enum class PushStatus { ok, error, timeout };

std::string_view toString(PushStatus status);
// Exactly "ok", "error" or "timeout" (letter case matters); nothing for any other text.
std::optional<PushStatus> pushStatusFromString(std::string_view text);

}  // namespace voduzazi::realtime
