#include "tapwick/app/qt_main_executor.hpp"

#include <QMetaObject>
#include <QTimer>
#include <mutex>

namespace tapwick {

namespace {

// Qt's event queue hands posted work to the GUI thread under Qt's own lock, which the thread
// sanitizer cannot see (Qt is built without it), so it would take every piece of work posted
// from a task for a race with the task that made it. This lock makes the hand-off visible: the
// poster holds it while Qt builds and queues the event, and the GUI thread takes it before it
// reads anything of the work. It is one fixed lock, so that the GUI thread finds it without
// reading what the poster wrote; uncontended, it costs little beside the post itself.
std::mutex handOff;

}  // namespace

void QtMainExecutor::post(std::function<void()> work) {
  std::lock_guard handingOver(handOff);
  QMetaObject::invokeMethod(
      context_.data(),
      [work = std::move(work)] {
        { std::lock_guard takingOver(handOff); }
        work();
      },
      Qt::QueuedConnection);
}

void QtMainExecutor::postAfter(std::chrono::milliseconds delay, std::function<void()> work) {
  // The timer must start on the GUI thread, so the request itself goes there first.
  post([context = context_, delay, work = std::move(work)]() mutable {
    if (context) QTimer::singleShot(delay, context.data(), std::move(work));
  });
}

}  // namespace tapwick
