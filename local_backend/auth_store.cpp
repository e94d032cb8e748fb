#include "local_backend/auth_store.hpp"

#include "local_backend/detail/crypto.hpp"

namespace local_backend::auth_store {

namespace {

constexpr std::string_view kUserColumns =
    "id, email, password_hash, user_metadata, created_at, updated_at, email_confirmed_at, "
    "confirmation_sent_at, last_sign_in_at, phone, phone_confirmed_at";

UserRecord readUser(const Statement& s) {
  return UserRecord{s.text(0),         s.optionalText(1).value_or(""),
                    s.text(2),         s.text(3),
                    s.text(4),         s.text(5),
                    s.optionalText(6), s.optionalText(7),
                    s.optionalText(8), s.optionalText(9),
                    s.optionalText(10)};
}

// The e-mail column: NULL for a user without an address.
std::optional<std::string> emailColumn(const UserRecord& user) {
  return user.email.empty() ? std::nullopt : std::optional<std::string>(user.email);
}

bool hasColumn(const Connection& c, std::string_view table, std::string_view column) {
  Statement s = c.prepare("SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
  s.bind(1, table).bind(2, column);
  return s.step();
}

void ensureColumn(const Connection& c, std::string_view table, std::string_view column,
                  std::string_view definition) {
  if (hasColumn(c, table, column)) return;
  c.execute("ALTER TABLE " + std::string(table) + " ADD COLUMN " + std::string(column) + " " +
            std::string(definition));
}

constexpr std::string_view kSessionColumns =
    "id, user_id, signed_in_at, sign_in_method, aal, mfa_verified_at";

SessionRecord readSession(const Statement& s) {
  std::optional<std::int64_t> verifiedAt;
  if (!s.isNull(5)) verifiedAt = s.integer(5);
  return SessionRecord{s.text(0), s.text(1), s.integer(2), s.text(3), s.text(4), verifiedAt};
}

constexpr std::string_view kFactorColumns =
    "id, user_id, friendly_name, factor_type, status, secret, last_step, created_at, updated_at";

FactorRecord readFactor(const Statement& s) {
  return FactorRecord{s.text(0), s.text(1),    s.optionalText(2), s.text(3), s.text(4),
                      s.text(5), s.integer(6), s.text(7),         s.text(8)};
}

constexpr std::string_view kIdentityColumns =
    "id, user_id, provider, provider_id, identity_data, created_at";

IdentityRecord readIdentity(const Statement& s) {
  return IdentityRecord{s.text(0), s.text(1), s.text(2), s.text(3), s.text(4), s.text(5)};
}

bool changedOne(const Connection& c) { return c.changes() > 0; }

std::optional<UserRecord> findUser(const Connection& c, std::string_view where,
                                   const std::string& value) {
  Statement s = c.prepare("SELECT " + std::string(kUserColumns) + " FROM auth_users WHERE " +
                          std::string(where) + " = ?1");
  s.bind(1, value);
  if (!s.step()) return std::nullopt;
  return readUser(s);
}

}  // namespace

void upgradeSchema(const Connection& c) {
  ensureColumn(c, "auth_users", "phone", "TEXT");
  ensureColumn(c, "auth_users", "phone_confirmed_at", "TEXT");
  c.execute("CREATE UNIQUE INDEX IF NOT EXISTS auth_users_phone ON auth_users(phone)");
  ensureColumn(c, "auth_sessions", "sign_in_method", "TEXT NOT NULL DEFAULT 'password'");
  ensureColumn(c, "auth_sessions", "aal", "TEXT NOT NULL DEFAULT 'aal1'");
  ensureColumn(c, "auth_sessions", "mfa_verified_at", "INTEGER");
}

std::optional<UserRecord> findUserByEmail(const Connection& c, const std::string& email) {
  return findUser(c, "email", email);
}

std::optional<UserRecord> findUserById(const Connection& c, const std::string& id) {
  return findUser(c, "id", id);
}

std::optional<UserRecord> findUserByPhone(const Connection& c, const std::string& phone) {
  return findUser(c, "phone", phone);
}

std::vector<UserRecord> listUsers(const Connection& c, std::int64_t offset, std::int64_t limit) {
  Statement s = c.prepare("SELECT " + std::string(kUserColumns) +
                          " FROM auth_users ORDER BY created_at, id LIMIT ?1 OFFSET ?2");
  s.bind(1, limit).bind(2, offset);
  std::vector<UserRecord> users;
  while (s.step()) users.push_back(readUser(s));
  return users;
}

std::int64_t countUsers(const Connection& c) {
  Statement s = c.prepare("SELECT count(*) FROM auth_users");
  s.step();
  return s.integer(0);
}

bool deleteUser(const Connection& c, const std::string& id) {
  Statement s = c.prepare("DELETE FROM auth_users WHERE id = ?1");
  s.bind(1, id);
  s.step();
  return changedOne(c);
}

void insertUser(const Connection& c, const UserRecord& user) {
  Statement s = c.prepare("INSERT INTO auth_users (" + std::string(kUserColumns) +
                          ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
  s.bind(1, user.id).bind(2, emailColumn(user)).bind(3, user.passwordHash);
  s.bind(4, user.userMetadata).bind(5, user.createdAt).bind(6, user.updatedAt);
  s.bind(7, user.emailConfirmedAt).bind(8, user.confirmationSentAt).bind(9, user.lastSignInAt);
  s.bind(10, user.phone).bind(11, user.phoneConfirmedAt);
  s.step();
}

void updateUser(const Connection& c, const UserRecord& user) {
  Statement s = c.prepare(
      "UPDATE auth_users SET email = ?2, password_hash = ?3, user_metadata = ?4, "
      "updated_at = ?5, email_confirmed_at = ?6, confirmation_sent_at = ?7, "
      "last_sign_in_at = ?8, phone = ?9, phone_confirmed_at = ?10 WHERE id = ?1");
  s.bind(1, user.id).bind(2, emailColumn(user)).bind(3, user.passwordHash);
  s.bind(4, user.userMetadata).bind(5, user.updatedAt).bind(6, user.emailConfirmedAt);
  s.bind(7, user.confirmationSentAt).bind(8, user.lastSignInAt).bind(9, user.phone);
  s.bind(10, user.phoneConfirmedAt);
  s.step();
}

std::string createSession(const Connection& c, const std::string& userId, std::int64_t now,
                          const std::string& createdAt) {
  return createSession(c, userId, now, createdAt, "password");
}

std::string createSession(const Connection& c, const std::string& userId, std::int64_t now,
                          const std::string& createdAt, const std::string& method) {
  const std::string id = detail::randomUuid();
  Statement s = c.prepare(
      "INSERT INTO auth_sessions (id, user_id, created_at, signed_in_at, sign_in_method) "
      "VALUES (?1, ?2, ?3, ?4, ?5)");
  s.bind(1, id).bind(2, userId).bind(3, createdAt).bind(4, now).bind(5, method);
  s.step();
  return id;
}

std::optional<SessionRecord> findSession(const Connection& c, const std::string& sessionId) {
  Statement s =
      c.prepare("SELECT " + std::string(kSessionColumns) + " FROM auth_sessions WHERE id = ?1");
  s.bind(1, sessionId);
  if (!s.step()) return std::nullopt;
  return readSession(s);
}

void markSessionVerified(const Connection& c, const std::string& sessionId, std::int64_t now) {
  Statement s =
      c.prepare("UPDATE auth_sessions SET aal = 'aal2', mfa_verified_at = ?2 WHERE id = ?1");
  s.bind(1, sessionId).bind(2, now);
  s.step();
}

void insertIdentity(const Connection& c, const IdentityRecord& identity) {
  Statement s = c.prepare("INSERT INTO auth_identities (" + std::string(kIdentityColumns) +
                          ") VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  s.bind(1, identity.id).bind(2, identity.userId).bind(3, identity.provider);
  s.bind(4, identity.providerId).bind(5, identity.identityData).bind(6, identity.createdAt);
  s.step();
}

std::vector<IdentityRecord> identitiesOf(const Connection& c, const std::string& userId) {
  Statement s = c.prepare("SELECT " + std::string(kIdentityColumns) +
                          " FROM auth_identities WHERE user_id = ?1 ORDER BY created_at, id");
  s.bind(1, userId);
  std::vector<IdentityRecord> identities;
  while (s.step()) identities.push_back(readIdentity(s));
  return identities;
}

std::optional<IdentityRecord> findIdentity(const Connection& c, const std::string& provider,
                                           const std::string& providerId) {
  Statement s = c.prepare("SELECT " + std::string(kIdentityColumns) +
                          " FROM auth_identities WHERE provider = ?1 AND provider_id = ?2");
  s.bind(1, provider).bind(2, providerId);
  if (!s.step()) return std::nullopt;
  return readIdentity(s);
}

bool deleteIdentity(const Connection& c, const std::string& userId, const std::string& id) {
  Statement s = c.prepare("DELETE FROM auth_identities WHERE user_id = ?1 AND id = ?2");
  s.bind(1, userId).bind(2, id);
  s.step();
  return changedOne(c);
}

void insertFactor(const Connection& c, const FactorRecord& factor) {
  Statement s = c.prepare("INSERT INTO auth_factors (" + std::string(kFactorColumns) +
                          ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  s.bind(1, factor.id).bind(2, factor.userId).bind(3, factor.friendlyName);
  s.bind(4, factor.factorType).bind(5, factor.status).bind(6, factor.secret);
  s.bind(7, factor.lastStep).bind(8, factor.createdAt).bind(9, factor.updatedAt);
  s.step();
}

std::vector<FactorRecord> factorsOf(const Connection& c, const std::string& userId) {
  Statement s = c.prepare("SELECT " + std::string(kFactorColumns) +
                          " FROM auth_factors WHERE user_id = ?1 ORDER BY created_at, id");
  s.bind(1, userId);
  std::vector<FactorRecord> factors;
  while (s.step()) factors.push_back(readFactor(s));
  return factors;
}

std::optional<FactorRecord> findFactor(const Connection& c, const std::string& userId,
                                       const std::string& factorId) {
  Statement s = c.prepare("SELECT " + std::string(kFactorColumns) +
                          " FROM auth_factors WHERE user_id = ?1 AND id = ?2");
  s.bind(1, userId).bind(2, factorId);
  if (!s.step()) return std::nullopt;
  return readFactor(s);
}

void updateFactor(const Connection& c, const FactorRecord& factor) {
  Statement s = c.prepare(
      "UPDATE auth_factors SET status = ?3, last_step = ?4, updated_at = ?5 "
      "WHERE user_id = ?1 AND id = ?2");
  s.bind(1, factor.userId).bind(2, factor.id).bind(3, factor.status).bind(4, factor.lastStep);
  s.bind(5, factor.updatedAt);
  s.step();
}

bool deleteFactor(const Connection& c, const std::string& userId, const std::string& factorId) {
  Statement s = c.prepare("DELETE FROM auth_factors WHERE user_id = ?1 AND id = ?2");
  s.bind(1, userId).bind(2, factorId);
  s.step();
  return changedOne(c);
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
