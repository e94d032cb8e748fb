// settle(): what a test calls after it set tasks going (by moving a test clock, say) and before
// it looks at what they did. It waits until every task the runtime tracks, other than the caller,
// waits in a runtime wait again: a timer thread has then handed over the work that came due and
// sleeps once more, however long the machine kept it from running.
//
//   clock->advance(30s);
//   settle("the heartbeat after 30 s");   // throws TasksDidNotSettle after 10 s
//   main->runPending();
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

#include "voduzazi/concurrency/detail/quiescence.hpp"

namespace voduzazi::testing {

// The test fails where it waited, with the wait named, instead of going on as if the work had
// run: GoogleTest reports an exception that leaves a test body as that test's failure.
class TasksDidNotSettle : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline void settle(std::string_view what,
                   std::chrono::milliseconds bound = std::chrono::seconds(10)) {
  auto& tasks = detail::Quiescence::shared();
  if (tasks.waitUntilQuiet(std::chrono::steady_clock::now() + bound)) return;
  throw TasksDidNotSettle(std::string(what) + ": the tasks it woke did not wait again within " +
                          std::to_string(bound.count()) + " ms (" +
                          std::to_string(tasks.runnable()) + " tracked tasks still runnable)");
}

}  // namespace voduzazi::testing
