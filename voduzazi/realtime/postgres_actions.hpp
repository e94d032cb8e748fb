// The row changes a second-generation channel receives ("postgres_changes"): the wire record
// PostgresActionData, the typed InsertAction, UpdateAction and DeleteAction, and AnyAction, which
// holds one of them.
//
//   AnyAction change = makePostgresAction(message);          // throws DecodingError, RealtimeError
//   if (const auto* insert = std::get_if<InsertAction>(&change.action)) {
//     Message row = insert->decodeRecord<Message>();        // the caller's own row type
//   }
#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/sdk_date.hpp"
#include "voduzazi/realtime/join_config.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

namespace voduzazi::realtime {

struct Column {
  std::string name;
  std::string type;

  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static Column fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                         const CodingPath& path = {});
  friend bool operator==(const Column&, const Column&) = default;
};

// The "data" object of a "postgres_changes" frame.
struct PostgresActionData {
  std::string type;
  std::optional<JSONObject> record;
  std::optional<JSONObject> oldRecord;  // "old_record"
  std::vector<Column> columns;
  Date commitTimestamp;  // "commit_timestamp", through the coder's date strategy

  boost::json::value toJSON(const JSONEncoder& encoder) const;
  // "type", "columns" and "commit_timestamp" are required; throws DecodingError.
  static PostgresActionData fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                     const CodingPath& path = {});
  friend bool operator==(const PostgresActionData&, const PostgresActionData&) = default;
};

// A row decoded into the caller's type (through the shared encoder, then `decoder`).
template <class T>
T decodeRow(const JSONObject& row, const JSONDecoder& decoder = *AnyJSON::decoder()) {
  return decode<T>(row, decoder);
}

struct InsertAction {
  static constexpr PostgresChangeEvent eventType = PostgresChangeEvent::insert;
  std::vector<Column> columns;
  Date commitTimestamp;
  JSONObject record;
  RealtimeMessageV2 rawMessage;

  template <class T>
  T decodeRecord(const JSONDecoder& decoder = *AnyJSON::decoder()) const {
    return decodeRow<T>(record, decoder);
  }
  friend bool operator==(const InsertAction&, const InsertAction&) = default;
};

struct UpdateAction {
  static constexpr PostgresChangeEvent eventType = PostgresChangeEvent::update;
  std::vector<Column> columns;
  Date commitTimestamp;
  JSONObject record;
  JSONObject oldRecord;
  RealtimeMessageV2 rawMessage;

  template <class T>
  T decodeRecord(const JSONDecoder& decoder = *AnyJSON::decoder()) const {
    return decodeRow<T>(record, decoder);
  }
  template <class T>
  T decodeOldRecord(const JSONDecoder& decoder = *AnyJSON::decoder()) const {
    return decodeRow<T>(oldRecord, decoder);
  }
  friend bool operator==(const UpdateAction&, const UpdateAction&) = default;
};

struct DeleteAction {
  static constexpr PostgresChangeEvent eventType = PostgresChangeEvent::delete_;
  std::vector<Column> columns;
  Date commitTimestamp;
  JSONObject oldRecord;
  RealtimeMessageV2 rawMessage;

  template <class T>
  T decodeOldRecord(const JSONDecoder& decoder = *AnyJSON::decoder()) const {
    return decodeRow<T>(oldRecord, decoder);
  }
  friend bool operator==(const DeleteAction&, const DeleteAction&) = default;
};

// One change of any kind. Its event type is "*" whatever it holds.
struct AnyAction {
  static constexpr PostgresChangeEvent eventType = PostgresChangeEvent::all;
  std::variant<InsertAction, UpdateAction, DeleteAction> action;

  const RealtimeMessageV2& rawMessage() const;
  friend bool operator==(const AnyAction&, const AnyAction&) = default;
};

// The typed change in a "postgres_changes" message: its "data" decoded with the shared decoder
// (DecodingError), "INSERT", "UPDATE" or "DELETE" (RealtimeError "Unknown event type: <type>"
// otherwise); a missing row is an empty object.
AnyAction makePostgresAction(const AnyJSON& data, const RealtimeMessageV2& message);

}  // namespace voduzazi::realtime
