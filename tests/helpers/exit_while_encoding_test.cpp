// A process that exits while a task still codes with the shared JSON coders, as the realtime
// clients encode every outgoing frame, and still asks whether a request may be retried: what
// they reach must outlive the process's teardown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/retry_request_interceptor.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

// Rounds of coding done; lives on past the process's teardown, as the coding task does.
std::atomic<long>* rounds = nullptr;

// Run after every exit handler, hence after every object of static duration has been destroyed:
// the task codes on meanwhile. Only a process that started it waits.
__attribute__((destructor)) void codeDuringTeardown() {
  if (rounds == nullptr) return;
  const long before = rounds->load();
  if (!eventually([before] { return rounds->load() > before + 100; }, 10s)) std::_Exit(4);
}

[[noreturn]] void exitWhileCoding() {
  rounds = new std::atomic<long>(0);
  Task<void>::detached([] {
    const AnyJSON frame(JSONObject{{"event", "broadcast"}, {"payload", JSONArray{1, 2.5, "x"}}});
    for (;;) {
      const Data text = AnyJSON::encoder()->encode(frame);
      if (AnyJSON::decoder()->decode<AnyJSON>(text) != frame) std::_Exit(5);
      using Retry = RetryRequestInterceptor;
      if (!Retry::defaultRetryableHTTPStatusCodes().contains(503) ||
          !Retry::defaultRetryableHTTPMethods().contains(HTTPMethod::get) ||
          !Retry::defaultRetryableURLErrorCodes().contains(URLError::Code::timedOut)) {
        std::_Exit(6);
      }
      ++*rounds;
    }
  });
  if (!eventually([] { return rounds->load() > 0; })) std::_Exit(3);
  std::exit(0);
}

TEST(AnyJSONDeathTest, TheSharedCodersAndRetryTablesOutliveTheProcessTeardown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitWhileCoding(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace voduzazi
