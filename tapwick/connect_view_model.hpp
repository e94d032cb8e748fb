// ConnectViewModel: the pairing screen. Creates an 8-character invite code, redeems a friend's
// code (writing the friendship both ways), copies the shown code and logs out.
//
//   ConnectViewModel pairing(service, [&](bool show) { root->setShowMain(show); });
//   pairing.generateInvite();                        // generatedCode, or error
//   pairing.inviteCode = "1A2B3C4D"; pairing.connectWithCode();
//
// Thread safety: main thread only. Lifetime: held by its view; late answers are dropped once it
// is gone.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tapwick/voduzazi_service.hpp"

namespace tapwick {

class ConnectViewModel : public std::enable_shared_from_this<ConnectViewModel> {
 public:
  static std::shared_ptr<ConnectViewModel> create(std::shared_ptr<VoduzaziService> service,
                                                  std::function<void(bool)> setShowMain);

  bool isSignedIn() const { return service_->session().has_value(); }
  // The signed-in user's e-mail address, empty without one.
  std::string email() const {
    return service_->session() ? service_->session()->user.email.value_or("") : "";
  }

  // Stores a new code under the signed-in user and shows it.
  void generateInvite();
  // Looks the typed code up (as typed) and pairs with its inviter; refuses one's own code.
  void connectWithCode();
  // Puts the shown code on the clipboard; `copied` is true for 1.2 s.
  void copyCode(const std::function<void(const std::string&)>& writeClipboard);
  void logOut();

  std::string inviteCode;
  std::optional<std::string> generatedCode;
  bool copied = false;
  std::optional<std::string> error;
  std::function<void()> changed;

 private:
  ConnectViewModel(std::shared_ptr<VoduzaziService> service, std::function<void(bool)> setShowMain);
  void showFailure(const std::exception_ptr& failure);
  void notifyChanged();

  std::shared_ptr<VoduzaziService> service_;
  std::function<void(bool)> setShowMain_;
};

}  // namespace tapwick
