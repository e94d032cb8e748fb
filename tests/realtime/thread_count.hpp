// threadCount(): the threads of this process, as the kernel counts them.
#pragma once

#include <fstream>
#include <string>

namespace voduzazi::testing {

inline int threadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

}  // namespace voduzazi::testing
