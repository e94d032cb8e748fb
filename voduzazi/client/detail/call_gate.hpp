// CallGate: the facade's gate in front of what the caller handed it and of its own token steps.
// Each call passes the gate while it runs; the facade's release closes the gate, so that no new
// call passes, and waits until the calls under way on other threads have ended.
//
//   auto gate = std::make_shared<CallGate>();
//   if (const auto pass = gate->enter()) send(request);   // refused once closed
//   gate->close();
//   gate->waitUntilIdle();
//
// Shared objects: safe. Lifetime: held by shared_ptr by every function that passes it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi::detail {

class CallGate {
 public:
  // One call through the gate; it counts until destroyed. False when the gate refused it.
  class Pass {
   public:
    Pass() = default;
    explicit Pass(CallGate* gate);
    // Bound to the thread that passes: neither copied nor moved (enter() returns it in place).
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    ~Pass();

    explicit operator bool() const { return gate_ != nullptr; }

   private:
    CallGate* gate_ = nullptr;
  };

  // A pass while the gate is open; an empty one once it is closed.
  [[nodiscard]] Pass enter();
  void close();
  bool isClosed() const;
  // Whether this thread is inside a call that passed (a caller's function that called back in).
  bool isPassingOnThisThread() const;
  // Whether a call that passed is under way on another thread.
  bool isPassingElsewhere() const;
  // Waits until every call that passed on another thread has ended; the calls of this thread
  // cannot end while it waits, so they are not waited for.
  void waitUntilIdle();

 private:
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  bool closed_ = false;
  int passing_ = 0;
};

// The caller's transport behind the gate: once it is closed, a request is not sent and fails with
// URLError cancelled, as a request of a session that has been invalidated.
FetchHandler gatedFetch(std::shared_ptr<CallGate> gate, FetchHandler fetch);

// The caller's logger behind the gate: records are dropped once it is closed. Null for null.
std::shared_ptr<VoduzaziLogger> gatedLogger(std::shared_ptr<CallGate> gate,
                                            std::shared_ptr<VoduzaziLogger> logger);

}  // namespace voduzazi::detail
