// Frame-pacing sleep on the velk_clock, shared by the SDL and null back-ends (POSIX only).
#pragma once
#include <cstdint>
#include <ctime>
#include <sched.h>

#include "platform/velk.h"

// Sleeps ms - 1 milliseconds (ms when ms <= 1), then yields until the clock has reached
// the start plus (seconds, microseconds): the system sleep may overshoot by a tick, the
// yielding loop finishes on time.
inline void velk_sleep_on_clock(int32_t seconds, int32_t microseconds) {
  int32_t s0, u0;
  velk_clock(&s0, &u0);
  int64_t ms = (int64_t)seconds * 1000 + microseconds / 1000;
  int64_t nap = ms > 1 ? ms - 1 : ms;
  if (nap > 0) {
    timespec ts = {(time_t)(nap / 1000), (long)(nap % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
  } else {
    sched_yield();
  }
  int64_t end = ((int64_t)s0 + seconds) * 1000000 + u0 + microseconds;  // us
  // A clock that stands still (a test's own clock source) must not hold us for ever: the
  // system's clock bounds the wait to the asked time plus a second.
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  int64_t limit = (int64_t)seconds * 1000000 + microseconds + 1000000;  // us
  for (;;) {
    int32_t s, u;
    velk_clock(&s, &u);
    int64_t now = (int64_t)s * 1000000 + u;
    // The millisecond clock wraps after 49.7 days: a reading far before the start ends it.
    if (now >= end || now < (int64_t)s0 * 1000000 + u0) return;
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    if ((int64_t)(t.tv_sec - start.tv_sec) * 1000000 + (t.tv_nsec - start.tv_nsec) / 1000 > limit)
      return;
    sched_yield();
  }
}
