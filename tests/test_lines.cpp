// Line learning: sections, recording human lines, robot statistics, the ct03 file, analysis.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/race.h"
#include "robot/robot.h"
#include "tests/test_support.h"
#include "track/track.h"

namespace {

::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new test_support::LoggedEnvironment("lines"));
using test_support::log_text;

int count_of(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// Four gates on a square, ridden anticlockwise; the second of each lap list is flagged.
const TimingGate GATES[4] = {
    {0, 0, 0, 1, 0, 0, 10}, {100, 0, 0, 0, 0, 1, 10}, {100, 0, 100, -1, 0, 0, 10},
    {0, 0, 100, 0, 0, -1, 10}};

// A track with timing, the store allocated, one bike in slot 0.
class Lines : public ::testing::Test {
 protected:
  void SetUp() override {
    robot_reset();
    racer_table_reset();
    physics_world_create();
    robot_set_options(1, 0);
    set_layout(true);
    *session_clock() = SessionClock{};
    session_clock()->start_tick = 1000;
    Racer *r = racer_at(0);
    r->kind = RACER_HUMAN;
    r->bike = build_racer("crf450(2008)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    racer_timing_clear(r->bike->timing);
    tick = 1000;
  }
  void TearDown() override {
    racer_table_reset();
    physics_world_destroy();
    clear_timing_gates();
    robot_reset();
  }

  // Flagged: lists 0, 1+flag, 2, 3 (F = N = 4, F' = N' = 3); else 0, 1, 2, 3.
  void set_layout(bool flagged) {
    const int flag = flagged ? GATE_NO_LEARN_FLAG : 0;
    const int first[4] = {0, 1 + flag, 2, 3}, normal[4] = {0, 1 + flag, 2, 3};
    ASSERT_TRUE(set_timing_gates(GATES, 4, first, 4, normal, 4));
    allocate_lines(first_lap_learn_gates() + normal_lap_learn_gates());
  }

  Bike *bike() { return racer_at(0)->bike; }

  void place(float x, float z) {
    const dReal *p = dBodyGetPosition(bike()->bodies[FRAME_BODY]);
    translate_racer(bike(), x - (float)p[0], 0, z - (float)p[2]);
  }

  // Samples along a path from (x0, z0) to (x1, z1), then a crossing of index c at the end
  // `ticks` after the last crossing. The offset shifts the path sideways.
  void ride(int c, float x0, float z0, float x1, float z1, int ticks, float offset = 0,
            int exact = 1) {
    // Eight samples at ticks of their own (multiples of 32), evenly along the path.
    for (int k = 1; k <= 8; k++) {
      sample_tick += 32;
      session_clock()->tick = sample_tick;
      float u = k / 9.0f;
      place(x0 + (x1 - x0) * u + offset, z0 + (z1 - z0) * u);
      learn_tick(0);
    }
    int end = tick + ticks;
    tick = end;
    session_clock()->tick = end;
    store_crossing(bike()->timing, c, end);
    learn_crossing(0, c, exact);
  }

  // One lap of the square from crossing index `c` on (four crossings).
  void lap(int c, int ticks, float offset = 0) {
    ride(c, 0, 0, 100, 0, ticks, offset);
    ride(c + 1, 100, 0, 100, 100, ticks, offset);
    ride(c + 2, 100, 100, 0, 100, ticks, offset);
    ride(c + 3, 0, 100, 0, 0, ticks, offset);
  }

  int used(int index) {
    int n = 0;
    for (int i = 0; i < LINE_SLOTS; i++) n += line_slots(index)[i].count > 0;
    return n;
  }

  int tick = 0;
  int sample_tick = 0;
};

TEST_F(Lines, SectionsSkipFlaggedGatesAndLaterLapsShareTheLapSections) {
  EXPECT_EQ(line_section_count(), 6);
  // Crossing index -> line section; the flagged position (1, 5, 9) is no boundary.
  const int expected[] = {0, 1, 1, 2, 3, 4, 4, 5, 6, 7, 7, 8};
  for (int c = 0; c < 12; c++) {
    SCOPED_TRACE(c);
    EXPECT_EQ(line_section(c), expected[c]);
  }
  const int store[] = {0, 1, 2, 3, 4, 5, 3, 4, 5, 3};
  for (int s = 0; s < 10; s++) {
    SCOPED_TRACE(s);
    EXPECT_EQ(line_store_index(s), store[s]);
  }
  EXPECT_EQ(line_section(-1), -1);
  EXPECT_EQ(line_store_index(-1), -1);
}

TEST_F(Lines, AllGatesFlaggedMeansNoSectionsAndNothingLearnt) {
  const int first[2] = {GATE_NO_LEARN_FLAG, GATE_NO_LEARN_FLAG + 1};
  EXPECT_FALSE(set_timing_gates(GATES, 4, first, 2, first, 2));
  allocate_lines(first_lap_learn_gates() + normal_lap_learn_gates());
  EXPECT_EQ(line_section_count(), 0);
  lines_load(1);
  EXPECT_EQ(line_slots(0), nullptr);
  learn_tick(0);
  learn_crossing(0, 0, 1);  // nothing to learn into; no crash
  EXPECT_EQ(lines_write_file(("/tmp/test_lines_none_" + std::to_string(getpid())).c_str()), 0);
}

TEST_F(Lines, HumanLapsRecordOneLinePerSectionWithItsTimes) {
  set_layout(false);  // sections 0..3 first lap, 4..7 laps
  lap(0, 256);
  // Crossing index 1 closed section 0 (start to gate 0): times from the gate drop.
  LineSlot *s0 = &line_slots(0)[0];
  ASSERT_GT(s0->count, 0);
  EXPECT_EQ(s0->recorded_time1, 256);
  EXPECT_EQ(s0->recorded_time2, 512);
  EXPECT_EQ(s0->runs, 0);
  EXPECT_EQ(s0->best_time1, LINE_NO_TIME);
  EXPECT_GT(s0->id, 0);
  EXPECT_EQ(used(1), 1);
  EXPECT_EQ(used(2), 1);
  EXPECT_EQ(used(3), 0);  // needs the next crossing
  // Sample positions are the frame's centre, four a second.
  EXPECT_EQ(line_slots(1)[0].count, 8);
  EXPECT_NEAR(line_slots(1)[0].points[0].x, 100, 1e-3);
  EXPECT_LE(line_slots(1)[0].points[0].speed, 0);  // in the air at rest: stored negative
  EXPECT_NE(log_text().find("auto pilot: evicting 1 (times: 7812.50 7812.50 tested (0 0): "
                            "0.00 0.00 repl: 2.000000 4.000000)"),
            std::string::npos);
}

TEST_F(Lines, SkippedGateRecordsNothingAndTheBuffersCarryOn) {
  set_layout(false);
  ride(0, 0, 0, 100, 0, 256);
  ride(1, 100, 0, 100, 100, 256, 0, 0);  // not the expected gate
  EXPECT_EQ(used(0), 0);
  ride(2, 100, 100, 0, 100, 256);
  EXPECT_EQ(used(0), 0);  // section 0 ended at the crossing that was not exact
  EXPECT_EQ(used(1), 1);
  // The buffer of section 0 was never emptied: section 2's samples carried on after it.
  ride(3, 0, 100, 0, 0, 256);
  EXPECT_EQ(line_slots(2)[0].count, 16);
}

TEST_F(Lines, CrashSpoilsTheSectionBeingRidden) {
  set_layout(false);
  ride(0, 0, 0, 100, 0, 256);
  bike()->crash_timer = 10;  // the crash detection sees the timer start
  ride(1, 100, 0, 100, 100, 256);
  bike()->crash_timer = 0;
  ride(2, 100, 100, 0, 100, 256);
  EXPECT_EQ(used(0), 1);
  EXPECT_EQ(used(1), 0);
  EXPECT_EQ(count_of(log_text(), "auto pilot: 1 canceled"), 1);
  ride(3, 0, 100, 0, 0, 256);
  EXPECT_EQ(used(2), 1);
}

TEST_F(Lines, DuplicateRejectedEvenWhenFaster) {
  set_layout(false);
  lap(0, 256);
  lap(4, 256);
  lap(8, 200);  // the same path, faster
  int before = count_of(log_text(), "rejected (duplicate)");
  EXPECT_GE(before, 3);
  EXPECT_EQ(used(5), 1);
  EXPECT_EQ(line_slots(5)[0].recorded_time1, 256);
  // A path 1 ft to the side is a new line.
  lap(12, 200, 1);
  EXPECT_EQ(used(5), 2);
}

// Fills section 1 with 45 lines, `good` of them with more runs than failures. The good
// lines are slow (high scores), the others fast.
void fill_section(int good) {
  for (int i = 0; i < LINE_SLOTS; i++) {
    LinePoint p[3];
    for (int k = 0; k < 3; k++) p[k] = LinePoint{(float)(i * 3), 0, (float)k, 10, 0};
    line_set(1, i, p, 3, 500, 1000);
    LineSlot *s = &line_slots(1)[i];
    if (i < good) {
      s->runs = 10;
      s->total_time2 = 10 * 3000;
    } else {
      s->runs = 1;
      s->failures = 1;
      s->total_time2 = 1000;
    }
  }
}

TEST_F(Lines, EvictionSparesGoodLinesUntilEnoughAreGood) {
  set_layout(false);
  struct Case {
    int good;
    bool good_evicted;
  } cases[] = {{30, true}, {20, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.good);
    clear_lines();
    fill_section(c.good);
    learn_reset_racer(0);
    racer_timing_clear(bike()->timing);
    tick = 1000;
    ride(0, 0, 0, 100, 0, 256, 50);
    ride(1, 100, 0, 100, 100, 256, 50);
    ride(2, 100, 100, 0, 100, 256, 50);
    int replaced = -1;
    for (int i = 0; i < LINE_SLOTS; i++)
      if (line_slots(1)[i].recorded_time1 == 256) replaced = i;
    ASSERT_GE(replaced, 0);
    EXPECT_EQ(replaced < c.good, c.good_evicted) << replaced;
  }
}

TEST_F(Lines, RobotRunsAndFailuresAndCrashes) {
  set_layout(false);
  Racer *r = racer_at(0);
  r->kind = RACER_ROBOT;
  set_personality(r, 0, "corvel");
  auto_pilot_reset(r, 0);
  LinePoint p[3] = {{0, 0, 0, 30, 0}, {0, 0, 0, 30, 0}, {0, 0, 0, 30, 0}};
  int id0 = line_set(0, 0, p, 3, 300, 600);
  int id1 = line_set(1, 0, p, 3, 300, 600);
  // A straight route along -z through the bike, which faces -z.
  place(95, 0);
  float y = (float)dBodyGetPosition(bike()->bodies[FRAME_BODY])[1];
  std::vector<LinePoint> route;
  for (int i = 0; i < 40; i++) route.push_back(LinePoint{95, y, 205.0f - i * 10, 30, 0});
  set_robot_route(0, route.data(), (int)route.size(), 39, 0);
  set_riding_line(0, 0, id0);
  set_riding_line(0, 1, id1);
  set_riding_line(0, 2, id1);
  store_crossing(bike()->timing, 0, 1200);
  store_crossing(bike()->timing, 1, 1500);
  session_clock()->tick = 1500;
  learn_crossing(0, 1, 1);
  LineSlot *line0 = line_by_id(id0, nullptr), *line1 = line_by_id(id1, nullptr);
  EXPECT_EQ(line0->runs, 1);
  EXPECT_EQ(line0->total_time1, 200);
  EXPECT_EQ(line0->total_time2, 500);
  EXPECT_EQ(line0->best_time1, 200);
  EXPECT_EQ(line0->best_time2, 500);
  EXPECT_EQ(line0->failures, 0);
  // 20 ft off the route: the line of the section just ridden fails, the entries clear.
  place(115, 0);
  store_crossing(bike()->timing, 2, 1800);
  learn_crossing(0, 2, 1);
  EXPECT_EQ(line1->failures, 1);
  EXPECT_EQ(line1->runs, 0);
  EXPECT_EQ(riding_line(0, 1), 0);
  // A crash within a second of a crossing: the current and the previous sections' lines.
  set_riding_line(0, 2, id0);
  set_riding_line(0, 3, id1);
  session_clock()->tick = 1850;
  bike()->crash_timer = 5;
  learn_tick(0);
  EXPECT_EQ(line1->failures, 2);
  EXPECT_EQ(line0->failures, 1);
  EXPECT_EQ(riding_line(0, 3), 0);
  set_riding_line(0, 3, id1);
  learn_tick(0);  // counted once
  EXPECT_EQ(line1->failures, 2);
}

std::string temp_name(const char *what) {
  return "/tmp/test_lines_" + std::string(what) + "_" + std::to_string(getpid());
}

void write_text(const std::string &path, const std::string &text) {
  FILE *f = fopen(path.c_str(), "wb");
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

TEST_F(Lines, FileRoundTripAndOtherLayoutIgnored) {
  LinePoint p[2] = {{1.5f, 2.25f, -3, 40.5f, 0.125f}, {2, 3, 4, -12, -0.5f}};
  line_set(0, 0, p, 2, 300, 700);
  line_set(4, 3, p, 1, 100, 200);
  line_slots(4)[3].runs = 7;
  line_slots(4)[3].total_time1 = 700;
  line_slots(4)[3].failures = 2;
  std::string path = temp_name("file");
  ASSERT_TRUE(lines_write_file(path.c_str()));
  clear_lines();
  ASSERT_TRUE(lines_read_file(path.c_str()));
  EXPECT_EQ(used(0), 1);
  EXPECT_EQ(line_slots(0)[0].count, 2);
  EXPECT_FLOAT_EQ(line_slots(0)[0].points[1].speed, -12);
  EXPECT_FLOAT_EQ(line_slots(0)[0].points[0].lean, 0.125f);
  // Slots load in file order: the line from slot 3 comes back in slot 0.
  EXPECT_EQ(line_slots(4)[0].runs, 7);
  EXPECT_EQ(line_slots(4)[0].failures, 2);
  EXPECT_EQ(line_slots(4)[0].recorded_time2, 200);

  clear_lines();
  write_text(path, "ct03 5\n1\n1 10 20 0 1000000 1000000 0 0 0\n[1 2 3] 4 5\n");
  EXPECT_FALSE(lines_read_file(path.c_str()));
  EXPECT_EQ(used(0), 0);
  unlink(path.c_str());
}

TEST_F(Lines, LoadScalesHugeStatisticsAndStopsAtBadRecords) {
  std::string path = temp_name("scale");
  write_text(path,
             "ct03 6\n3\n"
             "1 10 20 200000 5 6 150000000 300000000 70000\n[0 0 0] 1 0\n"
             "2 10 20 -5 5 6 -7 8 -9\n[0 0 0] 1 0\n[1 0 0] 1 0\n"
             "2 10 20 1 5 6 7 8 9\n[0 0 0] 1 0\n[1 0 0] oops\n");
  EXPECT_TRUE(lines_read_file(path.c_str()));
  LineSlot *s = &line_slots(0)[0];
  EXPECT_LE(s->runs, LINE_MAX_COUNT);
  EXPECT_LE(s->total_time2, LINE_MAX_TOTAL);
  EXPECT_LE(s->failures, LINE_MAX_COUNT);
  EXPECT_NEAR((double)s->total_time2 / s->runs, 1500, 1);
  EXPECT_NEAR((double)s->total_time1 / s->runs, 750, 1);
  // Negative counts and totals read as 0.
  EXPECT_EQ(line_slots(0)[1].runs, 0);
  EXPECT_EQ(line_slots(0)[1].failures, 0);
  EXPECT_EQ(line_slots(0)[1].total_time1, 0);
  // A point that cannot be read leaves the slot empty and ends the file.
  EXPECT_EQ(line_slots(0)[2].count, 0);
  EXPECT_EQ(line_slots(0)[2].points, nullptr);
  unlink(path.c_str());
}

TEST_F(Lines, ContinuationFollowsTheCurveAndTheSpeed) {
  // i ends on a circle of radius 50 about the origin (anticlockwise, seen from above).
  LinePoint arc[3];
  for (int k = 0; k < 3; k++) {
    float a = 0.1f * k;
    arc[k] = LinePoint{50 * std::cos(a), 0, 50 * std::sin(a), 30, 0};
  }
  LineSlot i{};
  i.points = arc;
  i.count = 3;
  struct Case {
    float r1, r2, speed;
    bool ok;
  } cases[] = {{50, 50, 30, true},  {52.4f, 52, 30, true}, {53, 53, 30, false},
               {50, 52.5f, 30, false}, {50, 50, 15, true}, {50, 50, 14, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.r1);
    LinePoint next[2] = {{c.r1 * std::cos(0.3f), 0, c.r1 * std::sin(0.3f), c.speed, 0},
                         {c.r2 * std::cos(0.4f), 0, c.r2 * std::sin(0.4f), c.speed, 0}};
    LineSlot j{};
    j.points = next;
    j.count = 2;
    EXPECT_EQ(lines_continue(&i, &j) != 0, c.ok);
  }
  LineSlot short_line{};
  short_line.points = arc;
  short_line.count = 2;
  EXPECT_FALSE(lines_continue(&short_line, &i));
  // Straight points: the centre lies far to the side and the radius is about 1e6 ft.
  LinePoint straight[3] = {{0, 0, 0, 1, 0}, {0, 0, 1, 1, 0}, {0, 0, 2, 1, 0}};
  float cx, cz, r;
  line_circle(&straight[0], &straight[1], &straight[2], &cx, &cz, &r);
  EXPECT_NEAR(r, 1e6, 1);
}

TEST_F(Lines, CostTypes) {
  struct Case {
    int runs, total, failures;
    double cost[4];
  } cases[] = {
      {0, 0, 0, {1e6, 1e6, 1e6, 0}},
      {4, 400, 0, {1e6, 1e6, 100, 7000}},
      {5, 500, 5, {100 + 320, 100 + 320.0 * 8 / 7, 100 + 1280, 9000}},
      {1, 100, 6, {1e6, 1e6, 100 + 640.0 * 6 / 7 * 4, 100000}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.runs);
    LineSlot s{};
    s.runs = c.runs;
    s.total_time1 = c.total;
    s.failures = c.failures;
    for (int t = 0; t < 4; t++) EXPECT_NEAR(line_cost(&s, t), c.cost[t], 1e-6) << t;
  }
}

// A lap of three lap sections on a circle of radius 100, two lines per section: a fast
// one and a slow one; the plan takes the fast lines and leaves out lines with few runs.
TEST_F(Lines, AnalysisPlansTheCheapestChain) {
  const int first[3] = {0, 1, 2}, normal[3] = {0, 1, 2};
  ASSERT_TRUE(set_timing_gates(GATES, 4, first, 3, normal, 3));
  allocate_lines(6);
  auto arc = [](float from, float to, float radius) {
    std::vector<LinePoint> p;
    for (int k = 0; k <= 10; k++) {
      float a = from + (to - from) * k / 10;
      p.push_back(LinePoint{radius * std::cos(a), 0, radius * std::sin(a), 40, 0});
    }
    return p;
  };
  const float third = 2 * 3.14159265f / 3;
  int ids[6][2];
  for (int s = 0; s < 6; s++) {
    int k = s % 3;
    std::vector<LinePoint> a = arc(k * third, (k + 1) * third - 0.06f, 100);
    std::vector<LinePoint> b = arc(k * third, (k + 1) * third - 0.06f, 100.5f);
    ids[s][0] = line_set(s, 0, a.data(), (int)a.size(), 100, 200);
    ids[s][1] = line_set(s, 1, b.data(), (int)b.size(), 100, 200);
    line_slots(s)[0].runs = line_slots(s)[1].runs = 10;
    line_slots(s)[0].total_time1 = 10 * 300;  // slow
    line_slots(s)[1].total_time1 = 10 * 200;  // fast
  }
  line_slots(5)[1].runs = 4;  // too few runs for types 0 and 1
  line_slots(5)[1].total_time1 = 4 * 200;
  lines_analyse();
  for (int s = 0; s < 5; s++) {
    SCOPED_TRACE(s);
    EXPECT_EQ(line_plan(2)[s], ids[s][1]);
  }
  EXPECT_EQ(line_plan(2)[5], 0);          // chosen, but with fewer than 5 runs
  EXPECT_EQ(line_plan(0)[5], ids[5][0]);  // the fast line costs 1e6 with 4 runs
  EXPECT_EQ(line_plan(0)[4], ids[4][1]);
  EXPECT_EQ(line_plan(3), nullptr);
  std::string log = log_text();
  EXPECT_NE(log.find("Normal lap: "), std::string::npos);
  EXPECT_NE(log.find("First lap: "), std::string::npos);
}

}  // namespace
