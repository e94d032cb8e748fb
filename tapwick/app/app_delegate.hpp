// AppDelegate: the app's life on the desktop: the tray icon, the popover it opens on a left
// click, the menu of a right click ("App Info", "Exit"), the "App Info" window and the
// notification permission asked at launch. It never talks to the backend itself.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>

#include "tapwick/voduzazi_service.hpp"

class QMenu;

namespace tapwick {

class InfoWindow;
class Popover;
class RootView;

class AppDelegate : public QObject {
 public:
  AppDelegate(std::shared_ptr<VoduzaziService> service, QObject* parent);
  ~AppDelegate() override;

  // The launch steps, in order: tray icon, popover, menu, notification permission.
  void applicationDidFinishLaunching();
  void showInfoWindow();
  void togglePopover();

 private:
  void createStatusItem();
  void createPopover();
  void createMenu();
  void requestNotificationPermission();
  void statusItemClicked(QSystemTrayIcon::ActivationReason reason);

  std::shared_ptr<VoduzaziService> service_;
  QSystemTrayIcon* statusItem_ = nullptr;
  std::unique_ptr<Popover> popover_;
  RootView* root_ = nullptr;  // owned by the popover
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<InfoWindow> infoWindow_;
};

}  // namespace tapwick
