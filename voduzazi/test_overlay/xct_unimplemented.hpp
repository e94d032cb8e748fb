// XCTUnimplemented: the older names of the placeholder functions.
//
//   auto fetch = test_overlay::XCTUnimplemented<User(int)>("Client.fetch");   // generated result
//   auto save = test_overlay::XCTUnimplemented<bool(Data)>("Store.save", true);
//   auto load = test_overlay::XCTUnimplementedThrowing<Data()>("Loader.load");
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

#include "voduzazi/issue_reporting/unimplemented.hpp"
#include "voduzazi/test_overlay/unimplemented.hpp"

namespace voduzazi::test_overlay {

// As test_overlay::unimplemented: reports, then returns a generated placeholder.
template <class Signature>
requires std::is_function_v<Signature> std::function<Signature> XCTUnimplemented(
    LazyMessage description = {}, FunctionLocation at = FunctionLocation::current()) {
  return test_overlay::unimplemented<Signature>(std::move(description), std::move(at));
}

// As voduzazi::unimplemented with a placeholder: reports, then returns the placeholder.
template <class Signature>
requires std::is_function_v<Signature> std::function<Signature> XCTUnimplemented(
    LazyMessage description,
    Placeholder<voduzazi::detail::UnimplementedResult<Signature>> placeholder,
    FunctionLocation at = FunctionLocation::current()) {
  return voduzazi::unimplemented<Signature>(std::move(description), std::move(placeholder),
                                            std::move(at));
}

// As voduzazi::unimplemented without a placeholder: reports, then throws UnimplementedFailure.
template <class Signature>
requires std::is_function_v<Signature> std::function<Signature> XCTUnimplementedThrowing(
    LazyMessage description = {}, FunctionLocation at = FunctionLocation::current()) {
  return voduzazi::unimplemented<Signature>(std::move(description), std::move(at));
}

}  // namespace voduzazi::test_overlay
