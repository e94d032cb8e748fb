#include "voduzazi/auth/detail/session_announcements.hpp"

#include <utility>

namespace voduzazi::auth::detail {

std::optional<SessionAnnouncements::Mark> SessionAnnouncements::markOf(
    const std::optional<Session>& session) {
  if (!session) return std::nullopt;
  return Mark{session->accessToken, session->refreshToken, session->user.id};
}

std::optional<Announcement> SessionAnnouncements::look(const std::optional<Session>& current) {
  const std::optional<Mark> found = markOf(current);
  const std::optional<Mark> last = std::exchange(last_, found);
  const bool first = !std::exchange(looked_, true);
  if (first || found == last) return std::nullopt;
  AuthChangeEvent event = AuthChangeEvent::signedIn;
  if (!found) {
    event = AuthChangeEvent::signedOut;
  } else if (last && found->userID == last->userID) {
    event = AuthChangeEvent::tokenRefreshed;
  }
  return Announcement{event, current, ++number_};
}

std::uint64_t SessionAnnouncements::wrote(const std::optional<Session>& session) {
  looked_ = true;
  last_ = markOf(session);
  return ++number_;
}

}  // namespace voduzazi::auth::detail
