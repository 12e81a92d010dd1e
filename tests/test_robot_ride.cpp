// Robots ride the starter track on the shipped lines: a short race with the real physics.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/bike.h"
#include "files/config.h"
#include "files/files.h"
#include "race/race.h"
#include "robot/robot.h"
#include "track/track.h"

namespace {

// The solver's complaints in a crowd at the gate are counted, not printed.
int g_ode_messages = 0;
void count_ode_message(int, const char *, va_list) { g_ode_messages++; }

void load_shipped_lines(int skill) {
  for (int slot = 0; slot < MAX_RACERS; slot++) learn_reset_racer(slot);
  lines_read_file((std::string(DV_SOURCE_DIR) + "/tools/lines/rabbithill/" +
                   lines_file_name(skill)).c_str());
  lines_analyse();
}

class RobotRide : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/test_robot_ride_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home = tmpl;
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
    datafile_reset_for_tests();
    config_reset_defaults();
    dInitODE2(0);
    dSetMessageHandler(count_ode_message);
    physics_world_create();
    racer_table_reset();
    robot_reset();
    set_session_hooks(nullptr);
    robot_install_hooks();
    SessionHooks h = *session_hooks();
    h.lines_load = load_shipped_lines;
    set_session_hooks(&h);
  }
  void TearDown() override {
    session_end();
    track_unload();
    set_session_hooks(nullptr);
    physics_world_destroy();
    dCloseODE();
    robot_reset();
    std::string cmd = "rm -rf " + home;
    if (system(cmd.c_str())) {
    }
  }
  std::string home;
};

// Races `robots` robots over `laps` laps and returns the longest time (ticks) any of them
// stood still (under 2 ft/s) from 5 s after the start until it finished; every robot must
// finish.
int race_longest_stand_still(int robots, int laps, int skill) {
  track_select("rabbithill", nullptr);
  int lineup[MAX_RACERS] = {};
  for (int i = 0; i < robots; i++) lineup[i] = LINEUP_ROBOT;
  EXPECT_TRUE(start_session(lineup, 0, 0, 0, laps, skill)) << "build the starter data";
  const SessionClock *c = session_clock();
  int still[MAX_RACERS] = {};
  int longest = 0, who = -1;
  while (!c->results_final && c->tick < c->start_tick + 30 * 60 * 128) {
    run_tick();
    if (c->tick < c->start_tick + 5 * 128) continue;
    for (int slot = 0; slot < racer_count(); slot++) {
      Racer *r = racer_at(slot);
      if (!r->bike || r->bike->timing->finished) continue;
      const dReal *v = dBodyGetLinearVel(r->bike->bodies[FRAME_BODY]);
      still[slot] = v[0] * v[0] + v[2] * v[2] < 4 ? still[slot] + 1 : 0;
      if (still[slot] > longest) longest = still[slot], who = slot;
    }
  }
  EXPECT_TRUE(c->results_final);
  for (int slot = 0; slot < racer_count(); slot++) {
    SCOPED_TRACE(slot);
    EXPECT_TRUE(racer_at(slot)->bike->timing->finished);
  }
  if (who >= 0) printf("longest stand-still %.1f s (slot %d)\n", longest * TICK, who);
  return longest;
}

// Four robots, two laps: every robot finishes and none stands still for 10 s after the
// start.
TEST_F(RobotRide, FourRobotsFinishTwoLapsOnRabbithill) {
  EXPECT_LT(race_longest_stand_still(4, 2, 1), 10 * 128);
}

// A full gate of 40 robots, five laps: the crowd in the chute, bales and berms block
// robots, and each must get itself free within 10 s.
TEST_F(RobotRide, FullGateOfFortyRobotsNeverStuckFor10s) {
  EXPECT_LT(race_longest_stand_still(40, 5, 1), 10 * 128);
}

}  // namespace
