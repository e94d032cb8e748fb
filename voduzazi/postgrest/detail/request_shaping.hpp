// The changes that the transform and query builders make to a pending request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/helpers/http_request.hpp"

namespace voduzazi::detail {

// The column list without white space (Unicode's included), except between double quotes; a
// list that is not UTF-8 unchanged.
std::string cleanedColumns(std::string_view columns);

// "key", or "table.key" for an embedded resource.
std::string referencedKey(const std::optional<std::string>& referencedTable, std::string_view key);

// Updates one "key=value" element of the comma-separated "Prefer" header.
void updatePreferElement(helpers::HTTPRequest& request, std::string_view element);

void selectColumns(helpers::HTTPRequest& request, std::string_view columns);
void addOrder(helpers::HTTPRequest& request, std::string_view column, bool ascending,
              bool nullsFirst, const std::optional<std::string>& referencedTable);
void setLimit(helpers::HTTPRequest& request, std::int64_t count,
              const std::optional<std::string>& referencedTable);
void setRange(helpers::HTTPRequest& request, std::int64_t from, std::int64_t to,
              const std::optional<std::string>& referencedTable);
void setAccept(helpers::HTTPRequest& request, std::string_view mediaType);
void askForPlan(helpers::HTTPRequest& request, std::string_view options, std::string_view format);
void limitAffectedRows(helpers::HTTPRequest& request, std::int64_t count);

}  // namespace voduzazi::detail
