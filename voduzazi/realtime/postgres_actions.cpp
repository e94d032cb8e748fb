#include "voduzazi/realtime/postgres_actions.hpp"

#include <tuple>

#include "voduzazi/helpers/keyed_coding.hpp"
#include "voduzazi/realtime/realtime_error.hpp"

namespace voduzazi::realtime {

namespace {

constexpr auto kColumnFields =
    std::tuple{field("name", &Column::name), field("type", &Column::type)};

constexpr auto kActionDataFields = std::tuple{
    field("type", &PostgresActionData::type),
    field("record", &PostgresActionData::record),
    field("old_record", &PostgresActionData::oldRecord),
    field("columns", &PostgresActionData::columns),
    field("commit_timestamp", &PostgresActionData::commitTimestamp),
};

}  // namespace

boost::json::value Column::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, kColumnFields);
}

Column Column::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                        const CodingPath& path) {
  return decodeFields<Column>(json, decoder, path, kColumnFields);
}

boost::json::value PostgresActionData::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, kActionDataFields);
}

PostgresActionData PostgresActionData::fromJSON(const boost::json::value& json,
                                                const JSONDecoder& decoder,
                                                const CodingPath& path) {
  return decodeFields<PostgresActionData>(json, decoder, path, kActionDataFields);
}

const RealtimeMessageV2& AnyAction::rawMessage() const {
  return std::visit([](const auto& held) -> const RealtimeMessageV2& { return held.rawMessage; },
                    action);
}

AnyAction makePostgresAction(const AnyJSON& data, const RealtimeMessageV2& message) {
  auto decoded = data.decode<PostgresActionData>();
  JSONObject record = decoded.record.value_or(JSONObject{});
  JSONObject oldRecord = decoded.oldRecord.value_or(JSONObject{});
  auto& columns = decoded.columns;
  const Date at = decoded.commitTimestamp;
  if (decoded.type == "UPDATE") {
    return {UpdateAction{std::move(columns), at, std::move(record), std::move(oldRecord), message}};
  }
  if (decoded.type == "DELETE") {
    return {DeleteAction{std::move(columns), at, std::move(oldRecord), message}};
  }
  if (decoded.type == "INSERT") {
    return {InsertAction{std::move(columns), at, std::move(record), message}};
  }
  throw RealtimeError("Unknown event type: " + decoded.type);
}

}  // namespace voduzazi::realtime
