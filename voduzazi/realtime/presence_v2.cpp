#include "voduzazi/realtime/presence_v2.hpp"

#include <boost/json/object.hpp>

#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::realtime {

namespace {

constexpr std::string_view kMissingRef = "A presence should at least have a phx_ref.";

DecodingError missingRef(CodingPath path) {
  return DecodingError(DecodingError::Kind::typeMismatch, std::move(path),
                       std::string(kMissingRef));
}

}  // namespace

PresenceV2 PresenceV2::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                const CodingPath& path) {
  const JSONObject presence = decodeValue<JSONObject>(json, decoder, path);
  const CodingPath metaPath =
      voduzazi::detail::appendingIndex(voduzazi::detail::appendingKey(path, "metas"), 0);
  const auto metas = presence.find("metas");
  const JSONArray* list = metas == presence.end() ? nullptr : metas->second.arrayValue();
  const JSONObject* meta = list && !list->empty() ? list->front().objectValue() : nullptr;
  if (meta == nullptr) throw missingRef(metaPath);
  const auto ref = meta->find("phx_ref");
  if (ref == meta->end() || ref->second.stringValue() == nullptr) {
    throw missingRef(voduzazi::detail::appendingKey(metaPath, "phx_ref"));
  }
  PresenceV2 result{*ref->second.stringValue(), *meta};
  result.state.erase("phx_ref");
  return result;
}

boost::json::value PresenceV2::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("phx_ref", ref);
  out.encode("state", state);
  return std::move(out).json();
}

Presences decodePresences(const JSONObject& entries) {
  Presences presences;
  for (const auto& [key, entry] : entries) {
    presences.emplace(key, PresenceV2::fromJSON(entry.toJSON(), *AnyJSON::decoder(), {key}));
  }
  return presences;
}

}  // namespace voduzazi::realtime
