#include "voduzazi/postgrest/query_builder.hpp"

#include <set>
#include <vector>

#include "voduzazi/postgrest/detail/field_names.hpp"

namespace voduzazi {
namespace {

using detail::postgrest_fields::prefer;

std::string returnElement(PostgrestReturningOptions returning) {
  return "return=" + std::string(toString(returning));
}

std::string countElement(CountOption count) { return "count=" + std::string(toString(count)); }

// Puts an earlier "Prefer" value in front of the collected elements and sets the header, unless
// there is nothing to say.
void applyPreferList(helpers::HTTPRequest& request, std::vector<std::string> elements) {
  if (auto earlier = request.headers.get(prefer)) elements.insert(elements.begin(), *earlier);
  if (elements.empty()) return;
  std::string value;
  for (const std::string& element : elements) {
    if (!value.empty()) value += ',';
    value += element;
  }
  request.headers.set(prefer, value);
}

// For an array of objects, the sorted keys of all of them; nothing for any other body.
std::optional<std::string> bulkColumns(const boost::json::value& body) {
  const boost::json::array* rows = body.if_array();
  if (!rows) return std::nullopt;
  std::set<std::string> keys;
  for (const boost::json::value& row : *rows) {
    const boost::json::object* object = row.if_object();
    if (!object) return std::nullopt;
    for (const auto& member : *object) keys.emplace(member.key());
  }
  std::string columns;
  for (const std::string& key : keys) {
    if (!columns.empty()) columns += ',';
    columns += key;
  }
  return columns;
}

void setColumns(helpers::HTTPRequest& request, const boost::json::value& body) {
  if (auto columns = bulkColumns(body)) appendOrUpdate(request.query, {"columns", *columns});
}

}  // namespace

PostgrestFilterBuilder PostgrestQueryBuilder::filterBuilder(helpers::HTTPRequest request) const {
  return PostgrestFilterBuilder(sharedConfiguration(), std::move(request));
}

PostgrestFilterBuilder PostgrestQueryBuilder::select(std::string_view columns, bool head,
                                                     std::optional<CountOption> count) {
  return filterBuilder(changeRequest([&](helpers::HTTPRequest& request) {
    request.method = HTTPMethod::get;
    appendOrUpdate(request.query, {"select", detail::cleanedColumns(columns)});
    if (count) request.headers.set(prefer, countElement(*count));
    if (head) request.method = HTTPMethod::head;
    return request;
  }));
}

PostgrestFilterBuilder PostgrestQueryBuilder::insertBody(
    Body body, std::optional<PostgrestReturningOptions> returning,
    std::optional<CountOption> count) {
  return filterBuilder(changeRequest([&](helpers::HTTPRequest& request) {
    request.method = HTTPMethod::post;
    std::vector<std::string> elements;
    if (returning) elements.push_back(returnElement(*returning));
    if (count) elements.push_back(countElement(*count));
    request.body = std::move(body.text);
    applyPreferList(request, std::move(elements));
    setColumns(request, body.json);
    return request;
  }));
}

PostgrestFilterBuilder PostgrestQueryBuilder::upsertBody(Body body,
                                                         std::optional<std::string> onConflict,
                                                         PostgrestReturningOptions returning,
                                                         std::optional<CountOption> count,
                                                         bool ignoreDuplicates) {
  return filterBuilder(changeRequest([&](helpers::HTTPRequest& request) {
    request.method = HTTPMethod::post;
    std::vector<std::string> elements{
        ignoreDuplicates ? "resolution=ignore-duplicates" : "resolution=merge-duplicates",
        returnElement(returning)};
    if (onConflict) appendOrUpdate(request.query, {"on_conflict", *onConflict});
    request.body = std::move(body.text);
    if (count) elements.push_back(countElement(*count));
    applyPreferList(request, std::move(elements));
    setColumns(request, body.json);
    return request;
  }));
}

PostgrestFilterBuilder PostgrestQueryBuilder::updateBody(Body body,
                                                         PostgrestReturningOptions returning,
                                                         std::optional<CountOption> count) {
  return filterBuilder(changeRequest([&](helpers::HTTPRequest& request) {
    request.method = HTTPMethod::patch;
    std::vector<std::string> elements{returnElement(returning)};
    request.body = std::move(body.text);
    if (count) elements.push_back(countElement(*count));
    applyPreferList(request, std::move(elements));
    return request;
  }));
}

PostgrestFilterBuilder PostgrestQueryBuilder::delete_(PostgrestReturningOptions returning,
                                                      std::optional<CountOption> count) {
  return filterBuilder(changeRequest([&](helpers::HTTPRequest& request) {
    request.method = HTTPMethod::delete_;
    std::vector<std::string> elements{returnElement(returning)};
    if (count) elements.push_back(countElement(*count));
    applyPreferList(request, std::move(elements));
    return request;
  }));
}

}  // namespace voduzazi
