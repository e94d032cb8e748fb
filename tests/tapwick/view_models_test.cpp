// The views' state and actions, driven without a display against the stand-in backend; time
// moves only when the test advances the main executor's clock.
#include <gtest/gtest.h>

#include "tapwick/app_info.hpp"
#include "tapwick/connect_view_model.hpp"
#include "tapwick/main_view_model.hpp"
#include "tapwick/root_view_model.hpp"
#include "tests/tapwick/app_fixture.hpp"
#include "voduzazi/helpers/url_error.hpp"

namespace tapwick::testing {
namespace {

using namespace std::chrono_literals;
using Screen = RootViewModel::Screen;

class ViewModelsTest : public AppFixture {
 protected:
  std::shared_ptr<RootViewModel> root(AppInstall& app) {
    auto model = RootViewModel::create(app.service, [this](Size size) { popover = size; });
    model->handleAppear();
    main->drain();
    return model;
  }

  AppInstall alice = install();
  Size popover;
};

TEST_F(ViewModelsTest, RootLoadsThenShowsTheFormsWhenSignedOut) {
  auto model = root(alice);
  EXPECT_EQ(model->screen(), Screen::loading);
  EXPECT_EQ(popover, (Size{320, 160}));
  main->advance(299ms);
  EXPECT_EQ(model->screen(), Screen::loading);
  main->advance(1ms);
  EXPECT_EQ(model->screen(), Screen::signIn);
  EXPECT_EQ(model->screenSize(), (Size{400, 180}));
  EXPECT_EQ(popover, (Size{400, 260}));
}

TEST_F(ViewModelsTest, RootShowsPairingThenMessagingAsTheUserProgresses) {
  signUpAndIn(alice, "alice");
  auto model = root(alice);
  main->advance(300ms);
  EXPECT_EQ(model->screen(), Screen::pairing);
  EXPECT_EQ(popover, (Size{400, 550}));
  // didConnectFriends switches to messaging.
  alice.service->addConnectedFriend("B0B");
  alice.service->fetchFriends();
  settle(alice);
  EXPECT_EQ(model->screen(), Screen::pairing) << "an empty fetch posts nothing";
  model->setShowMain(true);
  main->drain();
  EXPECT_EQ(model->screen(), Screen::messaging);
  EXPECT_EQ(popover, (Size{500, 400}));
}

TEST_F(ViewModelsTest, RootShowsMessagingAtOnceWithAStoredSessionAndFriends) {
  AppInstall bob = install();
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair(bob, alice);
  launch(alice);
  auto model = root(alice);
  main->advance(300ms);
  EXPECT_EQ(model->screen(), Screen::messaging);
  EXPECT_EQ(popover, (Size{500, 400}));
}

TEST_F(ViewModelsTest, FormsShowFailuresAndKeepWhatWasTyped) {
  auto model = root(alice);
  main->advance(300ms);
  model->submitSignIn();
  ASSERT_TRUE(main->runUntil([&] { return model->error.has_value(); }));
  const std::string emptyFieldsError = *model->error;
  EXPECT_FALSE(emptyFieldsError.empty());

  model->selectedTab = 1;
  model->email = "not-an-address";
  model->password = "x";
  model->username = "ada";
  model->error.reset();
  model->submitSignUp();
  ASSERT_TRUE(main->runUntil([&] { return model->error.has_value(); }));
  EXPECT_EQ(model->email, "not-an-address");
  EXPECT_EQ(model->screen(), Screen::signIn);
}

TEST_F(ViewModelsTest, PairingReportsEachFailureInItsOwnWords) {
  auto pairing = ConnectViewModel::create(alice.service, [](bool) {});
  pairing->generateInvite();
  EXPECT_EQ(pairing->error, "Not logged in");
  pairing->connectWithCode();
  EXPECT_EQ(pairing->error, "Not logged in");

  signUpAndIn(alice, "alice");
  pairing->generateInvite();
  ASSERT_TRUE(main->runUntil([&] { return pairing->generatedCode.has_value(); }));
  EXPECT_FALSE(pairing->error);
  EXPECT_EQ(pairing->generatedCode->size(), 8u);
  EXPECT_EQ(pairing->generatedCode->find_first_not_of("0123456789ABCDEF"), std::string::npos);

  // Codes are sent as typed: a lower-case code finds no invite.
  AppInstall bob = install();
  signUpAndIn(bob, "bob");
  auto redeem = ConnectViewModel::create(bob.service, [](bool) {});
  std::string lower = *pairing->generatedCode;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  redeem->inviteCode = lower == *pairing->generatedCode ? "00000000" : lower;
  redeem->connectWithCode();
  ASSERT_TRUE(main->runUntil([&] { return redeem->error.has_value(); }));
  EXPECT_TRUE(bob.service->connectedFriends().empty());
}

TEST_F(ViewModelsTest, CopyShowsTheCheckmarkFor1point2Seconds) {
  signUpAndIn(alice, "alice");
  auto pairing = ConnectViewModel::create(alice.service, [](bool) {});
  pairing->generateInvite();
  ASSERT_TRUE(main->runUntil([&] { return pairing->generatedCode.has_value(); }));
  std::string clipboard;
  pairing->copyCode([&](const std::string& text) { clipboard = text; });
  EXPECT_EQ(clipboard, *pairing->generatedCode);
  EXPECT_TRUE(pairing->copied);
  main->advance(1199ms);
  EXPECT_TRUE(pairing->copied);
  main->advance(1ms);
  EXPECT_FALSE(pairing->copied);
}

TEST_F(ViewModelsTest, MessagingTrimsOnlyToDecideAndShowsTheSentBannerFor2Seconds) {
  AppInstall bob = install();
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair(bob, alice);

  auto messaging = MainViewModel::create(alice.service, [](bool) {});
  EXPECT_EQ(messaging->myNameText(), "Fetching...");
  EXPECT_EQ(messaging->connectionText(), "No active connection");
  EXPECT_FALSE(messaging->showsMessageForm());
  messaging->start();
  ASSERT_TRUE(main->runUntil([&] { return messaging->showsMessageForm(); }));
  EXPECT_EQ(messaging->myNameText(), "alice");
  EXPECT_EQ(messaging->connectionText(), "Connected → bob");

  messaging->customMessage = " \t ";
  messaging->sendCustomMessage();
  settle(alice);
  EXPECT_EQ(messaging->customMessage, " \t ") << "nothing sent, the field kept";
  EXPECT_FALSE(messaging->showBanner);

  messaging->customMessage = "  hi\n";
  messaging->sendCustomMessage();
  ASSERT_TRUE(main->runUntil([&] { return messaging->showBanner; }));
  EXPECT_EQ(messaging->incomingMessage, "Sent:   hi\n");
  EXPECT_EQ(messaging->customMessage, "");
  main->advance(1999ms);
  EXPECT_TRUE(messaging->showBanner);
  main->advance(1ms);
  EXPECT_FALSE(messaging->showBanner);
}

TEST_F(ViewModelsTest, AFailedSendShowsItsErrorAndKeepsTheText) {
  signUpAndIn(alice, "alice");
  auto messaging = MainViewModel::create(alice.service, [](bool) {});
  messaging->customMessage = "hello";
  messaging->sendCustomMessage();
  ASSERT_TRUE(main->runUntil([&] { return messaging->error.has_value(); }));
  EXPECT_EQ(messaging->error, "No friend to send to");
  EXPECT_EQ(messaging->customMessage, "hello");
  EXPECT_FALSE(messaging->showBanner);
}

TEST_F(ViewModelsTest, TransportFailuresAreShownAsAShortSentence) {
  launch(alice, "http://127.0.0.1:9");  // nothing listens there
  auto model = root(alice);
  main->advance(300ms);
  model->email = newEmail("alice");
  model->password = "correct horse";
  model->submitSignIn();
  ASSERT_TRUE(main->runUntil([&] { return model->error.has_value(); }));
  EXPECT_EQ(model->error, "Could not connect to the server.");
}

TEST_F(ViewModelsTest, ASendThatTimesOutSaysTheMessageMayHaveArrived) {
  AppInstall bob = install();
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair(bob, alice);
  // A transport that delivers the message but loses the answer, as a frozen backend does.
  voduzazi::VoduzaziClientOptions options;
  options.global.session.data =
      [shared = voduzazi::HTTPSession::shared().data](const voduzazi::URLRequest& request) {
        auto result = shared(request);
        if (request.url.path().ends_with("/messages") && request.httpMethod == "POST") {
          throw voduzazi::URLError(voduzazi::URLError::Code::timedOut, "no answer in 60 s");
        }
        return result;
      };
  alice.clientOptions = options;
  launch(alice);
  auto messaging = MainViewModel::create(alice.service, [](bool) {});
  messaging->customMessage = "hello";
  messaging->sendCustomMessage();
  ASSERT_TRUE(main->runUntil([&] { return messaging->error.has_value(); }));
  EXPECT_EQ(messaging->error, "The request timed out. The message may still have arrived.");
  EXPECT_EQ(messaging->customMessage, "hello") << "kept, as for any failed send";
  // It did arrive.
  bob.service->pollOnce();
  settle(bob);
  main->advance(1s);
  ASSERT_TRUE(main->runUntil([&] { return bob.presenter->countShown("hello") == 1; }));
}

TEST(AppInfo, FeedbackMailCarriesSubjectAndBodyPercentEncoded) {
  const std::string url = feedbackMailURL();
  EXPECT_EQ(url.rfind("mailto:" + std::string(kSupportAddress) +
                          "?subject=Regarding%20the%20app:%20Tapwick&body=Hello,%0A%0AI%20am",
                      0),
            0u)
      << url;
  EXPECT_NE(url.find("Feedback:%0A1.%20%0A2.%20%0A3.%20%0A%0ABest%20regards,"), std::string::npos);
}

}  // namespace
}  // namespace tapwick::testing
