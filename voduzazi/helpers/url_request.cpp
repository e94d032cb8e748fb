#include "voduzazi/helpers/url_request.hpp"

#include <boost/algorithm/string/predicate.hpp>

namespace voduzazi {
namespace {

std::optional<std::string> joinedValue(const HeaderFieldList& fields, std::string_view name) {
  std::optional<std::string> joined;
  for (const auto& [fieldName, value] : fields) {
    if (!boost::algorithm::iequals(fieldName, name)) continue;
    if (joined) {
      *joined += ", " + value;
    } else {
      joined = value;
    }
  }
  return joined;
}

}  // namespace

std::optional<std::string> URLRequest::value(std::string_view name) const {
  return joinedValue(headerFields, name);
}

std::optional<std::string> HTTPURLResponse::value(std::string_view name) const {
  return joinedValue(headerFields_, name);
}

}  // namespace voduzazi
