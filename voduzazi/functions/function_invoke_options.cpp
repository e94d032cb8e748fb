#include "voduzazi/functions/function_invoke_options.hpp"

#include <array>

namespace voduzazi {
namespace {

constexpr std::array<std::pair<FunctionMethod, std::string_view>, 5> methodNames{{
    {FunctionMethod::get, "GET"},
    {FunctionMethod::post, "POST"},
    {FunctionMethod::put, "PUT"},
    {FunctionMethod::patch, "PATCH"},
    {FunctionMethod::delete_, "DELETE"},
}};

}  // namespace

std::string_view toString(FunctionMethod method) {
  for (const auto& [candidate, name] : methodNames) {
    if (candidate == method) return name;
  }
  return "POST";
}

std::optional<FunctionMethod> functionMethodFromString(std::string_view text) {
  for (const auto& [method, name] : methodNames) {
    if (name == text) return method;
  }
  return std::nullopt;
}

FunctionInvokeOptions::FunctionInvokeOptions(std::optional<FunctionMethod> method,
                                             const HeaderDictionary& headers, RegionName region,
                                             std::vector<URLQueryItem> query)
    : method(method),
      headers(makeHTTPFields(headers)),
      region(std::move(region.text)),
      query(std::move(query)) {}

FunctionInvokeOptions FunctionInvokeOptions::withEncodedBody(
    Data body, std::string_view contentType, std::optional<FunctionMethod> method,
    const HeaderDictionary& headers, RegionName region, std::vector<URLQueryItem> query) {
  FunctionInvokeOptions options(method, {}, std::move(region), std::move(query));
  options.headers = merging(HTTPFields{{HTTPField::Name::contentType, std::string(contentType)}},
                            makeHTTPFields(headers));
  options.body = std::move(body);
  return options;
}

FunctionsError::FunctionsError(Kind kind, int code, Data data, const std::string& description)
    : std::runtime_error(description), kind_(kind), code_(code), data_(std::move(data)) {}

FunctionsError FunctionsError::httpError(int code, Data data) {
  return FunctionsError(Kind::httpError, code, std::move(data),
                        "Edge Function returned a non-2xx status code: " + std::to_string(code));
}

FunctionsError FunctionsError::relayError() {
  return FunctionsError(Kind::relayError, 0, {}, "Relay Error invoking the Edge Function");
}

}  // namespace voduzazi
