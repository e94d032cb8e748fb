// Tapwick's entry: a tray application on Qt's event loop. It waits for a tray host, builds the
// backend service and hands the desktop side to AppDelegate.
#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QThread>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "tapwick/app/app_delegate.hpp"
#include "tapwick/app/qt_main_executor.hpp"
#include "tapwick/backend_configuration.hpp"
#include "tapwick/instance_lock.hpp"
#include "tapwick/libnotify_presenter.hpp"
#include "tapwick/voduzazi_service.hpp"
#include "voduzazi/platform/application_lifecycle.hpp"

namespace {

// A tray host may start after the app (a desktop session coming up); give it a few seconds.
bool waitForSystemTray() {
  QElapsedTimer waited;
  waited.start();
  while (!QSystemTrayIcon::isSystemTrayAvailable()) {
    if (waited.elapsed() > 10'000) return false;
    QThread::msleep(100);
  }
  return true;
}

// Two instances on one settings folder would show every message twice. `lock` holds the folder
// afterwards; false when another instance holds it. A lock that cannot be taken at all (a
// read-only folder, say) is only reported.
bool lockSettingsFolder(std::optional<tapwick::InstanceLock>& lock) {
  const auto path = tapwick::InstanceLock::pathBeside(tapwick::UserDefaults::defaultPath());
  try {
    lock = tapwick::InstanceLock::acquire(path);
    return lock.has_value();
  } catch (const std::exception& error) {
    std::cerr << "Tapwick: " << error.what() << "; not checking for another instance."
              << std::endl;
    return true;
  }
}

std::string environmentOr(const char* name, std::string_view fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : std::string(fallback);
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<tapwick::InstanceLock> instance;
  if (!lockSettingsFolder(instance)) {
    std::cerr << "Tapwick is already running." << std::endl;
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName("Tapwick");
  QApplication::setQuitOnLastWindowClosed(false);
  if (!waitForSystemTray()) {
    std::cerr << "Tapwick: no system tray is available on this desktop." << std::endl;
    return 1;
  }
  voduzazi::ApplicationLifecycle::shared()->setActivity(voduzazi::ApplicationActivity::active);

  auto executor = std::make_shared<tapwick::QtMainExecutor>(&application);
  voduzazi::MainExecutor::install(executor);  // the library's main-thread work joins Qt's loop
  tapwick::ServiceConfiguration configuration;
  // The environment may point a run at another backend (the desktop tests use a free port).
  configuration.projectURL = environmentOr("TAPWICK_PROJECT_URL", tapwick::kProjectURL);
  configuration.anonKey = environmentOr("TAPWICK_ANON_KEY", tapwick::kAnonKey);
  configuration.mainExecutor = executor;
  configuration.defaults =
      std::make_shared<tapwick::UserDefaults>(tapwick::UserDefaults::defaultPath());
  configuration.notifications = std::make_shared<tapwick::UserNotificationCenter>(
      executor, std::make_shared<tapwick::LibnotifyPresenter>("Tapwick"));
  auto service = tapwick::VoduzaziService::create(std::move(configuration));

  int status = 0;
  {
    tapwick::AppDelegate delegate(service, &application);
    delegate.applicationDidFinishLaunching();
    status = QApplication::exec();
  }
  voduzazi::MainExecutor::install(nullptr);  // Qt's loop has ended: nothing may post into it
  // The quit, with the screens gone: the service stops polling and releases the facade, which
  // stores the answer to a refresh already sent (within seconds, or the answer is lost).
  service.reset();
  return status;
}
