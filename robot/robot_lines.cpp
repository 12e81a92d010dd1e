// Line learning: the store of learnt lines, recording human laps, robot statistics, the
// "ct03" lines file and the analysis that plans the best lines around the lap.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "files/files.h"
#include "platform/velk.h"
#include "robot/robot_local.h"
#include "track/track.h"

namespace {

// ---- per track: the store (allocated with the gates, freed with the track) ----
struct LineStoreState {
  LineSlot *slots;   // sections * LINE_SLOTS
  int sections;      // F' + N'
  int plans[LINE_PLAN_TYPES][MAX_GATE_SEQUENCE * 2];
  int loaded;        // a store was loaded (and so is saved at reset)
  int skill;         // skill of the loaded store
};

// ---- per program run ----
struct LineProgramState {
  int next_id;
  int debug_level;
  int learn;
};

LineStoreState g_store;
LineProgramState g_program = {0, 0, 0};

const char *const SKILL_FILES[SKILL_LEVELS] = {"lines_novice", "lines_amateur", "lines_expert"};

int new_id() { return ++g_program.next_id; }

void empty_slot(LineSlot *s) {
  free(s->points);
  *s = LineSlot{};
  s->recorded_time1 = s->recorded_time2 = LINE_NO_TIME;
  s->best_time1 = s->best_time2 = LINE_NO_TIME;
}

// Resets a slot's statistics for a freshly recorded or loaded line.
void fresh_stats(LineSlot *s) {
  s->runs = s->failures = 0;
  s->total_time1 = s->total_time2 = 0;
  s->best_time1 = s->best_time2 = LINE_NO_TIME;
  s->last_picked = 0;
  s->id = new_id();
}

LinePoint *copy_points(const LinePoint *points, int count) {
  if (count <= 0) return nullptr;
  LinePoint *p = (LinePoint *)malloc(sizeof(LinePoint) * (size_t)count);
  if (!p) fatal_out_of_memory();
  memcpy(p, points, sizeof(LinePoint) * (size_t)count);
  return p;
}

int clamp_int(long long v, int low, int high) {
  return v < low ? low : v > high ? high : (int)v;
}

// Counts the unflagged entries among the first n positions of the first-lap (or lap) list.
int unflagged_before(int base, int n) {
  int count = 0;
  for (int i = 0; i < n; i++)
    if (gate_sequence_entry(base + i) < GATE_NO_LEARN_FLAG) count++;
  return count;
}

int crossing_unflagged(int crossing) {
  int pos = gate_slot(crossing);
  return pos >= 0 && gate_sequence_entry(pos) >= 0 &&
         gate_sequence_entry(pos) < GATE_NO_LEARN_FLAG;
}

void add_failure(LineSlot *line) {
  if (line && line->failures < LINE_MAX_COUNT) line->failures++;
}

float ticks_to_s(int ticks) { return (float)(ticks * TICK); }

// Walks back from crossing c (an unflagged gate) to the two unflagged gates before it.
// Sets a and b to their crossing indices; a is -1 when the stretch starts at the race
// start (section 0). Returns 0 when there are not enough gates behind.
int last_three_gates(int c, int *a, int *b) {
  int found[2] = {-2, -2};
  int n = 0;
  for (int i = c - 1; i >= 0 && n < 2; i--)
    if (crossing_unflagged(i)) found[n++] = i;
  if (n == 0) return 0;
  *b = found[0];
  *a = n == 2 ? found[1] : -1;
  return 1;
}

// The stretch's times: t1 = tick(B) - tick(A), t2 = tick(C) - tick(A). A missing A is
// the gate drop. 0 when a crossing between A and C is not valid.
int stretch_times(const RacerTiming *t, int c, int *t1, int *t2) {
  int a, b;
  if (!last_three_gates(c, &a, &b)) return 0;
  for (int i = a < 0 ? 0 : a; i <= c; i++)
    if (crossing_tick(t, i) < 0) return 0;
  int32_t ta = a < 0 ? session_clock()->start_tick : crossing_tick(t, a);
  *t1 = crossing_tick(t, b) - ta;
  *t2 = crossing_tick(t, c) - ta;
  return 1;
}

int same_points(const LineSlot *s, const Growable *candidate) {
  if (s->count != candidate->count) return 0;
  const LinePoint *p = (const LinePoint *)candidate->data;
  for (int i = 0; i < s->count; i++) {
    float dx = s->points[i].x - p[i].x, dy = s->points[i].y - p[i].y,
          dz = s->points[i].z - p[i].z;
    if (std::fabs(s->points[i].speed - p[i].speed) > 0.0625f) return 0;
    if (dx * dx + dy * dy + dz * dz > 0.00390625f) return 0;
  }
  return 1;
}

// The replacement score of a slot, in ticks (fractional for the eviction choice).
double slot_score(const LineSlot *s, int whole) {
  if (s->count == 0) return 1e18;
  if (s->runs == 0) {
    double v = whole ? (double)((long long)s->recorded_time2 * 5 / 4)
                     : s->recorded_time2 * 5.0 / 4.0;
    return v + (s->failures ? LINE_PENALTY : 0);
  }
  if (whole)
    return (double)(s->total_time2 / s->runs +
                    (long long)LINE_PENALTY * s->failures / (s->runs + s->failures));
  return (double)s->total_time2 / s->runs +
         (double)LINE_PENALTY * s->failures / (s->runs + s->failures);
}

int choose_eviction(const LineSlot *slots) {
  int good = 0;
  for (int i = 0; i < LINE_SLOTS; i++) good += slots[i].failures < slots[i].runs;
  int best = -1;
  double best_score = 0;
  for (int i = 0; i < LINE_SLOTS; i++) {
    const LineSlot *s = &slots[i];
    if (good < 23 && s->failures < s->runs) continue;
    double score = slot_score(s, 0);
    int alone = 1;
    for (int j = 0; j < LINE_SLOTS && alone; j++) {
      if (j == i || slots[j].count == 0 || s->count == 0) continue;
      float dx = s->points[0].x - slots[j].points[0].x, dy = s->points[0].y - slots[j].points[0].y,
            dz = s->points[0].z - slots[j].points[0].z;
      if (dx * dx + dy * dy + dz * dz < 4) alone = 0;
    }
    if (alone) score *= 0.75;
    if (best < 0 || score > best_score) {
      best = i;
      best_score = score;
    }
  }
  return best;
}

void record_line(int section, RobotRacer *rr, int t1, int t2) {
  int parity = ((section % 2) + 2) % 2;
  Growable *buffer = &rr->buffers[parity];
  int index = line_store_index(section);
  LineSlot *slots = line_slots(index);
  if (!slots) return;
  if (buffer->count == 0 || rr->spoilt[parity]) {
    if (g_program.debug_level >= 1) velk_log("auto pilot: %d canceled\n", section);
    return;
  }
  for (int i = 0; i < LINE_SLOTS; i++) {
    if (slots[i].count == 0 && buffer->count != 0) continue;
    if (same_points(&slots[i], buffer)) {
      if (g_program.debug_level >= 1) velk_log("auto pilot: %d rejected (duplicate)\n", section);
      return;
    }
  }
  int chosen = -1;
  for (int i = 0; i < LINE_SLOTS && chosen < 0; i++)
    if (slots[i].count == 0) chosen = i;
  if (chosen < 0) chosen = choose_eviction(slots);
  if (chosen < 0) return;
  LineSlot *s = &slots[chosen];
  double score = slot_score(s, 1);
  if (score < (double)((long long)t2 * 5 / 4)) {
    if (g_program.debug_level >= 1) velk_log("auto pilot: %d rejected (too slow)\n", section);
    return;
  }
  if (g_program.debug_level >= 1)
    velk_log("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n",
             section, ticks_to_s(s->recorded_time1), ticks_to_s(s->recorded_time2), s->runs,
             s->failures, s->runs ? (float)(s->total_time1 / (double)s->runs * TICK) : 0.0f,
             s->runs ? (float)(s->total_time2 / (double)s->runs * TICK) : 0.0f, ticks_to_s(t1),
             ticks_to_s(t2));
  free(s->points);
  s->points = copy_points((const LinePoint *)buffer->data, buffer->count);
  s->count = buffer->count;
  s->recorded_time1 = t1;
  s->recorded_time2 = t2;
  fresh_stats(s);
}

// The route segment around the bike's place: does the run still count as on the line?
int run_counts(RobotRacer *rr, const Bike *bike) {
  float place = route_place(rr, bike);
  int n = rr->route.count;
  if (place < 0 || n < 2) return 0;
  int i = (int)place;
  if (i > n - 2) i = n - 2;
  const LinePoint *p = (const LinePoint *)rr->route.data;
  const LinePoint &a = p[i], &b = p[i + 1];
  Vec3 c = frame_position(bike);
  double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
  double len2 = ux * ux + uy * uy + uz * uz;
  double t = len2 > 0 ? ((c.x - a.x) * ux + (c.y - a.y) * uy + (c.z - a.z) * uz) / len2 : 0;
  t = t < 0 ? 0 : t > 1 ? 1 : t;
  double dx = c.x - (a.x + t * ux), dy = c.y - (a.y + t * uy), dz = c.z - (a.z + t * uz);
  if (dx * dx + dy * dy + dz * dz > 16) return 0;
  float speed = vec3_length(frame_velocity(bike));
  return std::fabs(a.speed) >= 0.9375f * speed || std::fabs(b.speed) >= 0.9375f * speed;
}

// The store section of entry k's successor: after the last lap section and after the last
// first-lap section comes the first lap section.
int next_store_section(int k) {
  int f = line_first_sections();
  if (k == g_store.sections - 1 || k == f - 1) return f;
  return k + 1;
}

struct ChainTable {
  int start, steps;
  double cost[LINE_SLOTS][LINE_SLOTS];  // [start line][line of the current section]
  std::vector<int8_t> from;             // [step][start][line] -> line of the step before
  int end_section;
  // Per start line, its cheapest chain at the deepest step that any chain reached: where
  // the learnt lines run out before the stretch ends, the lines are still ranked.
  double reached[LINE_SLOTS];
};

void note_reached(ChainTable *t) {
  bool any = false;
  for (int a = 0; a < LINE_SLOTS && !any; a++)
    for (int j = 0; j < LINE_SLOTS && !any; j++) any = t->cost[a][j] < LINE_NO_CHAIN;
  if (!any) return;
  for (int a = 0; a < LINE_SLOTS; a++) {
    t->reached[a] = LINE_NO_CHAIN;
    for (int j = 0; j < LINE_SLOTS; j++)
      if (t->cost[a][j] < t->reached[a]) t->reached[a] = t->cost[a][j];
  }
}

void run_chains(ChainTable *t, int section, int steps, int type) {
  t->start = section;
  t->steps = steps;
  t->from.assign((size_t)(steps > 0 ? steps : 1) * LINE_SLOTS * LINE_SLOTS, -1);
  const LineSlot *cur = line_slots(section);
  for (int a = 0; a < LINE_SLOTS; a++)
    for (int b = 0; b < LINE_SLOTS; b++)
      t->cost[a][b] = a == b && cur[a].count ? line_cost(&cur[a], type) : LINE_NO_CHAIN;
  for (int a = 0; a < LINE_SLOTS; a++) t->reached[a] = LINE_NO_CHAIN;
  note_reached(t);
  int k = section;
  for (int step = 0; step < steps; step++) {
    int next = next_store_section(k);
    const LineSlot *ls = line_slots(k), *ns = line_slots(next);
    static thread_local double fresh[LINE_SLOTS][LINE_SLOTS];
    // Only the slots in use take part: the lists keep the table walk short.
    int used_i[LINE_SLOTS], used_j[LINE_SLOTS], ni = 0, nj = 0, starts[LINE_SLOTS], na = 0;
    for (int i = 0; i < LINE_SLOTS; i++) {
      if (ls[i].count) used_i[ni++] = i;
      if (ns[i].count) used_j[nj++] = i;
      if (cur[i].count) starts[na++] = i;
    }
    bool allowed[LINE_SLOTS][LINE_SLOTS];
    double cost[LINE_SLOTS];
    for (int x = 0; x < ni; x++)
      for (int y = 0; y < nj; y++)
        allowed[used_i[x]][used_j[y]] = lines_continue(&ls[used_i[x]], &ns[used_j[y]]) != 0;
    for (int y = 0; y < nj; y++) cost[used_j[y]] = line_cost(&ns[used_j[y]], type);
    int8_t *from = &t->from[(size_t)step * LINE_SLOTS * LINE_SLOTS];
    for (int a = 0; a < LINE_SLOTS; a++)
      for (int j = 0; j < LINE_SLOTS; j++) fresh[a][j] = LINE_NO_CHAIN;
    for (int q = 0; q < na; q++) {
      int a = starts[q];
      for (int y = 0; y < nj; y++) {
        int j = used_j[y];
        double best = LINE_NO_CHAIN;
        int best_i = -1;
        for (int x = 0; x < ni; x++) {
          int i = used_i[x];
          if (!allowed[i][j] || t->cost[a][i] >= LINE_NO_CHAIN) continue;
          double c = t->cost[a][i] + cost[j];
          if (c < best) {
            best = c;
            best_i = i;
          }
        }
        fresh[a][j] = best;
        from[a * LINE_SLOTS + j] = (int8_t)best_i;
      }
    }
    memcpy(t->cost, fresh, sizeof fresh);
    note_reached(t);
    k = next;
  }
  t->end_section = k;
}

// Follows the recorded choices back from (start a, end line j) and writes the line ids of
// the sections passed into the plan (steps sections from t->start, the end excluded).
void trace_back(const ChainTable *t, int a, int j, int *plan, int type) {
  std::vector<int> lines((size_t)t->steps + 1);
  lines[(size_t)t->steps] = j;
  for (int step = t->steps - 1; step >= 0; step--) {
    j = t->from[(size_t)step * LINE_SLOTS * LINE_SLOTS + a * LINE_SLOTS + j];
    if (j < 0) return;
    lines[(size_t)step] = j;
  }
  int k = t->start;
  for (int step = 0; step < t->steps; step++) {
    const LineSlot *s = &line_slots(k)[lines[(size_t)step]];
    plan[k] = s->runs >= 5 ? s->id : 0;
    k = next_store_section(k);
  }
  (void)type;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Sections
// ---------------------------------------------------------------------------------------
int line_section(int c) {
  int f = first_lap_gates(), n = normal_lap_gates();
  if (c < 0 || f <= 0 || n <= 0) return -1;
  if (c < f) return unflagged_before(0, c);
  int fp = first_lap_learn_gates(), np = normal_lap_learn_gates();
  return fp + ((c - f) / n) * np + unflagged_before(f, (c - f) % n);
}

int line_store_index(int s) {
  int fp = line_first_sections(), np = g_store.sections - fp;
  if (s < 0 || g_store.sections <= 0) return -1;
  if (s < fp) return s;
  if (np <= 0) return -1;
  return fp + (s - fp) % np;
}

int line_section_count() { return g_store.sections; }

int line_first_sections() {
  int fp = first_lap_learn_gates();
  return fp < g_store.sections ? fp : g_store.sections;
}

LineSlot *line_slots(int index) {
  if (!g_store.slots || index < 0 || index >= g_store.sections) return nullptr;
  return &g_store.slots[(size_t)index * LINE_SLOTS];
}

LineSlot *line_by_id(int id, int *store_index) {
  if (id <= 0) return nullptr;
  for (int k = 0; k < g_store.sections; k++)
    for (int i = 0; i < LINE_SLOTS; i++) {
      LineSlot *s = &g_store.slots[(size_t)k * LINE_SLOTS + i];
      if (s->id == id && s->count) {
        if (store_index) *store_index = k;
        return s;
      }
    }
  return nullptr;
}

void allocate_lines(int sections) {
  free_lines();
  if (sections <= 0) return;
  g_store.slots = (LineSlot *)calloc((size_t)sections * LINE_SLOTS, sizeof(LineSlot));
  if (!g_store.slots) fatal_out_of_memory();
  g_store.sections = sections;
  for (int i = 0; i < sections * LINE_SLOTS; i++) empty_slot(&g_store.slots[i]);
}

void free_lines() {
  if (g_store.slots)
    for (int i = 0; i < g_store.sections * LINE_SLOTS; i++) empty_slot(&g_store.slots[i]);
  free(g_store.slots);
  g_store = LineStoreState{};
}

void clear_lines() {
  for (int i = 0; i < g_store.sections * LINE_SLOTS; i++) empty_slot(&g_store.slots[i]);
  memset(g_store.plans, 0, sizeof g_store.plans);
}

int line_set(int index, int slot, const LinePoint *points, int count, int time1, int time2) {
  LineSlot *slots = line_slots(index);
  if (!slots || slot < 0 || slot >= LINE_SLOTS || count < 0) return 0;
  LineSlot *s = &slots[slot];
  empty_slot(s);
  s->points = copy_points(points, count);
  s->count = count;
  s->recorded_time1 = time1;
  s->recorded_time2 = time2;
  fresh_stats(s);
  return s->id;
}

// ---------------------------------------------------------------------------------------
// Learning
// ---------------------------------------------------------------------------------------
void set_learn_crash(int slot) {
  RobotRacer *rr = robot_racer(slot);
  if (rr) rr->crash_flag = 1;
}

void clear_riding_lines(int slot) {
  RobotRacer *rr = robot_racer(slot);
  if (rr)
    for (int &id : rr->riding) id = 0;
}

void learn_reset_racer(int slot) {
  RobotRacer *rr = robot_racer(slot);
  if (!rr) return;
  for (int p = 0; p < 2; p++) {
    growable_clear(&rr->buffers[p]);
    rr->spoilt[p] = 0;
  }
  for (int &id : rr->riding) id = 0;
  rr->personality = 0;  // the session names its robots after this
  rr->crash_flag = 0;
  rr->crash_seen = 0;
}

void learn_tick(int slot) {
  Racer *r = racer_at(slot);
  RobotRacer *rr = robot_racer(slot);
  if (!r || !rr || !r->bike || !r->bike->timing) return;
  Bike *bike = r->bike;
  const RacerTiming *t = bike->timing;
  // The crash detection: a crash timer that starts running is a new crash.
  int down = bike->crash_timer > 0;
  if (down && !rr->crash_seen) rr->crash_flag = 1;
  rr->crash_seen = down;
  if (!track_has_timing() || g_store.sections <= 0) return;
  int tick = session_clock()->tick;
  int section = line_section(t->next_gate);
  if (rr->personality == 0) {
    if (r->kind != RACER_HUMAN || tick % 32 != 0 || t->finished || section < 0) return;
    Vec3 p = frame_position(bike), v = frame_velocity(bike);
    LinePoint lp;
    lp.x = p.x;
    lp.y = p.y;
    lp.z = p.z;
    lp.speed = vec3_length(v);
    if (bike->front.depth <= 0 && bike->rear.depth <= 0) lp.speed = -lp.speed;
    lp.lean = roll_angle(bike->bodies[FRAME_BODY]);
    growable_push(&rr->buffers[section % 2], &lp);
    return;
  }
  if (rr->crash_flag != 1) return;
  rr->crash_flag = 2;
  if (section >= 0) {
    add_failure(line_by_id(rr->riding[section % 4], nullptr));
    int32_t last = crossing_tick(t, t->next_gate - 1);
    if (last >= 0 && tick - last < 128 && section >= 1)
      add_failure(line_by_id(rr->riding[(section - 1) % 4], nullptr));
  }
  for (int &id : rr->riding) id = 0;
}

void learn_crossing(int slot, int c, int exact) {
  Racer *r = racer_at(slot);
  RobotRacer *rr = robot_racer(slot);
  if (!r || !rr || !r->bike || !r->bike->timing || g_store.sections <= 0) return;
  const RacerTiming *t = r->bike->timing;
  int crashed = rr->crash_flag != 0;
  rr->crash_flag = 0;
  int m = line_section(c);
  if (m < 0) return;
  if (rr->personality == 0) {
    if (r->kind != RACER_HUMAN) return;
    if (crashed) rr->spoilt[m % 2] = 1;
    if (!exact || !crossing_unflagged(c) || m < 1) return;
    int t1, t2;
    if (stretch_times(t, c, &t1, &t2)) record_line(m - 1, rr, t1, t2);
    int next = (m + 1) % 2;
    growable_clear(&rr->buffers[next]);
    rr->spoilt[next] = 0;
    return;
  }
  if (!crossing_unflagged(c) || m < 1) return;
  if (run_counts(rr, r->bike)) {
    int t1, t2;
    LineSlot *line = line_by_id(rr->riding[(m - 1) % 4], nullptr);
    if (line && stretch_times(t, c, &t1, &t2)) {
      if (line->runs < LINE_MAX_COUNT) line->runs++;
      if (t1 < line->best_time1) line->best_time1 = t1;
      if (t2 < line->best_time2) line->best_time2 = t2;
      line->total_time1 = clamp_int((long long)line->total_time1 + t1, 0, LINE_MAX_TOTAL);
      line->total_time2 = clamp_int((long long)line->total_time2 + t2, 0, LINE_MAX_TOTAL);
    }
  } else {
    add_failure(line_by_id(rr->riding[m % 4], nullptr));
    for (int &id : rr->riding) id = 0;
  }
}

// ---------------------------------------------------------------------------------------
// The file
// ---------------------------------------------------------------------------------------
const char *lines_file_name(int skill) {
  return skill >= 0 && skill < SKILL_LEVELS ? SKILL_FILES[skill] : SKILL_FILES[0];
}

void line_scale(LineSlot *s) {
  for (int round = 0; round < 16 && (s->total_time2 > LINE_MAX_TOTAL ||
                                     s->runs > LINE_MAX_COUNT || s->failures > LINE_MAX_COUNT);
       round++) {
    int half = s->runs / 2;
    if (half != 0) {
      s->total_time1 = (int)((long long)s->total_time1 * half / s->runs);
      s->total_time2 = (int)((long long)s->total_time2 * half / s->runs);
      s->runs = half;
    }
    s->failures /= 2;
  }
  s->total_time1 = clamp_int(s->total_time1, 0, LINE_MAX_TOTAL);
  s->total_time2 = clamp_int(s->total_time2, 0, LINE_MAX_TOTAL);
  s->runs = clamp_int(s->runs, 0, LINE_MAX_COUNT);
  s->failures = clamp_int(s->failures, 0, LINE_MAX_COUNT);
}

int lines_read(DataFile *f) {
  int sections = 0;
  if (!f || datafile_scanf(f, "ct03 %d ", &sections) != 1) return 0;
  if (sections != g_store.sections || sections <= 0) return 0;
  for (int k = 0; k < sections; k++) {
    int used = 0;
    if (datafile_scanf(f, " %d ", &used) != 1) return 1;
    LineSlot *slots = line_slots(k);
    for (int i = 0; i < used; i++) {
      int v[9];
      if (datafile_scanf(f, " %d %d %d %d %d %d %d %d %d ", &v[0], &v[1], &v[2], &v[3], &v[4],
                         &v[5], &v[6], &v[7], &v[8]) != 9 || v[0] < 0)
        return 1;
      Growable points;
      growable_init(&points, sizeof(LinePoint));
      for (int p = 0; p < v[0]; p++) {
        LinePoint lp;
        if (datafile_scanf(f, " [ %f %f %f ] %f %f ", &lp.x, &lp.y, &lp.z, &lp.speed,
                           &lp.lean) != 5 ||
            !std::isfinite(lp.x) || !std::isfinite(lp.y) || !std::isfinite(lp.z) ||
            !std::isfinite(lp.speed) || !std::isfinite(lp.lean)) {
          growable_free(&points);
          return 1;
        }
        growable_push(&points, &lp);
      }
      if (i >= LINE_SLOTS) {  // extra entries are read and dropped
        growable_free(&points);
        continue;
      }
      LineSlot *s = &slots[i];
      empty_slot(s);
      s->points = copy_points((const LinePoint *)points.data, points.count);
      growable_free(&points);
      s->count = v[0];
      // Recorded and best times keep within 0 .. the empty value; counts are never negative.
      s->recorded_time1 = clamp_int(v[1], 0, LINE_NO_TIME);
      s->recorded_time2 = clamp_int(v[2], 0, LINE_NO_TIME);
      s->runs = v[3] < 0 ? 0 : v[3];
      s->best_time1 = clamp_int(v[4], 0, LINE_NO_TIME);
      s->best_time2 = clamp_int(v[5], 0, LINE_NO_TIME);
      s->total_time1 = v[6] < 0 ? 0 : v[6];
      s->total_time2 = v[7] < 0 ? 0 : v[7];
      s->failures = v[8] < 0 ? 0 : v[8];
      s->id = new_id();
      line_scale(s);
      if (s->runs == 0) s->total_time1 = s->total_time2 = 0;
    }
    if (g_program.debug_level >= 1) velk_log("%d: %d\n", k, used);
  }
  return 1;
}

int lines_read_file(const char *name) {
  DataFile *f = datafile_open(name, "rb");
  if (!f) return 0;
  int ok = lines_read(f);
  datafile_close(f);
  return ok;
}

int lines_write(DataFile *f) {
  if (!f || g_store.sections <= 0) return 0;
  int ok = datafile_printf(f, "ct03 %d\n", g_store.sections) > 0;
  for (int k = 0; k < g_store.sections && ok; k++) {
    const LineSlot *slots = line_slots(k);
    int used = 0;
    for (int i = 0; i < LINE_SLOTS; i++) used += slots[i].count >= 1;
    ok = datafile_printf(f, "%d\n", used) > 0;
    for (int i = 0; i < LINE_SLOTS && ok; i++) {
      const LineSlot *s = &slots[i];
      if (s->count < 1) continue;
      ok = datafile_printf(f, "%d %d %d %d %d %d %d %d %d\n", s->count, s->recorded_time1,
                           s->recorded_time2, s->runs, s->best_time1, s->best_time2,
                           s->total_time1, s->total_time2, s->failures) > 0;
      for (int p = 0; p < s->count && ok; p++)
        ok = datafile_printf(f, "[%f %f %f] %f %f\n", s->points[p].x, s->points[p].y,
                             s->points[p].z, s->points[p].speed, s->points[p].lean) > 0;
    }
  }
  return ok;
}

int lines_write_file(const char *name) {
  if (g_store.sections <= 0) return 0;
  DataFile *f = datafile_open(name, "wb");
  if (!f) return 0;
  int ok = lines_write(f);
  datafile_close(f);
  return ok;
}

void lines_load(int skill) {
  if (skill < 0 || skill >= SKILL_LEVELS) skill = 0;
  g_store.skill = skill;
  g_store.loaded = 1;
  clear_lines();
  if (g_store.sections > 0 && track_directory()[0]) {
    char name[1024];
    snprintf(name, sizeof name, "@%s/%s", track_directory(), lines_file_name(skill));
    lines_read_file(name);
  }
  lines_analyse();
}

void lines_save() {
  if (g_program.learn && g_store.loaded && g_store.sections > 0 && track_directory()[0]) {
    char name[1024];
    snprintf(name, sizeof name, "@%s/%s", track_directory(), lines_file_name(g_store.skill));
    lines_write_file(name);
  }
  g_store.loaded = 0;
  clear_lines();
}

// ---------------------------------------------------------------------------------------
// The analysis
// ---------------------------------------------------------------------------------------
void line_circle(const LinePoint *a, const LinePoint *b, const LinePoint *c, float *cx, float *cz,
                 float *radius) {
  double ax = a->x, az = a->z, bx = b->x, bz = b->z, qx = c->x, qz = c->z;
  double ux = bx - ax, uz = bz - az, vx = qx - ax, vz = qz - az;
  double cross = ux * vz - uz * vx;
  double ox, oz;
  if (std::fabs(cross) <= 1e-6) {
    // Nearly straight: a centre far off to the side of the last point.
    double dx = qx - ax, dz = qz - az, len = std::sqrt(dx * dx + dz * dz);
    if (len <= 0) dx = 1, dz = 0, len = 1;
    ox = qx - dz / len * 1e6;
    oz = qz + dx / len * 1e6;
  } else {
    double u2 = ux * ux + uz * uz, v2 = vx * vx + vz * vz;
    ox = ax + (vz * u2 - uz * v2) / (2 * cross);
    oz = az + (ux * v2 - vx * u2) / (2 * cross);
  }
  *cx = (float)ox;
  *cz = (float)oz;
  *radius = (float)std::sqrt((qx - ox) * (qx - ox) + (qz - oz) * (qz - oz));
}

int lines_continue(const LineSlot *i, const LineSlot *j) {
  if (i->count <= 2 || j->count <= 1) return 0;
  const LinePoint *p = i->points + i->count - 3;
  float cx, cz, r;
  line_circle(&p[0], &p[1], &p[2], &cx, &cz, &r);
  double d1 = std::hypot((double)j->points[0].x - cx, (double)j->points[0].z - cz);
  double d2 = std::hypot((double)j->points[1].x - cx, (double)j->points[1].z - cz);
  double low = r - 2.5 < 0 ? 0 : r - 2.5;
  if (d1 < low || d1 > r + 2.5) return 0;
  if (std::fabs(d1 - d2) > 2) return 0;
  return std::fabs(p[2].speed) <= std::fabs(j->points[0].speed) + 15;
}

double line_cost(const LineSlot *s, int type) {
  double f = s->runs + s->failures > 0 ? (double)s->failures / (s->runs + s->failures) : 0;
  f = f < 0 ? 0 : f > 1 ? 1 : f;
  switch (type) {
    case 0:
      return s->runs < 5 ? 1e6 : (double)s->total_time1 / s->runs + LINE_PENALTY * f;
    case 1:
      return s->runs < 5 ? 1e6 : (double)s->total_time1 / s->runs + LINE_PENALTY * f * 8 / 7;
    case 2:
      return s->runs == 0 ? 1e6 : (double)s->total_time1 / s->runs + LINE_PENALTY * f * 4;
    default: {
      if (s->runs + s->failures > 5 && 4LL * s->runs < s->failures) return 100000;
      long long n = (long long)s->runs + 4LL * s->failures;
      if (n == 0) return 0;
      int b = 0;
      while (n) b++, n >>= 1;
      return (b + 4) * 1000.0;
    }
  }
}

void line_chain_costs(int section, int steps, int type, double best[LINE_SLOTS]) {
  for (int l = 0; l < LINE_SLOTS; l++) best[l] = LINE_NO_CHAIN;
  if (!line_slots(section)) return;
  static ChainTable t;
  run_chains(&t, section, steps, type);
  for (int a = 0; a < LINE_SLOTS; a++) best[a] = t.reached[a];
}

void lines_analyse() {
  memset(g_store.plans, 0, sizeof g_store.plans);
  int fp = line_first_sections(), np = g_store.sections - fp;
  if (g_store.sections <= 0 || np <= 0) return;
  static ChainTable lap, first;
  for (int type = 0; type < LINE_PLAN_TYPES; type++) {
    int *plan = g_store.plans[type];
    run_chains(&lap, fp, np, type);
    int chosen = -1;
    double lap_cost = LINE_NO_CHAIN;
    for (int l = 0; l < LINE_SLOTS; l++)
      if (lap.cost[l][l] < lap_cost) {
        lap_cost = lap.cost[l][l];
        chosen = l;
      }
    double first_cost = LINE_NO_CHAIN;
    if (chosen >= 0) {
      trace_back(&lap, chosen, chosen, plan, type);
      lap_cost -= line_cost(&line_slots(fp)[chosen], type);  // the start line counts once
      if (fp > 0) {
        run_chains(&first, 0, fp, type);
        int start = -1;
        for (int a = 0; a < LINE_SLOTS; a++)
          if (first.cost[a][chosen] < first_cost) {
            first_cost = first.cost[a][chosen];
            start = a;
          }
        if (start >= 0) {
          trace_back(&first, start, chosen, plan, type);
          first_cost -= line_cost(&line_slots(fp)[chosen], type);
        }
      }
    }
    if (g_program.debug_level >= 1) {
      velk_log("First lap: %f\n", first_cost * TICK);
      velk_log("Normal lap: %f\n", lap_cost * TICK);
    }
  }
}

const int *line_plan(int type) {
  return type >= 0 && type < LINE_PLAN_TYPES ? g_store.plans[type] : nullptr;
}

// ---------------------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------------------
void robot_set_options(int debug_level, int learn) {
  g_program.debug_level = debug_level;
  g_program.learn = learn;
}

int robot_debug_level() { return g_program.debug_level; }

void robot_lines_reset() {
  free_lines();
  g_program.debug_level = 0;
  g_program.learn = 0;
}
