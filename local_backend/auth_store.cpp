#include "local_backend/auth_store.hpp"

#include "local_backend/detail/crypto.hpp"

namespace local_backend::auth_store {

namespace {

constexpr std::string_view kUserColumns =
    "id, email, password_hash, user_metadata, created_at, updated_at, email_confirmed_at, "
    "confirmation_sent_at, last_sign_in_at";

UserRecord readUser(const Statement& s) {
  return UserRecord{s.text(0), s.text(1),         s.text(2),         s.text(3),        s.text(4),
                    s.text(5), s.optionalText(6), s.optionalText(7), s.optionalText(8)};
}

std::optional<UserRecord> findUser(const Connection& c, std::string_view where,
                                   const std::string& value) {
  Statement s = c.prepare("SELECT " + std::string(kUserColumns) + " FROM auth_users WHERE " +
                          std::string(where) + " = ?1");
  s.bind(1, value);
  if (!s.step()) return std::nullopt;
  return readUser(s);
}

}  // namespace

std::optional<UserRecord> findUserByEmail(const Connection& c, const std::string& email) {
  return findUser(c, "email", email);
}

std::optional<UserRecord> findUserById(const Connection& c, const std::string& id) {
  return findUser(c, "id", id);
}

void insertUser(const Connection& c, const UserRecord& user) {
  Statement s = c.prepare("INSERT INTO auth_users (" + std::string(kUserColumns) +
                          ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  s.bind(1, user.id).bind(2, user.email).bind(3, user.passwordHash).bind(4, user.userMetadata);
  s.bind(5, user.createdAt).bind(6, user.updatedAt).bind(7, user.emailConfirmedAt);
  s.bind(8, user.confirmationSentAt).bind(9, user.lastSignInAt);
  s.step();
}

void updateUser(const Connection& c, const UserRecord& user) {
  Statement s = c.prepare(
      "UPDATE auth_users SET email = ?2, password_hash = ?3, user_metadata = ?4, "
      "updated_at = ?5, email_confirmed_at = ?6, confirmation_sent_at = ?7, "
      "last_sign_in_at = ?8 WHERE id = ?1");
  s.bind(1, user.id).bind(2, user.email).bind(3, user.passwordHash).bind(4, user.userMetadata);
  s.bind(5, user.updatedAt).bind(6, user.emailConfirmedAt).bind(7, user.confirmationSentAt);
  s.bind(8, user.lastSignInAt);
  s.step();
}

std::string createSession(const Connection& c, const std::string& userId, std::int64_t now,
                          const std::string& createdAt) {
  const std::string id = detail::randomUuid();
  Statement s = c.prepare(
      "INSERT INTO auth_sessions (id, user_id, created_at, signed_in_at) VALUES (?1, ?2, ?3, ?4)");
  s.bind(1, id).bind(2, userId).bind(3, createdAt).bind(4, now);
  s.step();
  return id;
}

std::optional<SessionRecord> findSession(const Connection& c, const std::string& sessionId) {
  Statement s = c.prepare("SELECT id, user_id, signed_in_at FROM auth_sessions WHERE id = ?1");
  s.bind(1, sessionId);
  if (!s.step()) return std::nullopt;
  return SessionRecord{s.text(0), s.text(1), s.integer(2)};
}

std::string issueRefreshToken(const Connection& c, const std::string& sessionId,
                              const std::string& createdAt) {
  const std::string token = detail::base64UrlEncode(detail::randomBytes(24));
  Statement s = c.prepare(
      "INSERT INTO auth_refresh_tokens (token_hash, session_id, created_at) VALUES (?1, ?2, ?3)");
  s.bind(1, detail::sha256Hex(token)).bind(2, sessionId).bind(3, createdAt);
  s.step();
  return token;
}

RefreshOutcome spendRefreshToken(const Connection& c, const std::string& token) {
  const std::string digest = detail::sha256Hex(token);
  Statement find =
      c.prepare("SELECT session_id, revoked FROM auth_refresh_tokens WHERE token_hash = ?1");
  find.bind(1, digest);
  if (!find.step()) return RefreshOutcome{RefreshOutcome::Kind::notFound, std::nullopt};
  const std::string sessionId = find.text(0);
  if (find.integer(1) != 0) {
    Statement end = c.prepare("DELETE FROM auth_sessions WHERE id = ?1");
    end.bind(1, sessionId);
    end.step();
    return RefreshOutcome{RefreshOutcome::Kind::alreadyUsed, std::nullopt};
  }
  Statement spend = c.prepare("UPDATE auth_refresh_tokens SET revoked = 1 WHERE token_hash = ?1");
  spend.bind(1, digest);
  spend.step();
  auto session = findSession(c, sessionId);
  if (!session) return RefreshOutcome{RefreshOutcome::Kind::notFound, std::nullopt};
  return RefreshOutcome{RefreshOutcome::Kind::rotated, std::move(session)};
}

void endSessions(const Connection& c, const std::string& userId, const std::string& sessionId,
                 LogoutScope scope) {
  std::string sql = "DELETE FROM auth_sessions WHERE user_id = ?1";
  if (scope == LogoutScope::local) sql += " AND id = ?2";
  if (scope == LogoutScope::others) sql += " AND id <> ?2";
  Statement s = c.prepare(sql);
  s.bind(1, userId);
  if (scope != LogoutScope::global) s.bind(2, sessionId);
  s.step();
}

}  // namespace local_backend::auth_store
