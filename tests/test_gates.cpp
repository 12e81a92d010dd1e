// Timing gates and laps: crossings on hand-made gate layouts, the lap rules and the
// timing_gates file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "track/track.h"

namespace {

// Gates in a row along +x, 100 ft apart, radius 10, crossed heading +x.
std::vector<TimingGate> row_of_gates(int count) {
  std::vector<TimingGate> gates;
  for (int i = 0; i < count; i++) gates.push_back(TimingGate{i * 100.0f, 0, 0, 1, 0, 0, 10});
  return gates;
}

std::vector<int> range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i < to; i++) v.push_back(i);
  return v;
}

struct Rider {
  RacerTiming t;
  Rider() { racer_timing_init(&t); }
  ~Rider() { racer_timing_free(&t); }
  std::vector<int32_t> crossings() const {
    std::vector<int32_t> v;
    for (int i = 0; i < crossing_count(&t); i++) v.push_back(crossing_tick(&t, i));
    return v;
  }
};

class Gates : public ::testing::Test {
 protected:
  void SetUp() override {
    track_reset();
    field = GateField{order, 0, 0, 0, 1000, 1.5f, 10.0f};
  }
  void TearDown() override { track_reset(); }

  // A circuit of `gates` gates: the first lap and every later lap take them all in order.
  void circuit(int gates) {
    std::vector<TimingGate> g = row_of_gates(gates);
    std::vector<int> seq = range(0, gates);
    ASSERT_TRUE(set_timing_gates(g.data(), gates, seq.data(), gates, seq.data(), gates));
  }
  // The wheel just past gate `gate` in its direction of travel, at `tick`.
  int ride_through(Rider *r, int gate, int32_t tick, int slot = 0) {
    const TimingGate *g = timing_gate(gate);
    field.tick = tick;
    return check_gate_crossing(&r->t, slot, Vec3{g->x + g->dx, g->y, g->z + g->dz}, &field);
  }
  void set_order(std::vector<Rider *> riders) {
    field.count = (int)riders.size();
    for (size_t i = 0; i < riders.size(); i++) order[i] = &riders[i]->t;
  }

  const RacerTiming *order[8] = {};
  GateField field{};
};

TEST_F(Gates, InOrderCrossingsCountLaps) {
  circuit(4);
  Rider r;
  int32_t tick = 100;
  for (int lap = 0; lap < 2; lap++)
    for (int g = 0; g < 4; g++) EXPECT_EQ(ride_through(&r, g, tick += 50), 1);
  EXPECT_EQ(r.t.next_gate, 8);
  EXPECT_EQ(laps_completed(&r.t), 2);
  field.start_tick = 100;
  EXPECT_FLOAT_EQ(lap_time(&r.t, 1, &field), 200 / 128.0f);
  EXPECT_FLOAT_EQ(lap_time(&r.t, 2, &field), 200 / 128.0f);
  EXPECT_FLOAT_EQ(lap_time(&r.t, -1, &field), 200 / 128.0f);
  EXPECT_EQ(lap_time(&r.t, 3, &field), 0);
  EXPECT_EQ(lap_time(&r.t, 0, &field), 0);
  // Riding through the same gate again counts nothing.
  EXPECT_EQ(ride_through(&r, 3, tick + 10), 0);
}

TEST_F(Gates, SkipAGateAndGoBackForIt) {
  circuit(8);
  Rider r;
  for (int g = 0; g <= 4; g++) ride_through(&r, g, 10 * (g + 1));
  EXPECT_EQ(ride_through(&r, 6, 70), 1);
  EXPECT_EQ(crossing_tick(&r.t, 5), -1);
  EXPECT_EQ(r.t.next_gate, 7);
  // Back through gate 5: recorded, and the next gate is 6 again.
  EXPECT_EQ(ride_through(&r, 5, 80), 1);
  EXPECT_EQ(crossing_tick(&r.t, 5), 80);
  EXPECT_EQ(r.t.next_gate, 6);
  EXPECT_EQ(crossing_tick(&r.t, 6), 70);  // kept until passed again
  EXPECT_EQ(ride_through(&r, 6, 90), 1);
  EXPECT_EQ(crossing_tick(&r.t, 6), 90);
  EXPECT_EQ(r.t.next_gate, 7);
}

