// Frame timing: how much simulated time one pass of the frame loop advances.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/common.h"
#include "core/frame.h"

constexpr double MAX_FRAME_ADVANCE = 0.125;  // s offline: a slow machine runs in slow motion
constexpr int WARP_TICKS = 100;

void frame_timing_reset(FrameTiming *t, double now) {
  memset(t, 0, sizeof *t);
  t->last = now;
  t->shortest = 1.0;
}

double frame_scale_to_server(double w, double lead, bool race_started) {
  if (lead >= 0 && race_started) return w * (1 + 0.125 * std::clamp(8 * lead, 0.0, 1.0));
  if (lead >= 0) return w * (1 + 3 * std::clamp(lead, 0.0, 1.0));
  return w * (0.5 + 0.5 * std::clamp(lead + 1, 0.0, 1.0));
}

double frame_timing_step(FrameTiming *t, const FrameTimingMode *mode, const FrameClock *clock) {
  double now = clock->now(clock->user);
  double w;
  bool first = true;
  for (;;) {
    double n = now - t->last;
    if (first) {
      int k = 0;
      while (k < 7 && !(n < TICK * (double)(1 << k))) k++;
      t->histogram[k]++;
      first = false;
    }
    if (!mode->connected && mode->locked_fps > 0) {
      double frame = 1.0 / mode->locked_fps;
      if (n < frame) {
        clock->sleep(clock->user, frame - n);
        now = clock->now(clock->user);
      }
      w = frame;
      break;
    }
    if (!mode->connected && mode->warp) {
      w = WARP_TICKS * TICK;
      break;
    }
    if (n >= TICK) {
      w = std::min(n, MAX_FRAME_ADVANCE);
      break;
    }
    clock->sleep(clock->user, TICK - n);
    now = clock->now(clock->user);
  }
  t->shortest = std::min(t->shortest, w);
  t->longest = std::max(t->longest, w);
  if (mode->connected) w = frame_scale_to_server(w, mode->server_lead, mode->race_started);
  t->last = now;
  t->target += w;
  t->total += w;
  return w;
}

Frustum projection_extents(int width, int height, float fov_degrees) {
  double a = fov_degrees * M_PI / 360.0;
  Frustum f;
  if (height > 0 && (double)width / height > 4.0 / 3.0) {
    f.half_height = (float)(std::tan(a) * 0.75);
    f.half_width = f.half_height * (float)width / (float)height;
  } else {
    f.half_width = (float)std::tan(a);
    f.half_height = width > 0 ? f.half_width * (float)height / (float)width : f.half_width;
  }
  return f;
}
