// PostgrestResponse<T>: what an executed database request returns: the raw body, the HTTP
// response, the total row count the server announced in "Content-Range", and (unless T is void)
// the body decoded as T.
//
//   PostgrestResponse<std::vector<Message>> rows = builder.execute<std::vector<Message>>();
//   for (const Message& m : rows.value) show(m);
//   if (rows.count) showTotal(*rows.count);        // "Content-Range: 0-24/3573" gives 3573
//   PostgrestResponse<> raw = builder.execute();   // rows.data holds the JSON text
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/url_request.hpp"

namespace voduzazi {

// The total of a "Content-Range" value: its last "/"-separated piece as a decimal number.
// Nothing for "*", an empty or missing piece, or text that is not a non-negative integer.
std::optional<std::int64_t> countFromContentRange(std::string_view contentRange);

// The parts every response has. A value type.
struct PostgrestResponseHead {
  Data data;
  std::shared_ptr<const HTTPURLResponse> response;
  std::optional<std::int64_t> count;  // from the response's "Content-Range"

  PostgrestResponseHead(Data data, std::shared_ptr<const HTTPURLResponse> response);

  int status() const noexcept { return response ? response->statusCode() : 0; }
  // The body as text; nothing when it is not valid UTF-8.
  std::optional<std::string> string() const;
};

template <class T = void>
struct PostgrestResponse : PostgrestResponseHead {
  T value;

  PostgrestResponse(Data data, std::shared_ptr<const HTTPURLResponse> response, T value)
      : PostgrestResponseHead(std::move(data), std::move(response)), value(std::move(value)) {}
};

template <>
struct PostgrestResponse<void> : PostgrestResponseHead {
  using PostgrestResponseHead::PostgrestResponseHead;
};

}  // namespace voduzazi
