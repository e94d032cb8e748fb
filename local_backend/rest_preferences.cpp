#include "local_backend/rest_preferences.hpp"

#include "local_backend/rest_error.hpp"

namespace local_backend {

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

template <class Visit>
void forEachElement(std::string_view list, Visit visit) {
  while (!list.empty()) {
    const auto comma = list.find(',');
    visit(trim(list.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

void applyPreference(Preferences& preferences, std::string_view element) {
  if (element == "return=minimal") preferences.returning = ReturnPreference::minimal;
  if (element == "return=representation") {
    preferences.returning = ReturnPreference::representation;
  }
  if (element == "return=headers-only") preferences.returning = ReturnPreference::headersOnly;
  if (element == "count=exact" || element == "count=planned" || element == "count=estimated") {
    preferences.count = true;
  }
  if (element == "resolution=merge-duplicates") {
    preferences.resolution = Resolution::mergeDuplicates;
  }
  if (element == "resolution=ignore-duplicates") {
    preferences.resolution = Resolution::ignoreDuplicates;
  }
}

}  // namespace

Preferences parsePreferences(const Request& request) {
  Preferences preferences;
  const auto [first, last] = request.equal_range("Prefer");
  for (auto field = first; field != last; ++field) {
    forEachElement(field->value(), [&](std::string_view e) { applyPreference(preferences, e); });
  }
  return preferences;
}

ResponseShape parseAccept(const Request& request) {
  const auto field = request.find(http::field::accept);
  if (field == request.end()) return ResponseShape::array;
  bool json = false;
  bool single = false;
  forEachElement(field->value(), [&](std::string_view element) {
    const std::string_view type = trim(element.substr(0, element.find(';')));
    if (type == "application/vnd.pgrst.object+json" || type == "application/vnd.pgrst.object") {
      single = true;
    } else if (type == "application/json" || type == "*/*" || type == "application/*" ||
               type.empty()) {
      json = true;
    }
  });
  if (single) return ResponseShape::singleObject;
  if (json) return ResponseShape::array;
  throw RestError(http::status::not_acceptable, "PGRST107",
                  "None of these media types are available: " + std::string(field->value()));
}

}  // namespace local_backend
