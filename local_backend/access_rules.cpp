#include "local_backend/access_rules.hpp"

#include <algorithm>

#include "local_backend/rest_error.hpp"

namespace local_backend {

namespace {

// The anonymous key learns that it needs to sign in; a user that the row is not theirs.
http::status refusalStatus(const Caller& caller) {
  return caller.role == Role::anon ? http::status::unauthorized : http::status::forbidden;
}

RestError permissionDenied(const Table& table, const Caller& caller) {
  return RestError(refusalStatus(caller), "42501", "permission denied for table " + table.name);
}

RestError policyViolation(const Table& table, const Caller& caller) {
  return RestError(refusalStatus(caller), "42501",
                   "new row violates row-level security policy for table \"" + table.name + "\"");
}

bool isCaller(const RowValues& row, const std::string& column, const Caller& caller) {
  const auto it = row.find(column);
  // Stored UUIDs are lower-case; ids in tokens are too, but compare without regard to case.
  if (it == row.end() || !it->second) return false;
  const std::string& value = *it->second;
  return value.size() == caller.userId.size() &&
         std::equal(value.begin(), value.end(), caller.userId.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::optional<std::string> AccessRules::readCondition(const Table& table, const Caller& caller,
                                                      const std::vector<Filter>& filters,
                                                      SqlParams& params) {
  if (caller.role == Role::service) return std::nullopt;
  if (caller.role == Role::anon) throw permissionDenied(table, caller);
  if (table.name == "profiles") return std::nullopt;
  const std::string me = params.add(lowerCase(caller.userId));
  if (table.name == "messages") {
    return "(\"sender_id\" = " + me + " OR \"receiver_id\" = " + me + ")";
  }
  if (table.name == "friends") return "(\"user_id\" = " + me + ")";
  if (table.name == "friend_invites") {
    // Knowing a code is what entitles a user to its invite; listing others' codes is not.
    std::string rule = "(\"inviter\" = " + me;
    for (const auto& filter : filters) {
      if (filter.column == "code" && filter.op == FilterOperator::eq && !filter.negated) {
        rule += " OR \"code\" = " + params.add(filter.value);
      }
    }
    return rule + ")";
  }
  throw permissionDenied(table, caller);
}

void AccessRules::checkInsert(const Table& table, const Caller& caller, const RowValues& row) {
  if (caller.role == Role::service) return;
  if (caller.role == Role::anon) throw permissionDenied(table, caller);
  // What the server fills (ids, creation times) is not the user's to choose: a message dated in
  // the future would hide every later one from a receiver that polls by time.
  for (const auto& entry : row) {
    const Column* column = table.find(entry.first);
    if (column != nullptr && column->hasDefault) {
      throw RestError(refusalStatus(caller), "42501",
                      "permission denied for column " + entry.first + " of table " + table.name);
    }
  }
  bool allowed = false;
  if (table.name == "profiles") {
    allowed = isCaller(row, "id", caller);
  } else if (table.name == "friend_invites") {
    allowed = isCaller(row, "inviter", caller);
  } else if (table.name == "friends") {
    allowed = isCaller(row, "user_id", caller) || isCaller(row, "friend_id", caller);
  } else if (table.name == "messages") {
    allowed = isCaller(row, "sender_id", caller);
  } else {
    throw permissionDenied(table, caller);
  }
  if (!allowed) throw policyViolation(table, caller);
}

void AccessRules::checkChange(const Table& table, const Caller& caller) {
  if (caller.role != Role::service) throw permissionDenied(table, caller);
}

}  // namespace local_backend
