#include "voduzazi/helpers/os_log_logger.hpp"

namespace voduzazi {
namespace {

int priority(VoduzaziLogLevel level) {
  switch (level) {
    case VoduzaziLogLevel::verbose:
      return LOG_INFO;
    case VoduzaziLogLevel::debug:
      return LOG_DEBUG;
    case VoduzaziLogLevel::warning:
      return LOG_NOTICE;
    case VoduzaziLogLevel::error:
      return LOG_ERR;
  }
  return LOG_INFO;
}

}  // namespace

void OSLogVoduzaziLogger::log(const VoduzaziLogMessage& message) {
  const int level = priority(message.level);
  if ((setlogmask(0) & LOG_MASK(level)) == 0) return;
  syslog(facility_ | level, "%s", message.description().c_str());
}

}  // namespace voduzazi
