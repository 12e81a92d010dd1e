// Race session costs: the results update of a full field against the bare sort of its
// running order, and run_tick of eight bikes (bike physics and bike-to-bike contacts left
// out, so the session's own share shows) against the bare ground contacts and world step
// of the same bodies. Compare the pairs from one run; the machine is shared.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "bike/bike.h"
#include "files/config.h"
#include "files/files.h"
#include "race/race.h"
#include "terrain/terrain.h"
#include "track/track.h"

namespace {

// ---- a full field of 160 racers with 100 crossings each, none finished ----
struct Field {
  bool made = false;
  void make() {
    if (made) return;
    dInitODE2(0);
    physics_world_create();
    TimingGate gates[4] = {{0, 0, 0, 0, 0, -1, 5}, {0, 0, -50, -1, 0, 0, 5},
                           {-50, 0, -50, 0, 0, 1, 5}, {-50, 0, 0, 1, 0, 0, 5}};
    int lap[4] = {0, 1, 2, 3};
    set_timing_gates(gates, 4, lap, 4, lap, 4);
    racer_table_reset();
    for (int slot = 0; slot < MAX_RACERS; slot++) {
      Racer *r = racer_at(slot);
      r->kind = RACER_ROBOT;
      r->bike = build_racer("kx125", slot, "1", nullptr, nullptr, nullptr, nullptr);
      for (int i = 0; i < 100; i++) store_crossing(r->bike->timing, i, 1000 + i * 300 + slot * 7 % 50);
    }
    SessionClock *c = session_clock();
    c->start_tick = 1000;
    c->lap_limit = 1000;
    c->extra_laps = 1000;
    made = true;
  }
} field;

void BM_UpdateResults160(benchmark::State &state) {
  field.make();
  for (auto _ : state) {
    session_clock()->results_final = 0;
    update_results();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_UpdateResults160);

// Baseline: only the sort of the same 160 entries.
void BM_SortRunningOrder160(benchmark::State &state) {
  field.make();
  session_clock()->results_final = 0;
  update_results();
  int count;
  const RunningOrder *order = running_order(&count);
  RunningOrder copy[MAX_RACERS];
  for (auto _ : state) {
    for (int i = 0; i < count; i++) copy[(i * 37) % count] = order[i];
    sort_running_order(copy, count);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SortRunningOrder160);

// ---- eight bikes on rabbithill: run_tick against the world step alone ----
int wheels_on_ground(Bike *bike) {
  int touching = wheel_ground_contact(terrain_current(), &bike->front, 1);
  return touching | wheel_ground_contact(terrain_current(), &bike->rear, 1);
}

int no_bike_contacts(Bike *, Bike *, int) { return 0; }
void no_rider(Bike *, int) {}

bool start_rabbithill() {
  static int started = -1;
  if (started >= 0) return started == 1;
  if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
  std::string home = "/tmp/dv_bench_race_" + std::to_string(getpid());
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  datafile_reset_for_tests();
  config_reset_defaults();
  field.make();
  session_end();
  clear_timing_gates();
  SessionHooks h = {};
  h.object_contact_pass = wheels_on_ground;
  h.bike_contact_pass = no_bike_contacts;
  h.physics_step = no_rider;  // the session's own share: the racers' force laws left out
  set_session_hooks(&h);
  track_select("rabbithill", nullptr);
  int lineup[MAX_RACERS] = {};
  for (int i = 0; i < 8; i++) lineup[i] = LINEUP_ROBOT;
  started = start_session(lineup, 0, 0, 0, 3, 1);
  return started == 1;
}

void BM_RunTick8(benchmark::State &state) {
  if (!start_rabbithill()) {
    state.SkipWithError("rabbithill is not there");
    return;
  }
  for (auto _ : state) run_tick();
}
BENCHMARK(BM_RunTick8);

// Baseline: ground contacts and the world step only, the same eight bikes.
void BM_WorldStep8(benchmark::State &state) {
  if (!start_rabbithill()) {
    state.SkipWithError("rabbithill is not there");
    return;
  }
  for (auto _ : state) {
    for (int slot = 0; slot < 8; slot++) wheels_on_ground(racer_at(slot)->bike);
    physics_world_step();
  }
}
BENCHMARK(BM_WorldStep8);

}  // namespace

BENCHMARK_MAIN();
