// Fuzzes the track's object files: lighting, billboards, statues, flaggers and cameras.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "track/track.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Empty search directories, so texture, model and shape names find nothing.
  fuzz_support::data_dirs("track_files", "", "");
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
