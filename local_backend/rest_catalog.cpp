#include "local_backend/rest_catalog.hpp"

#include <algorithm>
#include <map>

namespace local_backend {

namespace {

ColumnType typeOf(std::string declared) {
  std::transform(declared.begin(), declared.end(), declared.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (declared == "UUID") return ColumnType::uuid;
  if (declared == "TIMESTAMPTZ") return ColumnType::timestamptz;
  return ColumnType::text;
}

}  // namespace

const Column* Table::find(std::string_view column) const {
  const auto it = std::find_if(columns.begin(), columns.end(),
                               [&](const Column& c) { return c.name == column; });
  return it == columns.end() ? nullptr : &*it;
}

Catalog Catalog::load(Database& database) {
  return database.transaction([](Connection& c) {
    Catalog catalog;
    Statement names = c.prepare(
        "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
        "ESCAPE '\\' AND name NOT LIKE 'auth\\_%' ESCAPE '\\' "
        "AND name NOT LIKE 'storage\\_%' ESCAPE '\\' ORDER BY name");
    while (names.step()) catalog.tables_.push_back(Table{names.text(0), {}, {}});
    for (auto& table : catalog.tables_) {
      Statement info = c.prepare(
          "SELECT name, type, \"notnull\", dflt_value, pk "
          "FROM pragma_table_info(?1) ORDER BY cid");
      info.bind(1, table.name);
      std::map<std::int64_t, std::string> keyColumns;
      while (info.step()) {
        table.columns.push_back(
            Column{info.text(0), typeOf(info.text(1)), info.integer(2) != 0, !info.isNull(3)});
        if (info.integer(4) > 0) keyColumns[info.integer(4)] = info.text(0);
      }
      for (auto& [position, name] : keyColumns) table.primaryKey.push_back(name);
    }
    return catalog;
  });
}

const Table* Catalog::find(std::string_view table) const {
  const auto it =
      std::find_if(tables_.begin(), tables_.end(), [&](const Table& t) { return t.name == table; });
  return it == tables_.end() ? nullptr : &*it;
}

}  // namespace local_backend
