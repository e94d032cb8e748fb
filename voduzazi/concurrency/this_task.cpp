#include "voduzazi/concurrency/this_task.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/detail/quiescence.hpp"
#include "voduzazi/concurrency/detail/wait_queue.hpp"
#include "voduzazi/concurrency/task_local.hpp"

namespace voduzazi {
namespace {
thread_local std::stop_token currentStop;

// How long one megaYield round waits for the others to settle.
constexpr std::chrono::microseconds kYieldRound{2000};
}  // namespace

namespace detail {

LocalBindings& currentBindings() {
  thread_local LocalBindings bindings;
  return bindings;
}

ScopedStopToken::ScopedStopToken(std::stop_token token) : previous_(std::move(currentStop)) {
  currentStop = std::move(token);
}

ScopedStopToken::~ScopedStopToken() { currentStop = std::move(previous_); }

}  // namespace detail

namespace this_task {

std::stop_token stopToken() { return currentStop; }

bool isCancelled() { return currentStop.stop_requested(); }

void checkCancellation() {
  if (isCancelled()) throw CancellationError();
}

void sleepUntil(std::chrono::steady_clock::time_point deadline) {
  std::mutex mutex;
  detail::WaitQueue queue;
  std::unique_lock lock(mutex);
  queue.waitUntil(lock, currentStop, deadline, [] { return false; });
  checkCancellation();
}

void sleepFor(std::chrono::nanoseconds duration) { sleepUntil(deadlineAfter(duration)); }

std::chrono::steady_clock::time_point deadlineAfter(std::chrono::nanoseconds duration) {
  using std::chrono::steady_clock;
  const auto now = steady_clock::now();
  if (duration <= duration.zero()) return now;
  if (duration >= steady_clock::time_point::max() - now) return steady_clock::time_point::max();
  return now + std::chrono::duration_cast<steady_clock::duration>(duration);
}

void never() {
  // An endless sleep ends only by throwing CancellationError; the throw keeps [[noreturn]] true.
  sleepUntil(std::chrono::steady_clock::time_point::max());
  throw CancellationError();
}

int parseMegaYieldCount(const char* text) {
  constexpr int kDefault = 20;
  if (text == nullptr || *text == '\0') return kDefault;
  const char* first = text;
  const char* last = text + std::strlen(text);
  bool negative = false;
  if (*first == '+' || *first == '-') negative = *first++ == '-';
  if (first == last) return kDefault;
  // Unsigned, so that a second sign does not parse; the sign decides the range of a 64-bit integer.
  unsigned long long magnitude = 0;
  auto [end, error] = std::from_chars(first, last, magnitude);
  if (error != std::errc() || end != last) return kDefault;
  const auto largest = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  if (magnitude > largest + (negative ? 1 : 0)) return kDefault;
  if (negative || magnitude < 1) return 0;
  return static_cast<int>(std::min<unsigned long long>(magnitude, 10000));
}

int defaultMegaYieldCount() {
  static const int count = parseMegaYieldCount(std::getenv("TASK_MEGA_YIELD_COUNT"));
  return count;
}

void megaYield(std::optional<int> count) {
  const int rounds = count.value_or(defaultMegaYieldCount());
  if (rounds <= 0) return;
  detail::Quiescence::shared().waitUntilQuiet(rounds, kYieldRound);
}

}  // namespace this_task
}  // namespace voduzazi
