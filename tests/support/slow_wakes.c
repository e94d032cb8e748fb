// A stand-in for a loaded machine: preloaded into a test process, it makes every thread but the
// process's first sleep 100 ms after each return from a condition-variable wait, so that a test
// trusting a woken thread to run soon fails every time instead of once in a while.
//
//   gcc -shared -fPIC -O2 -o /tmp/slow_wakes.so tests/support/slow_wakes.c -ldl
//   export LD_PRELOAD="$(gcc -print-file-name=libasan.so) /tmp/slow_wakes.so"
//   build/address-undefined/voduzazi/realtime/realtime_tests
//
// (The sanitizer's runtime goes first, as it must; its interceptors then call these.)
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static void slowDown(void) {
  if (syscall(SYS_gettid) == getpid()) return;
  const struct timespec pause = {0, 100 * 1000 * 1000};
  nanosleep(&pause, NULL);
}

typedef int (*Wait)(pthread_cond_t*, pthread_mutex_t*);
typedef int (*TimedWait)(pthread_cond_t*, pthread_mutex_t*, const struct timespec*);
typedef int (*ClockWait)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*);

int pthread_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex) {
  static Wait next;
  if (!next) next = (Wait)dlvsym(RTLD_NEXT, "pthread_cond_wait", "GLIBC_2.3.2");
  const int result = next(cond, mutex);
  slowDown();
  return result;
}

int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex,
                           const struct timespec* deadline) {
  static TimedWait next;
  if (!next) next = (TimedWait)dlvsym(RTLD_NEXT, "pthread_cond_timedwait", "GLIBC_2.3.2");
  const int result = next(cond, mutex, deadline);
  slowDown();
  return result;
}

int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex, clockid_t clock,
                           const struct timespec* deadline) {
  static ClockWait next;
  if (!next) next = (ClockWait)dlsym(RTLD_NEXT, "pthread_cond_clockwait");
  const int result = next(cond, mutex, clock, deadline);
  slowDown();
  return result;
}
