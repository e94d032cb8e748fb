// SessionAnnouncements: what one program last told its listeners its session store holds, so
// that a session another program stored there, or its removal, is announced once: as
// TOKEN_REFRESHED for a new token of the same user, SIGNED_IN for another user's (or a first)
// session, SIGNED_OUT for an emptied store.
//
//   detail::SessionAnnouncements announced;
//   if (auto announcement = announced.look(storage.get())) emit(*announcement);
//   announced.wrote(session);              // a write of this program, which its caller announces
//   if (announced.isLatest(number)) ...    // nothing newer was written or announced meanwhile
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "voduzazi/auth/session.hpp"

namespace voduzazi::auth::detail {

struct Announcement {
  AuthChangeEvent event;
  std::optional<Session> session;
  // Later announcements and writes have higher numbers.
  std::uint64_t number;
};

// Distinct objects: safe. Shared objects: unsafe (the session manager keeps it under its storage
// mutex, so that a read of the store and its look are one step).
class SessionAnnouncements {
 public:
  // The store holds `current` (none: it is empty). Gives the event that tells listeners so when
  // that is not what this program last announced or wrote, and takes it as announced. The first
  // look announces nothing: what the program finds there is where it starts.
  std::optional<Announcement> look(const std::optional<Session>& current);
  // This program wrote `session` to the store (none: removed it), which its caller announces.
  // Returns the write's number.
  std::uint64_t wrote(const std::optional<Session>& session);
  // Whether nothing was written or announced since the announcement or write numbered `number`.
  bool isLatest(std::uint64_t number) const { return number == number_; }

 private:
  // Two looks find the same session when both its tokens (and so its user) are the same.
  struct Mark {
    std::string accessToken;
    std::string refreshToken;
    UUID userID;

    bool operator==(const Mark&) const = default;
  };

  static std::optional<Mark> markOf(const std::optional<Session>& session);

  bool looked_ = false;
  std::optional<Mark> last_;
  std::uint64_t number_ = 0;
};

}  // namespace voduzazi::auth::detail
