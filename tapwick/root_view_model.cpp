#include "tapwick/root_view_model.hpp"

#include "tapwick/tapwick_error.hpp"

namespace tapwick {

std::shared_ptr<RootViewModel> RootViewModel::create(std::shared_ptr<VoduzaziService> service,
                                                     std::function<void(Size)> resizePopover) {
  std::shared_ptr<RootViewModel> model(
      new RootViewModel(std::move(service), std::move(resizePopover)));
  model->observation_ =
      model->service_->observe([weak = model->weak_from_this()](std::string_view name) {
        auto self = weak.lock();
        if (!self) return;
        if (name == VoduzaziService::didConnectFriends) {
          self->setShowMain(true);
          return;
        }
        // A screen that changes with the session gets its size too, instead of showing clipped.
        const bool signedIn = self->service_->session().has_value();
        if (signedIn != self->wasSignedIn_) {
          self->wasSignedIn_ = signedIn;
          // The next sign-in goes through pairing until its own friend list arrives.
          if (!signedIn) self->showMain_ = false;
          self->queueResize();
        }
        self->notifyChanged();
      });
  return model;
}

RootViewModel::RootViewModel(std::shared_ptr<VoduzaziService> service,
                             std::function<void(Size)> resizePopover)
    : service_(std::move(service)), resizePopover_(std::move(resizePopover)) {}

RootViewModel::Screen RootViewModel::screen() const {
  if (isLoading_) return Screen::loading;
  if (!service_->session()) return Screen::signIn;
  if (showMain_) return Screen::messaging;
  return Screen::pairing;
}

Size RootViewModel::screenSize() const {
  switch (screen()) {
    case Screen::loading:
      return {200, 180};
    case Screen::messaging:
      return {420, 280};
    case Screen::signIn:
      return {400, 180};
    case Screen::pairing:
      return {450, 300};
  }
  return {};
}

Size RootViewModel::popoverSize() const {
  switch (screen()) {
    case Screen::loading:
      return {320, 160};
    case Screen::messaging:
      return {500, 400};
    case Screen::pairing:
      return {400, 550};
    case Screen::signIn:
      return {400, 260};
  }
  return {};
}

std::optional<std::string> RootViewModel::notice() const {
  if (!service_->sessionHasEnded()) return std::nullopt;
  return std::string(sessionEndedNotice);
}

void RootViewModel::queueResize() {
  service_->mainExecutor()->post([weak = weak_from_this()] {
    // Reads the state current when it runs, not when it was queued.
    if (auto self = weak.lock(); self && self->resizePopover_) {
      self->resizePopover_(self->popoverSize());
    }
  });
}

void RootViewModel::notifyChanged() {
  if (changed) changed();
}

void RootViewModel::handleAppear() {
  queueResize();
  service_->mainExecutor()->postAfter(std::chrono::milliseconds(300), [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    if (self->service_->session() && !self->service_->connectedFriends().empty()) {
      self->setShowMain(true);
    }
    if (self->isLoading_) {
      self->isLoading_ = false;
      self->queueResize();
    }
    self->notifyChanged();
  });
}

void RootViewModel::setShowMain(bool show) {
  const bool was = showMain_;
  showMain_ = show;
  if (was != show) queueResize();
  notifyChanged();
}

Completion RootViewModel::showingFailure() {
  return [weak = weak_from_this()](std::exception_ptr failure) {
    auto self = weak.lock();
    if (!self || !failure) return;
    self->error = localizedDescription(failure);
    self->notifyChanged();
  };
}

void RootViewModel::submitSignIn() { service_->signIn(email, password, showingFailure()); }

void RootViewModel::submitSignUp() {
  service_->signUp(email, password, username, showingFailure());
}

}  // namespace tapwick
