// ClosableStrand closed from inside its own work: what other threads hand over afterwards runs
// only once that work has ended, and one at a time, with what they handed over before the close
// too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/support/eventually.hpp"
#include "voduzazi/realtime/strand.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using voduzazi::testing::eventually;

// A serial strand that counts the sync() calls reaching it.
class WatchedStrand final : public Strand {
 public:
  void post(std::function<void()> work) override { inner_->post(std::move(work)); }
  void sync(const std::function<void()>& work) override {
    ++syncs;
    inner_->sync(work);
  }
  bool isCurrent() const override { return inner_->isCurrent(); }

  std::atomic<int> syncs{0};

 private:
  const std::shared_ptr<Strand> inner_ = Strand::serial();
};

TEST(ClosableStrand, WorkHandedOverAfterAWorkClosedItWaitsForTheRestOfThatWork) {
  const auto strand = std::make_shared<ClosableStrand>(Strand::serial());
  std::atomic<bool> closed{false};
  std::atomic<bool> ended{false};
  std::atomic<bool> ownRanAtOnce{false};
  strand->post([&] {
    strand->close();
    closed = true;
    strand->sync([&] { ownRanAtOnce = true; });  // the closing work's own: at once
    std::this_thread::sleep_for(100ms);          // the rest of the work, held
    ended = true;
  });
  EXPECT_TRUE(eventually([&] { return closed.load(); }));
  bool sawTheEnd = false;
  strand->sync([&] { sawTheEnd = ended.load(); });
  EXPECT_TRUE(sawTheEnd) << "ran beside the work that closed the strand";
  EXPECT_TRUE(ownRanAtOnce);
}

TEST(ClosableStrand, ASyncHandedOverBeforeTheCloseRunsOneAtATimeWithThoseAfter) {
  const auto watched = std::make_shared<WatchedStrand>();
  const auto strand = std::make_shared<ClosableStrand>(watched);
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  const auto exclusive = [&](std::chrono::milliseconds hold) {
    if (++inside > 1) overlapped = true;
    std::this_thread::sleep_for(hold);
    --inside;
  };
  // Closes once the first thread's sync is on its way: that work then runs after this one.
  strand->post([&] {
    if (!eventually([&] { return watched->syncs.load() >= 1; })) ADD_FAILURE() << "no sync came";
    strand->close();
  });
  std::atomic<bool> firstRuns{false};
  std::thread first([&] {
    strand->sync([&] {
      firstRuns = true;
      exclusive(100ms);
    });
  });
  EXPECT_TRUE(eventually([&] { return firstRuns.load(); }));
  strand->sync([&] { exclusive(0ms); });
  first.join();
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace voduzazi::realtime
