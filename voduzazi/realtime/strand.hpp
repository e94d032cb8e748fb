// Strand: the one serial executor on which every state change of an older realtime client, its
// channels, pushes and presence trackers runs. Callers wait for their work with sync(); reports
// from the transport and the timers are posted.
//
//   auto strand = Strand::serial();
//   strand->post([] { handleReceivedFrame(); });         // later, in order
//   int count = strand->call([&] { return channels.size(); });   // waits; inline on the strand
//   auto owned = std::make_shared<ClosableStrand>(strand);
//   owned->close();                                      // nothing handed over runs any more
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
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
  // True on a thread whose work on this strand closed it (see ClosableStrand): the rest of that
  // work calls nothing of the caller's.
  virtual bool isClosedByCurrentWork() const { return false; }

  // sync() for work that returns a value.
  template <class Work>
  std::invoke_result_t<Work&> call(Work&& work);

  // A strand with a thread of its own.
  static std::shared_ptr<Strand> serial();
};

// A strand over another (the client's own, or one shared) that its owner closes once, at its
// release: from then on posted work, and work still queued, is dropped, and sync() runs work on
// the calling thread, one caller at a time (a sync() already waiting on the inner strand too).
// Closing releases the inner strand, so that a strand thread of the owner's own ends with it.
// Work that closes it (a callback releasing the client) sees isClosedByCurrentWork() until it
// ends, and until then other threads' sync() waits for it: the rest of that work must not wait
// for a thread that may be calling sync() (as no work on a strand may).
// Shared objects: safe. Lifetime: held by shared_ptr, by everything that runs work on it.
class ClosableStrand final : public Strand {
 public:
  explicit ClosableStrand(std::shared_ptr<Strand> inner);

  void post(std::function<void()> work) override;
  void sync(const std::function<void()>& work) override;
  bool isCurrent() const override;
  bool isClosedByCurrentWork() const override;
  bool isClosed() const { return shared_->closed; }

  // Waits for the work under way, closes, and lets the inner strand go (its own thread is then
  // joined when this held it last). From inside that work it returns at once; the work goes on
  // to its end, and nothing queued runs after it.
  void close();
  // Lets `held` go once the work under way on this thread has ended and let other threads' work
  // in, when that work closed this strand: its destructor may wait for such a thread (a
  // transport's for its own). Otherwise at once.
  void releaseAfterClosingWork(std::shared_ptr<void> held);

 private:
  struct Shared {
    std::atomic<bool> closed{false};
    // Once closed: sync() work runs on the callers' threads, one at a time, after the rest of
    // the work that closed it (which holds this until it ends).
    std::recursive_mutex inlineMutex;
  };

  std::shared_ptr<Strand> inner() const;
  void syncInline(const std::function<void()>& work);

  const std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  mutable std::mutex mutex_;
  std::shared_ptr<Strand> inner_;  // until closed
  std::atomic<std::thread::id> inlineOwner_{};
  int inlineDepth_ = 0;  // guarded by shared_->inlineMutex
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
