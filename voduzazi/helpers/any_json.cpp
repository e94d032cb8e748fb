#include "voduzazi/helpers/any_json.hpp"

#include <functional>

#include "voduzazi/helpers/detail/json_writer.hpp"

namespace voduzazi {
namespace {

void hashCombine(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// The quoted form strings take inside collections.
std::string debugDescription(const AnyJSON& value) {
  if (const std::string* text = value.stringValue()) {
    return detail::writeJSON(boost::json::string(*text));
  }
  return value.description();
}

}  // namespace

std::string AnyJSON::description() const {
  switch (kind()) {
    case Kind::null:
      return "<null>";
    case Kind::boolean:
      return std::get<bool>(storage_) ? "true" : "false";
    case Kind::integer:
      return std::to_string(std::get<std::int64_t>(storage_));
    case Kind::double_:
      return detail::formatDouble(std::get<double>(storage_));
    case Kind::string:
      return std::get<std::string>(storage_);
    case Kind::object: {
      const JSONObject& object = std::get<JSONObject>(storage_);
      if (object.empty()) return "[:]";
      std::string text = "[";
      for (auto it = object.begin(); it != object.end(); ++it) {
        if (it != object.begin()) text += ", ";
        text +=
            detail::writeJSON(boost::json::string(it->first)) + ": " + debugDescription(it->second);
      }
      return text + "]";
    }
    case Kind::array: {
      std::string text = "[";
      const JSONArray& array = std::get<JSONArray>(storage_);
      for (std::size_t i = 0; i < array.size(); ++i) {
        if (i > 0) text += ", ";
        text += debugDescription(array[i]);
      }
      return text + "]";
    }
  }
  return {};
}

boost::json::value AnyJSON::toJSON() const {
  switch (kind()) {
    case Kind::null:
      return nullptr;
    case Kind::boolean:
      return std::get<bool>(storage_);
    case Kind::integer:
      return std::get<std::int64_t>(storage_);
    case Kind::double_:
      return std::get<double>(storage_);
    case Kind::string:
      return boost::json::string(std::get<std::string>(storage_));
    case Kind::object: {
      boost::json::object object;
      object.reserve(std::get<JSONObject>(storage_).size());
      for (const auto& [key, value] : std::get<JSONObject>(storage_)) {
        object.emplace(key, value.toJSON());
      }
      return object;
    }
    case Kind::array: {
      boost::json::array array;
      array.reserve(std::get<JSONArray>(storage_).size());
      for (const AnyJSON& value : std::get<JSONArray>(storage_)) array.push_back(value.toJSON());
      return array;
    }
  }
  return nullptr;
}

AnyJSON AnyJSON::fromJSON(const boost::json::value& json) {
  switch (json.kind()) {
    case boost::json::kind::null:
      return nullptr;
    case boost::json::kind::bool_:
      return json.get_bool();
    case boost::json::kind::int64:
      return json.get_int64();
    case boost::json::kind::uint64: {
      // Past the signed range the number can only be held as a double.
      const std::uint64_t value = json.get_uint64();
      if (value <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(value);
      return static_cast<double>(value);
    }
    case boost::json::kind::double_:
      return json.get_double();
    case boost::json::kind::string:
      return std::string(json.get_string());
    case boost::json::kind::array: {
      JSONArray array;
      array.reserve(json.get_array().size());
      for (const auto& item : json.get_array()) array.push_back(fromJSON(item));
      return array;
    }
    case boost::json::kind::object: {
      JSONObject object;
      for (const auto& member : json.get_object()) {
        object.insert_or_assign(std::string(member.key()), fromJSON(member.value()));
      }
      return object;
    }
  }
  return nullptr;
}

// The coders are never destroyed: a task still coding a frame while the process exits uses them.
const std::shared_ptr<JSONEncoder>& AnyJSON::encoder() {
  static const auto* const shared = new std::shared_ptr<JSONEncoder>(makeVoduzaziEncoder());
  return *shared;
}

const std::shared_ptr<JSONDecoder>& AnyJSON::decoder() {
  static const auto* const shared = new std::shared_ptr<JSONDecoder>(makeVoduzaziDecoder());
  return *shared;
}

bool operator==(const AnyJSON& left, const AnyJSON& right) {
  // variant equality compares doubles with ==, so 0.0 == -0.0 and NaN is unequal to itself.
  return left.storage_ == right.storage_;
}

std::size_t AnyJSON::hashValue() const {
  std::size_t seed = storage_.index();
  switch (kind()) {
    case Kind::null:
      break;
    case Kind::boolean:
      hashCombine(seed, std::get<bool>(storage_) ? 1 : 0);
      break;
    case Kind::integer:
      hashCombine(seed, std::hash<std::int64_t>()(std::get<std::int64_t>(storage_)));
      break;
    case Kind::double_: {
      const double value = std::get<double>(storage_);
      hashCombine(seed, std::hash<double>()(value == 0 ? 0.0 : value));
      break;
    }
    case Kind::string:
      hashCombine(seed, std::hash<std::string>()(std::get<std::string>(storage_)));
      break;
    case Kind::object:
      // Keys are kept sorted, so iteration order is independent of insertion order.
      for (const auto& [key, value] : std::get<JSONObject>(storage_)) {
        hashCombine(seed, std::hash<std::string>()(key));
        hashCombine(seed, value.hashValue());
      }
      break;
    case Kind::array: {
      const JSONArray& array = std::get<JSONArray>(storage_);
      hashCombine(seed, array.size());
      for (const AnyJSON& value : array) hashCombine(seed, value.hashValue());
      break;
    }
  }
  return seed;
}

void tag_invoke(boost::json::value_from_tag, boost::json::value& json, const AnyJSON& value) {
  json = value.toJSON();
}

AnyJSON tag_invoke(boost::json::value_to_tag<AnyJSON>, const boost::json::value& json) {
  return AnyJSON::fromJSON(json);
}

}  // namespace voduzazi