TEST_F(Gates, OldGatesCountAgainOnlyAfterASkip) {
  circuit(8);
  Rider r;
  for (int g = 0; g <= 4; g++) ride_through(&r, g, 10 * (g + 1));
  // Nothing skipped: going back through gate 2 or 3 counts nothing.
  EXPECT_EQ(ride_through(&r, 2, 60), 0);
  EXPECT_EQ(ride_through(&r, 3, 60), 0);
  EXPECT_EQ(r.t.next_gate, 5);
}

TEST_F(Gates, HowFarAheadAGateCanBeTaken) {
  struct Case {
    int next;       // gates 0 .. next - 1 already crossed
    int gate;       // gate ridden through
    int accepted;
    int next_after;
  } cases[] = {
      {3, 3, 1, 4},  // the expected gate
      {3, 4, 1, 5},  // one skipped
      {3, 5, 1, 6},  // two skipped
      {3, 6, 0, 3},  // three ahead is too far
      {6, 7, 1, 8},  // the line may be reached by skipping the gate before it
      {7, 8 % 8, 0, 7},  // but the next lap's gates not without crossing the line
      {6, 0, 0, 6},      // nor two ahead across the line
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "next " << c.next << " gate " << c.gate);
    circuit(8);
    Rider r;
    for (int g = 0; g < c.next; g++) ride_through(&r, g, 10 * (g + 1));
    EXPECT_EQ(ride_through(&r, c.gate, 500), c.accepted);
    EXPECT_EQ(r.t.next_gate, c.next_after);
  }
}

TEST_F(Gates, MissedLineMeansNoNextLap) {
  circuit(4);
  Rider r;
  for (int g = 0; g < 3; g++) ride_through(&r, g, 10 * (g + 1));
  // Around again without the line: gates 0 and 1 of lap 2 do not count.
  EXPECT_EQ(ride_through(&r, 0, 100), 0);
  EXPECT_EQ(ride_through(&r, 1, 110), 0);
  EXPECT_EQ(laps_completed(&r.t), 0);
  EXPECT_EQ(ride_through(&r, 3, 120), 1);
  EXPECT_EQ(laps_completed(&r.t), 1);
}

TEST_F(Gates, OneTickTakesTheFirstAcceptedInOrder) {
  // Gate 1 appears twice in the first lap, so one spot can satisfy two crossings.
  std::vector<TimingGate> g = row_of_gates(4);
  int first[] = {0, 1, 2, 1, 3};
  int normal[] = {0, 1, 2, 3};
  ASSERT_TRUE(set_timing_gates(g.data(), 4, first, 5, normal, 4));
  struct Case {
    bool skip_one;   // crossing 1 was skipped
    int crossing;    // index the ride through gate 1 is stored at
    int next_after;
  } cases[] = {{true, 1, 2}, {false, 3, 4}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.skip_one ? "after a skip" : "no skip");
    Rider r;
    store_crossing(&r.t, 0, 10);
    if (!c.skip_one) store_crossing(&r.t, 1, 20);
    store_crossing(&r.t, 2, 30);
    ASSERT_EQ(r.t.next_gate, 3);
    EXPECT_EQ(ride_through(&r, 1, 40), 1);
    EXPECT_EQ(crossing_tick(&r.t, c.crossing), 40);
    EXPECT_EQ(r.t.next_gate, c.next_after);
  }
}

