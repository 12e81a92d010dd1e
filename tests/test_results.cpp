// Results: running order, timed-race rules, official result with cutting penalties and
// the results.txt text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "files/files.h"
#include "race/race.h"
#include "track/track.h"

namespace {

class OdeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { dInitODE2(0); }
  void TearDown() override { dCloseODE(); }
};
::testing::Environment *const ode_environment =
    ::testing::AddGlobalTestEnvironment(new OdeEnvironment);

// Four gates in a square; every lap (the first too) takes all four: F = N = 4.
void four_gate_track() {
  TimingGate gates[4] = {{0, 0, 0, 0, 0, -1, 5}, {0, 0, -50, -1, 0, 0, 5},
                         {-50, 0, -50, 0, 0, 1, 5}, {-50, 0, 0, 1, 0, 0, 5}};
  int lap[4] = {0, 1, 2, 3};
  ASSERT_EQ(set_timing_gates(gates, 4, lap, 4, lap, 4), 1);
}

void fill(RacerTiming *t, const std::vector<int32_t> &ticks) {
  for (size_t i = 0; i < ticks.size(); i++)
    if (ticks[i] >= 0) store_crossing(t, (int)i, ticks[i]);
  t->next_gate = (int)ticks.size();
}

TEST(RunningOrder, OrderingRules) {
  RunningOrder e[] = {
      {3, 5, 900, 0, 0}, {1, 6, 1200, 0, 0}, {2, 5, 800, 0, 0},
      {0, 5, 900, 0, 0}, {4, 0, 0, 0, 0},    {5, 6, 1200, 0, 0},
  };
  sort_running_order(e, 6);
  int expected[] = {1, 5, 2, 0, 3, 4};  // more crossings, then earlier, then lower slot
  for (int i = 0; i < 6; i++) EXPECT_EQ(e[i].slot, expected[i]) << i;
}

// The race of 10 minutes + 2 laps whose leader completes lap 7 at 9:50 and lap 8 at 11:05
// ends after lap 10.
TEST(TimedRace, TenMinutesAndTwoLaps) {
  four_gate_track();
  std::vector<int32_t> ends = {0};  // lap v ends at crossing 4v - 1
  for (int v = 1; v <= 6; v++) ends.push_back((int32_t)(v * 84.0 * 128));
  ends.push_back(590 * 128);
  ends.push_back(665 * 128);
  std::vector<int32_t> ticks;
  for (int v = 1; v <= 8; v++)
    for (int k = 1; k <= 4; k++) ticks.push_back(ends[v - 1] + (ends[v] - ends[v - 1]) * k / 4);
  RacerTiming leader, other;
  racer_timing_init(&leader);
  racer_timing_init(&other);
  fill(&other, std::vector<int32_t>(ticks.begin(), ticks.begin() + 20));
  const RacerTiming *order[2] = {&leader, &other};

  SessionClock c = {};
  c.duration = 600 * 128;
  c.extra_laps = 2;
  c.lap_limit = NO_LAP_LIMIT;
  c.halfway_lap = NO_LAP_LIMIT;

  // Halfway through the time the leader has 3 laps: the signal is at lap 4.
  fill(&leader, std::vector<int32_t>(ticks.begin(), ticks.begin() + 12));
  c.tick = 300 * 128;
  apply_timed_race_rules(&c, order, 2);
  EXPECT_EQ(c.halfway_lap, 4);
  EXPECT_EQ(c.lap_limit, NO_LAP_LIMIT);

  // Time is up after lap 7: nobody has completed a lap since, the limit stays open.
  fill(&leader, std::vector<int32_t>(ticks.begin(), ticks.begin() + 28));
  c.tick = 600 * 128 + 5;
  apply_timed_race_rules(&c, order, 2);
  EXPECT_EQ(c.lap_limit, NO_LAP_LIMIT);
  EXPECT_EQ(c.halfway_lap, 4);

  // Lap 8 at 11:05 is the first lap completed after the time: two more laps.
  fill(&leader, ticks);
  c.tick = 665 * 128;
  apply_timed_race_rules(&c, order, 2);
  EXPECT_EQ(c.lap_limit, 10);
  c.tick += 100;
  apply_timed_race_rules(&c, order, 2);
  EXPECT_EQ(c.lap_limit, 10);

  racer_timing_free(&leader);
  racer_timing_free(&other);
  clear_timing_gates();
}

