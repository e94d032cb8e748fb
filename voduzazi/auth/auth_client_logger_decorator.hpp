// AuthClientLoggerDecorator: passes every log record on with the auth client's id in its
// context, so lines of several clients in one process can be told apart.
//
//   auto logger = std::make_shared<AuthClientLoggerDecorator>(clientID, appLogger);
//   logger->debug("session expired");   // reaches appLogger with {"client_id": clientID}
#pragma once

#include <cstdint>
#include <memory>

#include "voduzazi/helpers/logger.hpp"

namespace voduzazi::auth {

// Shared objects: as safe as the decoratee (it holds nothing else). Lifetime: keeps the decoratee.
class AuthClientLoggerDecorator final : public VoduzaziLogger {
 public:
  AuthClientLoggerDecorator(std::int64_t clientID, std::shared_ptr<VoduzaziLogger> decoratee);

  using VoduzaziLogger::log;
  // Sets the context entry "client_id" to this client's id, replacing one already there.
  void log(const VoduzaziLogMessage& message) override;

  std::int64_t clientID() const noexcept { return clientID_; }
  const std::shared_ptr<VoduzaziLogger>& decoratee() const noexcept { return decoratee_; }

 private:
  std::int64_t clientID_;
  std::shared_ptr<VoduzaziLogger> decoratee_;
};

}  // namespace voduzazi::auth
