// Strand: the one serial executor on which every state change of an older realtime client, its
// channels, pushes and presence trackers runs. Callers wait for their work with sync(); reports
// from the transport and the timers are posted.
//
//   auto strand = Strand::serial();
//   strand->post([] { handleReceivedFrame(); });         // later, in order
//   int count = strand->call([&] { return channels.size(); });   // waits; inline on the strand
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "voduzazi/concurrency/serial_executor.hpp"

namespace voduzazi::realtime {

// Implementations: safe to share; work runs one item at a time in the order it was handed over.
class Strand : public Executor {
 public:
  // Runs `work` on the strand after what was posted before and waits for it; on the strand itself
  // it runs at once. Rethrows what `work` throws.
  virtual void sync(const std::function<void()>& work) = 0;
  // True on the thread currently running the strand's work.
  virtual bool isCurrent() const = 0;

  // sync() for work that returns a value.
  template <class Work>
  std::invoke_result_t<Work&> call(Work&& work);

  // A strand with a thread of its own.
  static std::shared_ptr<Strand> serial();
};

// Implementation.

template <class Work>
std::invoke_result_t<Work&> Strand::call(Work&& work) {
  using Result = std::invoke_result_t<Work&>;
  if constexpr (std::is_void_v<Result>) {
    sync(std::function<void()>(std::ref(work)));
  } else {
    std::optional<Result> result;
    sync([&] { result.emplace(work()); });
    return std::move(*result);
  }
}

}  // namespace voduzazi::realtime
