// Race session: roster, shuffle, lineup codes, start grid, lap limits, race length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "bike/bike.h"
#include "files/config.h"
#include "files/files.h"
#include "race/race.h"
#include "race/race_local.h"
#include "terrain/terrain.h"
#include "track/track.h"
#include "tests/test_support.h"

namespace {

class OdeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { dInitODE2(0); }
  void TearDown() override { dCloseODE(); }
};
::testing::Environment *const ode_environment =
    ::testing::AddGlobalTestEnvironment(new OdeEnvironment);

TEST(Roster, EightyProfilesInRosterOrder) {
  std::set<std::string> numbers;
  for (int i = 0; i < ROBOT_ROSTER_SIZE; i++) {
    const RobotProfile *p = robot_profile(i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::to_string(20 + i), p->number);
    numbers.insert(p->number);
  }
  EXPECT_EQ(numbers.size(), 80u);
  EXPECT_EQ(robot_profile(80), nullptr);
  EXPECT_EQ(robot_profile(-1), nullptr);

  struct Case {
    int number;
    const char *personality, *model;
  } cases[] = {
      {20, "torvik", "kx125"},  {25, "torvik", "yz125"},  {39, "torvik", "rm125"},
      {40, "corvel", "crf250"}, {50, "corvel", "rmz250"}, {53, "corvel", "rmz250"},
      {54, "corvel", "yz250f"}, {58, "corvel", "yz250f"}, {59, "corvel", "yz250f_se(2006)"},
      {70, "torvik", "rmz250"}, {78, "torvik", "yz250f"}, {79, "torvik", "yz250f_se(2006)"},
      {80, "halden", "crf250"}, {90, "halden", "yz250f"}, {99, "halden", "rmz250"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.number);
    const RobotProfile *p = robot_profile(c.number - 20);
    EXPECT_STREQ(p->personality, c.personality);
    EXPECT_STREQ(p->model, c.model);
  }
  // Robots 80-99 wear full sets, alternating alt1 and alt2.
  for (int i = 60; i < 80; i++) {
    const RobotProfile *p = robot_profile(i);
    ASSERT_NE(p->rider_texture, nullptr);
    ASSERT_NE(p->wheel_texture, nullptr);
    const char *alt = i % 2 ? "alt2" : "alt1";
    EXPECT_NE(strstr(p->rider_texture, alt), nullptr) << p->rider_texture;
    EXPECT_NE(strstr(p->head_texture, alt), nullptr);
    EXPECT_NE(strstr(p->wheel_texture, alt), nullptr);
  }
}

TEST(Roster, ModelAliases) {
  EXPECT_STREQ(bike_model_alias("crf250"), "crf250(2008)");
  EXPECT_STREQ(bike_model_alias("kx250f"), "kx250f(2008)");
  EXPECT_STREQ(bike_model_alias("rmz250"), "rmz250(2008)");
  EXPECT_STREQ(bike_model_alias("yz250f"), "yz250f(2008)");
  EXPECT_STREQ(bike_model_alias("kx125"), "kx125");
  EXPECT_STREQ(bike_model_alias("yz250f_se(2006)"), "yz250f_se(2006)");
}

TEST(Roster, ShuffleIsAPermutationFixedByTheSeed) {
  int first[ROBOT_ROSTER_SIZE], again[ROBOT_ROSTER_SIZE];
  shuffle_robot_roster(1234);
  memcpy(first, robot_roster_order(), sizeof first);
  std::set<int> seen(first, first + ROBOT_ROSTER_SIZE);
  EXPECT_EQ(seen.size(), 80u);
  EXPECT_EQ(*seen.begin(), 0);
  EXPECT_EQ(*seen.rbegin(), 79);
  shuffle_robot_roster(1234);
  memcpy(again, robot_roster_order(), sizeof again);
  EXPECT_EQ(0, memcmp(first, again, sizeof first));
  shuffle_robot_roster(1235);
  EXPECT_NE(0, memcmp(first, robot_roster_order(), sizeof first));
}

TEST(RaceLength, Text) {
  struct Case {
    int32_t duration;
    int laps;
    const char *text;
  } cases[] = {
      {10 * 60 * 128, 2, "10 minutes + 2 laps"},
      {10 * 60 * 128, 0, "10 minutes"},
      {0, 5, "5 laps"},
      {90 * 128, 1, "2 minutes + 1 laps"},  // 1.5 minutes rounds to the nearest
      {89 * 128, 0, "1 minutes"},
  };
  for (const Case &c : cases) {
    char out[64];
    race_length_text(out, sizeof out, c.duration, c.laps);
    EXPECT_STREQ(out, c.text);
  }
}