TEST_F(Gates, PassingTestAndDirection) {
  std::vector<TimingGate> g = {TimingGate{0, 0, 0, 1, 0, 0, 10}, TimingGate{500, 0, 0, 0, 0, 0, 10}};
  int seq[] = {0, 1};
  ASSERT_TRUE(set_timing_gates(g.data(), 2, seq, 2, seq, 2));
  struct Case {
    int next;
    Vec3 wheel;
    int passed;
  } cases[] = {
      {0, {1, 0, 0}, 1},      // just past the centre
      {0, {0, 0, 9.9f}, 1},   // beside it, within the radius: dx = 0 counts
      {0, {-1, 0, 0}, 0},     // still before the gate
      {0, {5, 0, 9}, 0},      // outside the radius
      {0, {1, 50, 0}, 1},     // height does not matter
      {1, {499, 0, 0}, 1},    // no direction: either side within the radius
      {1, {501, 0, 0}, 1},
      {1, {500, 0, -10}, 1},
      {1, {500, 0, 10.5f}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.wheel.x << "," << c.wheel.z);
    Rider r;
    if (c.next) store_crossing(&r.t, 0, 5);
    EXPECT_EQ(check_gate_crossing(&r.t, 0, c.wheel, &field), c.passed);
  }
}

TEST_F(Gates, SequenceEntriesAreNormalised) {
  std::vector<TimingGate> g = row_of_gates(3);
  int first[] = {-4, 100005, 1, 2};
  int normal[] = {100000, 200001, 7};
  ASSERT_TRUE(set_timing_gates(g.data(), 3, first, 4, normal, 3));
  int expected[] = {0, 100002, 1, 2, 100000, 100001, 2};
  for (int i = 0; i < 7; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(gate_sequence_entry(i), expected[i]);
  }
  EXPECT_EQ(first_lap_learn_gates(), 3);
  EXPECT_EQ(normal_lap_learn_gates(), 1);
  EXPECT_EQ(gate_of_crossing(1), 2);  // timed as gate 2 despite the flag
  EXPECT_EQ(gate_of_crossing(4 + 3 + 1), 1);  // lap 3, second entry
  // A normal lap made only of flagged gates has no timing.
  int flagged[] = {100000, 100001};
  EXPECT_FALSE(set_timing_gates(g.data(), 3, first, 4, flagged, 2));
  EXPECT_FALSE(track_has_timing());
  EXPECT_EQ(timing_gate_count(), 0);
}

TEST_F(Gates, NoTimingMeansNoCrossings) {
  Rider r;
  EXPECT_EQ(check_gate_crossing(&r.t, 0, Vec3{0, 0, 0}, &field), 0);
  EXPECT_EQ(laps_completed(&r.t), 0);
  EXPECT_EQ(lap_time(&r.t, 1, &field), 0);
}

TEST_F(Gates, HooksHearCrossingsAndLapEnds) {
  static std::vector<std::vector<int>> learnt;
  static int results;
  learnt.clear();
  results = 0;
  GateHooks hooks{};
  hooks.learn_crossing = [](int slot, int crossing, int exact) {
    learnt.push_back({slot, crossing, exact});
  };
  hooks.update_results = [] { results++; };
  circuit(4);
  set_gate_hooks(&hooks);
  Rider r;
  ride_through(&r, 0, 10, 7);
  ride_through(&r, 2, 20, 7);  // skips gate 1
  ride_through(&r, 3, 30, 7);  // the line
  std::vector<std::vector<int>> expected = {{7, 0, 1}, {7, 2, 0}, {7, 3, 1}};
  EXPECT_EQ(learnt, expected);
  EXPECT_EQ(results, 1);
}

