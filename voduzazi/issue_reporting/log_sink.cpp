#include "voduzazi/issue_reporting/log_sink.hpp"

#include <syslog.h>

#include "voduzazi/issue_reporting/detail/standard_streams.hpp"

namespace voduzazi {
namespace {

class SystemLogSink final : public LogSink {
 public:
  void write(const LogEntry& entry) override {
    const std::string line = formatLogLine(entry);
    detail::writeStandardError(line + "\n");
    syslog(LOG_USER | (entry.level == LogLevel::fault ? LOG_ERR : LOG_INFO), "%s", line.c_str());
  }
};

}  // namespace

const char* toString(LogLevel level) { return level == LogLevel::fault ? "fault" : "info"; }

std::shared_ptr<LogSink> systemLogSink() {
  // Never destroyed, like the reporters that hold it.
  static const auto* sink = new std::shared_ptr<LogSink>(std::make_shared<SystemLogSink>());
  return *sink;
}

std::string formatLogLine(const LogEntry& entry) {
  return "[" + entry.subsystem + ":" + entry.category + "] " + toString(entry.level) + ": " +
         entry.text;
}

}  // namespace voduzazi
