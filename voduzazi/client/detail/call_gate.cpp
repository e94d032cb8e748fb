#include "voduzazi/client/detail/call_gate.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi::detail {
namespace {

// The gates this thread is passing, innermost last; a gate may appear more than once.
thread_local std::vector<const CallGate*> passing;

class GatedLogger : public VoduzaziLogger {
 public:
  GatedLogger(std::shared_ptr<CallGate> gate, std::shared_ptr<VoduzaziLogger> logger)
      : gate_(std::move(gate)), logger_(std::move(logger)) {}

  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    if (const auto pass = gate_->enter()) logger_->log(message);
  }

 private:
  const std::shared_ptr<CallGate> gate_;
  const std::shared_ptr<VoduzaziLogger> logger_;
};

}  // namespace

CallGate::Pass::Pass(CallGate* gate) : gate_(gate) { passing.push_back(gate); }

CallGate::Pass::~Pass() {
  if (!gate_) return;
  passing.erase(std::next(std::find(passing.rbegin(), passing.rend(), gate_)).base());
  std::lock_guard lock(gate_->mutex_);
  --gate_->passing_;
  if (gate_->closed_) gate_->idle_.notify_all();  // only a closed gate has waiters
}

CallGate::Pass CallGate::enter() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return Pass();
    ++passing_;
  }
  return Pass(this);
}

void CallGate::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

bool CallGate::isClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

bool CallGate::isPassingOnThisThread() const {
  return std::find(passing.begin(), passing.end(), this) != passing.end();
}

bool CallGate::isPassingElsewhere() const {
  const auto own = std::count(passing.begin(), passing.end(), this);
  std::lock_guard lock(mutex_);
  return passing_ > own;
}

void CallGate::waitUntilIdle() {
  const auto own = std::count(passing.begin(), passing.end(), this);
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return passing_ <= own; });
}

FetchHandler gatedFetch(std::shared_ptr<CallGate> gate, FetchHandler fetch) {
  return [gate = std::move(gate), fetch = std::move(fetch)](const URLRequest& request) {
    const auto pass = gate->enter();
    if (!pass) throw URLError(URLError::Code::cancelled, "the client that sent it was released");
    return fetch(request);
  };
}

std::shared_ptr<VoduzaziLogger> gatedLogger(std::shared_ptr<CallGate> gate,
                                            std::shared_ptr<VoduzaziLogger> logger) {
  if (!logger) return nullptr;
  return std::make_shared<GatedLogger>(std::move(gate), std::move(logger));
}

}  // namespace voduzazi::detail
