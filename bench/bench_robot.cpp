// A 40-robot race on rabbithill: whole simulation ticks (auto pilot, physics, collisions,
// timing) against real time on one core, and the auto pilot's own share of the tick.
#include <benchmark/benchmark.h>

#include <ctime>
#include <string>

#include "bike/bike.h"
#include "files/config.h"
#include "files/files.h"
#include "race/race.h"
#include "robot/robot.h"
#include "track/track.h"

namespace {

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// A cheap clock for the auto pilot's many short calls: the thread's CPU clock is a system
// call, which would cost more than a robot's tick and swell the share it measures.
double monotonic_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// The auto pilot's tick, timed.
double g_pilot_seconds = 0;
void (*g_pilot_tick)(Racer *, int) = nullptr;
void timed_pilot_tick(Racer *racer, int slot) {
  double t0 = monotonic_seconds();
  g_pilot_tick(racer, slot);
  g_pilot_seconds += monotonic_seconds() - t0;
}

// The shipped lines of the source tree, whatever the data directory holds.
void load_shipped_lines(int skill) {
  lines_read_file((std::string(DV_SOURCE_DIR) + "/tools/lines/rabbithill/" +
                   lines_file_name(skill)).c_str());
  lines_analyse();
}

void BM_FortyRobotRace(benchmark::State &state) {
  char home[] = "/tmp/dv_bench_robot_XXXXXX";
  if (mkdtemp(home)) setenv("XDG_DATA_HOME", home, 1);
  setenv("DV_HOME", DV_BINARY_DIR, 1);
  datafile_reset_for_tests();
  config_reset_defaults();
  dInitODE2(0);
  physics_world_create();
  racer_table_reset();
  set_session_hooks(nullptr);
  robot_install_hooks();
  SessionHooks h = *session_hooks();
  g_pilot_tick = h.auto_pilot_tick;
  h.auto_pilot_tick = timed_pilot_tick;
  h.lines_load = load_shipped_lines;
  set_session_hooks(&h);
  track_select("rabbithill", nullptr);
  int lineup[MAX_RACERS] = {};
  for (int i = 0; i < 40; i++) lineup[i] = LINEUP_ROBOT;
  if (!start_session(lineup, 0, 0, 0, 5, 1)) {
    state.SkipWithError("rabbithill not found (build the starter data)");
    physics_world_destroy();
    dCloseODE();
    return;
  }
  // Into the race: the gate has dropped and the field is spread out along the first lap.
  const SessionClock *c = session_clock();
  while (c->tick < c->start_tick + 20 * 128) run_tick();
  g_pilot_seconds = 0;
  int ticks = 0;
  double t0 = thread_seconds(), w0 = monotonic_seconds();
  for (auto _ : state) {
    run_tick();
    ticks++;
  }
  double cpu = thread_seconds() - t0, wall = monotonic_seconds() - w0;
  state.counters["times_real_time"] = ticks * TICK / cpu;
  state.counters["pilot_share"] = g_pilot_seconds / wall;
  int moving = 0;
  for (int slot = 0; slot < racer_count(); slot++) {
    Racer *r = racer_at(slot);
    if (!r->bike) continue;
    const dReal *v = dBodyGetLinearVel(r->bike->bodies[FRAME_BODY]);
    moving += v[0] * v[0] + v[2] * v[2] > 25;
  }
  state.counters["robots_moving"] = moving;
  session_end();
  track_unload();
  set_session_hooks(nullptr);
  physics_world_destroy();
  dCloseODE();
}
BENCHMARK(BM_FortyRobotRace)->Iterations(128 * 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