TEST_F(Gates, FinishByLapsAndAfterTheLeader) {
  circuit(2);
  field.lap_limit = 2;
  Rider leader, other;
  set_order({&leader, &other});
  int32_t tick = 0;
  // The leader rides two laps and finishes; the other has ridden one gate.
  ride_through(&other, 0, tick += 10);
  for (int lap = 0; lap < 2; lap++)
    for (int g = 0; g < 2; g++) ride_through(&leader, g, tick += 10);
  EXPECT_TRUE(leader.t.finished);
  EXPECT_FALSE(other.t.finished);
  EXPECT_FALSE(has_finished(&other.t, &field));
  // The other finishes at its next completed lap, its first.
  ride_through(&other, 1, tick += 10);
  EXPECT_TRUE(other.t.finished);
  EXPECT_EQ(laps_completed(&other.t), 1);
  // Finished racers record nothing more.
  EXPECT_EQ(ride_through(&other, 0, tick += 10), 0);
}

TEST_F(Gates, HasFinishedComparesWithTheLeadersFinish) {
  circuit(2);
  field.lap_limit = 1;
  Rider leader;
  set_order({&leader});
  store_crossing(&leader.t, 0, 100);
  store_crossing(&leader.t, 1, 200);  // the leader's finish, at tick 200
  struct Case {
    std::vector<int32_t> ticks;
    int finished;
  } cases[] = {
      {{}, 0},                  // nothing crossed
      {{150, 190}, 0},          // lap 1 completed before the leader's finish
      {{150, 200}, 1},          // at the same tick
      {{150, 190, 220, 260}, 1},  // a lap completed after it
      {{150, 190, 220}, 0},     // only a gate after it
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.ticks.size() << " crossings");
    Rider r;
    for (size_t i = 0; i < c.ticks.size(); i++) store_crossing(&r.t, (int)i, c.ticks[i]);
    EXPECT_EQ(has_finished(&r.t, &field), c.finished);
    EXPECT_EQ(r.t.finished, c.finished);
  }
  // A leader gone back for a missed gate has not finished: its count is its next gate,
  // whatever it still has stored beyond it.
  leader.t.next_gate = 1;
  Rider r;
  store_crossing(&r.t, 0, 150);
  store_crossing(&r.t, 1, 300);
  EXPECT_FALSE(has_finished(&r.t, &field));
}

TEST_F(Gates, TruncatingCrossings) {
  circuit(2);
  Rider r;
  for (int i = 0; i < 4; i++) store_crossing(&r.t, i, 10 * i);
  r.t.finished = 1;
  truncate_crossings(&r.t, 6);  // not below the next gate: the finish stays
  EXPECT_EQ(r.t.next_gate, 6);
  EXPECT_EQ(crossing_count(&r.t), 4);
  EXPECT_TRUE(r.t.finished);
  truncate_crossings(&r.t, 1);
  EXPECT_EQ(r.t.next_gate, 1);
  EXPECT_EQ(crossing_count(&r.t), 1);
  EXPECT_FALSE(r.t.finished);
  EXPECT_EQ(crossing_tick(&r.t, 1), -1);
  EXPECT_EQ(crossing_tick(&r.t, -1), -1);
  EXPECT_EQ(store_crossing(&r.t, -1, 5), 0);
}

TEST_F(Gates, SegmentAverage) {
  circuit(4);  // F = N = 4
  Rider a, b, c;
  // a: clean laps; b: skipped crossing 1; c: nothing yet.
  int32_t ta[] = {100, 200, 300, 400, 500, 620, 700, 800, 900, 1000};
  int32_t tb[] = {110, -1, 330, 430, 530, 650, 740};
  for (int i = 0; i < 10; i++) store_crossing(&a.t, i, ta[i]);
  for (int i = 0; i < 7; i++) store_crossing(&b.t, i, tb[i]);
  set_order({&a, &b, &c});
  // First lap: crossing 0 to 2 only a has whole; from the start (b < 0) too.
  EXPECT_EQ(segment_average(2, 0, &field), 200);
  EXPECT_EQ(segment_average(0, -1, &field), (100 + 110) / 2);
  // Later laps: 4 -> 5 is lap 2 for both, and lap 3 for a (500->620, 900->1000).
  // a: (120 + 100) / 2 = 110; b: 120; mean 115.
  EXPECT_EQ(segment_average(5, 4, &field), 115);
  // Nobody rode it: 60 s.
  Rider none;
  set_order({&none});
  EXPECT_EQ(segment_average(5, 4, &field), 7680);
}

