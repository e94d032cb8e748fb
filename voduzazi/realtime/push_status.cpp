#include "voduzazi/realtime/push_status.hpp"

namespace voduzazi::realtime {

std::string_view toString(PushStatus status) {
  switch (status) {
    case PushStatus::ok:
      return "ok";
    case PushStatus::error:
      return "error";
    case PushStatus::timeout:
      return "timeout";
  }
  return "ok";
}

std::optional<PushStatus> pushStatusFromString(std::string_view text) {
  for (auto status : {PushStatus::ok, PushStatus::error, PushStatus::timeout}) {
    if (toString(status) == text) return status;
  }
  return std::nullopt;
}

}  // namespace voduzazi::realtime