TEST(WorkingSet, Range) {
  const uint64_t mib = 1024 * 1024;
  uint64_t lo = 0, hi = 0;
  EXPECT_EQ(working_set_range(63 * mib, &lo, &hi), 0);
  ASSERT_EQ(working_set_range(512 * mib, &lo, &hi), 1);
  EXPECT_EQ(hi, 480 * mib);
  EXPECT_EQ(lo, 480 * mib);
  ASSERT_EQ(working_set_range(16384 * mib, &lo, &hi), 1);
  EXPECT_EQ(hi, 2016 * mib);
  EXPECT_EQ(lo, 1024 * mib);
  adjust_working_set();  // logs and never fails hard
}

// ---------------------------------------------------------------------------------------
// Sessions on the starter track
// ---------------------------------------------------------------------------------------
class Session : public ::testing::Test {
 protected:
  static std::string home;
  static void SetUpTestSuite() {
    home = test_support::use_test_home("race");
    config_reset_defaults();
    physics_world_create();
    racer_table_reset();
    set_session_hooks(nullptr);
  }
  static void TearDownTestSuite() {
    session_end();
    track_unload();
    track_reset();
    physics_world_destroy();
    std::string cmd = "rm -rf " + home;
    (void)system(cmd.c_str());
  }
  void SetUp() override {
    *session_options() = SessionOptions{};
    session_clock()->tick = 0;
    track_select("rabbithill", nullptr);
  }
  void TearDown() override { session_end(); }

  static int start(const int *lineup, int32_t duration = 0, int laps = 3) {
    return start_session(lineup, 0, 0, duration, laps, 1);
  }
};
std::string Session::home;

TEST_F(Session, TwoHumansBecomeOneInTheFirst) {
  int lineup[MAX_RACERS] = {};
  lineup[2] = LINEUP_HUMAN;
  lineup[4] = LINEUP_HUMAN;
  lineup[5] = LINEUP_ROBOT;
  ASSERT_EQ(start(lineup), 1);
  EXPECT_EQ(racer_at(2)->kind, RACER_HUMAN);
  EXPECT_NE(racer_at(2)->bike, nullptr);
  EXPECT_EQ(racer_at(4)->bike, nullptr);
  EXPECT_EQ(racer_at(4)->kind, RACER_REMOTE);
  EXPECT_EQ(racer_at(5)->kind, RACER_ROBOT);
  EXPECT_STREQ(racer_at(5)->name, "Dirovazov");
  EXPECT_EQ(session_clock()->viewed_slot, 2);
  EXPECT_EQ(racer_count(), 6);
}

TEST_F(Session, AllZeroLineupGetsOneRobot) {
  int lineup[MAX_RACERS] = {};
  ASSERT_EQ(start(lineup), 1);
  EXPECT_EQ(racer_at(0)->kind, RACER_ROBOT);
  EXPECT_NE(racer_at(0)->bike, nullptr);
  EXPECT_EQ(racer_count(), 1);
  for (int i = 1; i < MAX_RACERS; i++) EXPECT_EQ(racer_at(i)->bike, nullptr);
}

TEST_F(Session, LapLimitHalfwayAndGateDrop) {
  struct Case {
    int laps, halfway;
  } cases[] = {{5, 3}, {10, 5}, {1, 1}};
  int lineup[MAX_RACERS] = {LINEUP_ROBOT};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.laps);
    ASSERT_EQ(start(lineup, 0, c.laps), 1);
    EXPECT_EQ(session_clock()->lap_limit, c.laps);
    EXPECT_EQ(session_clock()->halfway_lap, c.halfway);
    EXPECT_GE(session_clock()->start_tick, 13 * 128);
    EXPECT_LE(session_clock()->start_tick, 15 * 128);
    EXPECT_EQ(session_clock()->tick, 0);
  }
  ASSERT_EQ(start(lineup, 10 * 60 * 128, 2), 1);
  EXPECT_EQ(session_clock()->lap_limit, NO_LAP_LIMIT);
  EXPECT_EQ(session_clock()->halfway_lap, NO_LAP_LIMIT);
  EXPECT_EQ(session_clock()->duration, 10 * 60 * 128);
}

