// MainExecutor: the one thread that owns the app's state (Qt's event loop in the app), the
// library's main executor with delayed posts added. Work that blocks runs in a task; its result
// comes back to the main thread through post().
//
//   runInBackground<std::string>(executor, [] { return fetchName(); },
//                                [](Result<std::string> name) { label = name.get(); });
//   executor.postAfter(2s, [] { hideBanner(); });
//
// Shared objects: safe; post() and postAfter() may be called from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>
#include <variant>

#include "voduzazi/concurrency/main_executor.hpp"
#include "voduzazi/concurrency/result.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace tapwick {

// post() runs `work` on the main thread after the work posted before it.
class MainExecutor : public voduzazi::MainExecutor {
 public:
  // Runs `work` on the main thread once `delay` has passed (on the executor's clock).
  virtual void postAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;
};

// The outcome of a background step: nothing on success, or the error it threw.
using Completion = std::function<void(std::exception_ptr)>;

// What a background step gives back: its value, std::monostate for a step returning nothing.
template <class Work>
using BackgroundValue = std::conditional_t<std::is_void_v<std::invoke_result_t<Work&>>,
                                           std::monostate, std::invoke_result_t<Work&>>;

// Runs `work` in a detached task and hands its Result (value or error) to `done` on the main
// thread. `done` is called exactly once.
template <class Work, class Done>
void runInBackground(const std::shared_ptr<MainExecutor>& executor, Work work, Done done) {
  using Value = BackgroundValue<Work>;
  voduzazi::Task<void>::detached(
      [executor, work = std::move(work), done = std::move(done)]() mutable {
        auto result = voduzazi::Result<Value>::catching([&]() -> Value {
          if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
            work();
            return {};
          } else {
            return work();
          }
        });
        executor->post([done = std::move(done), result = std::move(result)]() mutable {
          done(std::move(result));
        });
      });
}

}  // namespace tapwick
