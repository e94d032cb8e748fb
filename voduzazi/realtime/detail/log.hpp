// Log lines of the second-generation realtime client: built only when there is a logger.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "voduzazi/helpers/logger.hpp"

namespace voduzazi::realtime::detail {

// `message` is a callable giving the text; it runs only with a logger.
template <class Message>
void logDebug(const std::shared_ptr<VoduzaziLogger>& logger, Message&& message,
              LogSite site = LogSite::current()) {
  if (logger) logger->debug(std::forward<Message>(message)(), {}, std::move(site));
}

template <class Message>
void logError(const std::shared_ptr<VoduzaziLogger>& logger, Message&& message,
              LogSite site = LogSite::current()) {
  if (logger) logger->error(std::forward<Message>(message)(), {}, std::move(site));
}

}  // namespace voduzazi::realtime::detail
