// Points series: the .series reader, standings, round ranks, gate picks and recording.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

int known_track(const char *dir) {
  if (strcmp(dir, "rabbithill") == 0) return 0;
  if (strcmp(dir, "practice") == 0) return 1;
  return -1;
}

std::string points(int first, int step, int count = SERIES_POINTS) {
  std::string s;
  for (int i = 0; i < count; i++) s += std::to_string(first - step * i > 0 ? first - step * i : 0) + " ";
  return s + "\n";
}

std::string event(const char *name, const char *track, bool closes_round) {
  return std::string(name) + " " + track + " 0 3\n" + points(25, 1) +
         (closes_round ? points(50, 2) : points(0, 0));
}

std::string series_text(int robots, const char *skill, std::vector<std::string> events) {
  std::string s = "\"Spring Cup\"\n" + std::to_string(robots) + " " + skill + "\n";
  for (int i = 0; i < robots; i++) s += std::to_string(20 + i) + " ";
  s += "\n" + std::to_string(events.size()) + "\n";
  for (const std::string &e : events) s += e;
  return s;
}

class SeriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SessionHooks h = {};
    h.track_index = known_track;
    set_session_hooks(&h);
    series_reset();
  }
  void TearDown() override {
    set_session_hooks(nullptr);
    series_reset();
  }
};

TEST_F(SeriesTest, ParsesNamesSkillAndEvents) {
  std::string text = series_text(
      3, "Amateur",
      {event("\"Moto 1\"", "rabbithill", false), event("Moto2", "\"practice\"", true)});
  Series s;
  ASSERT_EQ(series_parse(text.data(), text.size(), "series/spring.series", &s), 1);
  EXPECT_STREQ(s.name, "Spring Cup");
  EXPECT_EQ(s.robot_count, 3);
  EXPECT_EQ(s.skill, 1);
  EXPECT_EQ(s.robots[2], 22);
  ASSERT_EQ(s.event_count, 2);
  EXPECT_STREQ(s.events[0].name, "Moto 1");
  EXPECT_STREQ(s.events[1].track, "practice");
  EXPECT_EQ(s.events[1].track_index, 1);
  EXPECT_EQ(s.events[0].laps, 3);
  EXPECT_EQ(s.events[0].moto_points[0], 25);
  EXPECT_EQ(s.events[0].round_points[0], 0);
  EXPECT_EQ(s.events[1].round_points[1], 48);
  EXPECT_STREQ(s.standings, "@series/spring.series_standings");
  series_free(&s);

  struct Skill {
    const char *word;
    int skill;
  } skills[] = {{"Novice", 0}, {"Amateur", 1}, {"Expert", 2}, {"Crazy", 2}};
  for (const Skill &k : skills) {
    SCOPED_TRACE(k.word);
    text = series_text(1, k.word, {event("a", "rabbithill", true)});
    ASSERT_EQ(series_parse(text.data(), text.size(), "x.series", &s), 1);
    EXPECT_EQ(s.skill, k.skill);
    series_free(&s);
  }
}

