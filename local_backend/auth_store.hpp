// Persistence of the authentication service: users, sessions and refresh tokens, inside a
// transaction of the backend database. Refresh tokens are stored as SHA-256 digests only.
//
//   db.transaction([&](Connection& c) {
//     auto user = auth_store::findUserByEmail(c, "a@b.c");
//     std::string sessionId = auth_store::createSession(c, user->id, unixNow());
//     std::string refresh = auth_store::issueRefreshToken(c, sessionId, now);
//   });
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "local_backend/database.hpp"

namespace local_backend::auth_store {

struct UserRecord {
  std::string id;
  std::string email;
  std::string passwordHash;
  std::string userMetadata = "{}";  // JSON object text
  std::string createdAt;
  std::string updatedAt;
  std::optional<std::string> emailConfirmedAt;
  std::optional<std::string> confirmationSentAt;
  std::optional<std::string> lastSignInAt;
};

struct SessionRecord {
  std::string id;
  std::string userId;
  std::int64_t signedInAt = 0;  // seconds since 1970, for the "amr" claim
};

std::optional<UserRecord> findUserByEmail(const Connection& c, const std::string& email);
std::optional<UserRecord> findUserById(const Connection& c, const std::string& id);
// Throws SqliteError (a unique violation) when the e-mail address is taken.
void insertUser(const Connection& c, const UserRecord& user);
void updateUser(const Connection& c, const UserRecord& user);

std::string createSession(const Connection& c, const std::string& userId, std::int64_t now,
                          const std::string& createdAt);
std::optional<SessionRecord> findSession(const Connection& c, const std::string& sessionId);

// A new random refresh token for the session; only its digest is stored.
std::string issueRefreshToken(const Connection& c, const std::string& sessionId,
                              const std::string& createdAt);

struct RefreshOutcome {
  enum class Kind { rotated, notFound, alreadyUsed };
  Kind kind = Kind::notFound;
  std::optional<SessionRecord> session;  // set when rotated
};

// Spends `token`. A token that was already spent ends its whole session: it has leaked.
RefreshOutcome spendRefreshToken(const Connection& c, const std::string& token);

enum class LogoutScope { global, local, others };

// Ends the user's sessions of the scope relative to `sessionId`.
void endSessions(const Connection& c, const std::string& userId, const std::string& sessionId,
                 LogoutScope scope);

}  // namespace local_backend::auth_store
