// The frame loop driving real sessions on the starter track: ticks per frame, the menu,
// pause and step, the controls handed to the rider, racer and camera keys, screenshots,
// the cameras and settling the bikes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "core/common.h"
#include "core/frame.h"
#include "core/game.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "platform/velk_input.h"
#include "race/demo.h"
#include "race/race.h"
#include "terrain/terrain.h"
#include "track/track.h"

// The log goes to a file of the test's own, so what show_message logs can be read back.
static std::string log_path() { return "/tmp/dv_test_frame_log_" + std::to_string(getpid()); }
static const bool kLogSet = (setenv("VELK_LOGFILE", log_path().c_str(), 1), true);

static int key(const char *name) {
  int code = 0;
  EXPECT_TRUE(velk_key_code(nullptr, name, &code)) << name;
  return code;
}

// Events stamped before every tick's moment: all land in the first tick of the next run.
struct Events {
  std::vector<std::pair<int, int>> queue;  // code, pressed
  void press(int code) { queue.push_back({code, 1}), queue.push_back({code, 0}); }
};
static int next_event(void *user, double, bool, int *code, int *pressed) {
  Events *e = (Events *)user;
  if (e->queue.empty()) return 0;
  *code = e->queue.front().first;
  *pressed = e->queue.front().second;
  e->queue.erase(e->queue.begin());
  return 1;
}

// Runs `ticks` ticks of the tick loop with the events pending.
static void run_ticks(int ticks, Events *events = nullptr) {
  FrameTiming *t = frame_timing();
  t->target = t->simulated + ticks * TICK;
  FrameEventSource src{next_event, events};
  frame_run_ticks(events ? &src : nullptr, 1000.0);
}

struct FakeClock {
  double now = 50.0;
};
static double fake_now(void *u) { return ((FakeClock *)u)->now; }
static void fake_sleep(void *u, double s) { ((FakeClock *)u)->now += s; }

class FrameSession : public ::testing::Test {
 protected:
  static std::string home;
  static void SetUpTestSuite() {
    if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
    home = "/tmp/dv_test_frame_" + std::to_string(getpid());
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    datafile_reset_for_tests();
    config_reset_defaults();
    dInitODE2(0);
    physics_world_create();
    racer_table_reset();
    set_session_hooks(nullptr);
    game_install_session_hooks();
  }
  static void TearDownTestSuite() {
    session_end();
    track_unload();
    track_reset();
    physics_world_destroy();
    dCloseODE();
    (void)system(("rm -rf " + home + " " + log_path()).c_str());
  }
  void SetUp() override {
    config_reset_defaults();
    *session_options() = SessionOptions{};
    session_clock()->tick = 0;
    track_select("rabbithill", nullptr);
    frame_loop_init(nullptr, 0);
  }
  void TearDown() override {
    session_end();
    frame_set_hooks(nullptr);
  }

  // The human in slot 0 and `robots` robots behind.
  static void start(int robots = 0) {
    int lineup[MAX_RACERS] = {LINEUP_HUMAN};
    for (int i = 1; i <= robots; i++) lineup[i] = LINEUP_ROBOT;
    ASSERT_EQ(start_session(lineup, 0, 0, 0, 3, 1), 1);
    frame_set_view_mode(VIEW_RIDER);
  }
  static Bike *local_bike() { return racer_at(0)->bike; }
};
std::string FrameSession::home;

TEST_F(FrameSession, TicksPerFrame) {
  start();
  struct Case {
    const char *what;
    double frame;  // s of real time
    FrameTimingMode mode;
    int frames;
    int want_ticks;
  } cases[] = {
      {"a 0.5 s frame runs 16 ticks, not 64", 0.5, {}, 1, 16},
      {"warp runs 100 ticks a frame", 0.001, {0, true, false, 0, false}, 2, 200},
      {"locked 30 fps: 30 frames are one second", 0.001, {30, false, false, 0, false}, 30, 128},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    FakeClock clock;
    FrameClock fc{fake_now, fake_sleep, &clock};
    frame_timing_reset(frame_timing(), clock.now);
    int32_t before = session_clock()->tick;
    for (int f = 0; f < c.frames; f++) {
      clock.now += c.frame;
      frame_timing_step(frame_timing(), &c.mode, &fc);
      frame_run_ticks(nullptr, clock.now);
    }
    // Locked frames add 1/30 s each, so the last tick may wait for the next frame.
    EXPECT_NEAR(session_clock()->tick - before, c.want_ticks, c.mode.locked_fps > 0 ? 1 : 0);
    if (c.mode.locked_fps > 0) {
      EXPECT_NEAR(frame_timing()->target, 1.0, 1e-9);
    }
  }
}

