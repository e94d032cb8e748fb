// FunctionInvokeOptions: how one edge-function call is sent (method, headers, body, region and
// query), and the error a call throws for a non-success answer.
//
//   auto plain = FunctionInvokeOptions(FunctionMethod::get, {{"x-trace", "1"}}, "eu-west-1");
//   auto json = FunctionInvokeOptions::withBody(Greeting{"ada"});   // "application/json"
//   auto text = FunctionInvokeOptions::withBody(std::string("abc")); // "text/plain"
//   auto raw = FunctionInvokeOptions::withBody(BinaryBody{bytes});  // "application/octet-stream"
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "voduzazi/functions/function_region.hpp"
#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/query_items.hpp"

namespace voduzazi {

enum class FunctionMethod { get, post, put, patch, delete_ };

std::string_view toString(FunctionMethod method);
// Nothing unless the text is one of the names exactly ("GET", never "get").
std::optional<FunctionMethod> functionMethodFromString(std::string_view text);

// A region as the wire carries it: any text, or a listed region's name.
struct RegionName {
  std::optional<std::string> text;

  RegionName() = default;
  RegionName(std::nullopt_t) {}
  RegionName(std::string name) : text(std::move(name)) {}
  RegionName(const char* name) : text(name) {}
  RegionName(std::optional<std::string> name) : text(std::move(name)) {}
  RegionName(FunctionRegion region) : text(std::string(toString(region))) {}
  RegionName(std::optional<FunctionRegion> region) {
    if (region) text = std::string(toString(*region));
  }
};

// Bytes sent as they are, with "application/octet-stream" (a plain string is sent as text).
struct BinaryBody {
  Data bytes;
};

// A value type.
struct FunctionInvokeOptions {
  std::optional<FunctionMethod> method;  // none: POST
  HTTPFields headers;                    // laid over the client's headers by name
  std::optional<Data> body;
  std::optional<std::string> region;  // overrides the client's region
  std::vector<URLQueryItem> query;

  FunctionInvokeOptions() = default;
  // No body; `headers` are exactly the given ones.
  explicit FunctionInvokeOptions(std::optional<FunctionMethod> method,
                                 const HeaderDictionary& headers = {}, RegionName region = {},
                                 std::vector<URLQueryItem> query = {});

  // A body with its default "Content-Type" (text/plain for text, application/octet-stream for
  // BinaryBody, application/json for any other value, encoded by a default JSONEncoder), which a
  // "Content-Type" in `headers` replaces. Throws the encoder's EncodingError: a body that cannot
  // be encoded is never dropped silently.
  template <class Body>
  static FunctionInvokeOptions withBody(const Body& body,
                                        std::optional<FunctionMethod> method = std::nullopt,
                                        const HeaderDictionary& headers = {},
                                        RegionName region = {},
                                        std::vector<URLQueryItem> query = {});

 private:
  static FunctionInvokeOptions withEncodedBody(Data body, std::string_view contentType,
                                               std::optional<FunctionMethod> method,
                                               const HeaderDictionary& headers, RegionName region,
                                               std::vector<URLQueryItem> query);
};

// What an invocation throws for a non-success answer.
class FunctionsError : public std::runtime_error {
 public:
  enum class Kind { httpError, relayError };

  // "Edge Function returned a non-2xx status code: <code>".
  static FunctionsError httpError(int code, Data data);
  // "Relay Error invoking the Edge Function".
  static FunctionsError relayError();

  Kind kind() const noexcept { return kind_; }
  int code() const noexcept { return code_; }  // 0 for a relay error
  const Data& data() const noexcept { return data_; }

 private:
  FunctionsError(Kind kind, int code, Data data, const std::string& description);
  Kind kind_;
  int code_;
  Data data_;
};

// Implementation.

template <class Body>
FunctionInvokeOptions FunctionInvokeOptions::withBody(const Body& body,
                                                      std::optional<FunctionMethod> method,
                                                      const HeaderDictionary& headers,
                                                      RegionName region,
                                                      std::vector<URLQueryItem> query) {
  if constexpr (std::is_convertible_v<const Body&, std::string_view>) {
    return withEncodedBody(Data(std::string_view(body)), "text/plain", method, headers,
                           std::move(region), std::move(query));
  } else if constexpr (std::is_same_v<Body, BinaryBody>) {
    return withEncodedBody(body.bytes, "application/octet-stream", method, headers,
                           std::move(region), std::move(query));
  } else {
    return withEncodedBody(JSONEncoder().encode(body), "application/json", method, headers,
                           std::move(region), std::move(query));
  }
}

}  // namespace voduzazi
