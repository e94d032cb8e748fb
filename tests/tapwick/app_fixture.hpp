// What the app's backend tests share: the stand-in backend in this process, and users, each a
// VoduzaziService with its own session store, user defaults and recorded notifications, all on
// one TestMainExecutor (the test thread is the main thread).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "local_backend/server.hpp"
#include "tapwick/root_view_model.hpp"
#include "tapwick/voduzazi_service.hpp"
#include "tests/tapwick/test_main_executor.hpp"
#include "voduzazi/auth/auth_local_storage.hpp"

namespace tapwick::testing {

// Keeps every notification it is asked to show. It can be told to refuse the next one, or to
// hold the next one until the test lets it go.
class RecordingPresenter : public NotificationPresenter {
 public:
  bool requestAuthorization() override { return true; }
  void present(const LocalNotificationRequest& request) override;
  std::vector<LocalNotificationRequest> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  // How many shown notifications have a body starting with `text` and a line feed.
  std::size_t countShown(const std::string& text) const;

  void refuseNext() {
    std::lock_guard lock(mutex_);
    refuseNext_ = true;
  }
  void holdNext() {
    std::lock_guard lock(mutex_);
    holdNext_ = true;
  }
  // Waits (bounded) until a held notification is being presented.
  bool waitUntilHolding();
  // Ends the hold: the held notification is shown (true) or refused (false).
  void release(bool show);
  // Waits (bounded) until `count` notifications were shown, without running main-thread work.
  bool waitUntilShown(std::size_t count);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LocalNotificationRequest> shown_;
  bool refuseNext_ = false;
  bool holdNext_ = false;
  bool holding_ = false;
  std::optional<bool> released_;
};

// One installation of the app: what survives a restart (session store, defaults file) and the
// running service.
struct AppInstall {
  std::shared_ptr<voduzazi::auth::AuthLocalStorage> sessionStore =
      std::make_shared<voduzazi::auth::InMemoryAuthLocalStorage>();
  std::filesystem::path defaultsPath;
  std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
  // When set, notifications go here instead (a presenter of the app's own, say).
  std::shared_ptr<NotificationPresenter> otherPresenter;
  // The facade's options at the next launch (a transport of the test's, say); none: defaults.
  std::optional<voduzazi::VoduzaziClientOptions> clientOptions;
  std::shared_ptr<VoduzaziService> service;
  // The popover's root, when the launch built one (as the app does, before the start-up ends).
  std::shared_ptr<RootViewModel> root;
};

class AppFixture : public ::testing::Test {
 protected:
  AppFixture();
  ~AppFixture() override;

  static local_backend::Server& server();

  // A new installation (fresh store and defaults) with its service started.
  AppInstall install(std::optional<voduzazi::VoduzaziClientOptions> clientOptions = {},
                     std::shared_ptr<NotificationPresenter> otherPresenter = {});
  // Starts (again) the service of an installation, as a relaunch does, and waits for its start.
  void launch(AppInstall& app, std::string url = {});
  // As launch(), with the popover's root built and shown at once, as the app's launch does.
  void launchWithRoot(AppInstall& app);
  // Builds the service of an installation without waiting for its start.
  void startWithoutWaiting(AppInstall& app, std::string url = {});

  // A client of the stand-in with a session store of its own (another device, say).
  static std::unique_ptr<voduzazi::VoduzaziClient> newClient();
  // Makes the stored session of a running installation expire within seconds, so that the next
  // use of it refreshes it.
  void expireStoredSession(AppInstall& app);
  // Refreshes the installation's stored session from elsewhere, as a refresh whose answer was
  // lost does: the token it keeps is spent.
  void spendStoredRefreshToken(AppInstall& app);

  // Runs a service operation to its completion; the failure, if any, is rethrown.
  template <class Operation>
  void await(Operation operation) {
    bool finished = false;
    std::exception_ptr failure;
    operation([&](std::exception_ptr error) {
      failure = error;
      finished = true;
    });
    ASSERT_TRUE(main->runUntil([&] { return finished; })) << "the operation never completed";
    if (failure) std::rethrow_exception(failure);
  }

  static constexpr const char* kPassword = "correct horse";
  // A unique e-mail address for this test run.
  static std::string newEmail(const std::string& name);
  // Signs a new user up and in; returns the e-mail.
  std::string signUpAndIn(AppInstall& app, const std::string& name);
  // Pairs two signed-in users: the inviter creates a code, the redeemer redeems it; both then
  // know their friend.
  void pair(AppInstall& inviter, AppInstall& redeemer);
  // Waits until every background step posted so far has come back.
  void settle(AppInstall& app);
  // Ends an installation's service as a quit or a crash would: whatever it had not done yet on
  // the main thread is dropped.
  void stop(AppInstall& app);

  std::shared_ptr<TestMainExecutor> main = std::make_shared<TestMainExecutor>();
  voduzazi::NotificationCenter center;
  std::filesystem::path folder;
};

}  // namespace tapwick::testing
