// RootViewModel: the state and actions of the popover's root: which screen shows (loading,
// sign-in/sign-up, pairing, messaging), the popover's size for it, and the two forms.
//
//   RootViewModel root(service, [&](Size size) { popover.resize(size); });
//   root.changed = [&] { redraw(); };
//   root.handleAppear();            // "Loading..." until 0.3 s later
//   root.email = "ada@example.com"; root.password = "..."; root.submitSignIn();
//
// Thread safety: main thread only. Lifetime: held by its view; late answers are dropped once it
// is gone.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tapwick/voduzazi_service.hpp"

namespace tapwick {

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

class RootViewModel : public std::enable_shared_from_this<RootViewModel> {
 public:
  enum class Screen { loading, messaging, signIn, pairing };

  static std::shared_ptr<RootViewModel> create(std::shared_ptr<VoduzaziService> service,
                                               std::function<void(Size)> resizePopover);

  // Without a session only the forms show, whatever friend list is stored.
  Screen screen() const;
  // The frame of the screen's content.
  Size screenSize() const;
  // The popover's content size for the current state.
  Size popoverSize() const;

  // Runs each time the root is shown: resizes now and, 0.3 s later, leaves the loading screen.
  void handleAppear();
  void submitSignIn();
  void submitSignUp();
  bool showMain() const { return showMain_; }
  void setShowMain(bool show);
  bool isLoading() const { return isLoading_; }
  // The line above the forms once the backend ended the session, until the next sign-in.
  std::optional<std::string> notice() const;
  static constexpr std::string_view sessionEndedNotice =
      "Your session has ended. Please sign in again.";

  const std::shared_ptr<VoduzaziService>& service() const { return service_; }

  // Fields of the forms (shared by both) and the last failure; `selectedTab` 0 signs in.
  std::string email;
  std::string password;
  std::string username;
  std::optional<std::string> error;
  int selectedTab = 0;
  // Called after every change of the state above that came from outside the view.
  std::function<void()> changed;

 private:
  RootViewModel(std::shared_ptr<VoduzaziService> service, std::function<void(Size)> resizePopover);
  void queueResize();
  void notifyChanged();
  Completion showingFailure();

  std::shared_ptr<VoduzaziService> service_;
  std::function<void(Size)> resizePopover_;
  voduzazi::NotificationCenter::ObserverToken observation_;
  bool showMain_ = false;
  bool isLoading_ = true;
  bool wasSignedIn_ = false;
};

}  // namespace tapwick
