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

}  // namespace voduzazi::realtime
