#include "local_backend/database.hpp"

#include <sqlite3.h>

#include <vector>

#include "local_backend/detail/crypto.hpp"
#include "local_backend/detail/like_pattern.hpp"
#include "local_backend/detail/schema_sql.hpp"

namespace local_backend {

namespace {

[[noreturn]] void fail(sqlite3* db, int code) {
  throw SqliteError(sqlite3_extended_errcode(db) ? sqlite3_extended_errcode(db) : code,
                    sqlite3_errmsg(db));
}

std::string_view argText(sqlite3_value* value) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  return text == nullptr
             ? std::string_view{}
             : std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
}

void genRandomUuid(sqlite3_context* context, int, sqlite3_value**) {
  const std::string uuid = detail::randomUuid();
  sqlite3_result_text(context, uuid.data(), static_cast<int>(uuid.size()), SQLITE_TRANSIENT);
}

void nowUtc(sqlite3_context* context, int, sqlite3_value**) {
  auto* clock = static_cast<MonotonicClock*>(sqlite3_user_data(context));
  const std::string text = formatTimestamp(clock->now());
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// pg_like(value, pattern, case_insensitive): NULL when either side is NULL.
void pgLike(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const bool folded = sqlite3_value_int(args[2]) != 0;
  sqlite3_result_int(context, detail::likeMatches(argText(args[0]), argText(args[1]), folded));
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  const int rc =
      sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr);
  if (rc != SQLITE_OK) fail(db_, rc);
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr)) {}

Statement& Statement::bind(int index, std::string_view text) {
  const int rc = sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                                   SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) fail(db_, rc);
  return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(statement_, index, value);
  if (rc != SQLITE_OK) fail(db_, rc);
  return *this;
}

Statement& Statement::bindNull(int index) {
  const int rc = sqlite3_bind_null(statement_, index);
  if (rc != SQLITE_OK) fail(db_, rc);
  return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& text) {
  return text ? bind(index, std::string_view(*text)) : bindNull(index);
}

bool Statement::step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(db_, rc);
}

int Statement::columnCount() const { return sqlite3_column_count(statement_); }

std::string Statement::columnName(int column) const {
  return sqlite3_column_name(statement_, column);
}

bool Statement::isNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::string Statement::text(int column) const {
  const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  if (data == nullptr) return {};
  return std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

std::optional<std::string> Statement::optionalText(int column) const {
  if (isNull(column)) return std::nullopt;
  return text(column);
}

std::int64_t Statement::integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

void Connection::execute(std::string_view sql) const {
  const std::string text(sql);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string reason = message != nullptr ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw SqliteError(sqlite3_extended_errcode(db_), reason);
  }
}

int Connection::changes() const { return sqlite3_changes(db_); }

Database::Database() { open(":memory:", false); }

Database::Database(const std::filesystem::path& file) { open(file.string(), true); }

Database::~Database() { sqlite3_close_v2(db_); }

void Database::open(const std::string& location, bool onDisk) {
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(location.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw SqliteError(rc, "cannot open " + location + ": " + reason);
  }
  sqlite3_extended_result_codes(db_, 1);
  const int utf8 = SQLITE_UTF8;
  sqlite3_create_function_v2(db_, "gen_random_uuid", 0, utf8, nullptr, genRandomUuid, nullptr,
                             nullptr, nullptr);
  sqlite3_create_function_v2(db_, "now_utc", 0, utf8, &clock_, nowUtc, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db_, "pg_like", 3, utf8 | SQLITE_DETERMINISTIC, nullptr, pgLike,
                             nullptr, nullptr, nullptr);
  Connection connection(db_);
  connection.execute("PRAGMA foreign_keys = ON; PRAGMA busy_timeout = 5000;");
  if (onDisk) connection.execute("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
  connection.execute(detail::schemaSql());

  // New rows must sort after every row already stored, whatever the wall clock says now.
  std::vector<std::pair<std::string, std::string>> stamped;
  Statement tables = connection.prepare(
      "SELECT m.name, p.name FROM sqlite_schema AS m, pragma_table_info(m.name) AS p "
      "WHERE m.type = 'table' AND upper(p.type) = 'TIMESTAMPTZ'");
  while (tables.step()) stamped.emplace_back(tables.text(0), tables.text(1));
  for (const auto& [table, column] : stamped) {
    Statement newest = connection.prepare("SELECT max(\"" + column + "\") FROM \"" + table + "\"");
    if (newest.step() && !newest.isNull(0)) {
      if (const auto time = parseTimestamp(newest.text(0))) clock_.advancePast(*time);
    }
  }
}

void Database::begin() { Connection(db_).execute("BEGIN IMMEDIATE"); }

void Database::commit() { Connection(db_).execute("COMMIT"); }

void Database::rollback() noexcept {
  try {
    Connection(db_).execute("ROLLBACK");
  } catch (const SqliteError&) {
    // Already rolled back by SQLite itself after the failure.
  }
}

}  // namespace local_backend
