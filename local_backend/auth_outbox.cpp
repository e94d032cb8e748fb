#include "local_backend/auth_outbox.hpp"

namespace local_backend {

namespace {
constexpr std::size_t kKeptMessages = 1000;
}  // namespace

boost::json::object OutboxMessage::toJSON() const {
  return {{"channel", channel},
          {"to", to},
          {"kind", kind},
          {"text", text},
          {"code", code},
          {"link", link},
          {"token_hash", tokenHash},
          {"sent_at", sentAt}};
}

void AuthOutbox::send(OutboxMessage message) {
  std::lock_guard lock(mutex_);
  if (messages_.size() >= kKeptMessages) messages_.erase(messages_.begin());
  messages_.push_back(std::move(message));
}

std::vector<OutboxMessage> AuthOutbox::messagesTo(const std::string& to) const {
  std::lock_guard lock(mutex_);
  std::vector<OutboxMessage> found;
  for (const auto& message : messages_) {
    if (to.empty() || message.to == to) found.push_back(message);
  }
  return found;
}

}  // namespace local_backend
