#include "voduzazi/realtime/push.hpp"

#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::realtime {
namespace {

// A reply whose status is missing or unknown counts as an error: otherwise no hook would run and
// a caller waiting for one would wait for ever.
PushStatus statusOf(const RealtimeMessage& reply) {
  return reply.status().value_or(PushStatus::error);
}

// Failures for want of a client whose hooks run on this thread (see failOrphan).
thread_local int orphanAnnouncements = 0;

// While the hooks of a push hear its failure for want of a client.
class Announcement {
 public:
  explicit Announcement(bool& announcing) : announcing_(announcing) {
    announcing_ = true;
    ++orphanAnnouncements;
  }
  ~Announcement() {
    --orphanAnnouncements;
    announcing_ = false;
  }
  Announcement(const Announcement&) = delete;
  Announcement& operator=(const Announcement&) = delete;

 private:
  bool& announcing_;
};

}  // namespace

std::shared_ptr<Push> Push::make(const std::shared_ptr<RealtimeChannel>& channel, std::string event,
                                 JSONObject payload, double timeout) {
  return std::shared_ptr<Push>(new Push(channel, std::move(event), std::move(payload), timeout));
}

Push::Push(const std::shared_ptr<RealtimeChannel>& channel, std::string event, JSONObject payload,
           double timeout)
    : channel_(channel),
      strand_(channel->strand()),
      timeoutTimer_(channel->timerQueue()),
      event_(std::move(event)),
      payload_(std::move(payload)),
      timeout_(timeout) {}

JSONObject Push::payload() const {
  return strand_->call([&] { return payload_; });
}
void Push::setPayload(JSONObject payload) {
  strand_->sync([&] { payload_ = std::move(payload); });
}
double Push::timeout() const {
  return strand_->call([&] { return timeout_; });
}
void Push::setTimeout(double seconds) {
  strand_->sync([&] { timeout_ = seconds; });
}
std::optional<RealtimeMessage> Push::receivedMessage() const {
  return strand_->call([&] { return receivedMessage_; });
}
bool Push::sent() const {
  return strand_->call([&] { return sent_; });
}
std::optional<std::string> Push::ref() const {
  return strand_->call([&] { return ref_; });
}
std::optional<std::string> Push::refEvent() const {
  return strand_->call([&] { return refEvent_; });
}

void Push::send() {
  strand_->sync([&] { sendNow(); });
}

void Push::resend(double timeout) {
  strand_->sync([&] {
    timeout_ = timeout;
    resetNow();
    sendNow();
  });
}

void Push::reset() {
  strand_->sync([&] { resetNow(); });
}

void Push::cancel() {
  strand_->sync([&] {
    removeReplyBinding();
    cancelTimeout();
  });
}

void Push::startTimeout() {
  strand_->sync([&] { startTimeoutNow(); });
}

bool Push::hasReceived(PushStatus status) const {
  return strand_->call([&] { return receivedMessage_ && statusOf(*receivedMessage_) == status; });
}

void Push::trigger(PushStatus status, JSONObject payload) {
  strand_->sync([&] { triggerNow(status, std::move(payload)); });
}

std::shared_ptr<Push> Push::receive(PushStatus status, Hook hook) {
  Delegated<RealtimeMessage, void> box;
  box.manuallyDelegate(std::move(hook));
  return addHook(status, std::move(box));
}

std::shared_ptr<Push> Push::addHook(PushStatus status, Delegated<RealtimeMessage, void> hook) {
  strand_->sync([&] {
    if (receivedMessage_ && statusOf(*receivedMessage_) == status &&
        !(failedOrphan_ && orphanAnnouncements > 0)) {
      const RealtimeMessage received = *receivedMessage_;
      std::optional<Announcement> announcement;
      if (failedOrphan_) announcement.emplace(announcing_);
      callOut([&] { hook.call(received); });
    }
    receiveHooks_[status].push_back(std::move(hook));
  });
  return shared_from_this();
}

void Push::sendNow() {
  if (receivedMessage_ && receivedMessage_->status() == PushStatus::timeout) return;
  startTimeoutNow();
  sent_ = true;
  const auto channel = channel_.lock();
  const auto socket = channel ? channel->socket().lock() : nullptr;
  if (!socket) return;
  socket->push(channel->topic(), event_, payload_, ref_, channel->joinRef());
}

void Push::failOrphan() {
  // Without a client nothing is sent and no time-out can be armed: the error hooks learn it now.
  const auto channel = channel_.lock();
  if (receivedMessage_) return;
  const RealtimeMessage failure{
      "", std::nullopt, channel ? channel->topic() : "", "",
      JSONObject{{"status", "error"}, {"response", JSONObject{{"reason", "no client"}}}}};
  receivedMessage_ = failure;
  failedOrphan_ = true;
  // Failed again from inside the announcement of the last failure: recorded only (see the
  // header). Nor can it be announced later: the closed strand drops posted work.
  if (announcing_) return;
  const auto self = shared_from_this();  // a hook may let go of this push
  const Announcement announcement(announcing_);
  matchReceive(PushStatus::error, failure);
}

RealtimeClient::AfterCall Push::callOut(const std::function<void()>& call) const {
  const auto channel = channel_.lock();
  return RealtimeChannel::callOut(channel ? channel->lockedSocket() : nullptr, *strand_, call);
}

void Push::resetNow() {
  removeReplyBinding();
  ref_.reset();
  refEvent_.reset();
  receivedMessage_.reset();
  failedOrphan_ = false;
  sent_ = false;
}

void Push::startTimeoutNow() {
  cancelTimeout();
  const auto channel = channel_.lock();
  const auto socket = channel ? channel->socket().lock() : nullptr;
  if (!socket) return failOrphan();
  ref_ = socket->makeRef();
  refEvent_ = "chan_reply_" + *ref_;
  channel->delegateOn(*refEvent_, ChannelFilter{}, shared_from_this(),
                      [](Push& push, const RealtimeMessage& message) { push.replied(message); });
  // The item runs on the timer queue's executor; the time-out itself goes through the strand,
  // and only for the send it was armed for.
  auto item = std::make_shared<WorkItem>([self = shared_from_this(), ref = *ref_] {
    self->strand_->post([self, ref] {
      if (self->ref_ == ref && !self->receivedMessage_) {
        self->triggerNow(PushStatus::timeout, {});
      }
    });
  });
  timeoutWorkItem_ = item;
  timeoutTimer_->run(timeout_, std::move(item));
}

void Push::replied(const RealtimeMessage& message) {
  removeReplyBinding();
  cancelTimeout();
  receivedMessage_ = message;
  failedOrphan_ = false;
  matchReceive(statusOf(message), message);
}

void Push::removeReplyBinding() {
  if (!refEvent_) return;
  if (const auto channel = channel_.lock()) channel->off(*refEvent_, {});
}

void Push::cancelTimeout() {
  if (auto item = std::move(timeoutWorkItem_)) item->cancel();
}

void Push::matchReceive(PushStatus status, const RealtimeMessage& message) {
  // A copy: a hook may add hooks.
  const auto hooks = receiveHooks_[status];
  for (const auto& hook : hooks) {
    // Only a release (by an earlier hook) ends the list.
    if (callOut([&] { hook.call(message); }).released) return;
  }
}

void Push::triggerNow(PushStatus status, JSONObject payload) {
  if (!refEvent_) return;
  payload["status"] = std::string(toString(status));
  const auto channel = channel_.lock();
  if (!channel) return;
  channel->trigger(
      RealtimeMessage{"", channel->joinRef(), channel->topic(), *refEvent_, std::move(payload)});
}

}  // namespace voduzazi::realtime
