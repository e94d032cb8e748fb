// What the loopback benchmarks share: pinning the process to one CPU, so that a round trip's
// wall time does not depend on where the scheduler puts the client and server threads, and the
// calling thread's CPU time.
#pragma once

#include <pthread.h>
#include <sched.h>

#include <cstdio>
#include <ctime>

namespace bench {

// Pins the calling thread, and every thread it starts afterwards, to the CPU it runs on now.
// Call first thing in main, before any server thread exists. Returns the CPU, -1 on failure.
inline int pinToOneCpu() {
  const int cpu = sched_getcpu();
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu < 0 ? 0 : cpu, &set);
  if (sched_setaffinity(0, sizeof(set), &set) != 0) {
    std::perror("sched_setaffinity");
    return -1;
  }
  return cpu < 0 ? 0 : cpu;
}

// CPU seconds the calling thread has used.
inline double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace bench
