// Query items and their escaping: items are appended to a URL's query escaped with the query
// value set (letters, digits and "-._~/?" stay; every other byte becomes %XX, upper-case hex).
//
//   boost::urls::url url("https://example.com/rest/v1/items?a=1");
//   appendQueryItems(url, {{"select", "id,name"}, {"flag", std::nullopt}});
//   // https://example.com/rest/v1/items?a=1&select=id%2Cname&flag
//   appendOrUpdate(query, {"order", "id.desc"});   // replaces the first "order" item
#pragma once

#include <boost/url/url.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voduzazi {

struct URLQueryItem {
  std::string name;
  std::optional<std::string> value;  // absent: the bare name, without "="

  friend bool operator==(const URLQueryItem&, const URLQueryItem&) = default;
};

// `text` with every byte outside the query value set written as %XX.
std::string escapeQueryValue(std::string_view text);

// Adds the items after the URL's existing query, escaped; existing items are kept as they are,
// names are not de-duplicated. No items leaves the URL unchanged.
void appendQueryItems(boost::urls::url& url, const std::vector<URLQueryItem>& items);
boost::urls::url appendingQueryItems(const boost::urls::url& url,
                                     const std::vector<URLQueryItem>& items);

// Replaces the first item whose name equals `item.name` exactly (position kept), else appends.
void appendOrUpdate(std::vector<URLQueryItem>& items, URLQueryItem item);

}  // namespace voduzazi
