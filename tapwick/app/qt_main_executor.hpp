// QtMainExecutor: the app's MainExecutor, posting into Qt's event loop on the GUI thread.
//
//   auto executor = std::make_shared<QtMainExecutor>(&application);
//
// Shared objects: safe; post() and postAfter() may be called from any thread.
#pragma once

#include <QObject>
#include <QPointer>

#include "tapwick/main_executor.hpp"

namespace tapwick {

class QtMainExecutor : public MainExecutor {
 public:
  // Work runs in `context`'s thread while `context` lives; afterwards it is dropped.
  explicit QtMainExecutor(QObject* context) : context_(context) {}

  void post(std::function<void()> work) override;
  void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override;

 private:
  QPointer<QObject> context_;
};

}  // namespace tapwick
