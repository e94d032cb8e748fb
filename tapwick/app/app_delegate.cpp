#include "tapwick/app/app_delegate.hpp"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <iostream>

#include "tapwick/app/info_window.hpp"
#include "tapwick/app/popover.hpp"
#include "tapwick/app/root_view.hpp"
#include "tapwick/app/status_icon.hpp"

namespace tapwick {

AppDelegate::AppDelegate(std::shared_ptr<VoduzaziService> service, QObject* parent)
    : QObject(parent), service_(std::move(service)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
  createStatusItem();
  createPopover();
  createMenu();
  requestNotificationPermission();
}

void AppDelegate::createStatusItem() {
  statusItem_ = new QSystemTrayIcon(makeStatusIcon(), this);
  statusItem_->setToolTip("Tapwick");
  connect(statusItem_, &QSystemTrayIcon::activated, this, &AppDelegate::statusItemClicked);
  statusItem_->show();
}

void AppDelegate::createPopover() {
  root_ = new RootView(
      service_,
      [this](Size size) {
        if (popover_) popover_->setContentSize(size.width, size.height);
      },
      nullptr);
  popover_ = std::make_unique<Popover>(root_);
  popover_->setFixedSize(500, 630);
}

void AppDelegate::createMenu() {
  menu_ = std::make_unique<QMenu>();
  menu_->addAction("App Info", this, &AppDelegate::showInfoWindow);
  menu_->addSeparator();
  menu_->addAction("Exit", qApp, &QApplication::quit);
}

void AppDelegate::requestNotificationPermission() {
  service_->notifications()->requestAuthorization(
      [](bool granted, std::optional<std::string> error) {
        if (error) {
          std::cout << "Notification authorization error: " << *error << std::endl;
        } else {
          std::cout << "Notification authorization granted: " << (granted ? "true" : "false")
                    << std::endl;
        }
      });
}

void AppDelegate::statusItemClicked(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Context) {
    // The menu is shown by hand rather than attached, so that a left click never opens it.
    menu_->popup(QCursor::pos());
    return;
  }
  if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) togglePopover();
}

void AppDelegate::togglePopover() {
  popover_->toggle(statusItem_->geometry());
  // The root runs its appear step each time it is shown, as on the first time.
  if (popover_->isVisible()) root_->model().handleAppear();
}

void AppDelegate::showInfoWindow() {
  if (!infoWindow_) {
    infoWindow_ = std::make_unique<InfoWindow>();
    infoWindow_->show();
    // Centred on the screen it opens on.
    if (const QScreen* screen = infoWindow_->screen()) {
      infoWindow_->move(screen->availableGeometry().center() - infoWindow_->rect().center());
    }
  }
  infoWindow_->show();
  infoWindow_->raise();
  infoWindow_->activateWindow();
}

}  // namespace tapwick
