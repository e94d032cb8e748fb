#include "tapwick/main_view_model.hpp"

#include <algorithm>
#include <iostream>

#include "tapwick/server_rows.hpp"
#include "tapwick/tapwick_error.hpp"

namespace tapwick {

namespace {

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

bool isOnlySpacesAndTabs(const std::string& text) {
  return std::all_of(text.begin(), text.end(), isSpaceOrTab);
}

// The two names a lookup found, up to the request that failed.
struct UserNames {
  std::optional<ProfileName> mine;
  std::optional<ProfileName> friends;
  std::exception_ptr failure;
};

ProfileName lookUpName(const voduzazi::PostgrestClient& rest, const std::string& id) {
  const auto response = rest.from("profiles").select("username").eq("id", id).single().execute();
  return readProfileName(response.data);
}

void apply(const std::optional<ProfileName>& found, std::optional<std::string>& name) {
  if (found && found->isObject) name = found->username;
}

}  // namespace

std::shared_ptr<MainViewModel> MainViewModel::create(std::shared_ptr<VoduzaziService> service,
                                                     std::function<void(bool)> setShowMain) {
  std::shared_ptr<MainViewModel> model(
      new MainViewModel(std::move(service), std::move(setShowMain)));
  model->observation_ =
      model->service_->observe([weak = model->weak_from_this()](std::string_view name) {
        auto self = weak.lock();
        if (self && name == VoduzaziService::didConnectFriends) self->fetchUserInfo();
      });
  return model;
}

MainViewModel::MainViewModel(std::shared_ptr<VoduzaziService> service,
                             std::function<void(bool)> setShowMain)
    : service_(std::move(service)), setShowMain_(std::move(setShowMain)) {}

void MainViewModel::notifyChanged() {
  if (changed) changed();
}

std::string MainViewModel::myNameText() const { return myUsername.value_or("Fetching..."); }

std::string MainViewModel::connectionText() const {
  return friendUsername ? "Connected → " + *friendUsername : "No active connection";
}

void MainViewModel::start() {
  service_->notifications()->requestAuthorization([](bool, std::optional<std::string>) {});
  fetchUserInfo();
  service_->startPolling();
}

void MainViewModel::fetchUserInfo() {
  const auto me = service_->userId();
  if (!me) return;
  std::optional<std::string> friendId;
  if (!service_->connectedFriends().empty()) friendId = service_->connectedFriends().front();
  runInBackground(
      service_->mainExecutor(),
      [rest = service_->database(), me = *me, friendId] {
        UserNames names;
        try {
          names.mine = lookUpName(rest, me);
          if (friendId) names.friends = lookUpName(rest, *friendId);
        } catch (...) {
          names.failure = std::current_exception();
        }
        return names;
      },
      [weak = weak_from_this()](voduzazi::Result<UserNames> names) {
        auto self = weak.lock();
        if (!self) return;
        apply(names.get().mine, self->myUsername);
        apply(names.get().friends, self->friendUsername);
        if (names.get().failure) {
          std::cout << "Failed to fetch user info: " << errorDescription(names.get().failure)
                    << std::endl;
        }
        self->notifyChanged();
      });
}

void MainViewModel::sendCustomMessage() {
  if (isOnlySpacesAndTabs(customMessage)) return;
  const std::string text = customMessage;
  service_->sendMessage(text, [weak = weak_from_this(), text](std::exception_ptr failure) {
    auto self = weak.lock();
    if (!self) return;
    if (failure) {
      self->error = localizedDescription(failure);
      return self->notifyChanged();
    }
    self->incomingMessage = "Sent: " + text;
    self->showBanner = true;
    self->customMessage.clear();
    const std::uint64_t banner = ++self->bannerGeneration_;
    self->notifyChanged();
    self->service_->mainExecutor()->postAfter(std::chrono::seconds(2), [weak, banner] {
      auto self = weak.lock();
      if (!self || banner != self->bannerGeneration_) return;
      self->showBanner = false;
      self->notifyChanged();
    });
  });
}

void MainViewModel::logOut() {
  service_->signOut([weak = weak_from_this()](std::exception_ptr failure) {
    auto self = weak.lock();
    if (!self) return;
    if (failure) {
      self->error = localizedDescription(failure);
      return self->notifyChanged();
    }
    self->setShowMain_(false);
    self->notifyChanged();
  });
}

}  // namespace tapwick
