// MainViewModel: the messaging screen. Shows both user names, sends a message to the friend with
// a 2-second "Sent: " banner, and logs out.
//
//   MainViewModel messaging(service, [&](bool show) { root->setShowMain(show); });
//   messaging.start();                        // names, notification permission, polling
//   messaging.customMessage = "hello"; messaging.sendCustomMessage();
//
// Thread safety: main thread only. Lifetime: held by its view; late answers are dropped once it
// is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tapwick/voduzazi_service.hpp"

namespace tapwick {

class MainViewModel : public std::enable_shared_from_this<MainViewModel> {
 public:
  static std::shared_ptr<MainViewModel> create(std::shared_ptr<VoduzaziService> service,
                                               std::function<void(bool)> setShowMain);

  // Runs each time the screen is shown: asks for notification permission, loads the names and
  // makes sure the service polls (one loop, however often this runs).
  void start();
  void fetchUserInfo();
  // Sends the field's text as typed unless it is only spaces and tabs.
  void sendCustomMessage();
  void logOut();

  // The message form shows once both names are known.
  bool showsMessageForm() const { return myUsername && friendUsername; }
  std::string myNameText() const;
  std::string connectionText() const;

  std::optional<std::string> myUsername;
  std::optional<std::string> friendUsername;
  std::optional<std::string> error;
  std::optional<std::string> incomingMessage;
  bool showBanner = false;
  std::string customMessage;
  std::function<void()> changed;

 private:
  MainViewModel(std::shared_ptr<VoduzaziService> service, std::function<void(bool)> setShowMain);
  void notifyChanged();

  std::shared_ptr<VoduzaziService> service_;
  std::function<void(bool)> setShowMain_;
  voduzazi::NotificationCenter::ObserverToken observation_;
  // Only the newest banner's timer hides it.
  std::uint64_t bannerGeneration_ = 0;
};

}  // namespace tapwick