TEST_F(FrameSession, MenuOverTheLocalRiderFreezesTheTick) {
  start();
  run_ticks(5);
  ASSERT_EQ(session_clock()->tick, 5);
  Events ev;
  ev.queue = {{key("esc"), 1}, {key("esc"), 0}};
  run_ticks(16, &ev);
  EXPECT_TRUE(frame_menu_open());
  EXPECT_EQ(session_clock()->tick, 5);
  run_ticks(16);
  EXPECT_EQ(session_clock()->tick, 5) << "time under the menu is not made up";
  ev.queue = {{key("esc"), 1}, {key("esc"), 0}};
  run_ticks(16, &ev);
  EXPECT_FALSE(frame_menu_open());
  EXPECT_EQ(session_clock()->tick, 21);
}

TEST_F(FrameSession, StepOnlyWhilePausedOneTickPerPress) {
  start();
  const int step = key(config()->keys[STEP_KEY].key_name);
  const int pause = key(config()->keys[PAUSE_KEY].key_name);
  Events ev;
  ev.press(step);
  run_ticks(4, &ev);
  EXPECT_EQ(session_clock()->tick, 4) << "step while running adds nothing";
  ev.press(pause);
  run_ticks(4, &ev);
  EXPECT_TRUE(frame_paused());
  EXPECT_EQ(session_clock()->tick, 4);
  ev.press(step);
  ev.press(step);
  run_ticks(4, &ev);
  EXPECT_EQ(session_clock()->tick, 6);
  ev.press(pause);
  run_ticks(3, &ev);
  EXPECT_EQ(session_clock()->tick, 9);
}

TEST_F(FrameSession, LeftKeySteersByTheSetup) {
  start();
  struct Case {
    const char *reverse;
    float steer;  // handed to the bike; +1 is to the right
  } cases[] = {{"Yes", -1}, {"No", +1}};
  const int left = key(config()->keys[LEFT_KEY].key_name);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reverse);
    ASSERT_TRUE(choice_select(&bike_setup()->reverse_steering, c.reverse));
    Events ev;
    ev.queue = {{left, 1}};
    run_ticks(1, &ev);
    float ch[CHANNEL_COUNT];
    frame_channels(ch);
    EXPECT_EQ(ch[CHANNEL_STEER], 1.0f);
    EXPECT_EQ(local_bike()->controls.steer, c.steer);
    ev.queue = {{left, 0}};
    run_ticks(1, &ev);
  }
}

TEST_F(FrameSession, PreviousAndNextRacer) {
  start(3);
  update_results();
  int count = 0;
  const RunningOrder *order = running_order(&count);
  ASSERT_EQ(count, 4);
  const int prev = key(config()->keys[PREV_KEY].key_name);
  const int next = key(config()->keys[NEXT_KEY].key_name);
  // Viewing the local rider without spy, the keys are refused.
  session_clock()->viewed_slot = order[0].slot == 0 ? order[0].slot : 0;
  int viewed = session_clock()->viewed_slot;
  Events ev;
  ev.press(next);
  run_ticks(1, &ev);
  EXPECT_EQ(session_clock()->viewed_slot, viewed);

  config()->spy = 1;
  session_clock()->viewed_slot = order[0].slot;
  ev.press(prev);
  run_ticks(1, &ev);
  EXPECT_EQ(session_clock()->viewed_slot, order[0].slot) << "previous on the first keeps it";
  ev.press(next);
  run_ticks(1, &ev);
  EXPECT_EQ(session_clock()->viewed_slot, order[1].slot);
  for (int i = 0; i < 5; i++) ev.press(next);
  run_ticks(1, &ev);
  EXPECT_EQ(session_clock()->viewed_slot, order[3].slot) << "next on the last keeps it";
}

