// Reading a typical configuration file (goal: well under 1 ms), against reading the same
// file's lines without applying them.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/config.h"
#include "files/files.h"

namespace {

std::string s_dir, s_path;

void cleanup() {
  std::string cmd = "rm -rf '" + s_dir + "'";
  if (system(cmd.c_str()) != 0) fprintf(stderr, "bench_config: could not remove %s\n", s_dir.c_str());
}

// A configuration as the game writes it after a player changed a few settings, in a home
// directory of our own; the game data of the build directory feeds the texture lists.
void prepare() {
  if (!s_path.empty()) return;
  s_dir = "/tmp/bench_config_" + std::to_string((long)getpid());
  atexit(cleanup);
  setenv("XDG_DATA_HOME", s_dir.c_str(), 1);
  setenv("DV_HOME", DV_BINARY_DIR, 1);
  datafile_reset_for_tests();
  config_reset_defaults();
  config_build_texture_lists();
  for (const char *line : {"laps=12", "skill=Expert", "bike=kx250f(2013)", "stability=60",
                           "name=Bench Rider", "number=42", "fov=95", "server_name_hist00=example.net",
                           "throttle_key=(-1.000000,1.000000)joystick-a-y"})
    config_apply_line(line);
  s_path = s_dir + "/config";
  if (!config_write_file(s_path.c_str())) abort();
}

void BM_ReadLinesOnly(benchmark::State &state) {
  prepare();
  for (auto _ : state) {
    DataFile *f = datafile_open(s_path.c_str(), "rb");
    char line[1024];
    int n = 0;
    while (datafile_gets(f, line, sizeof line)) n++;
    datafile_close(f);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_ReadLinesOnly)->Unit(benchmark::kMicrosecond);

void BM_ConfigRead(benchmark::State &state) {
  prepare();
  for (auto _ : state) benchmark::DoNotOptimize(config_read_file(s_path.c_str()));
}
BENCHMARK(BM_ConfigRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
