// XCTFail: fails the running test (or, outside tests, reports an issue) with a message, at the
// caller's file path and line, or at those of a bound XCTFailContext.
//
//   test_overlay::XCTFail("Unexpected call to fetch");
//   test_overlay::XCTFailContext::withCurrent({"/src/app/model.cpp", 12}, [] {
//     test_overlay::XCTFail("reported at model.cpp:12");
//   });
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "voduzazi/concurrency/task_local.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi::test_overlay {

// A file path and line that XCTFail reports instead of its caller's, while bound on a task.
struct XCTFailContext {
  std::string file;
  std::uint32_t line = 0;

  // The context bound on the calling task, or absent.
  static std::optional<XCTFailContext> current();
  static const TaskLocal<std::optional<XCTFailContext>>& local();

  // Runs `operation` with `context` bound and returns its result; rethrows.
  template <class Operation>
  static decltype(auto) withCurrent(XCTFailContext context, Operation&& operation) {
    return local().withValue(std::move(context), std::forward<Operation>(operation));
  }
};

// Reports `message` through reportIssue at the file id "XCTestDynamicOverlay/Deprecations.cpp",
// the file path and line of `location` (or of the bound XCTFailContext), and column 14.
// Safe from any thread.
void XCTFail(const std::string& message = {},
             const SourceLocation& location = SourceLocation::current());

}  // namespace voduzazi::test_overlay