TEST_F(FrameSession, DigitCamerasClamp) {
  track_select("practice", nullptr);  // fewer cameras than digits
  start(1);
  ASSERT_GT(camera_count(), 1);
  ASSERT_LT(camera_count(), 9);
  session_clock()->viewed_slot = 1;  // a robot: the camera view stays
  config()->spy = 1;
  frame_set_view_mode(VIEW_CAMERA);
  struct Case {
    const char *digit;
    int want;
  } cases[] = {{"2", 1}, {"9", camera_count() - 1}, {"0", -1}, {"1", 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.digit);
    Events ev;
    ev.press(key(c.digit));
    run_ticks(1, &ev);
    EXPECT_EQ(frame_selected_camera(), c.want);
  }
  // A selected camera starts aimed at the racer and frames it with its zoom size.
  CameraPose pose;
  ASSERT_TRUE(frame_view_pose(&pose));
  const dReal *p = dBodyGetPosition(racer_at(1)->bike->bodies[FRAME_BODY]);
  Vec3 to = vec3_normalize(vec3((float)p[0], (float)p[1], (float)p[2]) - pose.position);
  EXPECT_GT(-(to.x * pose.rotation[2] + to.y * pose.rotation[5] + to.z * pose.rotation[8]), 0.99f);
  float distance = vec3_length(vec3((float)p[0], (float)p[1], (float)p[2]) - pose.position);
  EXPECT_NEAR(pose.fov, 2 * std::atan(camera_at(0)->autofov_size / distance) * 180 / M_PI, 0.5);
}

// Screenshots read a fake frame buffer and write through a fake PNG writer.
static std::vector<std::string> g_written;
static int fake_pixels(int w, int h, unsigned char *rgb) {
  for (int i = 0; i < w * h * 3; i++) rgb[i] = (unsigned char)i;
  return 1;
}
static int fake_png(const char *name, int, int, const unsigned char *) {
  g_written.push_back(name);
  return 1;
}

TEST_F(FrameSession, ScreenshotNumberingContinues) {
  std::string dir = home + "/Dirtvane";
  (void)system(("mkdir -p " + dir).c_str());
  for (const char *name : {"screenshot003.png", "screenshot007.ppm", "screenshotx.png"})
    std::ofstream(dir + "/" + name) << "x";
  datafile_reset_for_tests();
  screenshot_numbering_reset();
  FrameHooks hooks{};
  hooks.read_pixels = fake_pixels;
  hooks.write_png = fake_png;
  frame_set_hooks(&hooks);
  g_written.clear();
  message_log_clear();
  take_screenshot(4, 3);
  take_screenshot(4, 3);
  EXPECT_EQ(g_written, (std::vector<std::string>{"@screenshot008.png", "@screenshot009.png"}));
  EXPECT_STREQ(message_log()->lines[0], "Saved \"screenshot008.png\"");
}

TEST_F(FrameSession, LongMessageCutInTheRingLoggedWhole) {
  velk_log("\x13" "FLUSH");  // a running race holds the log back
  message_log_clear();
  std::string text = "start" + std::string(190, 'm') + "final";
  ASSERT_EQ(text.size(), 200u);
  show_message(text.c_str());
  EXPECT_EQ(std::string(message_log()->lines[0]), text.substr(0, MESSAGE_LINE_CHARS));
  std::ifstream in(log_path());
  std::stringstream all;
  all << in.rdbuf();
  EXPECT_NE(all.str().find(text + "\n"), std::string::npos);
}

