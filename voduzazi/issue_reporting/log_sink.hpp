// LogSink: where the runtime-warning reporter writes its entries. The system sink writes one line
// to standard error and the same entry to syslog(3) at the matching priority.
//
//   std::shared_ptr<LogSink> sink = systemLogSink();
//   sink->write({"com.apple.runtime-issues", "Helpers", LogLevel::fault, "Bad header"});
//   // stderr: "[com.apple.runtime-issues:Helpers] fault: Bad header"
#pragma once

#include <memory>
#include <string>

namespace voduzazi {

enum class LogLevel { info, fault };

struct LogEntry {
  std::string subsystem;
  std::string category;
  LogLevel level = LogLevel::info;
  std::string text;

  friend bool operator==(const LogEntry&, const LogEntry&) = default;
};

// "info" or "fault".
const char* toString(LogLevel level);

// Implementations may be called from any thread at the same time.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(const LogEntry& entry) = 0;
};

// The process's sink: standard error and syslog (info: LOG_INFO, fault: LOG_ERR). Shared, lives
// for the rest of the process.
std::shared_ptr<LogSink> systemLogSink();

// "[" subsystem ":" category "] " level ": " text, as the system sink prints it.
std::string formatLogLine(const LogEntry& entry);

}  // namespace voduzazi
