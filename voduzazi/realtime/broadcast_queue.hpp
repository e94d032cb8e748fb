// BroadcastQueue: the HTTP broadcasts of one second-generation realtime client, sent by a few
// worker threads however many are pending. A broadcast's time-out (its request's
// timeoutInterval) counts from the call: one still waiting for a worker when it runs out is
// dropped unsent, and one under way gets only what is left of it.
//
//   BroadcastQueue queue(http, timers, logger);
//   detail::OneShot<PushStatus> done;
//   queue.send(request, done);                             // returns at once
//   std::optional<PushStatus> status = timers.waitFor(done, 10.0);   // ok for a 2xx answer
#pragma once

#include <cstddef>
#include <memory>

#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/realtime/client_timers.hpp"
#include "voduzazi/realtime/detail/one_shot.hpp"
#include "voduzazi/realtime/push_status.hpp"

namespace voduzazi::realtime {

// Shared objects: safe. Lifetime: `timers` must outlive the queue; the destructor closes it.
class BroadcastQueue {
 public:
  static constexpr std::size_t defaultWorkers = 4;

  BroadcastQueue(std::shared_ptr<HTTPClientType> http, ClientTimers& timers,
                 std::shared_ptr<VoduzaziLogger> logger, std::size_t workers = defaultWorkers);
  ~BroadcastQueue();
  BroadcastQueue(const BroadcastQueue&) = delete;
  BroadcastQueue& operator=(const BroadcastQueue&) = delete;

  // Queues the request; `done` gets ok for a 2xx status, else error (an HTTP error status, a
  // transport failure, or a time-out before it could be sent; each is logged).
  void send(helpers::HTTPRequest request, detail::OneShot<PushStatus> done);
  // Drops the broadcasts still waiting, cancels those under way and joins the workers, after
  // which the HTTP client and the logger are no longer called; later broadcasts fail at once.
  void close();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace voduzazi::realtime
