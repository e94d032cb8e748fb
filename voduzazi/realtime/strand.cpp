#include "voduzazi/realtime/strand.hpp"

#include <algorithm>
#include <vector>

namespace voduzazi::realtime {
namespace {

class SerialStrand final : public Strand {
 public:
  void post(std::function<void()> work) override { queue_.post(std::move(work)); }
  void sync(const std::function<void()>& work) override { queue_.sync(work); }
  bool isCurrent() const override { return queue_.isCurrent(); }

 private:
  SerialExecutor queue_;
};

}  // namespace

std::shared_ptr<Strand> Strand::serial() { return std::make_shared<SerialStrand>(); }

namespace {

// On each thread: how deep it is in work of closable strands; the strands such work closed (their
// inline lock, which it holds until it ends) and what their release lets go of after it.
thread_local int workDepth = 0;
thread_local std::vector<std::shared_ptr<std::recursive_mutex>> closedByWork;
thread_local std::vector<std::shared_ptr<void>> releasedAfterWork;

// Runs `work` as strand work: a close from inside it shows until the outermost work ends.
void runAsWork(const std::function<void()>& work) {
  struct Depth {
    Depth() { ++workDepth; }
    ~Depth() {
      if (--workDepth > 0) return;
      // Other threads' work comes in first: what the release let go of may wait for it.
      for (auto closed = std::exchange(closedByWork, {}); !closed.empty(); closed.pop_back()) {
        closed.back()->unlock();
      }
      auto released = std::exchange(releasedAfterWork, {});
    }
  } depth;
  work();
}

}  // namespace

ClosableStrand::ClosableStrand(std::shared_ptr<Strand> inner) : inner_(std::move(inner)) {}

bool ClosableStrand::isClosedByCurrentWork() const {
  return workDepth > 0 && std::any_of(closedByWork.begin(), closedByWork.end(), [&](auto& lock) {
           return lock.get() == &shared_->inlineMutex;
         });
}

std::shared_ptr<Strand> ClosableStrand::inner() const {
  std::lock_guard lock(mutex_);
  return inner_;
}

void ClosableStrand::post(std::function<void()> work) {
  const auto strand = inner();
  if (!strand || isClosed()) return;
  // Checked again when its turn comes: work queued before the close is dropped too.
  strand->post([shared = shared_, work = std::move(work)] {
    if (!shared->closed) runAsWork(work);
  });
}

void ClosableStrand::sync(const std::function<void()>& work) {
  // Work a caller waits for always runs: on the strand while it is open, else on the caller's
  // thread.
  if (const auto strand = inner(); strand && !isClosed()) {
    return strand->sync([&] {
      // Closed while it waited: one at a time with the work handed over since.
      if (isClosed()) return syncInline(work);
      runAsWork(work);
    });
  }
  syncInline(work);
}

void ClosableStrand::syncInline(const std::function<void()>& work) {
  std::lock_guard lock(shared_->inlineMutex);
  struct Depth {
    ClosableStrand& strand;
    explicit Depth(ClosableStrand& s) : strand(s) {
      if (strand.inlineDepth_++ == 0) strand.inlineOwner_ = std::this_thread::get_id();
    }
    ~Depth() {
      if (--strand.inlineDepth_ == 0) strand.inlineOwner_ = std::thread::id();
    }
  } depth(*this);
  work();
}

bool ClosableStrand::isCurrent() const {
  const auto self = std::this_thread::get_id();
  if (const auto strand = inner()) return strand->isCurrent();
  // The rest of the work that closed it still runs as strand work.
  return isClosedByCurrentWork() || inlineOwner_.load() == self;
}

void ClosableStrand::close() {
  const auto strand = inner();
  if (!strand) return;
  if (strand->isCurrent() && workDepth > 0) {
    // Taken before the close shows: other threads' work then waits for the rest of this one.
    shared_->inlineMutex.lock();
    closedByWork.emplace_back(shared_, &shared_->inlineMutex);
  }
  // After the work under way, or at once from inside it.
  strand->sync([&] { shared_->closed = true; });
  std::lock_guard lock(mutex_);
  inner_.reset();
}

void ClosableStrand::releaseAfterClosingWork(std::shared_ptr<void> held) {
  if (isClosedByCurrentWork()) releasedAfterWork.push_back(std::move(held));
}

}  // namespace voduzazi::realtime