TEST_F(FrameSession, ChaseCameraBehindAndOrbiting) {
  start(1);
  Bike *bike = local_bike();
  const Terrain *t = terrain_current();
  ChaseParams p{};
  p.centre = vec3(0, 2.52f, 0.52f);
  p.local = true;
  p.distance = 10;
  p.height = 5;
  // At rest the camera sits behind the bike along its axis (bikes face -z).
  CameraPose pose = chase_camera_pose(bike, &p, t, 70);
  dBodyID frame = bike->bodies[FRAME_BODY];
  dVector3 target;
  dBodyGetRelPointPos(frame, 0, 2.52, 0.52, target);
  const dReal *r = dBodyGetRotation(frame);
  Vec3 back = vec3_normalize(vec3((float)r[2], 0, (float)r[10]));
  Vec3 offset = pose.position - vec3((float)target[0], (float)target[1], (float)target[2]);
  EXPECT_NEAR(std::hypot(offset.x, offset.z), 10, 1e-3);
  EXPECT_NEAR((offset.x * back.x + offset.z * back.z), 10, 1e-2);
  EXPECT_GE(pose.position.y, (float)target[1] + 5 - 1e-3f);
  EXPECT_GE(pose.position.y, smoothed_ground_height(t, pose.position.x, pose.position.z, 10) + 5 - 1e-3f);
  // Fast: the camera follows the velocity, not the axis.
  dBodySetLinearVel(frame, 40, 0, 0);
  pose = chase_camera_pose(bike, &p, t, 70);
  offset = pose.position - vec3((float)target[0], (float)target[1], (float)target[2]);
  EXPECT_NEAR(offset.x, -10, 1e-3);
  p.rigid = true;  // unless it is rigid
  pose = chase_camera_pose(bike, &p, t, 70);
  offset = pose.position - vec3((float)target[0], (float)target[1], (float)target[2]);
  EXPECT_NEAR((offset.x * back.x + offset.z * back.z), 10, 1e-2);
  // Another racer is orbited at the angle.
  p.local = p.rigid = false;
  p.angle = (float)M_PI / 2;
  pose = chase_camera_pose(bike, &p, t, 70);
  offset = pose.position - vec3((float)target[0], (float)target[1], (float)target[2]);
  EXPECT_NEAR(offset.x, 10, 1e-3);
  EXPECT_NEAR(offset.z, 0, 1e-3);
  // It looks at the target.
  Vec3 look = vec3(-pose.rotation[2], -pose.rotation[5], -pose.rotation[8]);
  EXPECT_GT(vec3_dot(look, vec3_normalize(offset * -1.0f)), 0.999f);
}

TEST_F(FrameSession, ChaseOrbitKeysForAnotherRacer) {
  start(1);
  config()->spy = 1;
  session_clock()->viewed_slot = 1;
  frame_set_view_mode(VIEW_CHASE);
  CameraPose before;
  ASSERT_TRUE(frame_view_pose(&before));
  Events ev;
  ev.queue = {{key(config()->keys[LEFT_KEY].key_name), 1}};
  run_ticks(256, &ev);  // a quarter turn
  CameraPose after;
  ASSERT_TRUE(frame_view_pose(&after));
  const dReal *p = dBodyGetPosition(racer_at(1)->bike->bodies[FRAME_BODY]);
  Vec3 a = after.position - vec3((float)p[0], (float)p[1], (float)p[2]);
  EXPECT_NEAR(a.x, 10, 0.1) << "orbit angle pi/2: the camera sits at +x";
  EXPECT_NEAR(a.z, 0, 0.1);
}

TEST_F(FrameSession, FreeCameraFliesAndFollowModeSelectsTheGateCamera) {
  start(1);
  config()->spy = 1;
  session_clock()->viewed_slot = 1;
  frame_set_view_mode(VIEW_CAMERA);
  Events ev;
  ev.queue = {{key(config()->keys[THROTTLE_KEY].key_name), 1}};
  run_ticks(1, &ev);
  ViewCamera *fc = camera_view_free();
  Vec3 start_pos = fc->position;
  run_ticks(127);  // a second of throttle: +80 - 60 ft/s^2
  EXPECT_NEAR(fc->speed, 20, 0.01);
  ev.queue = {{key(config()->keys[THROTTLE_KEY].key_name), 0}};
  run_ticks(128, &ev);
  EXPECT_NEAR(fc->speed, 0, 0.01) << "the free camera coasts to a stop";
  EXPECT_NEAR(vec3_length(fc->position - start_pos), 10 + 10.0 / 3, 0.3);
  EXPECT_GE(fc->position.y,
            smoothed_ground_height(terrain_current(), fc->position.x, fc->position.z, 10) + 2 - 1e-3f);
  // A dab press turns follow mode on: the camera of the racer's next gate is selected.
  ev.queue = {{key(config()->keys[DAB_KEY].key_name), 1}};
  run_ticks(1, &ev);
  EXPECT_TRUE(camera_view_follow());
  int gate = gate_of_crossing(racer_at(1)->bike->timing->next_gate);
  EXPECT_EQ(frame_selected_camera(), gate_camera(gate));
}

