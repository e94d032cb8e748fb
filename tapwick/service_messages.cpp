// Sending, polling and showing messages: the message road of VoduzaziService.
#include <algorithm>
#include <iostream>

#include "tapwick/display_date.hpp"
#include "tapwick/server_rows.hpp"
#include "tapwick/tapwick_error.hpp"
#include "tapwick/voduzazi_service.hpp"
#include "voduzazi/helpers/url_error.hpp"

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

// A time-out is no proof that the row was not stored: say so rather than that the send failed.
std::exception_ptr wordedForSending(std::exception_ptr failure) {
  if (!failure) return failure;
  try {
    std::rethrow_exception(failure);
  } catch (const voduzazi::URLError& error) {
    if (error.code() == voduzazi::URLError::Code::timedOut) {
      return std::make_exception_ptr(TapwickError(TapwickError::sendTimedOut));
    }
  } catch (...) {
  }
  return failure;
}

}  // namespace

void VoduzaziService::sendMessage(std::string text, Completion done) {
  const auto me = userId();
  if (!me) return done(std::make_exception_ptr(TapwickError(TapwickError::notLoggedInToSend)));
  if (connectedFriends_.empty()) {
    return done(std::make_exception_ptr(TapwickError(TapwickError::noFriendToSendTo)));
  }
  background(
      [rest = database(), row = MessageInsert{*me, connectedFriends_.front(), std::move(text)}] {
        rest.from("messages").insert(row).execute();
      },
      [done = std::move(done)](VoduzaziService&, voduzazi::Result<std::monostate> result) {
        done(wordedForSending(result.error()));
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
      [rest = database(), me = *me, since = lastSeen_.since()] {
        const auto response = rest.from("messages")
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
        // A poll for a user whose session ended meanwhile (its failure included) is over: its
        // rows are not shown to the next one.
        if (self.userId() == me) {
          if (rows.isSuccess()) {
            self.showNewMessages(rows.get());
          } else {
            std::cout << "Poll error: " << errorDescription(rows.error()) << std::endl;
          }
        }
        if (done) done();
      });
}

void VoduzaziService::showNewMessages(const std::vector<MessageRow>& rows) {
  for (const MessageRow& row : rows) {
    if (!lastSeen_.isNew(row)) continue;
    const bool pending = std::any_of(pendingMessages_.begin(), pendingMessages_.end(),
                                     [&](const PendingMessage& p) { return p.row.id == row.id; });
    if (pending) continue;
    pendingMessages_.push_back({row});
    showMessageNotification(
        row.content, formatDisplayDate(row.createdAt), row.id,
        [weak = weak_from_this(), generation = lastSeenGeneration_, id = row.id](bool handedOver) {
          if (auto self = weak.lock()) self->messageDelivered(generation, id, handedOver);
        });
  }
}

void VoduzaziService::messageDelivered(std::uint64_t generation, const std::string& id,
                                       bool handedOver) {
  if (generation != lastSeenGeneration_) return;
  const auto found = std::find_if(pendingMessages_.begin(), pendingMessages_.end(),
                                  [&](const PendingMessage& p) { return p.row.id == id; });
  if (found == pendingMessages_.end()) return;
  using State = PendingMessage::State;
  found->state = handedOver ? State::handedOver : State::refused;
  // The marker moves over the delivered messages in order, and never past one that was not.
  bool moved = false;
  while (!pendingMessages_.empty() && pendingMessages_.front().state == State::handedOver) {
    lastSeen_.record(pendingMessages_.front().row);
    pendingMessages_.pop_front();
    moved = true;
  }
  if (!pendingMessages_.empty() && pendingMessages_.front().state == State::refused) {
    // The next poll shows it, and those after it, again.
    pendingMessages_.clear();
  }
  if (moved) saveLastSeen();
}

void VoduzaziService::showMessageNotification(const std::string& content, const std::string& date,
                                              const std::string& id,
                                              UserNotificationCenter::DeliveryHandler delivered) {
  configuration_.notifications->add({.identifier = id,
                                     .title = "Tapwick",
                                     .body = content + "\nSent at: " + date,
                                     .trigger = configuration_.notificationTrigger},
                                    std::move(delivered));
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
