// Fuzz target: the demo reader. The input is a ".dvdemo" file; it is opened for playback,
// read tick by tick, rewound and skipped, and every stored state is posed onto a bike.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "bike/bike.h"
#include "bike/bike_model.h"
#include "fuzz_support.h"
#include "race/demo.h"
#include "race/race.h"

static Bike *g_bike;

static void setup() {
  static int done = 0;
  if (done) return;
  done = 1;
  dInitODE2(0);
  physics_world_create();
  g_bike = build_racer(bike_model_table()[0].name, 0, "1", nullptr, nullptr, nullptr, nullptr);
}

// Poses the bike from every stored state of a slot, and from blends of neighbours.
static void pose_history(int slot) {
  const StateHistory *h = state_history(slot);
  int format = demo_format() ? demo_format() : DEFAULT_STATE_FORMAT;
  for (int i = 0; i < HISTORY_ENTRIES; i++) {
    const HistoryEntry *a = &h->entries[i], *b = &h->entries[(i + 1) % HISTORY_ENTRIES];
    if (a->tick < 0) continue;
    CompactRacerState blended;
    blend_compact_states(&blended, &a->state, &b->state, 1.75f, format == 4);
    place_remote_racer(g_bike, blended.bytes, a->state.bytes, b->state.bytes,
                       b->tick > a->tick ? b->tick - a->tick : 1, format);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  setup();
  static const std::string file = fuzz_support::scratch_dir("demo") + "/f.dvdemo";
  const char *path = file.c_str();
  FILE *f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);

  char track[256];
  demo_file_track(path, track, sizeof track);

  SessionClock *clock = session_clock();
  clock->tick = 0;
  clock->time_trial = size % 2;  // the ghost's tick offset as well as the clock's jump
  if (clock->time_trial) clock->tick = TIME_TRIAL_START_TICK;
  demo_choose_file(path);
  if (open_demo()) {
    Racer scratch;
    for (int i = 0; i < demo_racer_count() && demo_next_racer(&scratch); i++) demo_map_slot(-1, i);
    for (int t = 0; t < 400 && demo_playing(); t++) {
      read_demo_tick();
      if (t == 200) seek_demo(-1);
      if (t == 250) seek_demo(1);
      if (clock->tick < (1 << 30) - 1) clock->tick++;
    }
    for (int slot = 0; slot < 4; slot++) pose_history(slot);
  }
  demo_reset();
  clock->tick = 0;
  clock->time_trial = 0;
  return 0;
}