TEST_F(Gates, CuttingPenaltyBounds) {
  circuit(4);
  Rider clean, cutter;
  int32_t tc[] = {100, 200, 300, 400};
  for (int i = 0; i < 4; i++) store_crossing(&clean.t, i, tc[i]);
  set_order({&clean});
  // The field rides crossing 0 -> 2 in 200 ticks; the cutter skips 1.
  struct Case {
    int32_t at_two;   // the cutter's tick at crossing 2 (crossing 0 at 100)
    int32_t penalty;  // expected = 200 + 128 - taken, never below 0
  } cases[] = {{150, 200 + 128 - 50}, {300, 128}, {428, 0}, {500, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.at_two);
    racer_timing_clear(&cutter.t);
    store_crossing(&cutter.t, 0, 100);
    store_crossing(&cutter.t, 2, c.at_two);
    EXPECT_EQ(cutting_penalty(&cutter.t, &field), c.penalty);
  }
  // Nothing skipped, nothing to pay.
  EXPECT_EQ(cutting_penalty(&clean.t, &field), 0);
}

TEST_F(Gates, PenaltyTakesLapsAwayFirst) {
  circuit(2);
  Rider r;
  // Laps: 1 ends at 100, 2 at 300 (200 ticks), 3 at 450 (150 ticks).
  int32_t t[] = {50, 100, 200, 300, 400, 450};
  for (int i = 0; i < 6; i++) store_crossing(&r.t, i, t[i]);
  struct Case {
    int32_t penalty;
    int laps;
    int32_t rest;
  } cases[] = {{100, 0, 100}, {150, 0, 150}, {151, 1, 1}, {400, 2, 100}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.penalty);
    int counted = crossing_count(&r.t);
    int32_t penalty = c.penalty;
    EXPECT_EQ(penalty_laps(&r.t, &counted, &penalty), c.laps);
    EXPECT_EQ(penalty, c.rest);
    EXPECT_EQ(counted, 6 - 2 * c.laps);
  }
}

TEST_F(Gates, SlownessAgainstTheLeader) {
  circuit(4);
  Rider leader, slow;
  int32_t tl[] = {128, 256, 384};  // one second per gate
  for (int i = 0; i < 3; i++) store_crossing(&leader.t, i, tl[i]);
  set_order({&leader, &slow});
  field.start_tick = 0;
  // slow crossed gate 0 at 1 s; crossing 1 at e. Slow when 1 + 1 x 1.5 + 10 <= e (s).
  store_crossing(&slow.t, 0, 128);
  struct Case {
    int32_t at_one;  // tick of the slow racer's crossing 1, or -1 for "not yet" (now = 1600)
    int slow_on;
  } cases[] = {{128 * 12, 0}, {128 * 13, 1}, {-1, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.at_one);
    truncate_crossings(&slow.t, 1);
    field.tick = 1800;
    if (c.at_one >= 0) store_crossing(&slow.t, 1, c.at_one);
    EXPECT_EQ(is_slow_on(&slow.t, 1, &field), c.slow_on);
  }
  // The leader has no more crossings than n: never slow.
  EXPECT_EQ(is_slow_on(&slow.t, 3, &field), 0);
}

