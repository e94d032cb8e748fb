#include "voduzazi/helpers/logger.hpp"

#include <chrono>

#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {
namespace detail {

std::string shortFunctionName(std::string_view pretty) {
  // The parameter list opens at the first "(" outside template brackets, except the one of
  // "(anonymous namespace)".
  int angle = 0;
  std::size_t open = std::string_view::npos;
  for (std::size_t i = 0; i < pretty.size(); ++i) {
    const char c = pretty[i];
    if (c == '<') ++angle;
    if (c == '>' && angle > 0) --angle;
    if (c == '(' && angle == 0) {
      if (pretty.substr(i).starts_with("(anonymous namespace)")) {
        i += std::string_view("(anonymous namespace)").size() - 1;
        continue;
      }
      if (i > 0 && pretty.substr(0, i).ends_with("operator")) continue;  // operator()
      open = i;
      break;
    }
  }
  std::string_view head = pretty.substr(0, open);
  // The name starts after the last "::" or blank outside template brackets.
  angle = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < head.size(); ++i) {
    const char c = head[i];
    if (c == '<') ++angle;
    if (c == '>' && angle > 0) --angle;
    if (angle > 0) continue;
    if (c == ' ') start = i + 1;
    if (c == ':' && i + 1 < head.size() && head[i + 1] == ':') start = i + 2;
  }
  return std::string(head.substr(start));
}

std::string currentExceptionText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace detail

LogSite LogSite::current(std::source_location at) {
  return {fileIDFromPath(at.file_name()), detail::shortFunctionName(at.function_name()),
          static_cast<std::uint32_t>(at.line())};
}

void VoduzaziLogger::log(VoduzaziLogLevel level, std::string message, JSONObject additionalContext,
                         LogSite site) {
  VoduzaziLogMessage record;
  const std::string_view fileID = site.fileID;
  const std::size_t slash = fileID.find_first_not_of('/');
  if (slash != std::string_view::npos) {
    const std::string_view rest = fileID.substr(slash);
    record.system = std::string(rest.substr(0, rest.find('/')));
  }
  record.level = level;
  record.message = std::move(message);
  record.fileID = std::move(site.fileID);
  record.function = std::move(site.function);
  record.line = site.line;
  record.timestamp =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  for (auto& [key, value] : VoduzaziLoggerTaskLocal::additionalContext()) {
    additionalContext.insert_or_assign(key, value);
  }
  record.additionalContext = std::move(additionalContext);
  log(record);
}

void VoduzaziLogger::verbose(std::string message, JSONObject additionalContext, LogSite site) {
  log(VoduzaziLogLevel::verbose, std::move(message), std::move(additionalContext), std::move(site));
}

void VoduzaziLogger::debug(std::string message, JSONObject additionalContext, LogSite site) {
  log(VoduzaziLogLevel::debug, std::move(message), std::move(additionalContext), std::move(site));
}

void VoduzaziLogger::warning(std::string message, JSONObject additionalContext, LogSite site) {
  log(VoduzaziLogLevel::warning, std::move(message), std::move(additionalContext), std::move(site));
}

void VoduzaziLogger::error(std::string message, JSONObject additionalContext, LogSite site) {
  log(VoduzaziLogLevel::error, std::move(message), std::move(additionalContext), std::move(site));
}

const TaskLocal<JSONObject>& VoduzaziLoggerTaskLocal::additionalContextLocal() {
  static const TaskLocal<JSONObject> local{JSONObject{}};
  return local;
}

}  // namespace voduzazi
