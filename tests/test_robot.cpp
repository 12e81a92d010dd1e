// Auto pilot: personalities, cost types, picking lines into the route, target advance,
// recovery, the start and the slow-down after the finish.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "platform/velk.h"
#include "race/race.h"
#include "robot/robot.h"
#include "tests/test_support.h"
#include "track/track.h"

namespace {

::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new test_support::LoggedEnvironment("robot"));
using test_support::log_text;

const TimingGate GATES[3] = {
    {0, 0, -200, 0, 0, -1, 10}, {200, 0, -200, 1, 0, 0, 10}, {200, 0, 0, 0, 0, 1, 10}};

// A track with three gates (F = N = 3), robots in slots 0 and 1 at the origin facing -z.
class Robot : public ::testing::Test {
 protected:
  void SetUp() override {
    robot_reset();
    racer_table_reset();
    results_reset();
    physics_world_create();
    robot_set_options(1, 0);
    const int order[3] = {0, 1, 2};
    ASSERT_TRUE(set_timing_gates(GATES, 3, order, 3, order, 3));
    allocate_lines(6);
    *session_clock() = SessionClock{};
    session_clock()->gate_lead = GATE_DROP_LEAD;
    session_clock()->start_tick = 1700;
    for (int slot = 0; slot < 2; slot++) {
      Racer *r = racer_at(slot);
      r->kind = RACER_ROBOT;
      r->bike = build_racer("crf450(2008)", slot, "20", nullptr, nullptr, nullptr, nullptr);
      racer_timing_clear(r->bike->timing);
      const dReal *f = dBodyGetPosition(r->bike->bodies[FRAME_BODY]);
      translate_racer(r->bike, -(float)f[0], 0, -(float)f[2]);  // frame over the origin
      set_personality(r, slot, "corvel");
      auto_pilot_reset(r, slot);
    }
  }
  void TearDown() override {
    racer_table_reset();
    results_reset();
    physics_world_destroy();
    clear_timing_gates();
    robot_reset();
  }
  Bike *bike(int slot = 0) { return racer_at(slot)->bike; }
  float frame_y() { return (float)dBodyGetPosition(bike()->bodies[FRAME_BODY])[1]; }

  // A straight line of n points ahead of the origin (-z), 10 ft apart.
  std::vector<LinePoint> straight(int n, float x = 0, float from = -5, float speed = 30) {
    std::vector<LinePoint> p;
    for (int i = 0; i < n; i++)
      p.push_back(LinePoint{x, frame_y(), from - 10.0f * i, speed, 0});
    return p;
  }
};

