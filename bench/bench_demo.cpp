// Demos: the size of a recording per racer-minute, and skipping 60 s forward in a 5-minute
// 10-racer demo with and without accurate skip, against reading the same 60 s of blocks.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/bike.h"
#include "core/core.h"
#include "files/config.h"
#include "files/files.h"
#include "race/demo.h"
#include "race/race.h"
#include "terrain/terrain.h"
#include "track/track.h"

namespace {

constexpr int RACERS = 10;
constexpr int DEMO_TICKS = 5 * 60 * 128;  // 5 minutes
constexpr int SKIP_FROM = 60 * 128;       // ticks
const char *const DEMO = "@demos/bench.dvdemo";

std::string g_home;

bool setup_home() {
  if (!g_home.empty()) return true;
  dInitODE2(0);
  physics_world_create();
  if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
  g_home = "/tmp/dv_bench_demo_" + std::to_string(getpid());
  setenv("XDG_DATA_HOME", g_home.c_str(), 1);
  datafile_reset_for_tests();
  config_reset_defaults();
  racer_table_reset();
  atexit([] {
    session_end();
    demo_reset();
    std::string cmd = "rm -rf " + g_home;
    (void)system(cmd.c_str());
  });
  track_select("practice", nullptr);
  return track_load();
}

void put32(std::string *out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back((char)(v >> (8 * i)));
}

// A 5-minute demo of ten riders going round circles, written block by block as the
// recorder writes it. Returns its size.
size_t write_demo() {
  static size_t size = 0;
  if (size) return size;
  Bike *bike = build_racer("kx125", 0, "1", nullptr, nullptr, nullptr, nullptr);
  const Terrain *t = terrain_current();
  std::string out = "DV06 10 0 3 1792\npractice\n";
  for (int r = 0; r < RACERS; r++) out += "kx125||||\n" + std::to_string(20 + r) + "\nDirovazov\n\n";
  uint32_t prev = 0;
  for (int tick = 0; tick <= DEMO_TICKS; tick += DEMO_BLOCK_TICKS) {
    std::string payload;
    for (int r = 0; r < RACERS; r++)
      for (int k = tick == 0 ? 0 : DEMO_BLOCK_TICKS - DEMO_STATE_TICKS; k >= 0; k -= DEMO_STATE_TICKS) {
        int at = tick - k;
        double a = at * TICK * 0.2 + r * 0.6;  // rad round a circle of 60 ft
        float x = (float)(t->extent / 2 + 60 * std::cos(a)), z = (float)(t->extent / 2 + 60 * std::sin(a));
        reset_racer(bike);
        rotate_racer(bike, 0, 1, 0, (float)(-a));
        translate_racer(bike, x, terrain_height(t, x, z) + 0.2f, z);
        bike->engine_speed = (float)(500 + r * 30 + at % 200);
        CompactRacerState s;
        encode_racer_state(bike, &s);
        payload.push_back((char)r);
        put32(&payload, (uint32_t)at);
        payload.append((const char *)s.bytes, COMPACT_STATE_BYTES);
      }
    put32(&out, (uint32_t)payload.size() ^ prev);
    put32(&out, (uint32_t)tick);
    out.push_back((char)DEMO_BLOCK_STATES);
    out += payload;
    prev = (uint32_t)payload.size();
  }
  free_racer(bike);
  DataFile *f = datafile_open(DEMO, "wb");
  if (!f) return 0;
  datafile_write(f, out.data(), out.size());
  datafile_close(f);
  size = out.size();
  return size;
}

bool start_playback() {
  if (!setup_home() || !write_demo()) return false;
  if (demo_playing() && racer_count() == RACERS) return true;
  SessionHooks h = {};
  h.place_remote = place_remote_from_history;
  set_session_hooks(&h);
  demo_choose_file(DEMO);
  int lineup[MAX_RACERS] = {};
  return start_session(lineup, 1, 0, 0, 10, 1) == 1 && racer_count() == RACERS;
}

// Puts the playback back at tick SKIP_FROM.
void rewind_to_start() {
  int32_t back = session_clock()->tick - SKIP_FROM;
  if (back > 0) seek_demo(-(back + 1) * TICK);  // lands one tick on
}

// ---- recording size ----
// A real recording of ten robots standing on the grid for 10 s, per racer-minute, against
// the size of the raw 39-byte state of every tick.
void BM_DemoBytesPerRacerMinute(benchmark::State &state) {
  if (!setup_home()) {
    state.SkipWithError("practice track missing");
    return;
  }
  set_session_hooks(nullptr);
  int lineup[MAX_RACERS] = {};
  for (int i = 0; i < RACERS; i++) lineup[i] = LINEUP_ROBOT;
  const int ticks = 10 * 128;
  double bytes = 0;
  for (auto _ : state) {
    start_session(lineup, 0, 1, 0, 3, 1);
    for (int i = 0; i < ticks; i++) run_tick();
    stop_recording();
    DataFile *f = datafile_open("@demos/default.dvdemo", "rb");
    char buffer[65536];
    size_t n, total = 0;
    while (f && (n = datafile_read(f, buffer, sizeof buffer)) > 0) total += n;
    datafile_close(f);
    bytes = (double)total;
  }
  session_end();
  double per_racer_minute = bytes / RACERS * (60.0 * 128 / ticks);
  double raw = 60.0 * 128 * COMPACT_STATE_BYTES;
  state.counters["bytes_per_racer_minute"] = per_racer_minute;
  state.counters["vs_raw_state_every_tick"] = per_racer_minute / raw;
}
BENCHMARK(BM_DemoBytesPerRacerMinute)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- skipping ----
void skip_60(benchmark::State &state, int accurate) {
  if (!start_playback()) {
    state.SkipWithError("no playback");
    return;
  }
  run_options()->accurate_skip = accurate;
  while (session_clock()->tick < SKIP_FROM) run_tick();
  for (auto _ : state) {
    state.PauseTiming();
    rewind_to_start();
    state.ResumeTiming();
    seek_demo(60);
  }
  run_options()->accurate_skip = false;
  state.counters["ticks"] = 60 * 128;
}
void BM_Skip60s(benchmark::State &state) { skip_60(state, 0); }
void BM_Skip60sAccurate(benchmark::State &state) { skip_60(state, 1); }
BENCHMARK(BM_Skip60s)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Skip60sAccurate)->Unit(benchmark::kMillisecond)->Iterations(5);

// Baseline: reading the same 60 s of blocks into the histories, nothing placed or stepped.
void BM_Read60sOfBlocks(benchmark::State &state) {
  if (!start_playback()) {
    state.SkipWithError("no playback");
    return;
  }
  while (session_clock()->tick < SKIP_FROM) run_tick();
  for (auto _ : state) {
    state.PauseTiming();
    rewind_to_start();
    state.ResumeTiming();
    SessionClock *c = session_clock();
    for (int i = 0; i < 60 * 128; i++) {
      c->tick++;
      read_demo_tick();
    }
  }
}
BENCHMARK(BM_Read60sOfBlocks)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
