// Start-up cost up to the first frame that shows the track, without the window: the
// headless start-up (game data check, configuration, command line, catalogues) with the
// world and the start session on rabbithill, against the bare load of the same track in
// the same run. The window and GL context add what the platform takes on top.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "core/core.h"
#include "core/game.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/race.h"
#include "track/track.h"

namespace {

void prepare_environment() {
  static bool done = false;
  if (done) return;
  if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
  std::string home = "/tmp/dv_bench_startup_" + std::to_string(getpid());
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  dInitODE2(0);
  done = true;
}

void BM_StartupToSession(benchmark::State &state) {
  prepare_environment();
  const char *args[] = {"dirtvane", "--track", "rabbithill", "--nosound"};
  for (auto _ : state) {
    velk_reset_for_tests();
    datafile_reset_for_tests();
    startup_reset();
    std::vector<char *> argv;
    for (const char *a : args) argv.push_back(const_cast<char *>(a));
    argv.push_back(nullptr);
    if (startup_headless(4, argv.data()) >= 0) {
      state.SkipWithError("start-up failed");
      break;
    }
    physics_world_create();
    game_install_session_hooks();
    racer_table_reset();
    int lineup[MAX_RACERS] = {LINEUP_HUMAN};
    if (!start_session(lineup, 0, 0, 0, 1000, 0)) {
      state.SkipWithError("no session");
      break;
    }
    state.PauseTiming();
    session_end();
    track_unload();
    physics_world_destroy();
    velk_log(nullptr);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartupToSession)->Unit(benchmark::kMillisecond)->Iterations(5);

// Baseline: loading the same track alone.
void BM_TrackLoadOnly(benchmark::State &state) {
  prepare_environment();
  velk_reset_for_tests();
  datafile_reset_for_tests();
  config_reset_defaults();
  for (auto _ : state) {
    track_select("rabbithill", nullptr);
    if (!track_load()) {
      state.SkipWithError("track load failed");
      break;
    }
    state.PauseTiming();
    track_unload();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_TrackLoadOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
