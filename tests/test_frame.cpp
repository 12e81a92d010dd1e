// The frame loop's timing and the player's message log.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/frame.h"
#include "files/config.h"
#include "terrain/terrain.h"

// A clock that only moves when the loop sleeps or the test advances it.
struct FakeClock {
  double now = 100.0;
  double slept = 0;
};
static double fake_now(void *u) { return ((FakeClock *)u)->now; }
static void fake_sleep(void *u, double s) {
  ((FakeClock *)u)->now += s;
  ((FakeClock *)u)->slept += s;
}

TEST(FrameTiming, AdvancesByModeAndCaps) {
  struct Case {
    const char *what;
    double frame;  // s of real time the frame took
    FrameTimingMode mode;
    double want;  // s of simulation
  } cases[] = {
      {"half a second is capped at 16 ticks", 0.5, {}, 16 * TICK},
      {"one tick and a bit", 0.01, {}, 0.01},
      {"locked 30 fps on a fast machine", 0.001, {30, false, false, 0, false}, 1.0 / 30},
      {"locked 30 fps on a slow machine", 0.2, {30, false, false, 0, false}, 1.0 / 30},
      {"warp", 0.001, {0, true, false, 0, false}, 100 * TICK},
      {"short frame waits for a tick", 0.001, {}, TICK},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    FakeClock clock;
    FrameClock fc{fake_now, fake_sleep, &clock};
    FrameTiming t;
    frame_timing_reset(&t, clock.now);
    clock.now += c.frame;
    double w = frame_timing_step(&t, &c.mode, &fc);
    EXPECT_NEAR(w, c.want, 1e-12);
    EXPECT_NEAR(t.target, c.want, 1e-12);
    EXPECT_NEAR(t.total, c.want, 1e-12);
  }
}

TEST(FrameTiming, HistogramBuckets) {
  FakeClock clock;
  FrameClock fc{fake_now, fake_sleep, &clock};
  FrameTiming t;
  frame_timing_reset(&t, clock.now);
  FrameTimingMode mode{};
  const double frames[] = {TICK * 1.5, TICK * 3, TICK * 100, 0.001};
  for (double f : frames) {
    clock.now += f;
    frame_timing_step(&t, &mode, &fc);
  }
  EXPECT_EQ(t.histogram[1], 1u);  // 1.5 ticks: below 2
  EXPECT_EQ(t.histogram[2], 1u);  // 3 ticks: below 4
  EXPECT_EQ(t.histogram[7], 1u);  // 100 ticks: beyond 64
  EXPECT_EQ(t.histogram[0], 1u);  // counted once although the loop slept and measured again
  EXPECT_NEAR(t.longest, 0.125, 1e-12);
}

TEST(FrameTiming, ServerLeadScaling) {
  EXPECT_NEAR(frame_scale_to_server(1, 0.0625, true), 1.0625, 1e-12);
  EXPECT_NEAR(frame_scale_to_server(1, 5, true), 1.125, 1e-12);
  EXPECT_NEAR(frame_scale_to_server(1, 0.5, false), 2.5, 1e-12);
  EXPECT_NEAR(frame_scale_to_server(1, -0.5, true), 0.75, 1e-12);
  EXPECT_NEAR(frame_scale_to_server(1, -3, false), 0.5, 1e-12);
}

TEST(MessageLog, CutInTheRingAndWraps) {
  message_log_clear();
  message_log_set_max_visible(3);
  std::string long_text(200, 'x');
  show_message(long_text.c_str());
  EXPECT_EQ(std::string(message_log()->lines[0]), long_text.substr(0, 127));
  for (int i = 1; i < MESSAGE_LOG_LINES; i++) show_message("line");
  EXPECT_EQ(message_log()->write_index, 0);
  EXPECT_EQ(message_log()->visible, 3);
  show_message("wrapped");
  EXPECT_STREQ(message_log()->lines[0], "wrapped");
}

TEST(MessageLog, ExpiryHidesOneLineAtATime) {
  message_log_clear();
  message_log_set_max_visible(5);
  show_message("a");
  show_message("b");
  message_log_expire(1.0);
  EXPECT_EQ(message_log()->visible, 2);
  message_log_expire(2.5);
  EXPECT_EQ(message_log()->visible, 1);
  message_log_expire(3.0);  // the next one waits 5 s
  EXPECT_EQ(message_log()->visible, 1);
  message_log_expire(7.6);
  EXPECT_EQ(message_log()->visible, 0);
}

TEST(Projection, WideAndNarrowScreens) {
  Frustum wide = projection_extents(1600, 900, 90);
  EXPECT_NEAR(wide.half_height, 0.75, 1e-6);
  EXPECT_NEAR(wide.half_width, 0.75 * 1600 / 900.0, 1e-6);
  Frustum square = projection_extents(640, 640, 90);
  EXPECT_NEAR(square.half_width, 1.0, 1e-6);
  EXPECT_NEAR(square.half_height, 1.0, 1e-6);
}

TEST(ControlChannels, LeftKeyWithReversedSteering) {
  channel_bindings_reset();
  int codes[KEY_BINDING_COUNT] = {0};
  codes[LEFT_KEY] = 0x10CB;  // the left arrow
  codes[RIGHT_KEY] = 0x10CD;
  channel_bindings_key(codes, 0x10CB, 1);
  float ch[CHANNEL_COUNT];
  channels_from_bindings(ch);
  EXPECT_EQ(ch[CHANNEL_STEER], 1.0f);
  LocalRiderInput state;
  local_rider_input_reset(&state);
  EXPECT_EQ(hand_controls(ch, true, false, &state).steer, -1.0f);
  EXPECT_EQ(hand_controls(ch, false, false, &state).steer, 1.0f);
  channel_bindings_key(codes, 0x10CD, 1);  // both held cancel out
  channels_from_bindings(ch);
  EXPECT_EQ(ch[CHANNEL_STEER], 0.0f);
}

