#include "tapwick/connect_view_model.hpp"

#include <algorithm>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cctype>

#include "tapwick/server_rows.hpp"
#include "tapwick/tapwick_error.hpp"

namespace tapwick {

namespace {

bool sameId(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::shared_ptr<ConnectViewModel> ConnectViewModel::create(std::shared_ptr<VoduzaziService> service,
                                                           std::function<void(bool)> setShowMain) {
  return std::shared_ptr<ConnectViewModel>(
      new ConnectViewModel(std::move(service), std::move(setShowMain)));
}

ConnectViewModel::ConnectViewModel(std::shared_ptr<VoduzaziService> service,
                                   std::function<void(bool)> setShowMain)
    : service_(std::move(service)), setShowMain_(std::move(setShowMain)) {}

void ConnectViewModel::notifyChanged() {
  if (changed) changed();
}

void ConnectViewModel::showFailure(const std::exception_ptr& failure) {
  error = localizedDescription(failure);
  notifyChanged();
}

void ConnectViewModel::generateInvite() {
  const auto me = service_->userId();
  if (!me)
    return showFailure(std::make_exception_ptr(TapwickError(TapwickError::notLoggedInToInvite)));
  const std::string code = newUppercaseUUID().substr(0, 8);
  runInBackground(
      service_->mainExecutor(),
      [rest = service_->database(), me = *me, code] {
        rest.from("friend_invites")
            .insert(boost::json::object{{"inviter", me}, {"code", code}})
            .execute();
        return code;
      },
      [weak = weak_from_this()](voduzazi::Result<std::string> created) {
        auto self = weak.lock();
        if (!self) return;
        if (!created.isSuccess()) return self->showFailure(created.error());
        self->generatedCode = created.get();
        self->error.reset();
        self->notifyChanged();
      });
}

void ConnectViewModel::connectWithCode() {
  const auto me = service_->userId();
  if (!me) {
    return showFailure(std::make_exception_ptr(TapwickError(TapwickError::notLoggedInToConnect)));
  }
  runInBackground(
      service_->mainExecutor(),
      [rest = service_->database(), me = *me, code = inviteCode] {
        const auto found =
            rest.from("friend_invites").select("inviter").eq("code", code).single().execute();
        const auto inviter = readInviter(found.data);
        if (!inviter) throw TapwickError(TapwickError::invalidInviteCode);
        // Pairing with oneself would leave a friend list that sends to its own user.
        if (sameId(*inviter, me)) throw TapwickError(TapwickError::ownInviteCode);
        rest.from("friends")
            .insert(
                boost::json::array{boost::json::object{{"user_id", me}, {"friend_id", *inviter}},
                                   boost::json::object{{"user_id", *inviter}, {"friend_id", me}}})
            .execute();
        return *inviter;
      },
      [weak = weak_from_this()](voduzazi::Result<std::string> friendId) {
        auto self = weak.lock();
        if (!self) return;
        if (!friendId.isSuccess()) return self->showFailure(friendId.error());
        self->service_->addConnectedFriend(friendId.get());
        self->setShowMain_(true);
        self->notifyChanged();
      });
}

void ConnectViewModel::copyCode(const std::function<void(const std::string&)>& writeClipboard) {
  if (!generatedCode) return;
  writeClipboard(*generatedCode);
  copied = true;
  notifyChanged();
  service_->mainExecutor()->postAfter(std::chrono::milliseconds(1200), [weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->copied = false;
      self->notifyChanged();
    }
  });
}

void ConnectViewModel::logOut() {
  service_->signOut([weak = weak_from_this()](std::exception_ptr failure) {
    auto self = weak.lock();
    if (!self) return;
    if (failure) return self->showFailure(failure);
    self->setShowMain_(false);
    self->notifyChanged();
  });
}

}  // namespace tapwick
