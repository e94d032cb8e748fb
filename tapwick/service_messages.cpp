// Sending, polling and showing messages: the message road of VoduzaziService.
#include <iostream>

#include "tapwick/display_date.hpp"
#include "tapwick/server_rows.hpp"
#include "tapwick/tapwick_error.hpp"
#include "tapwick/voduzazi_service.hpp"

namespace tapwick {

namespace {

// The message row written by sending, keys in this order.
struct MessageInsert {
  std::string senderId;
  std::string receiverId;
  std::string content;

  boost::json::value toJSON() const {
    return boost::json::object{
        {"sender_id", senderId}, {"receiver_id", receiverId}, {"content", content}};
  }
};

}  // namespace

void VoduzaziService::sendMessage(std::string text, Completion done) {
  const auto me = userId();
  if (!me) return done(std::make_exception_ptr(TapwickError(TapwickError::notLoggedInToSend)));
  if (connectedFriends_.empty()) {
    return done(std::make_exception_ptr(TapwickError(TapwickError::noFriendToSendTo)));
  }
  background(
      [client = client_, row = MessageInsert{*me, connectedFriends_.front(), std::move(text)}] {
        client->from("messages").insert(row).execute();
      },
      [done = std::move(done)](VoduzaziService&, voduzazi::Result<std::monostate> result) {
        done(result.error());
      });
}

void VoduzaziService::pollOnce(std::function<void()> done) {
  const auto me = userId();
  if (!me || pollInFlight_) {
    if (done) done();
    return;
  }
  pollInFlight_ = true;
  background(
      [client = client_, me = *me, since = lastSeen_.since()] {
        const auto response = client->from("messages")
                                  .select("*")
                                  .eq("receiver_id", me)
                                  .gte("created_at", since)
                                  .order("created_at", true)
                                  .execute();
        return readMessageRows(response.data);
      },
      [done = std::move(done), me = *me](VoduzaziService& self,
                                         voduzazi::Result<std::vector<MessageRow>> rows) {
        self.pollInFlight_ = false;
        if (!rows.isSuccess()) {
          std::cout << "Poll error: " << errorDescription(rows.error()) << std::endl;
        } else if (self.userId() == me) {
          // Rows for a user who signed out meanwhile are not shown to the next one.
          self.showNewMessages(rows.get());
        }
        if (done) done();
      });
}

void VoduzaziService::showNewMessages(const std::vector<MessageRow>& rows) {
  bool shown = false;
  for (const MessageRow& row : rows) {
    if (!lastSeen_.isNew(row)) continue;
    showMessageNotification(row.content, formatDisplayDate(row.createdAt), row.id);
    lastSeen_.record(row);
    shown = true;
  }
  if (shown) saveLastSeen();
}

void VoduzaziService::showMessageNotification(const std::string& content, const std::string& date,
                                              const std::string& id) {
  configuration_.notifications->add({.identifier = id,
                                     .title = "Tapwick",
                                     .body = content + "\nSent at: " + date,
                                     .trigger = configuration_.notificationTrigger});
}

void VoduzaziService::startPolling() {
  if (!session_ || isPolling_) return;
  isPolling_ = true;
  const std::uint64_t generation = ++pollGeneration_;
  pollOnce([weak = weak_from_this(), generation] {
    if (auto self = weak.lock()) self->scheduleNextPoll(generation);
  });
}

void VoduzaziService::stopPolling() {
  isPolling_ = false;
  ++pollGeneration_;
}

void VoduzaziService::scheduleNextPoll(std::uint64_t generation) {
  if (!isPolling_ || generation != pollGeneration_) return;
  configuration_.mainExecutor->postAfter(
      configuration_.pollInterval, [weak = weak_from_this(), generation] {
        auto self = weak.lock();
        if (!self || !self->isPolling_ || generation != self->pollGeneration_) return;
        // An unpaired user learns here of a pairing made by the friend redeeming their code.
        if (self->connectedFriends_.empty()) self->fetchFriends();
        self->pollOnce([weak, generation] {
          if (auto self = weak.lock()) self->scheduleNextPoll(generation);
        });
      });
}

}  // namespace tapwick