TEST(ControlChannels, StickyDabClutchRiseAndShift) {
  LocalRiderInput state;
  local_rider_input_reset(&state);
  float ch[CHANNEL_COUNT] = {0};
  ch[CHANNEL_DAB] = 1;
  EXPECT_EQ(hand_controls(ch, true, true, &state).dab, 1.0f);
  EXPECT_EQ(hand_controls(ch, true, true, &state).dab, 1.0f);  // held: no flip
  ch[CHANNEL_DAB] = 0;
  EXPECT_EQ(hand_controls(ch, true, true, &state).dab, 1.0f);
  ch[CHANNEL_DAB] = 0.6f;
  EXPECT_EQ(hand_controls(ch, true, true, &state).dab, 0.0f);  // second press releases

  ch[CHANNEL_CLUTCH] = 1;  // lever pulled: disengaged at once
  EXPECT_EQ(hand_controls(ch, true, false, &state).clutch, 0.0f);
  ch[CHANNEL_CLUTCH] = 0;  // dropped: rises 4 per second
  EXPECT_NEAR(hand_controls(ch, true, false, &state).clutch, 4 * TICK, 1e-6);
  EXPECT_NEAR(hand_controls(ch, true, false, &state).clutch, 8 * TICK, 1e-6);

  struct {
    float shift;
    int want;
  } shifts[] = {{0.6f, 1}, {0.5f, 0}, {-0.5f, 0}, {-0.51f, -1}};
  for (auto s : shifts) {
    ch[CHANNEL_SHIFT] = s.shift;
    EXPECT_EQ(hand_controls(ch, true, false, &state).shift, s.want) << s.shift;
  }
}

TEST(ControlChannels, AxisRange) {
  EXPECT_EQ(axis_binding_value(0, 0.0625f, 0.9375f), 0.0f);
  EXPECT_NEAR(axis_binding_value(16384, 0.0625f, 0.9375f), (0.5 - 0.0625) / 0.875, 1e-6);
  EXPECT_EQ(axis_binding_value(32767, 0.0625f, 0.9375f), 1.0f);
  EXPECT_NEAR(axis_binding_value(-16384, -0.0625f, -0.9375f), (0.5 - 0.0625) / 0.875, 1e-6);
}

TEST(SmoothedGroundHeight, PlaneAndBorders) {
  // A 5 x 5 grid with 2 ft spacing whose height is the column number.
  static float heights[25];
  for (int r = 0; r < 5; r++)
    for (int c = 0; c < 5; c++) heights[r * 5 + c] = (float)c;
  Terrain t{};
  t.heights = heights;
  t.samples = 5;
  t.spacing = 2;
  // Symmetric weights around the centre of a plane give the plane's height there.
  EXPECT_NEAR(smoothed_ground_height(&t, 4, 4, 1.5f), 2.0f, 1e-5);
  // Far outside the field every sample reads the clamped border.
  EXPECT_NEAR(smoothed_ground_height(&t, 100, 4, 3), 4.0f, 1e-5);
  // A radius that falls between samples still weighs the nearest ones.
  float h = smoothed_ground_height(&t, 3, 4, 0.1f);
  EXPECT_GT(h, 1.0f);
  EXPECT_LT(h, 2.0f);
}

// An event source holding events stamped on the velk clock.
struct ScriptedEvents {
  struct Ev {
    double time;
    int code, pressed;
  };
  std::vector<Ev> queue;
  std::vector<double> moments;    // the moment of every tick that asked
  std::vector<int> tick_of_event; // the ask (tick) in which each event was taken
  int asks = 0;
  double last_moment = -1;
};
static int scripted_next(void *user, double moment, bool all, int *code, int *pressed) {
  ScriptedEvents *s = (ScriptedEvents *)user;
  if (moment != s->last_moment) {
    s->moments.push_back(moment);
    s->last_moment = moment;
  }
  if (s->queue.empty() || (!all && !(s->queue.front().time < moment))) return 0;
  *code = s->queue.front().code;
  *pressed = s->queue.front().pressed;
  s->queue.erase(s->queue.begin());
  s->tick_of_event.push_back((int)s->moments.size() - 1);
  return 1;
}

TEST(FrameLoop, EventsLandInTheTickTheyFellInto) {
  config_reset_defaults();
  frame_loop_init(nullptr, 0);
  FrameTiming *t = frame_timing();
  t->target = 4 * TICK;  // four ticks to run, ending at the clock's now = 10 s
  double now = 10.0;
  ScriptedEvents ev;
  ev.queue = {{now - 3.5 * TICK, 0x1001, 1}, {now - 1.2 * TICK, 0x1002, 1},
              {now + 5.0, 0x1003, 1}};
  FrameEventSource src{scripted_next, &ev};
  frame_run_ticks(&src, now);
  ASSERT_EQ(ev.moments.size(), 4u);
  EXPECT_DOUBLE_EQ(ev.moments[0], now - 3 * TICK);
  EXPECT_DOUBLE_EQ(ev.moments[3], now);
  // 3.5 ticks ago falls before the first tick's moment; 1.2 ticks ago before the third;
  // the last tick takes whatever is pending.
  EXPECT_EQ(ev.tick_of_event, (std::vector<int>{0, 2, 3}));
  EXPECT_DOUBLE_EQ(t->simulated, 4 * TICK);
}
