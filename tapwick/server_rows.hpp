// Reading the rows the app gets from the database: messages to show, friend ids, a profile's
// user name and an invite's inviter. Every reader takes the raw response body.
//
//   for (const MessageRow& row : readMessageRows(response.data)) notify(row);
//   std::vector<std::string> friends = readFriendIds(response.data);
//
// Pure functions; safe from any thread.
#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tapwick {

using Instant = std::chrono::system_clock::time_point;

// A body that is not what the request asks for (not JSON, or not an array of rows).
class RowsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MessageRow {
  // The row's "id"; for a row without a string id, an upper-case UUID named by what the row
  // carries (its id of another type, or else all of it), the same on every read of the row.
  std::string id;
  std::string content;
  // "created_at" as the server wrote it, and the instant it names; none when the text names no
  // instant (such a row is still shown, with the time as it came).
  std::string createdAt;
  std::optional<Instant> createdAtInstant;
};

// The rows with a string "content" and a string "created_at", in body order.
// Throws RowsError for a body that is not a JSON array.
std::vector<MessageRow> readMessageRows(std::string_view body);

// The string "friend_id" of every object of the array, in order, duplicates kept.
// Throws RowsError for a body that is not a JSON array.
std::vector<std::string> readFriendIds(std::string_view body);

// A profile row read for its user name.
struct ProfileName {
  bool isObject = false;                // false: the body was no JSON object
  std::optional<std::string> username;  // the string "username", if any
};
ProfileName readProfileName(std::string_view body);

// The string "inviter" of an invite row, or nothing.
std::optional<std::string> readInviter(std::string_view body);

// The instant a server timestamp names ("2025-10-21T08:00:00.123456+00:00", "...Z"), or nothing.
std::optional<Instant> serverInstant(std::string_view text);

// A new random UUID in upper-case text.
std::string newUppercaseUUID();

}  // namespace tapwick