// ---------------------------------------------------------------------------------------
// Official results with racers in the table
// ---------------------------------------------------------------------------------------
class Results : public ::testing::Test {
 protected:
  std::string home;
  void SetUp() override {
    home = std::string("/tmp/dv_test_results_") + std::to_string(getpid());
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    datafile_reset_for_tests();
    physics_world_create();
    racer_table_reset();
    results_reset();
    four_gate_track();
    SessionClock *c = session_clock();
    *c = SessionClock{};
    c->start_tick = 1000;
    c->extra_laps = 3;
    c->lap_limit = 3;
    c->halfway_lap = 2;
  }
  void TearDown() override {
    session_end();
    clear_timing_gates();
    physics_world_destroy();
    std::string cmd = "rm -rf " + home;
    (void)system(cmd.c_str());
  }
  Racer *add(int slot, const char *number, const std::vector<int32_t> &ticks, int finished) {
    Racer *r = racer_at(slot);
    r->kind = RACER_ROBOT;
    snprintf(r->number, sizeof r->number, "%s", number);
    r->bike = build_racer("kx125", slot, number, nullptr, nullptr, nullptr, nullptr);
    fill(r->bike->timing, ticks);
    r->bike->timing->finished = finished;
    return r;
  }
  bool results_file_exists() {
    std::string path = home + "/Dirtvane/results.txt";
    FILE *f = fopen(path.c_str(), "rb");
    if (f) fclose(f);
    return f != nullptr;
  }
};

// Crossing i of the clean rider at start + 250 (i + 1).
std::vector<int32_t> clean_ride() {
  std::vector<int32_t> t;
  for (int i = 0; i < 12; i++) t.push_back(1000 + 250 * (i + 1));
  return t;
}
// First on the road, but gate 5 and gate 9 skipped: each cut saves 400 ticks.
std::vector<int32_t> cutting_ride() {
  return {1250, 1500, 1750, 2000, 2250, -1, 2350, 2600, 2850, -1, 2950, 3200};
}

TEST_F(Results, NoResultsBeforeEveryoneFinished) {
  add(0, "1", clean_ride(), 1);
  add(1, "2", {1250, 1500}, 0);
  update_results();
  EXPECT_EQ(session_clock()->results_final, 0);
  EXPECT_FALSE(results_file_exists());
  int count;
  running_order(&count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(race_leader(), 0);
}

TEST_F(Results, CutterLosesALapAndThePlace) {
  Racer *cutter = add(0, "1", cutting_ride(), 1);
  Racer *clean = add(1, "2", clean_ride(), 1);
  update_results();
  ASSERT_EQ(session_clock()->results_final, 1);
  int count;
  const RunningOrder *road = running_order(&count);
  EXPECT_EQ(road[0].slot, 0) << "first on the road";
  const RunningOrder *final = final_order(&count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(final[0].slot, 1);
  EXPECT_EQ(final[1].slot, 0);
  // Each cut costs the field's 500 ticks + 1 s - 100 ridden = 528; the best lap (600) is
  // shorter than the 1056 total, so one lap goes and 456 ticks are added.
  EXPECT_EQ(final[1].laps_lost, 1);
  EXPECT_EQ(final[1].crossings, 8);
  EXPECT_EQ(final[1].penalty, 456);
  EXPECT_EQ(final[1].last_tick, 3200 + 456);
  EXPECT_TRUE(results_file_exists());

  char text[4096];
  size_t n = format_results(text, sizeof text, 42);
  ASSERT_LT(n, sizeof text);
  char row[256];
  std::string expected = "Time=0.00|Laps=3|Track=" + std::string(track_directory()) +
                         "|Date=42\r\n"
                         " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n";
  snprintf(row, sizeof row, "   2 | %12s |    3 |   0:23.438 |    2 |   0:07.813\r\n",
           clean->bike->model_name);
  expected += row;
  snprintf(row, sizeof row, "   1 | %12s |    2 |   0:20.750 |    2 |   0:04.688\r\n",
           cutter->bike->model_name);
  expected += row;
  for (const std::vector<int32_t> &ride : {clean_ride(), cutting_ride()}) {
    expected += "\r\n12\r\n";
    for (int i = 0; i < 12; i++) {
      if (ride[i] < 0)
        snprintf(row, sizeof row, "%8d", -1);
      else
        snprintf(row, sizeof row, "%8.3f", (ride[i] - 1000) / 128.0);
      expected += row;
      expected += (i % 4 == 3) ? "\r\n" : " ";
    }
  }
  EXPECT_EQ(std::string(text, n), expected);

  // Final results do not change any more.
  racer_timing(1)->next_gate = 3;
  update_results();
  final_order(&count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(final_order(&count)[0].slot, 1);
}

TEST_F(Results, MillisecondsRoundToNearest) {
  // Minutes, seconds and milliseconds come from the time rounded to the millisecond.
  add(0, "7", {1000 + 983, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000},
      1);
  update_results();
  char text[2048];
  format_results(text, sizeof text, 0);
  EXPECT_NE(std::string(text).find("   1:25.938"), std::string::npos) << text;
}

}  // namespace
