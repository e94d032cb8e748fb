#include "local_backend/rest_functions.hpp"

#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <charconv>
#include <cmath>
#include <optional>

#include "local_backend/rest_error.hpp"

namespace local_backend {

namespace {

using boost::json::object;
using boost::json::value;

const std::vector<FunctionSignature>& functions() {
  static const std::vector<FunctionSignature> all{{"add_numbers", {"a", "b"}},
                                                  {"messages_with", {"other_id"}}};
  return all;
}

bool isParameter(const FunctionSignature& function, std::string_view name) {
  return std::find(function.parameters.begin(), function.parameters.end(), name) !=
         function.parameters.end();
}

RestError noSuchFunction(const FunctionSignature& function, const object& arguments) {
  std::string names;
  for (const auto& argument : arguments) {
    names += (names.empty() ? "" : ", ") + std::string(argument.key());
  }
  return RestError(http::status::not_found, "PGRST202",
                   "Could not find the function public." + function.name + "(" + names +
                       ") in the schema cache");
}

object bodyArguments(const Request& request) {
  if (request.body().empty()) return {};
  boost::system::error_code ec;
  value body = boost::json::parse(request.body(), ec);
  if (ec || !body.is_object()) {
    throw RestError(http::status::bad_request, "PGRST102", "The arguments must be a JSON object");
  }
  return std::move(body.as_object());
}

template <class Number>
std::optional<Number> parseWhole(std::string_view text) {
  Number number{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

// An integer or a double; a text is read as one.
std::optional<value> numberOf(const value& argument) {
  if (argument.is_int64() || argument.is_double()) return argument;
  if (argument.is_uint64()) return value(static_cast<double>(argument.as_uint64()));
  if (!argument.is_string()) return std::nullopt;
  const std::string_view text = argument.as_string();
  if (auto whole = parseWhole<std::int64_t>(text)) return value(*whole);
  if (auto real = parseWhole<double>(text); real && std::isfinite(*real)) return value(*real);
  return std::nullopt;
}

value numberArgument(const object& arguments, std::string_view name) {
  const value& argument = arguments.at(name);
  if (auto number = numberOf(argument)) return *number;
  throw RestError(http::status::bad_request, "22P02",
                  "invalid input syntax for type numeric: " + boost::json::serialize(argument));
}

Filter equals(std::string column, std::string_view text) {
  Filter filter;
  filter.column = std::move(column);
  filter.value = text;
  return filter;
}

}  // namespace

const FunctionSignature* findFunction(std::string_view name) {
  for (const auto& function : functions()) {
    if (function.name == name) return &function;
  }
  return nullptr;
}

FunctionCall bindArguments(const FunctionSignature& function, const Request& request,
                           const RequestTarget& target) {
  FunctionCall call;
  const bool inQuery = request.method() == http::verb::get || request.method() == http::verb::head;
  if (!inQuery) call.arguments = bodyArguments(request);
  for (const auto& item : target.query) {
    if (inQuery && isParameter(function, item.first)) {
      call.arguments[item.first] = item.second;
    } else {
      call.query.push_back(item);
    }
  }
  const bool exact = call.arguments.size() == function.parameters.size() &&
                     std::all_of(call.arguments.begin(), call.arguments.end(),
                                 [&](const auto& a) { return isParameter(function, a.key()); });
  if (!exact) throw noSuchFunction(function, call.arguments);
  return call;
}

value addNumbers(const object& arguments) {
  const value a = numberArgument(arguments, "a");
  const value b = numberArgument(arguments, "b");
  if (a.is_int64() && b.is_int64()) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a.as_int64(), b.as_int64(), &sum)) return sum;
  } else {
    const double sum = a.to_number<double>() + b.to_number<double>();
    if (std::isfinite(sum)) return sum;
  }
  throw RestError(http::status::bad_request, "22003", "value out of range for type numeric");
}

LogicTree conversationBetween(std::string_view user, std::string_view other) {
  LogicTree sent;
  sent.filters = {equals("sender_id", user), equals("receiver_id", other)};
  LogicTree received;
  received.filters = {equals("sender_id", other), equals("receiver_id", user)};
  LogicTree either;
  either.disjunction = true;
  either.trees = {std::move(sent), std::move(received)};
  return either;
}

}  // namespace local_backend
