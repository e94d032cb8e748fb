#include "tapwick/last_seen.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <optional>
#include <string_view>

namespace tapwick {

std::string LastSeen::since() const { return createdAt_.value_or("1970-01-01T00:00:00Z"); }

bool LastSeen::isNew(const MessageRow& row) const {
  if (!row.createdAtInstant) return !untimedIds_.contains(row.id);
  if (!instant_) return true;
  if (row.createdAtInstant != *instant_) return row.createdAtInstant > *instant_;
  return !idsAtInstant_.contains(row.id);
}

void LastSeen::record(const MessageRow& row) {
  if (!row.createdAtInstant) {
    untimedIds_.insert(row.id);
    return;
  }
  if (instant_ && *row.createdAtInstant < *instant_) return;
  if (!instant_ || *row.createdAtInstant > *instant_) {
    instant_ = row.createdAtInstant;
    createdAt_ = row.createdAt;
    idsAtInstant_.clear();
  }
  idsAtInstant_.insert(row.id);
}

namespace {

boost::json::array toArray(const std::set<std::string>& ids) {
  boost::json::array array;
  for (const auto& id : ids) array.emplace_back(id);
  return array;
}

// The string elements of `object[key]` when that is an array; nothing otherwise.
std::optional<std::set<std::string>> stringSet(const boost::json::object& object,
                                               std::string_view key) {
  const auto* value = object.if_contains(key);
  if (!value || !value->is_array()) return std::nullopt;
  std::set<std::string> ids;
  for (const auto& id : value->as_array()) {
    if (id.is_string()) ids.emplace(id.as_string());
  }
  return ids;
}

}  // namespace

boost::json::value LastSeen::toJSON() const {
  if (isEmpty()) return nullptr;
  boost::json::object json;
  if (createdAt_) {
    json["createdAt"] = *createdAt_;
    json["ids"] = toArray(idsAtInstant_);
  }
  if (!untimedIds_.empty()) json["untimedIds"] = toArray(untimedIds_);
  return json;
}

LastSeen LastSeen::fromJSON(const boost::json::value& json) {
  LastSeen seen;
  const auto* object = json.if_object();
  if (!object) return seen;
  seen.untimedIds_ = stringSet(*object, "untimedIds").value_or(std::set<std::string>{});
  const auto* createdAt = object->if_contains("createdAt");
  const auto ids = stringSet(*object, "ids");
  if (!createdAt || !createdAt->is_string() || !ids) return seen;
  const auto instant = serverInstant(createdAt->as_string());
  if (!instant) return seen;
  seen.createdAt_ = std::string(createdAt->as_string());
  seen.instant_ = *instant;
  seen.idsAtInstant_ = *ids;
  return seen;
}

}  // namespace tapwick
