// The REST database API under "/rest/v1": reads (GET, HEAD), inserts and upserts (POST),
// updates (PATCH) and deletes (DELETE) on the app's tables, with filters and "or"/"and" logic
// trees, ordering, paging, "Prefer" return and count forms, single-object answers and per-user
// access rules; and calls of its built-in functions under "rpc/".
//
//   auto rest = std::make_shared<RestService>(db, tokens);
//   router.mount("/rest/v1", rest);
//   // GET /rest/v1/messages?select=*&receiver_id=eq.<uuid>&order=created_at.asc
#pragma once

#include "local_backend/database.hpp"
#include "local_backend/rest_catalog.hpp"
#include "local_backend/rest_preferences.hpp"
#include "local_backend/rest_query.hpp"
#include "local_backend/router.hpp"
#include "local_backend/row_change.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

// Thread safety: safe; each request runs in its own transaction. Lifetime: the server's; the
// database and the token authority must outlive it.
class RestService : public ServiceHandler {
 public:
  // Reads the tables from the database schema.
  RestService(Database& database, const TokenAuthority& tokens);

  Response handle(const Request& request, const RequestTarget& target) override;

  // Hears every committed row change, on the request's thread. Set before serving.
  void setRowChangeListener(RowChangeListener listener) { onRowChange_ = std::move(listener); }

 private:
  // One parsed request on one table.
  struct Call {
    const Request& request;
    const Table& table;
    Caller caller;
    RestQuery query;
    Preferences preferences;
    ResponseShape shape;
  };

  Caller callerOf(const Request& request, const RequestTarget& target) const;
  // "rpc/NAME": one of the built-in functions of rest_functions.hpp.
  Response callFunction(const Request& request, const RequestTarget& target);
  Response read(const Call& call);
  Response insert(const Call& call);
  Response update(const Call& call);
  Response remove(const Call& call);

  Database& database_;
  const TokenAuthority& tokens_;
  Catalog catalog_;
  RowChangeListener onRowChange_;
};

}  // namespace local_backend
