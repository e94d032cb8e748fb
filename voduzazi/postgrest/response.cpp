#include "voduzazi/postgrest/response.hpp"

#include <charconv>

#include "voduzazi/helpers/detail/utf8.hpp"

namespace voduzazi {

std::optional<std::int64_t> countFromContentRange(std::string_view contentRange) {
  // Empty pieces are dropped, so "0-9/" and "/" have no total.
  const std::size_t end = contentRange.find_last_not_of('/');
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view trimmed = contentRange.substr(0, end + 1);
  const std::size_t slash = trimmed.rfind('/');
  const std::string_view total =
      slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1);
  std::int64_t count = 0;
  const auto [last, error] = std::from_chars(total.data(), total.data() + total.size(), count);
  if (error != std::errc() || last != total.data() + total.size() || count < 0) {
    return std::nullopt;
  }
  return count;
}

PostgrestResponseHead::PostgrestResponseHead(Data data,
                                             std::shared_ptr<const HTTPURLResponse> response)
    : data(std::move(data)), response(std::move(response)) {
  if (!this->response) return;
  if (auto contentRange = this->response->value("Content-Range")) {
    count = countFromContentRange(*contentRange);
  }
}

std::optional<std::string> PostgrestResponseHead::string() const {
  if (!detail::isValidUTF8(data)) return std::nullopt;
  return data;
}

}  // namespace voduzazi
