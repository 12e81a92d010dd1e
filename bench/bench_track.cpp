// Loading the starter track rabbithill headless, against reading its files raw in the same
// iteration, and the share of the load spent computing the terrain's split distances.
// Counters (thread CPU time, the machine is shared): "load_ms" one load; "io_ratio" load /
// reading every file of the track; "lod_share" one full lod_error_update pass / load.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "render/model.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "track/track.h"

namespace {

const char TRACK[] = "rabbithill";

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Every file of the track directory as a data-file name.
std::vector<std::string> track_files(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir((dir + "/" + TRACK).c_str());
  if (!d) return names;
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(std::string("@") + TRACK + "/" + e->d_name);
  closedir(d);
  return names;
}

void fresh_registries() {
  track_reset();
  terrain_reset_for_tests();
  texture_reset_for_tests();
  model_reset_for_tests();
}

void BM_TrackLoad(benchmark::State &state) {
  std::string dir = getenv("DV_HOME") ? getenv("DV_HOME") : DV_BINARY_DIR;
  setenv("DV_HOME", dir.c_str(), 1);
  std::vector<std::string> files = track_files(dir);
  if (files.empty()) {
    state.SkipWithError("no starter data: build the starter_data target");
    return;
  }
  fresh_registries();
  track_select(TRACK, nullptr);
  if (!track_load()) {  // also builds the file index, once
    state.SkipWithError("rabbithill does not load");
    return;
  }
  double load = 0, io = 0, lod = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fresh_registries();
    track_select(TRACK, nullptr);
    state.ResumeTiming();

    double t0 = cpu_seconds();
    track_load();
    double t1 = cpu_seconds();
    for (const std::string &name : files) {
      uint8_t *data = nullptr;
      size_t size = 0;
      if (data_read_all(name.c_str(), &data, &size, size_t(1) << 30)) free(data);
    }
    double t2 = cpu_seconds();
    Terrain *t = terrain_current();
    t->change_count++;  // a full pass over the whole tree, as the load makes
    lod_error_update(t, INT_MAX);
    double t3 = cpu_seconds();
    load += t1 - t0;
    io += t2 - t1;
    lod += t3 - t2;
  }
  fresh_registries();
  double n = double(state.iterations());
  state.counters["load_ms"] = load / n * 1000;
  state.counters["io_ratio"] = io > 0 ? load / io : 0;
  state.counters["lod_share"] = load > 0 ? lod / load : 0;
}
BENCHMARK(BM_TrackLoad)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