TEST_F(FrameSession, SettlingLiftsBuriedBikes) {
  start(1);
  for (int slot = 0; slot < 2; slot++) translate_racer(racer_at(slot)->bike, 0, -1.5f, 0);
  settle_bikes();
  for (int slot = 0; slot < 2; slot++) {
    SCOPED_TRACE(slot);
    Bike *b = racer_at(slot)->bike;
    Vec3 point, normal;
    float depth = 0;
    EXPECT_FALSE(wheel_ground_probe(terrain_current(), &b->front, &point, &normal, &depth) &&
                 depth > 0.125f);
    const dReal *p = dBodyGetPosition(b->bodies[FRONT_WHEEL_BODY]);
    float ground = terrain_height(terrain_current(), (float)p[0], (float)p[2]);
    EXPECT_LT((float)p[1] - ground, 3.0f) << "not left in the air";
  }
}

TEST_F(FrameSession, TabCyclesTheViews) {
  start(1);
  const int tab = key("tab");
  struct Case {
    bool editor;
    int from, want;
  } cases[] = {
      {false, VIEW_RIDER, VIEW_CHASE},  {false, VIEW_CHASE, VIEW_CAMERA},
      {false, VIEW_CAMERA, VIEW_RIDER}, {true, VIEW_RIDER, VIEW_EDITOR},
      {true, VIEW_EDITOR, VIEW_CHASE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << (c.editor ? " with the editor" : ""));
    FrameOptions options{};
    options.editor_allowed = c.editor;
    frame_loop_init(&options, 0);
    frame_set_view_mode(c.from);
    Events ev;
    ev.press(tab);  // the release does not move on again
    run_ticks(1, &ev);
    EXPECT_EQ(frame_view_mode(), c.want);
  }
  // Leaving the editor settles the bikes: one sunk into edited ground comes back up.
  translate_racer(local_bike(), 0, -1.5f, 0);
  frame_set_view_mode(VIEW_EDITOR);
  Events ev;
  ev.press(tab);
  run_ticks(1, &ev);
  const dReal *p = dBodyGetPosition(local_bike()->bodies[FRONT_WHEEL_BODY]);
  EXPECT_GT((float)p[1], terrain_height(terrain_current(), (float)p[0], (float)p[2]));
}

TEST_F(FrameSession, FreeCameraWithoutARacerStartsAboveTheField) {
  frame_loop_init(nullptr, 0);
  ASSERT_TRUE(track_load());
  const Terrain *t = terrain_current();
  float ch[CHANNEL_COUNT] = {0};
  camera_view_tick(ch, nullptr, t);
  Vec3 p = camera_view_free()->position;
  EXPECT_NEAR(p.x, t->extent / 2, 1e-3);
  EXPECT_GT(p.y, terrain_height(t, p.x, p.z) + 10);
  CameraPose pose = view_camera_pose(camera_view_active());
  EXPECT_NEAR(pose.rotation[8], 1, 1e-5) << "looking north (-z)";
}

TEST_F(FrameSession, DemoRacersArePosedFromTheirHistory) {
  // Record a human ride in which the bike is carried sideways, then play it back.
  int lineup[MAX_RACERS] = {LINEUP_HUMAN};
  ASSERT_EQ(start_session(lineup, 0, 1, 0, 3, 1), 1);
  for (int i = 0; i < 256; i++) {
    translate_racer(local_bike(), 0.05f, 0, 0);
    run_tick();
  }
  Vec3 recorded_start{}, recorded_end{};
  session_end();  // finishes the recording
  int empty[MAX_RACERS] = {};
  demo_choose_file("@demos/default.dvdemo");
  ASSERT_EQ(start_session(empty, 1, 0, 0, 3, 1), 1);
  ASSERT_NE(racer_at(0)->bike, nullptr);
  EXPECT_EQ(racer_at(0)->kind, RACER_REMOTE);
  const dReal *p = dBodyGetPosition(racer_at(0)->bike->bodies[FRAME_BODY]);
  run_tick();
  recorded_start = vec3((float)p[0], (float)p[1], (float)p[2]);
  for (int i = 0; i < 200; i++) run_tick();
  recorded_end = vec3((float)p[0], (float)p[1], (float)p[2]);
  EXPECT_NEAR(recorded_end.x - recorded_start.x, 200 * 0.05f, 1.0f);
  demo_choose_file(nullptr);
}