TEST_F(Robot, PersonalityNamesAreExact) {
  struct Case {
    const char *name;
    int index;
    bool logged;
  } cases[] = {{"corvel", 1, false}, {"torvik", 2, false}, {"halden", 3, false},
               {"tester", 4, false}, {"Tester", 1, true},  {"empty", 1, true},
               {"", 1, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    size_t before = log_text().size();
    set_personality(racer_at(0), 0, c.name);
    EXPECT_EQ(racer_personality(0), c.index);
    std::string message = "auto pilot personality '" + std::string(c.name) + "' not found";
    EXPECT_EQ(log_text().find(message, before) != std::string::npos, c.logged);
  }
  const Personality *p = personality_at(2);
  EXPECT_STREQ(p->name, "torvik");
  EXPECT_EQ(p->near_type, 2);
  EXPECT_EQ(p->far_type, 1);
  EXPECT_EQ(personality_at(5), nullptr);
}

// Slot 0 crosses gates 0..2 first; slot 1 follows `gap` seconds behind at its last gate.
void lead_by(float gap) {
  RacerTiming *a = racer_timing(0), *b = racer_timing(1);
  racer_timing_clear(a);
  racer_timing_clear(b);
  for (int c = 0; c < 3; c++) store_crossing(a, c, 2000 + c * 500);
  store_crossing(b, 0, 2000 + (int)std::lround(gap * 128));
  store_crossing(b, 1, 2500 + (int)std::lround(gap * 128));
  update_results();
}

TEST_F(Robot, TorvikRidesTheFarTypeOnlyWithALeadAboveItsGap) {
  set_personality(racer_at(0), 0, "torvik");
  struct Case {
    float gap;
    int type;
  } cases[] = {{12, 1}, {10, 2}, {3, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.gap);
    lead_by(c.gap);
    EXPECT_NEAR(leader_gap(0), c.gap, 1e-3);
    EXPECT_EQ(pick_cost_type(0), c.type);
  }
  // The second racer never leads; corvel's far type is its near type.
  EXPECT_EQ(leader_gap(1), 0);
  set_personality(racer_at(0), 0, "corvel");
  lead_by(12);
  EXPECT_EQ(pick_cost_type(0), 0);
}

TEST_F(Robot, PlanBonusGrowsFromFortyToSixtySeconds) {
  struct Case {
    float t, share;
  } cases[] = {{0, 0}, {40, 0}, {50, 0.5f}, {55, 0.75f}, {60, 1}, {300, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_FLOAT_EQ(plan_bonus_share(c.t), c.share);
  }
}

// Three lines of section 1 from the same place; the practice personality ("tester") picks
// with the exploration cost and so takes the least-run line.
TEST_F(Robot, PracticeExploresTheLeastRunLines) {
  set_personality(racer_at(0), 0, "tester");
  EXPECT_EQ(pick_cost_type(0), 3);
  // First points 5 ft from the bike, ends 4 ft apart: they match alike and are marked
  // picked apart.
  const float x[3] = {-4, 0, 4}, z[3] = {-3, -5, -3};
  const int runs[3] = {40, 1, 3};
  int ids[3];
  for (int i = 0; i < 3; i++) {
    std::vector<LinePoint> p = straight(12, x[i], z[i]);
    ids[i] = line_set(1, i, p.data(), (int)p.size(), 300, 600);
    line_slots(1)[i].runs = runs[i];
    line_slots(1)[i].total_time1 = runs[i] * 300;
  }
  session_clock()->tick = 20000;
  set_robot_route(0, nullptr, 0, 0, 0);
  // Every line matches alike: the exploration quality decides (costs 10000, 5000, 6000).
  auto pick = [&]() {
    set_robot_route(0, nullptr, 0, 0, 0);
    set_riding_line(0, 1, 0);
    set_robot_next_section(0, 1);
    EXPECT_TRUE(pick_line(0));
    return riding_line(0, 1);
  };
  EXPECT_EQ(pick(), ids[1]);
  // The picked line is fresh for three seconds: the next least-run line comes next.
  EXPECT_EQ(pick(), ids[2]);
  session_clock()->tick += 3 * 128;
  EXPECT_EQ(pick(), ids[1]);
  EXPECT_NE(log_text().find("auto pilot: picking 1 score = "), std::string::npos);
}

TEST_F(Robot, FirstPickBuildsTheRouteAndSetsTheTarget) {
  std::vector<LinePoint> p = straight(12);
  int id = line_set(0, 0, p.data(), (int)p.size(), 300, 600);
  session_clock()->tick = 100;
  ASSERT_TRUE(pick_line(0));
  EXPECT_EQ(riding_line(0, 0), id);
  int n = 0;
  const LinePoint *route = robot_route(0, &n);
  ASSERT_EQ(n, 5 + 12);
  // Five copies of the first point (the last ones bent into the line), then the line.
  EXPECT_FLOAT_EQ(route[0].z, p[0].z);
  EXPECT_FLOAT_EQ(route[16].z, p[11].z);
  // The target is the first point more than 10 ft from point 0; the timers start at 30 s.
  int t = robot_target(0);
  EXPECT_GT(std::hypot(route[t].x - route[0].x, route[t].z - route[0].z), 10);
  EXPECT_LE(std::hypot(route[t - 1].x - route[0].x, route[t - 1].z - route[0].z), 10);
  EXPECT_EQ(robot_last_advance(0), 3840);
  // No second section line: nothing more is picked.
  EXPECT_FALSE(pick_line(0));
}

TEST_F(Robot, TargetAdvancesWithinSixtyFeetAndRecoveryAfterThreeSeconds) {
  struct Case {
    float distance;  // ft from the bike to the target point
    bool advances;
  } cases[] = {{50, true}, {70, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.distance);
    auto_pilot_reset(racer_at(0), 0);
    std::vector<LinePoint> p = straight(40, 0, -c.distance);
    int start = 10000;
    session_clock()->tick = start;
    set_robot_route(0, p.data(), (int)p.size(), 0, start);
    auto_pilot_tick(racer_at(0), 0);
    EXPECT_EQ(robot_target(0) > 0, c.advances);
    if (c.advances) continue;
    for (int t = start + 1; t <= start + 384; t++) {
      session_clock()->tick = t;
      auto_pilot_tick(racer_at(0), 0);
    }
    EXPECT_EQ(robot_mode(0), 0);  // exactly 3 s: still following
    session_clock()->tick = start + 385;
    auto_pilot_tick(racer_at(0), 0);
    EXPECT_EQ(robot_mode(0), 3);
    EXPECT_EQ(robot_target(0), 0);
    // In mode 3 the target must come within 30 ft.
    session_clock()->tick = start + 386;
    auto_pilot_tick(racer_at(0), 0);
    EXPECT_EQ(robot_target(0), 0);
  }
}

// A bike that makes no headway in recovery (blocked by a bale, a berm or another bike)
// backs away for 2 s, turning toward its target, then rides again.
TEST_F(Robot, BlockedRobotBacksAwayTurningTowardItsTarget) {
  std::vector<LinePoint> p = straight(40, 40, -70);  // ahead and to the right, out of reach
  int start = 10000;
  session_clock()->tick = start;
  set_robot_route(0, p.data(), (int)p.size(), 0, start);
  int first_back_up = -1, back_up_ticks = 0, rode_after = 0;
  for (int t = start; t < start + 384 + 1024; t++) {
    session_clock()->tick = t;
    auto_pilot_tick(racer_at(0), 0);
    if (bike()->controls.back_up > 0) {
      if (first_back_up < 0) first_back_up = t;
      back_up_ticks++;
      EXPECT_GT(bike()->controls.steer, 0) << t;
      EXPECT_FLOAT_EQ(bike()->controls.throttle, 0);
    } else if (first_back_up >= 0 && bike()->controls.throttle > 0) {
      rode_after++;
    }
  }
  // Recovery starts after 3 s; the bike had stood still all along, so it backs away at once.
  EXPECT_EQ(first_back_up, start + 386);
  EXPECT_GE(back_up_ticks, 256);
  EXPECT_GT(rode_after, 0);
  EXPECT_EQ(robot_mode(0), 3);
}

// After 40 s without progress the target jumps further on along the route, never back.
TEST_F(Robot, TargetJumpAfterFortySecondsGoesForward) {
  for (int t : {16000, 16001, 16003, 16040, 16039}) {
    SCOPED_TRACE(t);
    auto_pilot_reset(racer_at(0), 0);
    std::vector<LinePoint> p = straight(40, 0, -200);
    set_robot_route(0, p.data(), (int)p.size(), 5, t - 40 * 128 - 2);
    session_clock()->tick = t;
    auto_pilot_tick(racer_at(0), 0);  // no progress for 3 s: recovery
    EXPECT_EQ(robot_mode(0), 3);
    session_clock()->tick = t + 1;
    auto_pilot_tick(racer_at(0), 0);
    EXPECT_GT(robot_target(0), 5);
    EXPECT_LT(robot_target(0), 40);
    EXPECT_EQ(robot_last_advance(0), t + 1);
  }
}

TEST_F(Robot, TargetWaitsWhileTheBikeFacesAwayAndTheRouteEmptiesAtItsEnd) {
  // A route running +z (behind the bike, which faces -z): the target 20 ft off holds.
  std::vector<LinePoint> p;
  for (int i = 0; i < 3; i++) p.push_back(LinePoint{0, frame_y(), 10.0f + 10 * i, 30, 0});
  session_clock()->tick = 10000;
  set_robot_route(0, p.data(), 3, 1, 10000);
  auto_pilot_tick(racer_at(0), 0);
  EXPECT_EQ(robot_target(0), 1);
  // Ahead: the targets move on one per tick and the route is emptied after the last.
  p = straight(3);
  set_robot_route(0, p.data(), 3, 0, 10000);
  for (int i = 0; i < 3; i++) auto_pilot_tick(racer_at(0), 0);
  int n = -1;
  robot_route(0, &n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(robot_target(0), 0);
  // Without a route the robot stands on its brakes.
  auto_pilot_tick(racer_at(0), 0);
  EXPECT_FLOAT_EQ(bike()->controls.front_brake, 1);
  EXPECT_FLOAT_EQ(bike()->controls.rear_brake, 1);
  EXPECT_FLOAT_EQ(bike()->controls.throttle, 0);
}

TEST_F(Robot, StartHoldsTheBikeThenLaunchesAfterTheReaction) {
  std::vector<LinePoint> p = straight(40);
  line_set(0, 0, p.data(), (int)p.size(), 300, 600);
  const SessionClock *c = session_clock();
  bool held_before_drop = true, launched = false, shifted_auto = false;
  for (int t = 0; t < c->start_tick + 640; t++) {
    session_clock()->tick = t;
    auto_pilot_tick(racer_at(0), 0);
    const Controls &k = bike()->controls;
    if (t < c->start_tick)
      held_before_drop &= k.front_brake == 1 && k.rear_brake == 1 && k.clutch == 0 && k.steer == 0;
    if (t > c->start_tick + 128 && k.clutch > 0.5f && k.front_brake == 0) launched = true;
    if (t > c->start_tick + 200) shifted_auto |= (bike()->setup_flags & SETUP_AUTO_SHIFT) != 0;
  }
  EXPECT_TRUE(held_before_drop);
  EXPECT_TRUE(launched);
  EXPECT_TRUE(shifted_auto);
  // The robot's assists are on.
  EXPECT_TRUE(bike()->setup_flags & SETUP_STOP_WHEELIES);
  EXPECT_TRUE(bike()->setup_flags & SETUP_FRONT_ANTILOCK);
  EXPECT_TRUE(bike()->setup_flags & SETUP_REAR_ANTILOCK);
}

TEST_F(Robot, FinishSlowsTheRestOfTheRoute) {
  std::vector<LinePoint> p = straight(21, 0, 5);  // the bike stands at point 0.5
  session_clock()->tick = 10000;
  set_robot_route(0, p.data(), 21, 10, 10000);
  bike()->timing->finished = 1;
  auto_pilot_tick(racer_at(0), 0);
  int n;
  const LinePoint *route = robot_route(0, &n);
  ASSERT_EQ(n, 21);
  EXPECT_FLOAT_EQ(route[0].speed, 30);
  EXPECT_NEAR(route[20].speed, 30 * 0.25f, 1e-4);
  EXPECT_NEAR(route[10].speed, 30 * (0.25f + 0.75f * 10 / 19.5f), 1e-3);
}

}  // namespace

namespace {

int g_steps = 0;
void counting_step(Bike *, int) { g_steps++; }

TEST(RobotHooks, InstallKeepsOtherHooksAndWrapsAPhysicsOverrideOnce) {
  SessionHooks h = {};
  h.physics_step = counting_step;
  set_session_hooks(&h);
  robot_install_hooks();
  robot_install_hooks();  // a second install must not wrap the wrapper
  const SessionHooks *now = session_hooks();
  EXPECT_EQ(now->learn_crossing, &learn_crossing);
  EXPECT_EQ(now->allocate_lines, &allocate_lines);
  EXPECT_EQ(now->auto_pilot_tick, &auto_pilot_tick);
  EXPECT_EQ(now->auto_pilot_reset, &auto_pilot_reset);
  EXPECT_EQ(now->lines_save, &lines_save);
  EXPECT_NE(now->lines_load, nullptr);
  EXPECT_NE(now->line_point, nullptr);
  ASSERT_NE(now->physics_step, nullptr);
  g_steps = 0;
  now->physics_step(nullptr, 0);
  EXPECT_EQ(g_steps, 1);
  set_session_hooks(nullptr);
}

}  // namespace
