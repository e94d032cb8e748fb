#include <gtest/gtest.h>

#include "tests/auth/storage_test_support.hpp"
#include "voduzazi/auth/auth_state_change_event_emitter.hpp"

namespace voduzazi::auth {
namespace {

using Delivered = std::vector<std::pair<AuthChangeEvent, std::optional<Session>>>;

class AuthStateChangeEventEmitterTest : public ::testing::Test {
 protected:
  AuthStateChangeEventEmitterTest() {
    observer_ = center_.addObserver(std::string(didChangeAuthStateNotification), nullptr,
                                    [this](const Notification& note) { posted_.push_back(note); });
  }

  std::shared_ptr<ObservationToken> listen(AuthStateChangeEventEmitter& emitter, Delivered& into) {
    return emitter.attach([this, &into](AuthChangeEvent event, const std::optional<Session>& s) {
      // The notification reaches its observers before any listener.
      EXPECT_EQ(posted_.size(), postedBeforeDelivery_ + 1);
      into.emplace_back(event, s);
    });
  }

  NotificationCenter center_;
  NotificationCenter::ObserverToken observer_;
  std::vector<Notification> posted_;
  std::size_t postedBeforeDelivery_ = 0;
};

TEST_F(AuthStateChangeEventEmitterTest, PostsThenDeliversWithoutReplay) {
  AuthStateChangeEventEmitter emitter(nullptr, &center_);
  Session session = testing::sampleSession();
  emitter.emit(AuthChangeEvent::signedIn, session);
  EXPECT_EQ(emitter.lastEvent()->first, AuthChangeEvent::signedIn);

  Delivered late;
  auto token = listen(emitter, late);
  EXPECT_TRUE(late.empty());  // no replay of the last event

  postedBeforeDelivery_ = posted_.size();
  emitter.emit(AuthChangeEvent::signedOut, std::nullopt);
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].first, AuthChangeEvent::signedOut);
  ASSERT_FALSE(posted_.empty());
  const Notification& note = posted_.back();
  EXPECT_EQ(std::any_cast<AuthChangeEvent>(note.userInfo.at(std::string(authChangeEventInfoKey))),
            AuthChangeEvent::signedOut);
  ASSERT_TRUE(note.userInfo.contains(authChangeSessionInfoKey));
  EXPECT_FALSE(std::any_cast<std::optional<Session>>(
      note.userInfo.at(std::string(authChangeSessionInfoKey))));
  EXPECT_EQ(note.object, nullptr);
}

TEST_F(AuthStateChangeEventEmitterTest, ATokenAimsAtOneListenerButThePostGoesOut) {
  AuthStateChangeEventEmitter emitter(nullptr, &center_);
  AuthStateChangeEventEmitter copy = emitter;  // copies share the emitter
  Delivered first, second;
  auto firstToken = listen(emitter, first);
  auto secondToken = listen(copy, second);
  emitter.emit(AuthChangeEvent::initialSession, std::nullopt, secondToken.get());
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(second.size(), 1u);
  EXPECT_EQ(posted_.size(), 1u);

  firstToken.reset();
  postedBeforeDelivery_ = posted_.size();
  copy.emit(AuthChangeEvent::tokenRefreshed, testing::sampleSession());
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(second.size(), 2u);
}

// An observer that throws is logged; the observers after it and every listener still get the
// event, and emit returns normally.
TEST_F(AuthStateChangeEventEmitterTest, AThrowingObserverSilencesNobody) {
  auto logger = std::make_shared<voduzazi::testing::RecordingLogger>();
  AuthStateChangeEventEmitter emitter(nullptr, &center_, logger);
  auto throwing = center_.addObserver(std::nullopt, nullptr, [](const Notification&) {
    throw std::runtime_error("observer boom");
  });
  std::vector<Notification> after;
  auto later = center_.addObserver(std::nullopt, nullptr,
                                   [&](const Notification& note) { after.push_back(note); });
  Delivered delivered;
  auto token = emitter.attach([&](AuthChangeEvent event, const std::optional<Session>& session) {
    delivered.emplace_back(event, session);
  });

  EXPECT_NO_THROW(emitter.emit(AuthChangeEvent::signedOut, std::nullopt));
  EXPECT_EQ(posted_.size(), 1u);
  EXPECT_EQ(after.size(), 1u);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].first, AuthChangeEvent::signedOut);
  const auto messages = logger->messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].level, VoduzaziLogLevel::error);
  EXPECT_NE(messages[0].message.find("SIGNED_OUT"), std::string::npos);
  EXPECT_NE(messages[0].message.find("observer boom"), std::string::npos);
}

// An event that turns stale while it goes out (another written after it) still reaches the
// observers, but no listener called after it turned.
TEST_F(AuthStateChangeEventEmitterTest, AnEventThatTurnsStaleReachesNoFurtherListener) {
  AuthStateChangeEventEmitter emitter(nullptr, &center_);
  bool current = true;
  Delivered first, second;
  auto firstToken = emitter.attach([&](AuthChangeEvent event, const std::optional<Session>& s) {
    first.emplace_back(event, s);
    current = false;  // as a listener that signs out
  });
  auto secondToken = listen(emitter, second);
  emitter.emit(AuthChangeEvent::tokenRefreshed, testing::sampleSession(), [&] { return current; });
  EXPECT_EQ(first.size(), 1u);
  EXPECT_TRUE(second.empty());

  // Turned stale in an observer: no later observer or listener hears it, and it is not the last
  // event either.
  postedBeforeDelivery_ = posted_.size();
  emitter.emit(AuthChangeEvent::signedOut, std::nullopt);
  auto staling = center_.addObserver(std::nullopt, nullptr, [&](const Notification&) {
    current = false;
  });
  int laterObserver = 0;
  auto later = center_.addObserver(std::nullopt, nullptr, [&](const Notification&) {
    ++laterObserver;
  });
  current = true;
  emitter.emit(AuthChangeEvent::tokenRefreshed, testing::sampleSession(), [&] { return current; });
  EXPECT_EQ(posted_.size(), 3u);
  EXPECT_EQ(laterObserver, 0);
  EXPECT_EQ(first.size(), 2u);
  EXPECT_EQ(second.size(), 1u);
  EXPECT_EQ(emitter.lastEvent()->first, AuthChangeEvent::signedOut);
}

TEST_F(AuthStateChangeEventEmitterTest, LogsEachDeliveryWithTokensMasked) {
  auto logger = std::make_shared<voduzazi::testing::RecordingLogger>();
  AuthStateChangeEventEmitter emitter(logger, &center_);
  Delivered delivered;
  auto token = listen(emitter, delivered);
  emitter.emit(AuthChangeEvent::signedIn, testing::sampleSession());
  auto messages = logger->messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].level, VoduzaziLogLevel::verbose);
  EXPECT_EQ(messages[0].message.rfind("Auth state changed: (SIGNED_IN, ", 0), 0u);
  EXPECT_EQ(messages[0].message.find("header.payload.signature"), std::string::npos);
  EXPECT_EQ(messages[0].fileID, "Auth/EventEmitter");
}

}  // namespace
}  // namespace voduzazi::auth
