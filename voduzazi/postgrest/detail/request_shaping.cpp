#include "voduzazi/postgrest/detail/request_shaping.hpp"

#include <limits>

#include "voduzazi/helpers/detail/utf8.hpp"
#include "voduzazi/postgrest/detail/field_names.hpp"

namespace voduzazi::detail {
namespace {

// ASCII white space and the Unicode spaces (line and paragraph separators included).
bool isWhiteSpace(char32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The code point starting at `text[i]` of valid UTF-8, and its length in bytes.
std::pair<char32_t, std::size_t> codePointAt(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (text[i + k] & 0x3F);
  return {c, length};
}

}  // namespace

std::string cleanedColumns(std::string_view columns) {
  // Dropping bytes from text that is not UTF-8 could join others into new white space; such a
  // list goes out as it is, for the server to refuse.
  if (!isValidUTF8(columns)) return std::string(columns);
  std::string cleaned;
  cleaned.reserve(columns.size());
  bool quoted = false;
  for (std::size_t i = 0; i < columns.size();) {
    const auto [c, length] = codePointAt(columns, i);
    if (!quoted && isWhiteSpace(c)) {
      i += length;
      continue;
    }
    if (c == '"') quoted = !quoted;
    cleaned.append(columns.substr(i, length));
    i += length;
  }
  return cleaned;
}

std::string referencedKey(const std::optional<std::string>& referencedTable, std::string_view key) {
  return referencedTable ? *referencedTable + "." + std::string(key) : std::string(key);
}

void updatePreferElement(helpers::HTTPRequest& request, std::string_view element) {
  appendOrUpdate(request.headers, postgrest_fields::prefer, element, ",");
}

void selectColumns(helpers::HTTPRequest& request, std::string_view columns) {
  appendOrUpdate(request.query, {"select", cleanedColumns(columns)});
  updatePreferElement(request, "return=representation");
}

void addOrder(helpers::HTTPRequest& request, std::string_view column, bool ascending,
              bool nullsFirst, const std::optional<std::string>& referencedTable) {
  const std::string key = referencedKey(referencedTable, "order");
  const std::string element = std::string(column) + (ascending ? ".asc" : ".desc") +
                              (nullsFirst ? ".nullsfirst" : ".nullslast");
  for (URLQueryItem& item : request.query) {
    if (item.name != key) continue;
    if (!item.value) break;
    *item.value += "," + element;
    return;
  }
  request.query.push_back({key, element});
}

void setLimit(helpers::HTTPRequest& request, std::int64_t count,
              const std::optional<std::string>& referencedTable) {
  appendOrUpdate(request.query, {referencedKey(referencedTable, "limit"), std::to_string(count)});
}

void setRange(helpers::HTTPRequest& request, std::int64_t from, std::int64_t to,
              const std::optional<std::string>& referencedTable) {
  // to - from + 1 saturates instead of wrapping, so a huge range stays a huge limit.
  std::int64_t count = 0;
  if (__builtin_sub_overflow(to, from, &count) || __builtin_add_overflow(count, 1, &count)) {
    count = to >= from ? std::numeric_limits<std::int64_t>::max()
                       : std::numeric_limits<std::int64_t>::min();
  }
  appendOrUpdate(request.query, {referencedKey(referencedTable, "offset"), std::to_string(from)});
  setLimit(request, count, referencedTable);
}

void setAccept(helpers::HTTPRequest& request, std::string_view mediaType) {
  request.headers.set(HTTPField::Name::accept, mediaType);
}

void askForPlan(helpers::HTTPRequest& request, std::string_view options, std::string_view format) {
  const std::string mediaType =
      request.headers.get(HTTPField::Name::accept).value_or("application/json");
  setAccept(request, "application/vnd.pgrst.plan+\"" + std::string(format) +
                         "\"; for=" + mediaType + "; options=" + std::string(options) + ";");
}

void limitAffectedRows(helpers::HTTPRequest& request, std::int64_t count) {
  updatePreferElement(request, "handling=strict");
  updatePreferElement(request, "max-affected=" + std::to_string(count));
}

}  // namespace voduzazi::detail
