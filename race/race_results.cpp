// Results: the running order, the timed-race rules, the official result and results.txt.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bike/bike.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/race_local.h"

// ---- per session: rebuilt at every update / built once when the results become final ----
static struct ResultsState {
  RunningOrder running[MAX_RACERS];
  int running_count;
  const RacerTiming *running_timings[MAX_RACERS];  // leader first, for the lap rules
  RunningOrder final[MAX_RACERS];
  int final_count;
} r;

void results_reset() {
  r = ResultsState{};
  session_clock()->results_final = 0;
}

const RunningOrder *running_order(int *count) {
  *count = r.running_count;
  return r.running;
}
const RunningOrder *final_order(int *count) {
  *count = r.final_count;
  return r.final;
}
int race_leader() { return r.running_count > 0 ? r.running[0].slot : -1; }

static bool runs_before(const RunningOrder &a, const RunningOrder &b) {
  if (a.crossings != b.crossings) return a.crossings > b.crossings;
  if (a.last_tick != b.last_tick) return a.last_tick < b.last_tick;
  return a.slot < b.slot;
}

void sort_running_order(RunningOrder *entries, int count) {
  std::stable_sort(entries, entries + count, runs_before);
}

void race_gate_field(GateField *field) {
  const SessionClock *c = session_clock();
  field->order = r.running_timings;
  field->count = r.running_count;
  field->start_tick = c->start_tick;
  field->tick = c->tick;
  field->lap_limit = c->lap_limit;
  field->slow_factor = 1.5f;
  field->slow_grace = 10;
}

static void rebuild_running_order() {
  r.running_count = 0;
  for (int slot = 0; slot < MAX_RACERS; slot++) {
    const RacerTiming *t = racer_timing(slot);
    if (!t) continue;
    RunningOrder *e = &r.running[r.running_count++];
    *e = RunningOrder{};
    e->slot = slot;
    e->crossings = t->next_gate;
    int32_t last = crossing_tick(t, t->next_gate - 1);
    e->last_tick = last > 0 ? last : 0;
  }
  sort_running_order(r.running, r.running_count);
  for (int i = 0; i < r.running_count; i++) r.running_timings[i] = racer_timing(r.running[i].slot);
}

// The crossing index that ends lap v.
static int lap_end_index(int v) { return first_lap_gates() + (v - 1) * normal_lap_gates() - 1; }

void apply_timed_race_rules(SessionClock *c, const RacerTiming *const *order, int count) {
  if (c->duration == 0 || count < 1 || !order[0]) return;
  int leader_laps = laps_completed(order[0]);
  // The halfway signal, once half the time has gone.
  if (c->halfway_lap == NO_LAP_LIMIT && c->tick >= c->start_tick + c->duration / 2)
    c->halfway_lap = leader_laps + 1;
  int32_t end = c->start_tick + c->duration;
  if (c->tick < end || !track_has_timing()) return;
  // Extra laps after the first lap that the field completed once the time was up.
  int v = leader_laps - 1;
  if (v < 1 || v > c->lap_limit) v = 1;
  for (; v <= NO_LAP_LIMIT; v++) {
    int index = lap_end_index(v);
    int32_t earliest = -1;
    for (int i = 0; i < count; i++) {
      int32_t t = order[i] ? crossing_tick(order[i], index) : -1;
      if (t >= 0 && (earliest < 0 || t < earliest)) earliest = t;
    }
    if (earliest < 0) return;
    if (earliest >= end) {
      c->lap_limit = std::min(c->lap_limit, v + c->extra_laps);
      return;
    }
    c->lap_limit = std::max(c->lap_limit, v + c->extra_laps + 1);
  }
}

static int laps_from_crossings(int c) {
  int f = first_lap_gates(), n = normal_lap_gates();
  if (!track_has_timing() || c < f || n <= 0) return 0;
  return (c - f) / n + 1;
}

static void build_final_order(GateField *field) {
  r.final_count = r.running_count;
  for (int i = 0; i < r.running_count; i++) {
    RunningOrder *e = &r.final[i];
    *e = r.running[i];
    RacerTiming *t = racer_timing(e->slot);
    int32_t penalty = cutting_penalty(t, field);
    int counted = t->next_gate;
    e->laps_lost = penalty > 0 ? penalty_laps(t, &counted, &penalty) : 0;
    e->crossings = counted;
    e->penalty = penalty;
    e->last_tick += penalty;
  }
  sort_running_order(r.final, r.final_count);
}

