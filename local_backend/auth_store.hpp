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
  std::string email;  // empty for a user known by phone only (NULL in the table)
  std::string passwordHash;
  std::string userMetadata = "{}";  // JSON object text
  std::string createdAt;
  std::string updatedAt;
  std::optional<std::string> emailConfirmedAt;
  std::optional<std::string> confirmationSentAt;
  std::optional<std::string> lastSignInAt;
  std::optional<std::string> phone;
  std::optional<std::string> phoneConfirmedAt;
};

struct SessionRecord {
  std::string id;
  std::string userId;
  std::int64_t signedInAt = 0;  // seconds since 1970, for the "amr" claim
  std::string signInMethod = "password";
  std::string aal = "aal1";
  std::optional<std::int64_t> mfaVerifiedAt;
};

struct IdentityRecord {
  std::string id;  // the identity id, a UUID
  std::string userId;
  std::string provider;
  std::string providerId;
  std::string identityData = "{}";  // JSON object text
  std::string createdAt;
};

struct FactorRecord {
  std::string id;
  std::string userId;
  std::optional<std::string> friendlyName;
  std::string factorType;  // "totp"
  std::string status;      // "unverified" or "verified"
  std::string secret;      // base32
  std::int64_t lastStep = 0;
  std::string createdAt;
  std::string updatedAt;
};

// Brings a database made by an older server up to the current tables. Idempotent.
void upgradeSchema(const Connection& c);

std::optional<UserRecord> findUserByEmail(const Connection& c, const std::string& email);
std::optional<UserRecord> findUserById(const Connection& c, const std::string& id);
std::optional<UserRecord> findUserByPhone(const Connection& c, const std::string& phone);
// Users in creation order, `limit` from `offset` on.
std::vector<UserRecord> listUsers(const Connection& c, std::int64_t offset, std::int64_t limit);
std::int64_t countUsers(const Connection& c);
// False when there was no such user; the user's sessions, identities and factors go with it.
bool deleteUser(const Connection& c, const std::string& id);
// Throws SqliteError (a unique violation) when the e-mail address is taken.
void insertUser(const Connection& c, const UserRecord& user);
void updateUser(const Connection& c, const UserRecord& user);

// A session signed in with a password.
std::string createSession(const Connection& c, const std::string& userId, std::int64_t now,
                          const std::string& createdAt);
std::string createSession(const Connection& c, const std::string& userId, std::int64_t now,
                          const std::string& createdAt, const std::string& method);
std::optional<SessionRecord> findSession(const Connection& c, const std::string& sessionId);
// Raises the session to "aal2" after a verified second factor.
void markSessionVerified(const Connection& c, const std::string& sessionId, std::int64_t now);

void insertIdentity(const Connection& c, const IdentityRecord& identity);
std::vector<IdentityRecord> identitiesOf(const Connection& c, const std::string& userId);
std::optional<IdentityRecord> findIdentity(const Connection& c, const std::string& provider,
                                           const std::string& providerId);
bool deleteIdentity(const Connection& c, const std::string& userId, const std::string& id);

void insertFactor(const Connection& c, const FactorRecord& factor);
std::vector<FactorRecord> factorsOf(const Connection& c, const std::string& userId);
std::optional<FactorRecord> findFactor(const Connection& c, const std::string& userId,
                                       const std::string& factorId);
void updateFactor(const Connection& c, const FactorRecord& factor);
bool deleteFactor(const Connection& c, const std::string& userId, const std::string& factorId);

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
