// Log lines of the second-generation realtime client: built only when there is a logger.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "voduzazi/helpers/detail/log_redaction.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

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

// The message's description with the secrets of its payload (a join's "access_token") redacted.
inline std::string loggedDescription(RealtimeMessageV2 message) {
  message.payload = voduzazi::detail::redactedObject(message.payload);
  return message.description();
}

}  // namespace voduzazi::realtime::detail