TEST_F(SeriesTest, BadFilesAreDropped) {
  std::string good = series_text(2, "Expert", {event("a", "rabbithill", true)});
  std::string short_points = "a rabbithill 0 3\n" + points(25, 1, 39) + "\n";
  struct Case {
    const char *why;
    std::string text;
  } cases[] = {
      {"unknown track", series_text(2, "Expert", {event("a", "nowhere", true)})},
      {"39 moto points", series_text(2, "Expert", {short_points})},
      {"event missing", "\"x\" 2 Expert 20 21 1\n"},
      {"too many robots", series_text(160, "Expert", {event("a", "rabbithill", true)})},
      {"negative robots", "x -1 Expert 0\n"},
      {"no skill", "x 2"},
      {"empty", ""},
      {"truncated", good.substr(0, good.size() - 10)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    Series s;
    EXPECT_EQ(series_parse(c.text.data(), c.text.size(), "x.series", &s), 0);
  }
  Series s;
  ASSERT_EQ(series_parse(good.data(), good.size(), "x.series", &s), 1);
  series_free(&s);
  std::string most = series_text(159, "Expert", {event("a", "rabbithill", true)});
  ASSERT_EQ(series_parse(most.data(), most.size(), "x.series", &s), 1);
  series_free(&s);
}

TEST_F(SeriesTest, StandingsLinesAndRoundRanks) {
  // Two motos make a round: points only on the second.
  std::string text = series_text(
      2, "Novice",
      {event("m1", "rabbithill", false), event("m2", "rabbithill", true),
       event("m3", "rabbithill", true)});
  Series s;
  ASSERT_EQ(series_parse(text.data(), text.size(), "x.series", &s), 1);
  // Moto 1: robot 0 first, robot 1 second, human third (25, 24, 23 points).
  // Moto 2: human first, robot 1 second, robot 0 third: sums 48, 48, 48 - ties go to the
  // better finish in the closing moto.
  const char *standings = "1 2 3 \n3 2 1 \n2 1 3";  // the last line is not complete
  series_parse_standings(&s, standings, strlen(standings));
  EXPECT_EQ(s.completed, 2);
  EXPECT_EQ(s.events[1].round_ranks[2], 0);  // human
  EXPECT_EQ(s.events[1].round_ranks[1], 1);
  EXPECT_EQ(s.events[1].round_ranks[0], 2);
  EXPECT_EQ(series_points(&s, 2), 50);
  EXPECT_EQ(series_points(&s, 1), 48);
  EXPECT_EQ(series_points(&s, 0), 46);

  // Sums decide before the closing finish does.
  const char *standings2 = "1 3 2 \n2 3 1 \n";  // robot 0: 25 + 24, human: 24 + 25... tie
  series_parse_standings(&s, standings2, strlen(standings2));
  EXPECT_EQ(s.events[1].round_ranks[2], 0);
  EXPECT_EQ(s.events[1].round_ranks[0], 1);
  const char *standings3 = "1 3 2 \n1 3 2 \n";
  series_parse_standings(&s, standings3, strlen(standings3));
  EXPECT_EQ(s.events[1].round_ranks[0], 0);
  EXPECT_EQ(s.events[1].round_ranks[2], 1);
  EXPECT_EQ(s.events[1].round_ranks[1], 2);

  struct Bad {
    const char *text;
    int completed;
  } bad[] = {
      {"1 2\n3 2 1 \n", 0},        // a short line ends the reading
      {"1 2 3 \n0 1 2 \n", 1},     // position 0 does not exist
      {"1 2 3 \n1 2 4 \n", 1},     // nor does a position past the field
      {"1 2 3 \n1 2 3 \n1 2 3 \n1 2 3 \n", 3},  // more lines than events
      {"", 0},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.text);
    series_parse_standings(&s, b.text, strlen(b.text));
    EXPECT_EQ(s.completed, b.completed);
  }
  series_free(&s);
}

TEST_F(SeriesTest, GateOrderTables) {
  int small[] = {6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 34};
  for (int p = 0; p < 15; p++) EXPECT_EQ(series_gate_position(14, p), small[p]);
  int large[] = {10, 9, 11, 8, 12, 7, 13, 6, 14, 5, 15, 4, 16, 3, 17, 2, 18, 1, 19, 0, 20, 21};
  for (int p = 0; p < 22; p++) EXPECT_EQ(series_gate_position(20, p), large[p]);

  for (int n : {14, 20}) {
    SCOPED_TRACE(n);
    std::string text = series_text(n, "Expert",
                                   {event("m1", "rabbithill", true), event("m2", "rabbithill", true)});
    Series s;
    ASSERT_EQ(series_parse(text.data(), text.size(), "x.series", &s), 1);
    int lineup[MAX_RACERS];
    ASSERT_EQ(series_event_lineup(&s, lineup), 1);
    for (int p = 0; p < n; p++) EXPECT_EQ(lineup[p], LINEUP_ROBOT_NUMBER + 20 + p);
    EXPECT_EQ(lineup[n], LINEUP_HUMAN);
    // After the first event, finishing in participant order: the last finisher (the
    // human, position n) picks first.
    s.completed = 1;
    for (int p = 0; p <= n; p++) s.events[0].finishes[p] = p;
    ASSERT_EQ(series_event_lineup(&s, lineup), 1);
    EXPECT_EQ(lineup[series_gate_position(n, 0)], LINEUP_HUMAN);
    EXPECT_EQ(lineup[series_gate_position(n, n)], LINEUP_ROBOT_NUMBER + 20);
    int used = 0;
    for (int i = 0; i < MAX_RACERS; i++) used += lineup[i] != LINEUP_EMPTY;
    EXPECT_EQ(used, n + 1);
    s.completed = 2;
    EXPECT_EQ(series_event_lineup(&s, lineup), 0);
    series_free(&s);
  }
}

