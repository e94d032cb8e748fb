#include "tests/realtime/client_v2_harness.hpp"

namespace voduzazi::testing {

void RecordingLogger::log(const VoduzaziLogMessage& message) {
  std::lock_guard lock(mutex_);
  lines_.push_back(message.message);
}

std::vector<std::string> RecordingLogger::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::size_t RecordingLogger::count(std::string_view text) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(lines_.begin(), lines_.end(),
                    [&](const auto& line) { return line.find(text) != std::string::npos; }));
}

}  // namespace voduzazi::testing
