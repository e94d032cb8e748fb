#include "tapwick/app/qt_main_executor.hpp"

#include <QMetaObject>
#include <QTimer>

namespace tapwick {

void QtMainExecutor::post(std::function<void()> work) {
  QMetaObject::invokeMethod(context_.data(), std::move(work), Qt::QueuedConnection);
}

void QtMainExecutor::postAfter(std::chrono::milliseconds delay, std::function<void()> work) {
  // The timer must start on the GUI thread, so the request itself goes there first.
  post([context = context_, delay, work = std::move(work)]() mutable {
    if (context) QTimer::singleShot(delay, context.data(), std::move(work));
  });
}

}  // namespace tapwick