// A human who quits before finishing keeps position n, last; the robots that ran take the
// places in running order, and the result reaches the standings file.
TEST_F(SeriesTest, QuitterIsLastAndStandingsAreWritten) {
  std::string home = std::string("/tmp/dv_test_series_") + std::to_string(getpid());
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  datafile_reset_for_tests();
  physics_world_create();
  racer_table_reset();
  results_reset();

  std::string text = series_text(3, "Expert", {event("m1", "rabbithill", true),
                                               event("m2", "rabbithill", true)});
  Series *s = nullptr;
  int index = -1;
  {
    Series parsed;
    ASSERT_EQ(series_parse(text.data(), text.size(), "cup.series", &parsed), 1);
    // Put it into the module's list through the file scanner's path.
    DataFile *f = datafile_open("@cup.series", "wb");
    ASSERT_NE(f, nullptr);
    datafile_write(f, text.data(), text.size());
    datafile_close(f);
    series_free(&parsed);
    datafile_reset_for_tests();
    scan_series();
    // The data set's own series are found too; take ours by its file name.
    for (int i = 0; i < series_count(); i++)
      if (!strcmp(series_at(i)->file, "cup.series")) s = series_at(index = i);
    ASSERT_NE(s, nullptr);
  }
  const char *numbers[] = {"1", "21", "22"};  // human (slot 0), then robots 21 and 22
  TimingGate gates[2] = {{0, 0, 0, 0, 0, -1, 5}, {0, 0, -50, 0, 0, -1, 5}};
  int lap[2] = {0, 1};
  set_timing_gates(gates, 2, lap, 2, lap, 2);
  for (int slot = 0; slot < 3; slot++) {
    Racer *r = racer_at(slot);
    r->kind = slot == 0 ? RACER_HUMAN : RACER_ROBOT;
    snprintf(r->number, sizeof r->number, "%s", numbers[slot]);
    r->bike = build_racer("kx125", slot, numbers[slot], nullptr, nullptr, nullptr, nullptr);
    // The human leads on the road but has not finished.
    for (int i = 0; i < 3 - slot; i++) store_crossing(r->bike->timing, i, 100 * (i + 1));
  }
  *session_clock() = SessionClock{};
  session_clock()->lap_limit = 3;
  update_results();
  ASSERT_EQ(session_clock()->results_final, 0);
  set_running_series(index, 0);
  record_series_event();
  EXPECT_EQ(running_series(nullptr), -1);
  EXPECT_EQ(s->completed, 1);
  EXPECT_EQ(s->events[0].finishes[3], 3);  // the human: last
  EXPECT_EQ(s->events[0].finishes[1], 0);  // robot 21
  EXPECT_EQ(s->events[0].finishes[2], 1);  // robot 22
  EXPECT_EQ(s->events[0].finishes[0], 3);  // robot 20 did not ride

  // Not the running event any more: nothing is recorded twice.
  record_series_event();
  EXPECT_EQ(s->completed, 1);

  // The standings file holds the line and reads back.
  FILE *f = fopen((home + "/Dirtvane/cup.series_standings").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char line[64] = {};
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  fclose(f);
  EXPECT_STREQ(line, "4 1 2 4 \n");
  s->completed = 0;
  series_load_standings(s);
  EXPECT_EQ(s->completed, 1);
  EXPECT_EQ(s->events[0].finishes[1], 0);

  session_end();
  clear_timing_gates();
  physics_world_destroy();
  std::string cmd = "rm -rf " + home;
  (void)system(cmd.c_str());
}

}  // namespace

// The starter series (installed with the starter data) read against the starter tracks.
TEST(StarterSeries, BothParseWithTheirFields) {
  if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
  datafile_reset_for_tests();
  set_session_hooks(nullptr);
  struct Case {
    const char *file;
    int robots, gate0, gate1;
  } cases[] = {{"rabbit_hill_cup.series", 14, 6, 8}, {"dirtvane_open.series", 20, 10, 9}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = std::string(DV_SOURCE_DIR) + "/tools/series/" + c.file;
    FILE *f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    Series s;
    ASSERT_EQ(series_parse(text.data(), text.size(), c.file, &s), 1);
    EXPECT_EQ(s.robot_count, c.robots);
    EXPECT_GE(s.event_count, 4);
    EXPECT_EQ(series_gate_position(s.robot_count, 0), c.gate0);
    EXPECT_EQ(series_gate_position(s.robot_count, 1), c.gate1);
    for (int i = 0; i < s.robot_count; i++) {
      EXPECT_GE(s.robots[i], 20);
      EXPECT_LE(s.robots[i], 99);
    }
    series_free(&s);
  }
}
