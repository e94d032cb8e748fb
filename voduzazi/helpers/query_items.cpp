#include "voduzazi/helpers/query_items.hpp"

#include <utility>

namespace voduzazi {
namespace {

bool isQueryValueAllowed(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/' || c == '?';
}

}  // namespace

std::string escapeQueryValue(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isQueryValueAllowed(byte)) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += hex[byte >> 4];
      escaped += hex[byte & 0xF];
    }
  }
  return escaped;
}

void appendQueryItems(boost::urls::url& url, const std::vector<URLQueryItem>& items) {
  if (items.empty()) return;
  std::string query = url.has_query() ? std::string(url.encoded_query()) : std::string();
  // Every item after the first is separated, even when the items before it wrote nothing.
  bool separate = !query.empty();
  for (const URLQueryItem& item : items) {
    if (separate) query += '&';
    separate = true;
    query += escapeQueryValue(item.name);
    if (item.value) {
      query += '=';
      query += escapeQueryValue(*item.value);
    }
  }
  url.set_encoded_query(query);
}

boost::urls::url appendingQueryItems(const boost::urls::url& url,
                                     const std::vector<URLQueryItem>& items) {
  boost::urls::url copy = url;
  appendQueryItems(copy, items);
  return copy;
}

void appendOrUpdate(std::vector<URLQueryItem>& items, URLQueryItem item) {
  for (URLQueryItem& existing : items) {
    if (existing.name == item.name) {
      existing = std::move(item);
      return;
    }
  }
  items.push_back(std::move(item));
}

}  // namespace voduzazi
