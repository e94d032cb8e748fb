#include "voduzazi/realtime/strand.hpp"

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

// On each thread: how deep it is in work of closable strands, and the strand such work closed.
thread_local int workDepth = 0;
thread_local const void* closedByWork = nullptr;

// Runs `work` as strand work: a close from inside it shows until the outermost work ends.
void runAsWork(const std::function<void()>& work) {
  struct Depth {
    Depth() { ++workDepth; }
    ~Depth() {
      if (--workDepth == 0) closedByWork = nullptr;
    }
  } depth;
  work();
}

}  // namespace

ClosableStrand::ClosableStrand(std::shared_ptr<Strand> inner) : inner_(std::move(inner)) {}

bool ClosableStrand::isClosedByCurrentWork() const {
  return workDepth > 0 && closedByWork == shared_.get();
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
  // Work a caller waits for always runs: on the strand while it is open, else right here.
  if (const auto strand = inner(); strand && !isClosed()) {
    return strand->sync([&] { runAsWork(work); });
  }
  std::lock_guard lock(inlineMutex_);
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
  if (strand->isCurrent() && workDepth > 0) closedByWork = shared_.get();
  // After the work under way, or at once from inside it.
  strand->sync([&] { shared_->closed = true; });
  std::lock_guard lock(mutex_);
  inner_.reset();
}

}  // namespace voduzazi::realtime
