// Fuzzes the timing_gates reader, its writer and the lap rules on whatever layout it read.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "track/track.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz_support::data_dirs("timing_gates", "", "");
  if (size > 1 << 16) return 0;
  parse_timing_gates((const char *)data, size);

  // Written back, the text reads again.
  size_t need = format_timing_gates(nullptr, 0);
  std::string text(need + 1, '\0');
  if (format_timing_gates(&text[0], text.size()) != need) abort();
  if (strlen(text.c_str()) != need) abort();
  parse_timing_gates(text.data(), need);

  // Ride every gate in sequence order twice, with a skip, and ask the lap rules.
  RacerTiming riders[2];
  for (RacerTiming &r : riders) racer_timing_init(&r);
  const RacerTiming *order[2] = {&riders[0], &riders[1]};
  GateField field{order, 2, 0, 0, 2, 1.5f, 10.0f};
  int laps = first_lap_gates() + 2 * normal_lap_gates();
  for (int i = 0; i < laps && track_has_timing(); i++) {
    const TimingGate *g = timing_gate(gate_of_crossing(i));
    Vec3 wheel{g->x + g->dx, g->y, g->z + g->dz};
    field.tick = 10 * (i + 1);
    check_gate_crossing(&riders[0], 0, wheel, &field);
    if (i % 3 != 1) check_gate_crossing(&riders[1], 1, wheel, &field);
  }
  for (RacerTiming &r : riders) {
    int n = crossing_count(&r);
    laps_completed(&r);
    lap_time(&r, -1, &field);
    has_finished(&r, &field);
    is_slow_on(&r, n > 0 ? n - 1 : 0, &field);
    int counted = n;
    int32_t penalty = cutting_penalty(&r, &field);
    penalty_laps(&r, &counted, &penalty);
    segment_average(n > 0 ? n - 1 : 0, n > 2 ? n - 3 : -1, &field);
  }
  for (RacerTiming &r : riders) racer_timing_free(&r);
  track_reset();
  return 0;
}
