// LastSeen: which messages a user has been shown. It keeps the newest creation instant shown
// (with the server's own text of it, for the next request) and the ids shown at that instant, so
// that a message sharing its creation time with one already shown is still shown, once. Rows
// whose time names no instant are remembered by id, so that they too are shown once.
//
//   LastSeen seen = LastSeen::fromJSON(stored);          // or LastSeen{} for none
//   for (const MessageRow& row : rows) if (seen.isNew(row)) { notify(row); seen.record(row); }
//   request.gte("created_at", seen.since());
//
// A value type.
#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <set>
#include <string>

#include "tapwick/server_rows.hpp"

namespace tapwick {

class LastSeen {
 public:
  // The lower bound to ask the server for: the newest shown "created_at" as the server wrote it,
  // or "1970-01-01T00:00:00Z" when nothing was shown.
  std::string since() const;
  bool isEmpty() const { return !createdAt_ && untimedIds_.empty(); }
  const std::optional<std::string>& createdAt() const { return createdAt_; }

  // Whether the row is newer than what was shown, or as new but not shown.
  bool isNew(const MessageRow& row) const;
  // Takes a shown row into account.
  void record(const MessageRow& row);

  // {"createdAt": "...", "ids": ["..."], "untimedIds": ["..."]} (the first two only once a row
  // with an instant was shown, the last only once one without), or null when nothing was shown.
  boost::json::value toJSON() const;
  // Reads what toJSON wrote; anything else reads as nothing shown.
  static LastSeen fromJSON(const boost::json::value& json);

  bool operator==(const LastSeen&) const = default;

 private:
  std::optional<std::string> createdAt_;
  std::optional<Instant> instant_;
  std::set<std::string> idsAtInstant_;
  // Ids of the rows shown whose "created_at" names no instant.
  std::set<std::string> untimedIds_;
};

}  // namespace tapwick