void update_results() {
  SessionClock *c = session_clock();
  if (c->results_final) return;
  rebuild_running_order();
  apply_timed_race_rules(c, r.running_timings, r.running_count);
  GateField field;
  race_gate_field(&field);
  for (int i = 0; i < r.running_count; i++)
    if (!has_finished(racer_timing(r.running[i].slot), &field)) return;
  build_final_order(&field);
  if (r.final_count > 0 && racer_timing(r.final[0].slot)->finished) write_results_file();
  c->results_final = 1;
  record_series_event();
}

// ---------------------------------------------------------------------------------------
// results.txt
// ---------------------------------------------------------------------------------------
namespace {
struct Text {
  char *out;
  size_t size, length;
};
}  // namespace

static void put(Text *t, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void put(Text *t, const char *format, ...) {
  va_list args;
  va_start(args, format);
  size_t room = t->length < t->size ? t->size - t->length : 0;
  int n = vsnprintf(room ? t->out + t->length : nullptr, room, format, args);
  va_end(args);
  if (n > 0) t->length += (size_t)n;
}

// Minutes, seconds and milliseconds of a time in ticks, rounded to the millisecond.
static void put_time(Text *t, int32_t ticks) {
  long long ms = std::llround((ticks > 0 ? ticks : 0) * TICK * 1000);
  put(t, "%3lld:%02lld.%03lld", ms / 60000, ms / 1000 % 60, ms % 1000);
}

size_t format_results(char *out, size_t size, long now) {
  Text t = {out, size, 0};
  if (size) out[0] = 0;
  const SessionClock *c = session_clock();
  int f = first_lap_gates(), n = normal_lap_gates();
  put(&t, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", c->duration * TICK, c->extra_laps,
      track_directory(), now);
  put(&t, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time", "BLap",
      "Best Time");
  for (int i = 0; i < r.final_count; i++) {
    const RunningOrder *e = &r.final[i];
    const Racer *racer = racer_at(e->slot);
    const RacerTiming *timing = racer_timing(e->slot);
    if (!timing || !timing->finished) continue;
    put(&t, "%4s | %12s | %4d | ", racer->number, racer->bike->model_name,
        laps_from_crossings(e->crossings));
    put_time(&t, e->last_tick - c->start_tick);
    put(&t, " | ");
    int best = 0;
    int32_t best_ticks = 0;
    for (int lap = 2; lap <= laps_completed(timing); lap++) {
      int32_t ticks = lap_ticks(timing, lap);
      if (ticks > 0 && (best_ticks == 0 || ticks < best_ticks)) {
        best = lap;
        best_ticks = ticks;
      }
    }
    put(&t, "%4d | ", best);
    put_time(&t, best_ticks);
    put(&t, "\r\n");
  }
  for (int i = 0; i < r.final_count; i++) {
    const RacerTiming *timing = racer_timing(r.final[i].slot);
    if (!timing || !timing->finished) continue;
    int count = timing->next_gate;
    put(&t, "\r\n%d\r\n", count);
    for (int k = 0; k < count; k++) {
      int32_t tick = crossing_tick(timing, k);
      if (tick < 0)
        put(&t, "%8d", -1);
      else
        put(&t, "%8.3f", (tick - c->start_tick) * TICK);
      bool lap_end = k + 1 == f || (k + 1 > f && n > 0 && (k + 1 - f) % n == 0);
      put(&t, "%s", lap_end || k + 1 == count ? "\r\n" : " ");
    }
  }
  return t.length;
}

int write_results_file() {
  long now = (long)time(nullptr);
  size_t length = format_results(nullptr, 0, now);
  char *text = (char *)malloc(length + 1);
  if (!text) fatal_out_of_memory();
  format_results(text, length + 1, now);
  DataFile *file = datafile_open("@results.txt", "wb");
  int ok = 0;
  if (file) {
    ok = datafile_write(file, text, length) == length;
    datafile_close(file);
  }
  free(text);
  return ok;
}
