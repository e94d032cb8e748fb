#include "local_backend/rest_service.hpp"

#include <sqlite3.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <set>

#include "local_backend/access_rules.hpp"
#include "local_backend/jwt.hpp"
#include "local_backend/rest_error.hpp"
#include "local_backend/rest_functions.hpp"
#include "local_backend/rest_sql.hpp"

namespace local_backend {

namespace {

constexpr const char* kNoConflictTarget =
    "there is no unique or exclusion constraint matching the ON CONFLICT target";

using boost::json::array;
using boost::json::object;
using boost::json::value;

using Rows = std::vector<object>;

Rows collectRows(Statement& statement) {
  Rows rows;
  while (statement.step()) {
    object row;
    for (int i = 0; i < statement.columnCount(); ++i) {
      if (statement.isNull(i)) {
        row[statement.columnName(i)] = nullptr;
      } else {
        row[statement.columnName(i)] = statement.text(i);
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// The selected columns of a full row, in the order of the selection.
object project(const object& row, const std::vector<std::string>& select) {
  if (select.empty()) return row;
  object projected;
  for (const auto& name : select) projected[name] = row.at(name);
  return projected;
}

RestError singleObjectRefused(std::size_t rows) {
  return RestError(http::status::not_acceptable, "PGRST116",
                   "JSON object requested, multiple (or no) rows returned",
                   "The result contains " + std::to_string(rows) + " rows");
}

// The answer body: one object, or an array of the rows.
value rowsBody(const Rows& rows, const std::vector<std::string>& select, ResponseShape shape) {
  if (shape == ResponseShape::singleObject) return project(rows.front(), select);
  array body;
  for (const auto& row : rows) body.emplace_back(project(row, select));
  return body;
}

// The database's refusals of a write, as the REST layer reports them; nullopt for failures that
// are the server's own.
std::optional<RestError> translate(const SqliteError& error) {
  const std::string reason = error.what();
  switch (error.code()) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
      return RestError(http::status::conflict, "23505",
                       "duplicate key value violates unique constraint", reason);
    case SQLITE_CONSTRAINT_NOTNULL:
      return RestError(http::status::bad_request, "23502",
                       "null value violates not-null constraint", reason);
    default:
      break;
  }
  if (reason.find("ON CONFLICT clause does not match") != std::string::npos) {
    return RestError(http::status::bad_request, "42P10", kNoConflictTarget);
  }
  return std::nullopt;
}

value parseJsonBody(const Request& request) {
  boost::system::error_code ec;
  value body = boost::json::parse(request.body(), ec);
  if (ec) {
    throw RestError(http::status::bad_request, "PGRST102", "Empty or invalid json", ec.message());
  }
  return body;
}

void rejectPaging(const RestQuery& query) {
  if (query.limit || query.offset || !query.order.empty()) {
    throw syntaxError("limit, offset and order apply to reads only");
  }
}

std::string contentRange(std::int64_t offset, std::size_t rows, std::optional<std::int64_t> total) {
  const std::string all = total ? std::to_string(*total) : "*";
  if (rows == 0) return "*/" + all;
  return std::to_string(offset) + "-" +
         std::to_string(offset + static_cast<std::int64_t>(rows) - 1) + "/" + all;
}

// The keys of the written objects, checked against the table: the "columns" item when given,
// else the keys of the first object, which every other object must share.
std::vector<const Column*> writtenColumns(const Table& table, const RestQuery& query,
                                          const std::vector<const object*>& objects) {
  std::vector<const Column*> columns;
  if (query.columns) {
    for (const auto& name : *query.columns) columns.push_back(&requireColumn(table, name));
    return columns;
  }
  if (objects.empty()) return columns;
  for (const auto& entry : *objects.front()) columns.push_back(&requireColumn(table, entry.key()));
  for (const object* item : objects) {
    const bool same = item->size() == columns.size() &&
                      std::all_of(columns.begin(), columns.end(),
                                  [&](const Column* c) { return item->contains(c->name); });
    if (!same) {
      throw RestError(http::status::bad_request, "PGRST102", "All object keys must match");
    }
  }
  return columns;
}

RowValues rowValues(const object& item, const std::vector<const Column*>& columns) {
  RowValues row;
  for (const Column* column : columns) {
    if (const auto* field = item.if_contains(column->name)) {
      row[column->name] = columnValue(*column, *field);
    }
  }
  return row;
}

std::vector<const object*> writtenObjects(const value& body) {
  std::vector<const object*> objects;
  if (body.is_object()) {
    objects.push_back(&body.as_object());
  } else if (body.is_array()) {
    for (const auto& item : body.as_array()) {
      if (!item.is_object()) {
        throw RestError(http::status::bad_request, "PGRST102",
                        "Every element of the array must be a JSON object");
      }
      objects.push_back(&item.as_object());
    }
  } else {
    throw RestError(http::status::bad_request, "PGRST102",
                    "The body must be a JSON object or an array of objects");
  }
  return objects;
}

struct Upsert {
  std::vector<std::string> target;
  bool merge = false;
};

std::string insertSql(const Table& table, const RowValues& row, const std::optional<Upsert>& upsert,
                      SqlParams& params) {
  std::string sql = "INSERT INTO " + quoteIdentifier(table.name);
  if (row.empty()) return sql + " DEFAULT VALUES RETURNING *";
  std::string names;
  std::string values;
  std::string updates;
  for (const auto& [name, stored] : row) {
    names += (names.empty() ? "" : ", ") + quoteIdentifier(name);
    values += (values.empty() ? "" : ", ") + params.add(stored);
    if (upsert &&
        std::find(upsert->target.begin(), upsert->target.end(), name) == upsert->target.end()) {
      updates += (updates.empty() ? "" : ", ") + quoteIdentifier(name) + " = excluded." +
                 quoteIdentifier(name);
    }
  }
  sql += " (" + names + ") VALUES (" + values + ")";
  if (upsert) {
    std::string target;
    for (const auto& name : upsert->target)
      target += (target.empty() ? "" : ", ") + quoteIdentifier(name);
    sql += " ON CONFLICT (" + target + ")";
    sql += upsert->merge && !updates.empty() ? " DO UPDATE SET " + updates : " DO NOTHING";
  }
  return sql + " RETURNING *";
}

// "/messages?id=eq.<id>" for the one row a POST created, when the table has a primary key.
std::optional<std::string> locationOf(const Table& table, const Rows& rows) {
  if (rows.size() != 1 || table.primaryKey.empty()) return std::nullopt;
  std::string location = "/" + table.name;
  char separator = '?';
  for (const auto& key : table.primaryKey) {
    const auto& field = rows.front().at(key);
    if (!field.is_string()) return std::nullopt;
    location += separator + key + "=eq." + std::string(field.as_string());
    separator = '&';
  }
  return location;
}

// Every table lives in the one schema "public"; a request for another is refused.
void checkSchema(const Request& request) {
  for (const char* header : {"Accept-Profile", "Content-Profile"}) {
    const auto field = request.find(header);
    if (field != request.end() && field->value() != "public") {
      throw RestError(http::status::not_acceptable, "PGRST106",
                      "The schema must be one of the following: public");
    }
  }
}

}  // namespace

RestService::RestService(Database& database, const TokenAuthority& tokens)
    : database_(database), tokens_(tokens), catalog_(Catalog::load(database)) {}

Caller RestService::callerOf(const Request& request, const RequestTarget& target) const {
  std::string token;
  if (const auto header = request.find(http::field::authorization); header != request.end()) {
    token = bearerTokenOf(header->value());
    if (token.empty()) {
      throw RestError(http::status::unauthorized, "PGRST301",
                      "The Authorization header must hold a Bearer token");
    }
  } else {
    token = apiKeyOf(request, target);
  }
  try {
    return tokens_.callerFromToken(token);
  } catch (const JwtError& error) {
    throw RestError(http::status::unauthorized, "PGRST301",
                    error.kind() == JwtError::Kind::expired
                        ? std::string("JWT expired")
                        : std::string("JWT is invalid: ") + error.what());
  }
}

Response RestService::handle(const Request& request, const RequestTarget& target) {
  try {
    checkSchema(request);
    if (target.path.rfind("rpc/", 0) == 0) return callFunction(request, target);
    const Table* table = catalog_.find(target.path);
    if (table == nullptr) {
      throw RestError(http::status::not_found, "42P01",
                      "relation \"public." + target.path + "\" does not exist");
    }
    const Call call{request,
                    *table,
                    callerOf(request, target),
                    parseRestQuery(target.query),
                    parsePreferences(request),
                    parseAccept(request)};
    switch (request.method()) {
      case http::verb::get:
      case http::verb::head:
        return read(call);
      case http::verb::post:
        return insert(call);
      case http::verb::patch:
        return update(call);
      case http::verb::delete_:
        return remove(call);
      default:
        throw RestError(http::status::method_not_allowed, "PGRST117",
                        "Unsupported HTTP method: " + std::string(request.method_string()));
    }
  } catch (const RestError& error) {
    return restErrorResponse(request, error);
  } catch (const SqliteError& error) {
    if (auto refusal = translate(error)) return restErrorResponse(request, *refusal);
    throw;
  }
}

Response RestService::callFunction(const Request& request, const RequestTarget& target) {
  const std::string name = target.path.substr(4);
  const FunctionSignature* function = findFunction(name);
  if (function == nullptr) {
    throw RestError(http::status::not_found, "PGRST202",
                    "Could not find the function public." + name + " in the schema cache");
  }
  const http::verb method = request.method();
  if (method != http::verb::get && method != http::verb::head && method != http::verb::post) {
    throw RestError(http::status::method_not_allowed, "PGRST117",
                    "Unsupported HTTP method: " + std::string(request.method_string()));
  }
  const Caller caller = callerOf(request, target);
  FunctionCall call = bindArguments(*function, request, target);
  if (function->name == "add_numbers") {
    Response response = jsonResponse(request, http::status::ok, addNumbers(call.arguments));
    if (method == http::verb::head) {
      response.body().clear();
      response.prepare_payload();
    }
    return response;
  }
  // messages_with: a read of the caller's own messages, narrowed to one conversation.
  if (caller.role != Role::authenticated) {
    throw RestError(caller.role == Role::anon ? http::status::unauthorized
                                              : http::status::forbidden,
                    "42501", "permission denied for function " + name);
  }
  const boost::json::value& other = call.arguments.at("other_id");
  RestQuery query = parseRestQuery(call.query);
  query.logic.push_back(conversationBetween(
      caller.userId,
      other.is_string() ? std::string(other.as_string()) : boost::json::serialize(other)));
  return read(Call{request, *catalog_.find("messages"), caller, std::move(query),
                   parsePreferences(request), parseAccept(request)});
}

Response RestService::read(const Call& call) {
  const Table& table = call.table;
  const RestQuery& query = call.query;
  SqlParams params;
  std::string where = whereClause(table, query.filters, query.logic, params);
  if (auto rule = AccessRules::readCondition(table, call.caller, query.filters, params)) {
    where = "(" + where + ") AND " + *rule;
  }
  std::string sql = "SELECT " + selectList(table, query.select) + " FROM " +
                    quoteIdentifier(table.name) + " WHERE " + where +
                    orderClause(table, query.order);
  if (query.limit || query.offset) {
    sql += " LIMIT " + (query.limit ? std::to_string(*query.limit) : std::string("-1"));
    sql += " OFFSET " + std::to_string(query.offset.value_or(0));
  }
  const auto [rows, total] = database_.transaction([&](Connection& c) {
    Statement select = c.prepare(sql);
    params.bindTo(select);
    Rows found = collectRows(select);
    std::optional<std::int64_t> count;
    if (call.preferences.count) {
      Statement counting =
          c.prepare("SELECT count(*) FROM " + quoteIdentifier(table.name) + " WHERE " + where);
      params.bindTo(counting);
      counting.step();
      count = counting.integer(0);
    }
    return std::make_pair(std::move(found), count);
  });
  if (call.shape == ResponseShape::singleObject && rows.size() != 1) {
    throw singleObjectRefused(rows.size());
  }
  const std::int64_t offset = query.offset.value_or(0);
  const bool partial = total && !rows.empty() &&
                       (offset > 0 || offset + static_cast<std::int64_t>(rows.size()) < *total);
  Response response =
      jsonResponse(call.request, partial ? http::status::partial_content : http::status::ok,
                   rowsBody(rows, {}, call.shape));
  response.set(http::field::content_range, contentRange(offset, rows.size(), total));
  if (call.request.method() == http::verb::head) {
    response.body().clear();
    response.prepare_payload();
  }
  return response;
}

namespace {

void reportChanges(const RowChangeListener& listener, const Table& table, const char* type,
                   const Rows& rows) {
  if (!listener) return;
  const bool removed = std::string_view(type) == "DELETE";
  for (const auto& row : rows) {
    listener(RowChange{table.name, type, removed ? object{} : row, removed ? row : object{}});
  }
}

}  // namespace

Response RestService::insert(const Call& call) {
  const Table& table = call.table;
  const value body = parseJsonBody(call.request);
  const auto objects = writtenObjects(body);
  const auto columns = writtenColumns(table, call.query, objects);
  std::vector<RowValues> rows;
  for (const object* item : objects) {
    rows.push_back(rowValues(*item, columns));
    AccessRules::checkInsert(table, call.caller, rows.back());
  }
  std::optional<Upsert> upsert;
  if (call.preferences.resolution != Resolution::none) {
    upsert = Upsert{call.query.onConflict.value_or(table.primaryKey),
                    call.preferences.resolution == Resolution::mergeDuplicates};
    if (upsert->target.empty()) {
      throw RestError(http::status::bad_request, "42P10", kNoConflictTarget);
    }
    for (const auto& name : upsert->target) requireColumn(table, name);
    if (upsert->merge) AccessRules::checkChange(table, call.caller);
  }
  for (const auto& name : call.query.select) requireColumn(table, name);
  const Rows written = database_.transaction([&](Connection& c) {
    Rows all;
    for (const auto& row : rows) {
      SqlParams params;
      Statement statement = c.prepare(insertSql(table, row, upsert, params));
      params.bindTo(statement);
      for (auto& returned : collectRows(statement)) all.push_back(std::move(returned));
    }
    if (call.shape == ResponseShape::singleObject && all.size() != 1) {
      throw singleObjectRefused(all.size());
    }
    return all;
  });
  reportChanges(onRowChange_, table, "INSERT", written);
  const auto returning = call.preferences.returning.value_or(ReturnPreference::minimal);
  Response response = returning == ReturnPreference::representation
                          ? jsonResponse(call.request, http::status::created,
                                         rowsBody(written, call.query.select, call.shape))
                          : emptyResponse(call.request, http::status::created);
  if (returning == ReturnPreference::headersOnly) {
    if (auto location = locationOf(table, written)) response.set(http::field::location, *location);
  }
  response.set(http::field::content_range,
               call.preferences.count ? "*/" + std::to_string(written.size()) : "*/*");
  return response;
}

namespace {

Response changedRowsResponse(const Request& request, const Rows& rows, const RestQuery& query,
                             const Preferences& preferences, ResponseShape shape) {
  const bool represent = preferences.returning == ReturnPreference::representation;
  Response response =
      represent ? jsonResponse(request, http::status::ok, rowsBody(rows, query.select, shape))
                : emptyResponse(request, http::status::no_content);
  response.set(http::field::content_range,
               preferences.count ? "*/" + std::to_string(rows.size()) : "*/*");
  return response;
}

}  // namespace

Response RestService::update(const Call& call) {
  const Table& table = call.table;
  AccessRules::checkChange(table, call.caller);
  rejectPaging(call.query);
  const value body = parseJsonBody(call.request);
  if (!body.is_object()) {
    throw RestError(http::status::bad_request, "PGRST102", "The body must be a JSON object");
  }
  std::vector<const Column*> columns;
  for (const auto& entry : body.as_object()) columns.push_back(&requireColumn(table, entry.key()));
  for (const auto& name : call.query.select) requireColumn(table, name);
  const RowValues changes = rowValues(body.as_object(), columns);
  SqlParams params;
  std::string assignments;
  for (const auto& [name, stored] : changes) {
    assignments +=
        (assignments.empty() ? "" : ", ") + quoteIdentifier(name) + " = " + params.add(stored);
  }
  const std::string where = whereClause(table, call.query.filters, call.query.logic, params);
  const Rows changed = database_.transaction([&](Connection& c) {
    Rows rows;
    if (!assignments.empty()) {
      Statement statement = c.prepare("UPDATE " + quoteIdentifier(table.name) + " SET " +
                                      assignments + " WHERE " + where + " RETURNING *");
      params.bindTo(statement);
      rows = collectRows(statement);
    }
    if (call.shape == ResponseShape::singleObject && rows.size() != 1) {
      throw singleObjectRefused(rows.size());
    }
    return rows;
  });
  reportChanges(onRowChange_, table, "UPDATE", changed);
  return changedRowsResponse(call.request, changed, call.query, call.preferences, call.shape);
}

Response RestService::remove(const Call& call) {
  const Table& table = call.table;
  AccessRules::checkChange(table, call.caller);
  rejectPaging(call.query);
  for (const auto& name : call.query.select) requireColumn(table, name);
  SqlParams params;
  const std::string where = whereClause(table, call.query.filters, call.query.logic, params);
  const Rows removed = database_.transaction([&](Connection& c) {
    Statement statement = c.prepare("DELETE FROM " + quoteIdentifier(table.name) + " WHERE " +
                                    where + " RETURNING *");
    params.bindTo(statement);
    Rows rows = collectRows(statement);
    if (call.shape == ResponseShape::singleObject && rows.size() != 1) {
      throw singleObjectRefused(rows.size());
    }
    return rows;
  });
  reportChanges(onRowChange_, table, "DELETE", removed);
  return changedRowsResponse(call.request, removed, call.query, call.preferences, call.shape);
}

}  // namespace local_backend