TEST_F(Gates, ReadingTheFile) {
  struct Case {
    const char *name;
    const char *text;
    int timing;
    int gates, first, normal, pieces;
  } cases[] = {
      {"plain", "checkpoints:\n10 [0 0 0] [1 0 0]\n12 [100 0 0] [1 0 0]\nfirstlap:\n0 1\nnormallap:\n0 1\n",
       1, 2, 2, 2, 0},
      {"no checkpoints header", "10 [0 0 0] [1 0 0]\nfirstlap:\n0\nnormallap:\n0\n", 0, 0, 0, 0, 0},
      {"no normal lap", "checkpoints:\n10 [0 0 0] [1 0 0]\nfirstlap:\n0\n", 0, 0, 0, 0, 0},
      {"starting gate",
       "startinggate:\n[1 0 2] 0.5\n[3 0 4] 0.5 a.jm b.ppm c.shp\ncheckpoints:\n10 [0 0 0] [1 0 0]\n"
       "firstlap:\n0\nnormallap:\n0\n",
       1, 1, 1, 1, 2},
      {"short start gate line",
       "startinggate:\n[1 0 2]\ncheckpoints:\n10 [0 0 0] [1 0 0]\nfirstlap:\n0\nnormallap:\n0\n", 0, 0, 0, 0,
       0},
      {"short gate ends the gates, the rest still reads",
       "checkpoints:\n10 [0 0 0] [1 0 0]\n10 [0 0 0] [1 0\nfirstlap:\n0\nnormallap:\n0\n", 1, 1, 1, 1, 0},
      {"empty", "", 0, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_timing_gates(c.text, strlen(c.text)), c.timing);
    EXPECT_EQ(track_has_timing(), c.timing);
    EXPECT_EQ(timing_gate_count(), c.gates);
    EXPECT_EQ(first_lap_gates(), c.first);
    EXPECT_EQ(normal_lap_gates(), c.normal);
    EXPECT_EQ(start_gate_count(), c.pieces);
  }
}

TEST_F(Gates, StartGatePiecesAndRoundTrip) {
  const char text[] =
      "startinggate:\n"
      "[10 0 20] 7.0\n"
      "[30 1 40] -0.5 @gate2.jm null @gate2.shp\n"
      "checkpoints:\n"
      "10 [0 0 0] [1 0 0]\n"
      "12.5 [100 0 5] [0 0 -1]\n"
      "firstlap:\n"
      "0 100001\n"
      "normallap:\n"
      "0 1\n";
  ASSERT_TRUE(parse_timing_gates(text, sizeof text - 1));
  ASSERT_EQ(start_gate_count(), 2);
  const StartGatePiece *p = start_gate_piece(0);
  EXPECT_FLOAT_EQ(p->x, 10);
  EXPECT_NEAR(p->angle, 7.0 - 2 * M_PI, 1e-5);
  EXPECT_STREQ(p->model, "@startgate.jm");
  EXPECT_STREQ(p->texture, "@startgate.ppm");
  EXPECT_STREQ(p->shape, "@startgate.shp");
  EXPECT_STREQ(start_gate_piece(1)->texture, "null");
  EXPECT_FLOAT_EQ(start_gate_piece(1)->angle, -0.5f);

  char out[4096];
  size_t n = format_timing_gates(out, sizeof out);
  ASSERT_LT(n, sizeof out);
  EXPECT_EQ(std::string(out),
            "startinggate:\n"
            "[10.000000 0.000000 20.000000] 0.716815\n"
            "[30.000000 1.000000 40.000000] -0.500000 @gate2.jm null @gate2.shp\n"
            "checkpoints:\n"
            "10.000000 [0.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"
            "12.500000 [100.000000 0.000000 5.000000] [0.000000 0.000000 -1.000000]\n"
            "firstlap:\n"
            "0 100001 \n"
            "normallap:\n"
            "0 1 \n");
  // What was written reads back the same.
  std::string again(out);
  ASSERT_TRUE(parse_timing_gates(again.data(), again.size()));
  char out2[4096];
  format_timing_gates(out2, sizeof out2);
  EXPECT_STREQ(out, out2);
  // A short buffer is cut but the needed length is still reported.
  char small[16];
  EXPECT_EQ(format_timing_gates(small, sizeof small), n);
  EXPECT_EQ(strlen(small), sizeof small - 1);
}

}  // namespace
