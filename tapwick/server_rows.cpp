#include "tapwick/server_rows.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <cctype>

#include "voduzazi/helpers/sdk_date.hpp"

namespace tapwick {

namespace {

std::optional<boost::json::value> parseJSON(std::string_view body) {
  boost::system::error_code error;
  boost::json::value json = boost::json::parse(body, error);
  if (error) return std::nullopt;
  return json;
}

const boost::json::array& requireArray(const std::optional<boost::json::value>& json) {
  if (!json) throw RowsError("The data couldn't be read because it isn't valid JSON.");
  if (!json->is_array()) throw RowsError("Expected an array of rows.");
  return json->as_array();
}

const boost::json::string* stringMember(const boost::json::object& row, std::string_view key) {
  const auto* value = row.if_contains(key);
  return value ? value->if_string() : nullptr;
}

std::string upperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The id of a row that has no string "id", named by what the row carries, so that every poll
// that returns the row names it alike: its "id" of another type (a number, say), or, without one,
// the whole row as the server wrote it.
std::string carriedId(const boost::json::object& row) {
  // Our own namespace for these names.
  static constexpr boost::uuids::uuid rowNames = {{0x5b, 0x0e, 0x7c, 0x2a, 0x91, 0x4d, 0x4f, 0x63,
                                                   0xa8, 0x1e, 0x36, 0xd2, 0x0b, 0x77, 0xc4, 0x19}};
  const auto* id = row.if_contains("id");
  const std::string name = id && !id->is_null() ? "id " + boost::json::serialize(*id)
                                                : "row " + boost::json::serialize(row);
  return upperCase(boost::uuids::to_string(boost::uuids::name_generator_sha1(rowNames)(name)));
}

}  // namespace

std::vector<MessageRow> readMessageRows(std::string_view body) {
  const auto json = parseJSON(body);
  std::vector<MessageRow> rows;
  for (const auto& element : requireArray(json)) {
    const auto* row = element.if_object();
    if (!row) continue;
    const auto* content = stringMember(*row, "content");
    const auto* createdAt = stringMember(*row, "created_at");
    if (!content || !createdAt) continue;
    const auto* id = stringMember(*row, "id");
    rows.push_back({id ? std::string(*id) : carriedId(*row), std::string(*content),
                    std::string(*createdAt), serverInstant(*createdAt)});
  }
  return rows;
}

std::vector<std::string> readFriendIds(std::string_view body) {
  const auto json = parseJSON(body);
  std::vector<std::string> ids;
  for (const auto& element : requireArray(json)) {
    const auto* row = element.if_object();
    if (!row) continue;
    if (const auto* id = stringMember(*row, "friend_id")) ids.emplace_back(*id);
  }
  return ids;
}

ProfileName readProfileName(std::string_view body) {
  const auto json = parseJSON(body);
  if (!json || !json->is_object()) return {};
  const auto* name = stringMember(json->as_object(), "username");
  return {true, name ? std::optional<std::string>(*name) : std::nullopt};
}

std::optional<std::string> readInviter(std::string_view body) {
  const auto json = parseJSON(body);
  if (!json || !json->is_object()) return std::nullopt;
  const auto* inviter = stringMember(json->as_object(), "inviter");
  if (!inviter) return std::nullopt;
  return std::string(*inviter);
}

std::optional<Instant> serverInstant(std::string_view text) {
  const auto date = voduzazi::sdkDate(text);
  if (!date) return std::nullopt;
  return std::chrono::time_point_cast<Instant::duration>(*date);
}

std::string newUppercaseUUID() {
  thread_local boost::uuids::random_generator generate;
  return upperCase(boost::uuids::to_string(generate()));
}

}  // namespace tapwick
