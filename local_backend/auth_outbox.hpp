// The mail and text messages the authentication service would send, kept for tests to read
// through "GET /auth/v1/outbox" with the service key.
//
//   outbox.send({"email", "ada@example.com", "magiclink", "Your code is 123456", "123456"});
//   auto mine = outbox.messagesTo("ada@example.com");
#pragma once

#include <boost/json/object.hpp>
#include <mutex>
#include <string>
#include <vector>

namespace local_backend {

struct OutboxMessage {
  std::string channel;  // "email" or "sms"
  std::string to;
  std::string kind;  // "magiclink", "signup", "recovery", "invite", "reauthentication", ...
  std::string text;
  std::string code;       // the one-time code the message carries
  std::string tokenHash;  // the hash of its link, for e-mail
  std::string link;
  std::int64_t sentAt = 0;

  boost::json::object toJSON() const;
};

// Thread safety: safe. Lifetime: the server's. Keeps the last 1000 messages.
class AuthOutbox {
 public:
  void send(OutboxMessage message);
  // Oldest first; every message when `to` is empty.
  std::vector<OutboxMessage> messagesTo(const std::string& to) const;

 private:
  mutable std::mutex mutex_;
  std::vector<OutboxMessage> messages_;
};

}  // namespace local_backend
