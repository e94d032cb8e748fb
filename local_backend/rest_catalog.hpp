// The tables the REST API serves, read from the database schema: every table except the
// authentication service's "auth_*" tables, with each column's type.
//
//   Catalog catalog = Catalog::load(db);
//   const Table* messages = catalog.find("messages");
//   const Column* content = messages->find("content");
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "local_backend/database.hpp"

namespace local_backend {

// How values of a column are checked, normalised and compared.
enum class ColumnType { text, uuid, timestamptz };

struct Column {
  std::string name;
  ColumnType type = ColumnType::text;
  bool notNull = false;
  bool hasDefault = false;
};

struct Table {
  std::string name;
  std::vector<Column> columns;
  std::vector<std::string> primaryKey;

  const Column* find(std::string_view column) const;
};

// Thread safety: immutable after load(), safe to share. Lifetime: a value.
class Catalog {
 public:
  static Catalog load(Database& database);
  const Table* find(std::string_view table) const;

 private:
  std::vector<Table> tables_;
};

}  // namespace local_backend
