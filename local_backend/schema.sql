-- Tables of the local backend.
--
-- Column types are the database's own names: UUID, TEXT and TIMESTAMPTZ. The REST layer reads
-- them back to decide how to check, normalise and compare values. Tables named "auth_*" belong to
-- the authentication service, those named "storage_*" to the storage service; neither is
-- reachable over REST.
--
-- gen_random_uuid() and now_utc() are functions the server registers on every connection:
-- a random lower-case UUID and a strictly increasing UTC time with microseconds
-- ("2025-10-21T08:00:00.123456+00:00").

-- A user has an e-mail address, a phone number or both. Databases made before phone numbers
-- existed get the phone column from the authentication service at start-up.
CREATE TABLE IF NOT EXISTS auth_users (
  id                 TEXT PRIMARY KEY,
  email              TEXT UNIQUE COLLATE NOCASE,
  password_hash      TEXT NOT NULL,
  user_metadata      TEXT NOT NULL DEFAULT '{}',
  created_at         TEXT NOT NULL,
  updated_at         TEXT NOT NULL,
  email_confirmed_at TEXT,
  confirmation_sent_at TEXT,
  last_sign_in_at    TEXT,
  phone              TEXT UNIQUE,
  phone_confirmed_at TEXT
);

CREATE TABLE IF NOT EXISTS auth_sessions (
  id         TEXT PRIMARY KEY,
  user_id    TEXT NOT NULL REFERENCES auth_users(id) ON DELETE CASCADE,
  created_at TEXT NOT NULL,
  signed_in_at INTEGER NOT NULL,
  sign_in_method TEXT NOT NULL DEFAULT 'password',
  aal        TEXT NOT NULL DEFAULT 'aal1',
  mfa_verified_at INTEGER
);
CREATE INDEX IF NOT EXISTS auth_sessions_user ON auth_sessions(user_id);

-- The sign-in identities of a user: "email", "phone", or an OAuth provider's account.
CREATE TABLE IF NOT EXISTS auth_identities (
  id            TEXT PRIMARY KEY,
  user_id       TEXT NOT NULL REFERENCES auth_users(id) ON DELETE CASCADE,
  provider      TEXT NOT NULL,
  provider_id   TEXT NOT NULL,
  identity_data TEXT NOT NULL DEFAULT '{}',
  created_at    TEXT NOT NULL,
  UNIQUE (provider, provider_id)
);
CREATE INDEX IF NOT EXISTS auth_identities_user ON auth_identities(user_id);

-- Second factors. A TOTP factor keeps its secret and the last time step it accepted, so that a
-- code is never accepted twice.
CREATE TABLE IF NOT EXISTS auth_factors (
  id            TEXT PRIMARY KEY,
  user_id       TEXT NOT NULL REFERENCES auth_users(id) ON DELETE CASCADE,
  friendly_name TEXT,
  factor_type   TEXT NOT NULL,
  status        TEXT NOT NULL,
  secret        TEXT NOT NULL,
  last_step     INTEGER NOT NULL DEFAULT 0,
  created_at    TEXT NOT NULL,
  updated_at    TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS auth_factors_user ON auth_factors(user_id);

-- Refresh tokens are kept as SHA-256 digests; a spent token stays, marked revoked, so that its
-- reuse can be told apart from a token that never existed.
CREATE TABLE IF NOT EXISTS auth_refresh_tokens (
  token_hash TEXT PRIMARY KEY,
  session_id TEXT NOT NULL REFERENCES auth_sessions(id) ON DELETE CASCADE,
  revoked    INTEGER NOT NULL DEFAULT 0,
  created_at TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS auth_refresh_tokens_session ON auth_refresh_tokens(session_id);

CREATE TABLE IF NOT EXISTS profiles (
  id       UUID NOT NULL PRIMARY KEY,
  username TEXT,
  email    TEXT
);

CREATE TABLE IF NOT EXISTS friend_invites (
  inviter UUID NOT NULL,
  code    TEXT NOT NULL PRIMARY KEY
);

-- No uniqueness: redeeming a code twice, or one's own code, writes the rows again.
CREATE TABLE IF NOT EXISTS friends (
  user_id   UUID NOT NULL,
  friend_id UUID NOT NULL
);
CREATE INDEX IF NOT EXISTS friends_user ON friends(user_id);

CREATE TABLE IF NOT EXISTS messages (
  id          UUID NOT NULL PRIMARY KEY DEFAULT (gen_random_uuid()),
  sender_id   UUID NOT NULL,
  receiver_id UUID NOT NULL,
  content     TEXT NOT NULL,
  created_at  TIMESTAMPTZ NOT NULL DEFAULT (now_utc())
);
CREATE INDEX IF NOT EXISTS messages_receiver ON messages(receiver_id, created_at);

-- Storage: buckets and the objects in them. An object's content is the file
-- "<storage folder>/objects/<version>"; every upload writes a new version and commits it here, so
-- that a row always names complete content. Times are UTC text ending in "Z".
CREATE TABLE IF NOT EXISTS storage_buckets (
  id                 TEXT PRIMARY KEY,
  owner              TEXT NOT NULL DEFAULT '',
  public             INTEGER NOT NULL DEFAULT 0,
  file_size_limit    INTEGER,
  allowed_mime_types TEXT,
  created_at         TEXT NOT NULL,
  updated_at         TEXT NOT NULL
);

CREATE TABLE IF NOT EXISTS storage_objects (
  id               TEXT NOT NULL UNIQUE,
  bucket_id        TEXT NOT NULL REFERENCES storage_buckets(id),
  name             TEXT NOT NULL,
  owner            TEXT NOT NULL DEFAULT '',
  version          TEXT NOT NULL,
  size             INTEGER NOT NULL,
  content_type     TEXT NOT NULL,
  cache_control    TEXT NOT NULL,
  metadata         TEXT,
  created_at       TEXT NOT NULL,
  updated_at       TEXT NOT NULL,
  last_accessed_at TEXT NOT NULL,
  PRIMARY KEY (bucket_id, name)
);
