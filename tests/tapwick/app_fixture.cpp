#include "tests/tapwick/app_fixture.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <stdexcept>
#include <utility>

#include "tapwick/connect_view_model.hpp"

namespace tapwick::testing {

namespace {
constexpr auto kPresenterWait = std::chrono::seconds(20);
}  // namespace

void RecordingPresenter::present(const LocalNotificationRequest& request) {
  std::unique_lock lock(mutex_);
  if (std::exchange(refuseNext_, false)) throw std::runtime_error("refused");
  if (std::exchange(holdNext_, false)) {
    holding_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, kPresenterWait, [&] { return released_.has_value(); });
    holding_ = false;
    const bool show = released_.value_or(false);
    released_.reset();
    if (!show) throw std::runtime_error("never handed over");
  }
  shown_.push_back(request);
  changed_.notify_all();
}

std::size_t RecordingPresenter::countShown(const std::string& text) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(shown_.begin(), shown_.end(), [&](const auto& n) {
    return n.body.starts_with(text + "\n");
  }));
}

bool RecordingPresenter::waitUntilHolding() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPresenterWait, [&] { return holding_; });
}

void RecordingPresenter::release(bool show) {
  std::lock_guard lock(mutex_);
  released_ = show;
  changed_.notify_all();
}

bool RecordingPresenter::waitUntilShown(std::size_t count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPresenterWait, [&] { return shown_.size() >= count; });
}

AppFixture::AppFixture() {
  static std::atomic<int> counter{0};
  folder = std::filesystem::temp_directory_path() /
           ("tapwick-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(folder);
}

AppFixture::~AppFixture() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

local_backend::Server& AppFixture::server() {
  static local_backend::Server server;
  return server;
}

AppInstall AppFixture::install(std::optional<voduzazi::VoduzaziClientOptions> clientOptions,
                               std::shared_ptr<NotificationPresenter> otherPresenter) {
  static std::atomic<int> counter{0};
  AppInstall app;
  app.clientOptions = std::move(clientOptions);
  app.otherPresenter = std::move(otherPresenter);
  app.defaultsPath = folder / ("defaults-" + std::to_string(counter++) + ".json");
  launch(app);
  return app;
}

void AppFixture::launch(AppInstall& app, std::string url) {
  startWithoutWaiting(app, std::move(url));
  ASSERT_TRUE(main->runUntil([&] { return app.service->hasStarted(); }));
  settle(app);
}

void AppFixture::launchWithRoot(AppInstall& app) {
  startWithoutWaiting(app);
  app.root = RootViewModel::create(app.service, {});
  app.root->handleAppear();
  ASSERT_TRUE(main->runUntil([&] { return app.service->hasStarted(); }));
  settle(app);
}

void AppFixture::startWithoutWaiting(AppInstall& app, std::string url) {
  ServiceConfiguration configuration;
  configuration.projectURL = url.empty() ? server().url() : url;
  configuration.anonKey = server().anonKey();
  configuration.mainExecutor = main;
  configuration.defaults = std::make_shared<UserDefaults>(app.defaultsPath);
  configuration.notifications = std::make_shared<UserNotificationCenter>(
      main, app.otherPresenter ? app.otherPresenter : app.presenter);
  configuration.clientOptions = app.clientOptions;
  configuration.sessionStorage = app.sessionStore;
  configuration.notificationCenter = &center;
  configuration.profileInsertDelay = std::chrono::milliseconds(0);
  app.root.reset();
  app.service.reset();
  app.service = VoduzaziService::create(std::move(configuration));
}

std::unique_ptr<voduzazi::VoduzaziClient> AppFixture::newClient() {
  voduzazi::VoduzaziClientOptions options;
  options.auth.storage = std::make_shared<voduzazi::auth::InMemoryAuthLocalStorage>();
  return std::make_unique<voduzazi::VoduzaziClient>(server().url(), server().anonKey(), options);
}

void AppFixture::expireStoredSession(AppInstall& app) {
  const std::string key = app.service->client().storageKey();
  const auto stored = app.sessionStore->retrieve(key);
  ASSERT_TRUE(stored) << "no stored session";
  boost::json::value session = boost::json::parse(*stored);
  ASSERT_TRUE(session.as_object().contains("expiresAt")) << *stored;
  const auto now = std::chrono::duration<double>(
      std::chrono::system_clock::now().time_since_epoch());
  session.as_object()["expiresAt"] = now.count() + 10;
  app.sessionStore->store(key, boost::json::serialize(session));
}

void AppFixture::spendStoredRefreshToken(AppInstall& app) {
  auto elsewhere = newClient();
  const std::string key = app.service->client().storageKey();
  const auto stored = app.sessionStore->retrieve(key);
  ASSERT_TRUE(stored) << "no stored session";
  ASSERT_EQ(elsewhere->storageKey(), key);
  elsewhere->options().auth.storage->store(key, *stored);
  elsewhere->auth().refreshSession();
}

std::string AppFixture::newEmail(const std::string& name) {
  static std::atomic<int> counter{0};
  return name + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "@example.com";
}

std::string AppFixture::signUpAndIn(AppInstall& app, const std::string& name) {
  const std::string email = newEmail(name);
  await([&](Completion done) { app.service->signUp(email, kPassword, name, done); });
  await([&](Completion done) { app.service->signIn(email, kPassword, done); });
  settle(app);
  return email;
}

void AppFixture::pair(AppInstall& inviter, AppInstall& redeemer) {
  auto invite = ConnectViewModel::create(inviter.service, [](bool) {});
  invite->generateInvite();
  ASSERT_TRUE(main->runUntil([&] { return invite->generatedCode || invite->error; }));
  ASSERT_TRUE(invite->generatedCode) << *invite->error;
  auto redeem = ConnectViewModel::create(redeemer.service, [](bool) {});
  redeem->inviteCode = *invite->generatedCode;
  redeem->connectWithCode();
  ASSERT_TRUE(main->runUntil(
      [&] { return redeem->error || !redeemer.service->connectedFriends().empty(); }));
  ASSERT_FALSE(redeem->error) << *redeem->error;
  inviter.service->fetchFriends();
  settle(inviter);
}

void AppFixture::settle(AppInstall& app) {
  ASSERT_TRUE(main->runUntil([&] { return app.service->pendingWork() == 0; }));
}

void AppFixture::stop(AppInstall& app) {
  main->discardAll();
  app.service.reset();
}

}  // namespace tapwick::testing
