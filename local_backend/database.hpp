// The backend's SQLite database: one connection, serialised, with the schema applied and the
// functions that the schema and the REST layer use (gen_random_uuid, now_utc, pg_like).
//
//   Database db(std::filesystem::path("/tmp/data/backend.sqlite3"));   // or Database db{};
//   db.transaction([](Connection& c) {
//     Statement s = c.prepare("SELECT count(*) FROM messages");
//     s.step();
//   });
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "local_backend/timestamp.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace local_backend {

// A failed SQLite call; `code()` is the extended result code (SQLITE_CONSTRAINT_UNIQUE, ...).
class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// One prepared statement. Parameters are 1-based, columns 0-based.
// Thread safety: unsafe; used inside one transaction. Lifetime: within its connection's.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;

  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, const std::string& text) {
    return bind(index, std::string_view(text));
  }
  Statement& bind(int index, std::int64_t value);
  Statement& bindNull(int index);
  Statement& bind(int index, const std::optional<std::string>& text);

  // Runs to the next row: true when a row is ready, false when done. Throws SqliteError.
  bool step();

  int columnCount() const;
  std::string columnName(int column) const;
  bool isNull(int column) const;
  std::string text(int column) const;
  std::optional<std::string> optionalText(int column) const;
  std::int64_t integer(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

// The open connection as a transaction body sees it.
// Thread safety: unsafe; only inside Database::transaction. Lifetime: the database's.
class Connection {
 public:
  explicit Connection(sqlite3* db) : db_(db) {}
  Statement prepare(std::string_view sql) const { return Statement(db_, sql); }
  void execute(std::string_view sql) const;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int changes() const;

 private:
  sqlite3* db_;
};

// Thread safety: safe; transactions run one at a time. Lifetime: owns the connection.
class Database {
 public:
  // In memory: the data lives as long as this object.
  Database();
  // On disk, in WAL mode; the folder must exist. Throws SqliteError when it cannot open.
  explicit Database(const std::filesystem::path& file);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs `body` inside BEGIN IMMEDIATE ... COMMIT, rolled back when it throws.
  template <class Body>
  auto transaction(Body&& body) -> decltype(body(std::declval<Connection&>()));

  MonotonicClock& clock() noexcept { return clock_; }

 private:
  void open(const std::string& location, bool onDisk);
  void begin();
  void commit();
  void rollback() noexcept;

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
  MonotonicClock clock_;
};

template <class Body>
auto Database::transaction(Body&& body) -> decltype(body(std::declval<Connection&>())) {
  const std::lock_guard lock(mutex_);
  Connection connection(db_);
  begin();
  try {
    if constexpr (std::is_void_v<decltype(body(connection))>) {
      body(connection);
      commit();
    } else {
      auto result = body(connection);
      commit();
      return result;
    }
  } catch (...) {
    rollback();
    throw;
  }
}

}  // namespace local_backend
