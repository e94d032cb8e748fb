// Who may read and write which rows of the app's tables. The service role passes every rule;
// the anonymous role may do nothing; a signed-in user (the token's "sub") may:
//   profiles:        read every row; insert only the row whose id is theirs
//   friend_invites:  read their own invites and those whose code they name; insert as inviter
//   friends:         read their own rows (user_id); insert rows with them on either side
//   messages:        read rows they sent or receive; insert as sender
// Nobody but the service role updates or deletes, and so nobody else upserts with merging; nor
// writes a column the server fills (one with a default: a message's id and created_at).
//
//   std::optional<std::string> rule = AccessRules::readCondition(table, caller, filters, params);
//   AccessRules::checkInsert(table, caller, row);   // throws RestError "42501"
#pragma once

#include <map>
#include <optional>
#include <string>

#include "local_backend/rest_catalog.hpp"
#include "local_backend/rest_query.hpp"
#include "local_backend/rest_sql.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

// One written row: column name to stored value (nullopt for NULL); absent columns take their
// defaults.
using RowValues = std::map<std::string, std::optional<std::string>>;

class AccessRules {
 public:
  // The SQL condition a read adds for the caller, nullopt when nothing is hidden.
  // Throws RestError "42501" when the caller may not read the table at all.
  static std::optional<std::string> readCondition(const Table& table, const Caller& caller,
                                                  const std::vector<Filter>& filters,
                                                  SqlParams& params);

  // Throws RestError "42501" when the caller may not insert this row.
  static void checkInsert(const Table& table, const Caller& caller, const RowValues& row);

  // Throws RestError "42501" unless the caller may update (and delete) rows of the table.
  static void checkChange(const Table& table, const Caller& caller);
};

}  // namespace local_backend
