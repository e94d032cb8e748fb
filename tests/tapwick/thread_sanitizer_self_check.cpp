// A race that ThreadSanitizer must report under the project's suppressions: a plain int written
// by a std::thread and read in a QTimer slot, both in this program's own functions. Qt enters
// the slot from its event loop, so a suppression that names Qt (or glib under it) as a whole
// hides this race, and every race of the app's own state touched in a slot with it
// (tests/tapwick/thread_sanitizer_self_check.sh runs it).
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

// Nothing orders the thread's write before the slot's read: a relaxed flag says when to look.
int sharedValue = 0;
std::atomic<bool> written{false};

__attribute__((noinline)) void writeFromThread() {
  sharedValue = 42;
  written.store(true, std::memory_order_relaxed);
}

__attribute__((noinline)) bool readInSlot() {
  if (!written.load(std::memory_order_relaxed)) return false;
  std::printf("the slot read %d\n", sharedValue);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  std::thread writer(writeFromThread);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &application, [&] {
    if (readInSlot()) QCoreApplication::quit();
  });
  poll.start(10);
  // A bound in case the thread never ran: the check then fails for want of the report.
  QTimer::singleShot(10'000, &application, [] { QCoreApplication::exit(3); });
  const int status = QCoreApplication::exec();
  writer.join();
  return status;
}
