// Fuzzes the track's object files: lighting, billboards, statues, flaggers and cameras.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "track/track.h"

static std::string g_root;

static void remove_all() {
  std::string cmd = "rm -rf '" + g_root + "'";
  if (system(cmd.c_str())) {
  }
}

// Empty search directories, so texture, model and shape names find nothing.
static void set_up() {
  if (!g_root.empty()) return;
  g_root = "/tmp/fuzz_track_files_" + std::to_string(getpid());
  mkdir(g_root.c_str(), 0700);
  setenv("XDG_DATA_HOME", g_root.c_str(), 1);
  setenv("DV_HOME", g_root.c_str(), 1);
  atexit(remove_all);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  set_up();
  if (size > 1 << 16) return 0;
  const char *text = (const char *)data;
  // A few gates so the flaggers' gate indices are clamped against something.
  TimingGate gates[3] = {{0, 0, 0, 1, 0, 0, 10}, {50, 0, 0, 1, 0, 0, 10}, {100, 0, 0, 1, 0, 0, 10}};
  int seq[3] = {0, 1, 2};
  set_timing_gates(gates, 3, seq, 3, seq, 3);
  parse_lighting(text, size);
  parse_flaggers(text, size);
  parse_billboards(text, size);
  parse_statues(text, size);
  bin_statues();
  parse_cameras(text, size);
  for (int g = 0; g < MAX_TIMING_GATES; g++) gate_camera(g);
  track_reset();
  return 0;
}
