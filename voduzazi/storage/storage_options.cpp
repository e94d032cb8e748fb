#include "voduzazi/storage/storage_options.hpp"

#include <tuple>

#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::storage {
namespace {

constexpr auto transformFields = std::tuple{
    field("width", &TransformOptions::width), field("height", &TransformOptions::height),
    field("resize", &TransformOptions::resize), field("quality", &TransformOptions::quality),
    field("format", &TransformOptions::format)};

constexpr auto sortByFields =
    std::tuple{field("column", &SortBy::column), field("order", &SortBy::order)};

constexpr auto searchFields =
    std::tuple{field("prefix", &SearchOptions::prefix), field("limit", &SearchOptions::limit),
               field("offset", &SearchOptions::offset), field("sortBy", &SearchOptions::sortBy),
               field("search", &SearchOptions::search)};

void appendIfPresent(std::vector<URLQueryItem>& items, const char* name,
                     const std::optional<std::int64_t>& value) {
  if (value) items.push_back({name, std::to_string(*value)});
}

void appendIfPresent(std::vector<URLQueryItem>& items, const char* name,
                     const std::optional<std::string>& value) {
  if (value) items.push_back({name, *value});
}

}  // namespace

std::vector<URLQueryItem> TransformOptions::queryItems() const {
  std::vector<URLQueryItem> items;
  appendIfPresent(items, "width", width);
  appendIfPresent(items, "height", height);
  appendIfPresent(items, "resize", resize);
  appendIfPresent(items, "quality", quality);
  appendIfPresent(items, "format", format);
  return items;
}

boost::json::value TransformOptions::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, transformFields);
}

boost::json::value SortBy::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, sortByFields);
}

boost::json::value SearchOptions::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, searchFields);
}

const SearchOptions& defaultSearchOptions() {
  static const SearchOptions options{
      .prefix = "", .limit = 100, .offset = 0, .sortBy = SortBy{"name", "asc"}, .search = {}};
  return options;
}

const FileOptions& defaultFileOptions() {
  static const FileOptions options{};
  return options;
}

}  // namespace voduzazi::storage