TEST_F(Session, SameTickSameShuffle) {
  int lineup[MAX_RACERS] = {LINEUP_ROBOT_NUMBER + 42, LINEUP_ROBOT, LINEUP_ROBOT,
                            LINEUP_ROBOT_125, LINEUP_ROBOT_250, LINEUP_ROBOT};
  ASSERT_EQ(start(lineup), 1);
  std::string first;
  for (int i = 0; i < 6; i++) first += std::string(racer_at(i)->number) + " ";
  ASSERT_EQ(start(lineup), 1);
  std::string second;
  for (int i = 0; i < 6; i++) second += std::string(racer_at(i)->number) + " ";
  EXPECT_EQ(first, second);
  EXPECT_NE(strstr(racer_at(3)->model, "125"), nullptr);
  EXPECT_NE(strstr(racer_at(4)->model, "250"), nullptr);
  EXPECT_STREQ(racer_at(0)->number, "42");
  std::set<std::string> numbers;
  for (int i = 0; i < 6; i++) numbers.insert(racer_at(i)->number);
  EXPECT_EQ(numbers.size(), 6u) << "a robot rides only once";

  session_clock()->tick = 99;  // a later start shuffles differently
  ASSERT_EQ(start(lineup), 1);
  std::string third;
  for (int i = 0; i < 6; i++) third += std::string(racer_at(i)->number) + " ";
  EXPECT_NE(first, third);
}

TEST_F(Session, PracticePersonality) {
  int lineup[MAX_RACERS] = {LINEUP_ROBOT, LINEUP_ROBOT_NUMBER + 85, LINEUP_ROBOT_NUMBER + 45};
  ASSERT_EQ(start(lineup), 1);
  EXPECT_STREQ(racer_at(1)->personality, "halden");
  EXPECT_STREQ(racer_at(2)->personality, "corvel");
  session_options()->practice = 1;
  ASSERT_EQ(start(lineup), 1);
  for (int i = 0; i < 3; i++) EXPECT_STREQ(racer_at(i)->personality, "tester");
}

TEST_F(Session, BikesStandBehindTheGatePieces) {
  int lineup[MAX_RACERS] = {};
  int pieces = 0;
  ASSERT_EQ(start(lineup), 1);
  pieces = start_gate_count();
  ASSERT_GT(pieces, 1);
  for (int i = 0; i <= pieces; i++) lineup[i] = LINEUP_ROBOT;
  ASSERT_EQ(start(lineup), 1);
  const StartGatePiece *p0 = start_gate_piece(0);
  for (int slot : {0, pieces}) {
    SCOPED_TRACE(slot);
    float x, z;
    float yaw = start_position(slot, &x, &z);
    EXPECT_FLOAT_EQ(yaw, p0->angle);
    float back = (slot / pieces + 0.0625f) * 10;
    EXPECT_NEAR(x, p0->x + std::sin(p0->angle) * back, 1e-3);
    EXPECT_NEAR(z, p0->z + std::cos(p0->angle) * back, 1e-3);
    const dReal *frame = dBodyGetPosition(racer_at(slot)->bike->bodies[FRAME_BODY]);
    EXPECT_NEAR(frame[0], x, 3.0);
    EXPECT_NEAR(frame[2], z, 6.0);
    float ground = terrain_height(terrain_current(), x, z);
    EXPECT_GT(frame[1], ground);
    EXPECT_LT(frame[1], ground + 6);
  }
  // Every gate piece is up.
  for (int i = 0; i < pieces; i++) EXPECT_FLOAT_EQ(start_gate_piece(i)->drop_angle, 1.0f);
}

