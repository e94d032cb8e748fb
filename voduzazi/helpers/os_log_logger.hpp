// OSLogVoduzaziLogger: a ready-made logger that writes each record's line to the system log.
//
//   auto logger = std::make_shared<OSLogVoduzaziLogger>();
//   options.logger = logger;    // every library log line becomes one syslog entry
#pragma once

#include <syslog.h>

#include "voduzazi/helpers/logger.hpp"

namespace voduzazi {

// Levels map to priorities: verbose to LOG_INFO, debug to LOG_DEBUG, warning to LOG_NOTICE and
// error to LOG_ERR. Records whose priority the process's log mask excludes are dropped.
// Shared objects: safe (syslog is thread-safe).
class OSLogVoduzaziLogger : public VoduzaziLogger {
 public:
  explicit OSLogVoduzaziLogger(int facility = LOG_USER) : facility_(facility) {}

  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override;

 private:
  int facility_;
};

}  // namespace voduzazi
