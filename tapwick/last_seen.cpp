#include "tapwick/last_seen.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

namespace tapwick {

std::string LastSeen::since() const { return createdAt_.value_or("1970-01-01T00:00:00Z"); }

bool LastSeen::isNew(const MessageRow& row) const {
  if (!instant_) return true;
  if (row.createdAtInstant != *instant_) return row.createdAtInstant > *instant_;
  return !idsAtInstant_.contains(row.id);
}

void LastSeen::record(const MessageRow& row) {
  if (instant_ && row.createdAtInstant < *instant_) return;
  if (!instant_ || row.createdAtInstant > *instant_) {
    instant_ = row.createdAtInstant;
    createdAt_ = row.createdAt;
    idsAtInstant_.clear();
  }
  idsAtInstant_.insert(row.id);
}

boost::json::value LastSeen::toJSON() const {
  if (!createdAt_) return nullptr;
  boost::json::array ids;
  for (const auto& id : idsAtInstant_) ids.emplace_back(id);
  return boost::json::object{{"createdAt", *createdAt_}, {"ids", std::move(ids)}};
}

LastSeen LastSeen::fromJSON(const boost::json::value& json) {
  LastSeen seen;
  const auto* object = json.if_object();
  if (!object) return seen;
  const auto* createdAt = object->if_contains("createdAt");
  const auto* ids = object->if_contains("ids");
  if (!createdAt || !createdAt->is_string() || !ids || !ids->is_array()) return seen;
  const auto instant = serverInstant(createdAt->as_string());
  if (!instant) return seen;
  seen.createdAt_ = std::string(createdAt->as_string());
  seen.instant_ = *instant;
  for (const auto& id : ids->as_array()) {
    if (id.is_string()) seen.idsAtInstant_.emplace(id.as_string());
  }
  return seen;
}

}  // namespace tapwick