TEST_F(Session, TimeTrialStartsLateWithOnlyTheHuman) {
  ASSERT_EQ(start_session(nullptr, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(session_clock()->time_trial, 1);
  EXPECT_GE(session_clock()->tick, TIME_TRIAL_START_TICK);
  EXPECT_EQ(racer_at(0)->kind, RACER_HUMAN);
  EXPECT_EQ(racer_count(), 1);
  if (track_has_timing()) {
    int f = first_lap_gates();
    EXPECT_EQ(racer_timing(0)->next_gate, f < 2 ? 0 : f - 2);
  }
}

// A completed time-trial lap becomes the last and the best lap; a slower one only the last;
// a lap with a skipped gate is not timed. Each lap restarts from the start/finish line.
TEST_F(Session, TimeTrialLapJudging) {
  ASSERT_EQ(start_session(nullptr, 0, 0, 0, 0, 0), 1);
  ASSERT_TRUE(track_has_timing());
  int f = first_lap_gates(), n = normal_lap_gates();
  RacerTiming *t = racer_timing(0);
  struct Lap {
    int32_t ticks;
    int skip;
    int32_t last, best;
  } laps[] = {{5000, 0, 5000, 5000}, {6000, 0, 6000, 5000}, {4000, 1, 6000, 5000},
              {4500, 0, 4500, 4500}};
  for (const Lap &lap : laps) {
    SCOPED_TRACE(lap.ticks);
    int32_t start = session_clock()->tick;
    truncate_crossings(t, f - 1);
    store_crossing(t, f - 1, start);
    for (int i = 0; i < n; i++)
      if (!(lap.skip && i == 2)) store_crossing(t, f + i, start + lap.ticks * (i + 1) / n);
    session_clock()->tick = start + lap.ticks;
    time_trial_lap_completed();
    EXPECT_EQ(session_clock()->last_lap, lap.last);
    EXPECT_EQ(session_clock()->best_lap, lap.best);
    EXPECT_LE(t->next_gate, f);  // the next lap starts at the line
    EXPECT_GE(t->next_gate, f - 1);
  }
  if (f >= 3) store_crossing(t, 0, 12345);
  restart_time_trial_lap();
  EXPECT_EQ(t->next_gate, f < 2 ? 0 : f - 2);
  if (f >= 3) {
    EXPECT_EQ(crossing_tick(t, 0), 12345) << "crossings before the restart stay";
  }
  EXPECT_EQ(session_clock()->last_lap, 0);
}

// The gate stays up until the start tick, then falls by 8 tick lengths per tick; the
// pieces' statues tilt with it about their own x axis.
TEST_F(Session, StartingGateDrops) {
  int lineup[MAX_RACERS] = {LINEUP_ROBOT};
  ASSERT_EQ(start(lineup), 1);
  ASSERT_GT(start_gate_count(), 0);
  const StartGatePiece *p = start_gate_piece(0);
  ASSERT_GE(p->statue, 0);
  const Statue *st = statue_at(p->statue);
  int32_t start_tick = session_clock()->start_tick;
  while (session_clock()->tick < start_tick) run_tick();
  EXPECT_FLOAT_EQ(p->drop_angle, 1.0f);
  float base[9];
  object_orientation(base, st->x, st->z, st->heading);
  EXPECT_NEAR(st->orientation[0], base[0], 1e-6);  // the x axis stays
  EXPECT_GT(std::fabs(st->orientation[4] - base[4]), 0.1f);  // the y axis is tilted
  for (int i = 0; i < 8; i++) run_tick();
  EXPECT_NEAR(p->drop_angle, 1 - 7 * 8 / 128.0f, 1e-5);
  for (int i = 0; i < 20; i++) run_tick();
  EXPECT_FLOAT_EQ(p->drop_angle, 0.0f);
  for (int k = 0; k < 9; k++) EXPECT_NEAR(st->orientation[k], base[k], 1e-5) << k;
}

TEST_F(Session, UnknownTrackLeavesNoSession) {
  track_select("no_such_track", nullptr);
  int lineup[MAX_RACERS] = {LINEUP_ROBOT};
  EXPECT_EQ(start(lineup), 0);
  EXPECT_EQ(session_active(), 0);
}

}  // namespace

// Five gate pieces: the sixth racer stands one row (10 ft) behind the first piece.
TEST(StartGrid, SixthRacerOneRowBehind) {
  const char *text =
      "startinggate:\n"
      "[100 0 200] 0.5\n[105 0 200] 0.5\n[110 0 200] 0.5\n[115 0 200] 0.5\n[120 0 200] 0.5\n"
      "checkpoints:\n4 [100 0 100] [0 0 -1]\n4 [100 0 50] [0 0 -1]\n"
      "firstlap:\n0 1\nnormallap:\n0 1\n";
  parse_timing_gates(text, strlen(text));
  ASSERT_EQ(start_gate_count(), 5);
  float x0, z0, x5, z5;
  start_position(0, &x0, &z0);
  float yaw = start_position(5, &x5, &z5);
  EXPECT_FLOAT_EQ(yaw, 0.5f);
  EXPECT_NEAR(std::hypot(x5 - x0, z5 - z0), 10.0, 1e-3);
  EXPECT_NEAR(x0, 100 + std::sin(0.5) * 0.625, 1e-4);
  EXPECT_NEAR(z5, 200 + std::cos(0.5) * 10.625, 1e-4);
  float x6, z6;
  start_position(6, &x6, &z6);
  EXPECT_NEAR(x6 - x5, 5.0, 1e-4);  // the second piece, second row
  clear_timing_gates();
  track_reset();
}
