// test_overlay::unimplemented: placeholder functions that need no placeholder value. A call
// reports the "Unimplemented" issue, then returns a generated placeholder of the result type, or
// stops the program when none can be generated. Call it qualified: its arguments are those of
// voduzazi::unimplemented, which argument-dependent lookup also finds.
//
//   std::function<int(std::string)> count = test_overlay::unimplemented<int(std::string)>("count");
//   count("x");   // reports "Unimplemented: count …", returns 0
//   std::function<Widget()> make = test_overlay::unimplemented<Widget()>("make");   // stops
#pragma once

#include <functional>
#include <string>
#include <type_traits>
#include <utility>

#include "voduzazi/issue_reporting/fatal_error.hpp"
#include "voduzazi/issue_reporting/lazy_message.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"
#include "voduzazi/issue_reporting/unimplemented.hpp"
#include "voduzazi/test_overlay/placeholder_generation.hpp"

namespace voduzazi::test_overlay {

// The fatal message for a result type without placeholder: "unimplemented(", the quoted
// description (nothing when it is empty), ")" and the advice to give a placeholder.
std::string missingPlaceholderText(const std::string& description);

// A function that reports each call (at column 0), then returns generatePlaceholder of its
// result type; when that fails, stops the program with missingPlaceholderText.
template <class Signature>
requires std::is_function_v<Signature> std::function<Signature> unimplemented(
    LazyMessage description = {}, FunctionLocation at = FunctionLocation::current()) {
  using Result = voduzazi::detail::UnimplementedResult<Signature>;
  at.location.column = 0;
  const SourceLocation where = at.location;
  return voduzazi::detail::UnimplementedFunction<Signature>::make(
      std::move(description), std::move(at), [where](const std::string& text) -> Result {
        try {
          return generatePlaceholder<Result>();
        } catch (const PlaceholderGenerationFailure&) {
          fatalError(missingPlaceholderText(text), where.filePath, where.line);
        }
      });
}

// A value that cannot be made: stops the program at once ("Fatal error", no message, at the
// caller's file path and line) without reporting.
template <class T>
requires(!std::is_function_v<T>) [[noreturn]] T
    unimplemented(LazyMessage /*description*/ = {},
                  FunctionLocation at = FunctionLocation::current()) {
  fatalError({}, at.location.filePath, at.location.line);
}

}  // namespace voduzazi::test_overlay
