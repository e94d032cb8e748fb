// reportingErrors: runs a body and turns what it throws into a reported issue instead of an
// exception. The body's value comes back in an optional (a bool for void bodies).
//
//   std::optional<Config> config = reportingErrors([&] { return loadConfig(path); });
//   bool saved = reportingErrors({.message = "Saving failed"}, [&] { save(state); });
//   reportingErrors({.reporters = IssueReporterList{}}, [&] { quietWork(); });
#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/issue_reporting/lazy_message.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

struct ReportingErrorsOptions {
  LazyMessage message{};                         // added to the report of a thrown error
  std::optional<IssueReporterList> reporters{};  // replace the task's reporters for the run
};

// Runs `body`. When it throws, reports the error (with the options' message, at `location`) and
// returns nullopt (false for void bodies); the error is never rethrown.
template <class Body>
auto reportingErrors(ReportingErrorsOptions options, Body&& body,
                     SourceLocation location = SourceLocation::current());

template <class Body>
auto reportingErrors(Body&& body, SourceLocation location = SourceLocation::current()) {
  return reportingErrors(ReportingErrorsOptions{}, std::forward<Body>(body), std::move(location));
}

template <class Body>
auto reportingErrors(ReportingErrorsOptions options, Body&& body, SourceLocation location) {
  using R = std::invoke_result_t<Body&>;
  using Outcome = std::conditional_t<std::is_void_v<R>, bool, std::optional<R>>;
  auto run = [&]() -> Outcome {
    try {
      if constexpr (std::is_void_v<R>) {
        body();
        return true;
      } else {
        return Outcome(body());
      }
    } catch (...) {
      reportIssue(std::current_exception(), options.message, location);
      return Outcome();
    }
  };
  if (options.reporters) return withReporters(std::move(*options.reporters), run);
  return run();
}

}  // namespace voduzazi
