#include "voduzazi/concurrency/detail/spawn.hpp"

#include <thread>

#include "voduzazi/concurrency/detail/quiescence.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi::detail {

void spawnTaskThread(std::function<void()> body, std::stop_token stop, LocalBindings locals) {
  Quiescence::shared().taskSpawned();
  try {
    std::thread([body = std::move(body), stop = std::move(stop),
                 locals = std::move(locals)]() mutable {
      markCurrentThreadTracked();
      {
        ScopedStopToken scope(std::move(stop));
        currentBindings() = std::move(locals);
        body();
        body = nullptr;
        currentBindings().reset();
      }
      Quiescence::shared().taskFinished();
    }).detach();
  } catch (...) {
    Quiescence::shared().taskFinished();
    throw;
  }
}

}  // namespace voduzazi::detail
