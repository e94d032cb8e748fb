// The database functions the REST API serves under "rpc/NAME", called with GET or HEAD (the
// arguments as query items) or POST (the arguments as a JSON object; no body means none):
//   add_numbers(a, b)        a + b; integers stay integers             any caller with a key
//   messages_with(other_id)  the caller's messages with that user, with the filters, order,
//                            paging and counts of a table read           signed-in users
//
//   const FunctionSignature* add = findFunction("add_numbers");
//   FunctionCall call = bindArguments(*add, request, target);   // {"a": "1", "b": "2"}
//   boost::json::value sum = addNumbers(call.arguments);        // 3
#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "local_backend/http_message.hpp"
#include "local_backend/rest_query.hpp"

namespace local_backend {

struct FunctionSignature {
  std::string name;
  std::vector<std::string> parameters;
};

// The built-in function of that name, or nullptr.
const FunctionSignature* findFunction(std::string_view name);

struct FunctionCall {
  boost::json::object arguments;                           // by parameter name
  std::vector<std::pair<std::string, std::string>> query;  // the items that are not arguments
};

// Splits the request into the function's arguments and the rest of its query. Throws RestError
// 404 "PGRST202" when the arguments are not exactly the function's parameters, 400 "PGRST102"
// for a POST body that is not a JSON object.
FunctionCall bindArguments(const FunctionSignature& function, const Request& request,
                           const RequestTarget& target);

// a + b of numbers or numeric texts. Throws RestError 400 "22P02" for a value that is not a
// number, "22003" when the sum does not fit.
boost::json::value addNumbers(const boost::json::object& arguments);

// The messages between two users: sent by one and received by the other, either way.
LogicTree conversationBetween(std::string_view user, std::string_view other);

}  // namespace local_backend
