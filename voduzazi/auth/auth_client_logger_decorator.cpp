#include "voduzazi/auth/auth_client_logger_decorator.hpp"

#include <utility>

namespace voduzazi::auth {

AuthClientLoggerDecorator::AuthClientLoggerDecorator(std::int64_t clientID,
                                                     std::shared_ptr<VoduzaziLogger> decoratee)
    : clientID_(clientID), decoratee_(std::move(decoratee)) {}

void AuthClientLoggerDecorator::log(const VoduzaziLogMessage& message) {
  VoduzaziLogMessage tagged = message;
  tagged.additionalContext.insert_or_assign("client_id", AnyJSON(clientID_));
  decoratee_->log(tagged);
}

}  // namespace voduzazi::auth
