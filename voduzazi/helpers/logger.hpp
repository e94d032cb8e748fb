// VoduzaziLogger: the logging interface the library writes to, its level operations, the
// task-scoped logging context and trace().
//
//   logger->debug("Refreshing session");                       // file, function, line captured
//   logger->error("Failed", {{"status", 500}});
//   VoduzaziLoggerTaskLocal::withValue({{"requestID", id}}, [&] { return next(request); });
//   auto rows = trace(logger, [&] { return fetchRows(); });    // "begin", "end" at debug level
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <source_location>
#include <string>
#include <type_traits>
#include <utility>

#include "voduzazi/concurrency/task_local.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/log_message.hpp"

namespace voduzazi {

// Where a log call comes from.
struct LogSite {
  std::string fileID;    // the last two components of the source path
  std::string function;  // the bare function name
  std::uint32_t line = 0;

  static LogSite current(std::source_location at = std::source_location::current());
};

// Implementations must accept calls from any thread at once. The library never filters by level.
class VoduzaziLogger {
 public:
  virtual ~VoduzaziLogger() = default;
  virtual void log(const VoduzaziLogMessage& message) = 0;

  // Builds the record (system from the file ID, the current time, the given context merged with
  // the task-scoped context, which wins) and passes it to log(message) on this thread.
  void log(VoduzaziLogLevel level, std::string message, JSONObject additionalContext = {},
           LogSite site = LogSite::current());
  void verbose(std::string message, JSONObject additionalContext = {},
               LogSite site = LogSite::current());
  void debug(std::string message, JSONObject additionalContext = {},
             LogSite site = LogSite::current());
  void warning(std::string message, JSONObject additionalContext = {},
               LogSite site = LogSite::current());
  void error(std::string message, JSONObject additionalContext = {},
             LogSite site = LogSite::current());
};

// The logging context of the running task: key-value pairs added to every record logged while a
// scope is active, inherited by child tasks.
struct VoduzaziLoggerTaskLocal {
  static const TaskLocal<JSONObject>& additionalContextLocal();
  // The current task's context; empty outside any scope.
  static JSONObject additionalContext() { return additionalContextLocal().get(); }

  // Runs `operation` with the context merged with `merging` (its values win) and returns its
  // result; the previous context is in force again afterwards, also when it throws.
  template <class F>
  static decltype(auto) withValue(const JSONObject& merging, F&& operation);
};

// Logs "begin", then "end" (or "error: <what>" and "end" before rethrowing) at debug level around
// `operation`; without a logger it only runs the operation.
template <class F>
std::invoke_result_t<F&> trace(const std::shared_ptr<VoduzaziLogger>& logger, F&& operation,
                               LogSite site = LogSite::current());

namespace detail {
// "voduzazi::helpers::HTTPResponse voduzazi::X::intercept(const R&)" gives "intercept".
std::string shortFunctionName(std::string_view prettyFunction);
// The text form of the exception being handled.
std::string currentExceptionText();
}  // namespace detail

}  // namespace voduzazi

// Implementation.

namespace voduzazi {

template <class F>
decltype(auto) VoduzaziLoggerTaskLocal::withValue(const JSONObject& merging, F&& operation) {
  JSONObject merged = additionalContext();
  for (const auto& [key, value] : merging) merged.insert_or_assign(key, value);
  typename TaskLocal<JSONObject>::Binding binding(additionalContextLocal(), std::move(merged));
  return std::forward<F>(operation)();
}

template <class F>
std::invoke_result_t<F&> trace(const std::shared_ptr<VoduzaziLogger>& logger, F&& operation,
                               LogSite site) {
  using Result = std::invoke_result_t<F&>;
  if (logger) logger->debug("begin", {}, site);
  try {
    if constexpr (std::is_void_v<Result>) {
      operation();
      if (logger) logger->debug("end", {}, site);
    } else {
      Result result = operation();
      if (logger) logger->debug("end", {}, site);
      return result;
    }
  } catch (...) {
    if (logger) {
      logger->debug("error: " + detail::currentExceptionText(), {}, site);
      logger->debug("end", {}, site);
    }
    throw;
  }
}

}  // namespace voduzazi
