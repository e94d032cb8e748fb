#include "voduzazi/concurrency/main_serial_executor.hpp"

#include <atomic>

namespace voduzazi {
namespace {
std::atomic<bool> useMainSerialExecutor{false};
}  // namespace

bool uncheckedUseMainSerialExecutor() { return useMainSerialExecutor.load(); }

void setUncheckedUseMainSerialExecutor(bool enabled) { useMainSerialExecutor.store(enabled); }

}  // namespace voduzazi
