// Timing gates and laps: the gate records of a track, the crossing check and the lap rules.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/velk.h"
#include "track/track.h"
#include "track/track_local.h"

static const char DEFAULT_GATE_MODEL[] = "@startgate.jm";
static const char DEFAULT_GATE_TEXTURE[] = "@startgate.ppm";
static const char DEFAULT_GATE_SHAPE[] = "@startgate.shp";
constexpr int32_t NO_SEGMENT_TIME = 7680;  // ticks (60 s) when nobody rode the stretch
constexpr int32_t PENALTY_MARGIN = 128;    // ticks (1 s) added to the expected stretch time
constexpr int MAX_CROSSING_INDEX = 1 << 22;  // crossings a racer can store (far beyond any race)

// ---- per track: the gates and lap sequences, refilled by each load ----
struct GateState {
  TimingGate gates[MAX_TIMING_GATES];
  int gate_count;
  int sequence[2 * MAX_GATE_SEQUENCE];  // first lap, then the normal lap
  int first, normal;                    // F, N
  int first_learn, normal_learn;        // F', N': raw entries below 100000
  StartGatePiece pieces[MAX_START_GATE_PIECES];
  int piece_count;
};
static GateState g_gates;

// ---- per session: who is told of crossings ----
static GateHooks g_hooks;

static_assert(MAX_TIMING_GATES <= GATE_NO_LEARN_FLAG, "gate indices must stay below the flag");

void timing_gates_reset() {
  memset(&g_gates, 0, sizeof g_gates);
}

void set_gate_hooks(const GateHooks *hooks) {
  if (hooks)
    g_hooks = *hooks;
  else
    g_hooks = GateHooks{};
}

// ---------------------------------------------------------------------------------------
// Racer timing records
// ---------------------------------------------------------------------------------------

void racer_timing_init(RacerTiming *t) {
  t->next_gate = 0;
  t->finished = 0;
  growable_init(&t->crossings, sizeof(int32_t));
}

void racer_timing_free(RacerTiming *t) {
  growable_free(&t->crossings);
  t->next_gate = 0;
  t->finished = 0;
}

void racer_timing_clear(RacerTiming *t) {
  growable_clear(&t->crossings);
  t->next_gate = 0;
  t->finished = 0;
}

static int32_t *crossing_data(const RacerTiming *t) { return (int32_t *)t->crossings.data; }

int32_t crossing_tick(const RacerTiming *t, int i) {
  if (i < 0 || i >= t->crossings.count) return -1;
  return crossing_data(t)[i];
}

static int crossing_valid(const RacerTiming *t, int i) { return crossing_tick(t, i) != -1; }

// Pads with skipped gates up to `index` and stores the tick there.
static void put_crossing(RacerTiming *t, int index, int32_t tick) {
  int32_t skipped = -1;
  while (t->crossings.count <= index) growable_push(&t->crossings, &skipped);
  crossing_data(t)[index] = tick;
}

void truncate_crossings(RacerTiming *t, int n) {
  if (n < 0) n = 0;
  if (n < t->next_gate) t->finished = 0;
  t->next_gate = n;
  if (t->crossings.count > n) t->crossings.count = n;
}

int store_crossing(RacerTiming *t, int index, int32_t tick) {
  if (index < 0 || index >= MAX_CROSSING_INDEX) return 0;
  put_crossing(t, index, tick);
  t->next_gate = index + 1;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Gate records
// ---------------------------------------------------------------------------------------

int track_has_timing() {
  return g_gates.gate_count > 0 && g_gates.first > 0 && g_gates.normal > 0 &&
         g_gates.first_learn > 0 && g_gates.normal_learn > 0;
}
int timing_gate_count() { return g_gates.gate_count; }
const TimingGate *timing_gate(int i) {
  return i >= 0 && i < g_gates.gate_count ? &g_gates.gates[i] : nullptr;
}
int first_lap_gates() { return g_gates.first; }
int normal_lap_gates() { return g_gates.normal; }
int first_lap_learn_gates() { return g_gates.first_learn; }
int normal_lap_learn_gates() { return g_gates.normal_learn; }
int gate_sequence_entry(int pos) {
  return pos >= 0 && pos < g_gates.first + g_gates.normal ? g_gates.sequence[pos] : -1;
}
int start_gate_count() { return g_gates.piece_count; }
StartGatePiece *start_gate_piece(int i) {
  return i >= 0 && i < g_gates.piece_count ? &g_gates.pieces[i] : nullptr;
}

int gate_slot(int i) {
  int f = g_gates.first, n = g_gates.normal;
  if (i < f || n <= 0) return i;
  return f + (i - f) % n;
}

int gate_of_crossing(int i) {
  int entry = gate_sequence_entry(gate_slot(i));
  if (entry < 0) return -1;
  return entry % GATE_NO_LEARN_FLAG;
}

// Crossing g completes a lap: g + 1 - F is a whole number of normal laps.
static int ends_lap(int g) {
  int k = g + 1 - g_gates.first;
  return k >= 0 && k % g_gates.normal == 0;
}

// The crossing index that ends lap `lap` (1 and up).
static int64_t lap_end_index(int64_t lap) {
  return g_gates.first + (lap - 1) * g_gates.normal - 1;
}

// The finish index of a race of L laps: the crossing that ends lap L (0 when L is 0).
static int64_t finish_index(int lap_limit) {
  return lap_limit == 0 ? 0 : lap_end_index(lap_limit);
}

// Normalises the raw entries of both lists in place and counts F' and N'.
static void normalise_sequences() {
  int f = g_gates.first, n = g_gates.normal;
  g_gates.first_learn = g_gates.normal_learn = 0;
  for (int i = 0; i < f + n; i++) {
    int raw = g_gates.sequence[i];
    if (raw < GATE_NO_LEARN_FLAG) (i < f ? g_gates.first_learn : g_gates.normal_learn)++;
    int flag = 0, gate = raw;
    if (gate < 0) gate = 0;
    if (gate >= GATE_NO_LEARN_FLAG) {
      flag = GATE_NO_LEARN_FLAG;
      gate %= GATE_NO_LEARN_FLAG;
    }
    if (gate > g_gates.gate_count - 1) gate = g_gates.gate_count - 1;
    if (gate < 0) gate = 0;
    g_gates.sequence[i] = flag + gate;
  }
}

// Keeps what was read when the track has timing, else drops the gates and sequences.
static int finish_gate_records() {
  normalise_sequences();
  if (!track_has_timing()) {
    g_gates.gate_count = 0;
    g_gates.first = g_gates.normal = 0;
    g_gates.first_learn = g_gates.normal_learn = 0;
    return 0;
  }
  if (g_hooks.allocate_lines)
    g_hooks.allocate_lines(g_gates.first_learn + g_gates.normal_learn);
  if (track_debug_level() >= 1)
    velk_log("Found %d timing gates, first lap has %d gates, normal lap has %d\n",
             g_gates.gate_count, g_gates.first, g_gates.normal);
  return 1;
}

void clear_timing_gates() {
  g_gates.gate_count = 0;
  g_gates.first = g_gates.normal = 0;
  g_gates.first_learn = g_gates.normal_learn = 0;
  g_gates.piece_count = 0;
}

int set_timing_gates(const TimingGate *gates, int gate_count, const int *first, int f,
                     const int *normal, int n) {
  if (gate_count < 0) gate_count = 0;
  if (gate_count > MAX_TIMING_GATES) gate_count = MAX_TIMING_GATES;
  if (f < 0) f = 0;
  if (f > MAX_GATE_SEQUENCE) f = MAX_GATE_SEQUENCE;
  if (n < 0) n = 0;
  if (n > MAX_GATE_SEQUENCE) n = MAX_GATE_SEQUENCE;
  g_gates.gate_count = gate_count;
  if (gate_count) memcpy(g_gates.gates, gates, sizeof(TimingGate) * gate_count);
  g_gates.first = f;
  g_gates.normal = n;
  for (int i = 0; i < f; i++) g_gates.sequence[i] = first[i];
  for (int i = 0; i < n; i++) g_gates.sequence[f + i] = normal[i];
  return finish_gate_records();
}

// ---------------------------------------------------------------------------------------
// The timing_gates file
// ---------------------------------------------------------------------------------------

static float wrap_angle(float a) {
  const float pi = 3.14159265358979f;
  if (a >= -pi && a <= pi) return a;
  float r = std::fmod(a + pi, 2 * pi);
  if (r < 0) r += 2 * pi;
  return r - pi;
}

// "checkpoints:" after optional white space, then white space or the end of the line.
static int is_checkpoints_line(const char *line) {
  while (*line == ' ' || *line == '\t') line++;
  static const char word[] = "checkpoints:";
  if (strncmp(line, word, sizeof word - 1) != 0) return 0;
  char after = line[sizeof word - 1];
  return after == 0 || after == ' ' || after == '\t' || after == '\r' || after == '\n' ||
         after == '\v' || after == '\f';
}

static int is_blank_line(const char *line) {
  for (; *line; line++)
    if (!(*line == ' ' || (*line >= '\t' && *line <= '\r'))) return 0;
  return 1;
}

// Names longer than the record holds are cut.
static void copy_name(char *out, size_t size, const char *name) {
  size_t n = strlen(name);
  if (n >= size) n = size - 1;
  memcpy(out, name, n);
  out[n] = 0;
}

// Reads the starting gate pieces line by line; 1 when the section ended at "checkpoints:".
static int read_start_gate(TextCursor *c) {
  // The header word's own line ends here.
  while (c->p < c->end && *c->p != '\n' && (*c->p == ' ' || *c->p == '\t' || *c->p == '\r'))
    c->p++;
  if (c->p < c->end && *c->p == '\n') c->p++;
  char line[1024];
  while (text_line(c, line, sizeof line)) {
    if (is_checkpoints_line(line)) return 1;
    // A blank line between pieces is not a record; skip it rather than lose the timing.
    if (is_blank_line(line)) continue;
    float x, y, z, angle;
    char model[1024], texture[1024], shape[1024];
    TextCursor lc = text_cursor(line, strlen(line));
    int got = text_scan(&lc, " [ %f %f %f ] %f %1023s %1023s %1023s", &x, &y, &z, &angle,
                        model, texture, shape);
    if (got < 4) return 0;
    if (g_gates.piece_count >= MAX_START_GATE_PIECES) continue;
    if (got < 5) copy_name(model, sizeof model, DEFAULT_GATE_MODEL);
    if (got < 6) copy_name(texture, sizeof texture, DEFAULT_GATE_TEXTURE);
    if (got < 7) copy_name(shape, sizeof shape, DEFAULT_GATE_SHAPE);
    angle = wrap_angle(angle);
    StartGatePiece *piece = &g_gates.pieces[g_gates.piece_count++];
    piece->x = x;
    piece->y = y;
    piece->z = z;
    piece->angle = angle;
    piece->drop_angle = 0;
    copy_name(piece->model, sizeof piece->model, model);
    copy_name(piece->texture, sizeof piece->texture, texture);
    copy_name(piece->shape, sizeof piece->shape, shape);
    piece->statue = create_start_gate_object(x - 3 * std::sin(angle), y, z - 3 * std::cos(angle),
                                             angle, model, texture, shape);
  }
  return 0;
}

// Reads "%d" entries into the sequence from `at`; returns how many.
static int read_sequence(TextCursor *c, int at) {
  int count = 0;
  while (count < MAX_GATE_SEQUENCE && text_scan(c, "%d", &g_gates.sequence[at + count]) == 1)
    count++;
  return count;
}

int parse_timing_gates(const char *text, size_t length) {
  clear_timing_gates();
  TextCursor c = text_cursor(text, length);
  char word[81];
  if (text_scan(&c, "%80s", word) != 1) return finish_gate_records();
  int at_checkpoints = strcmp(word, "checkpoints:") == 0;
  if (strcmp(word, "startinggate:") == 0) at_checkpoints = read_start_gate(&c);
  if (!at_checkpoints) return finish_gate_records();
  while (g_gates.gate_count < MAX_TIMING_GATES) {
    TimingGate g;
    if (text_scan(&c, "%f [ %f %f %f ] [ %f %f %f ] ", &g.radius, &g.x, &g.y, &g.z, &g.dx, &g.dy,
                  &g.dz) != 7)
      break;
    g_gates.gates[g_gates.gate_count++] = g;
  }
  if (text_scan(&c, "%80s", word) == 1 && strcmp(word, "firstlap:") == 0) {
    g_gates.first = read_sequence(&c, 0);
    if (text_scan(&c, "%80s", word) == 1 && strcmp(word, "normallap:") == 0)
      g_gates.normal = read_sequence(&c, g_gates.first);
  }
  return finish_gate_records();
}

// Appends formatted text to a bounded buffer, counting what it would need.
struct TextOut {
  char *out;
  size_t size, length;
};
static void out_printf(TextOut *o, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void out_printf(TextOut *o, const char *format, ...) {
  va_list args;
  va_start(args, format);
  size_t room = o->length < o->size ? o->size - o->length : 0;
  int n = vsnprintf(room ? o->out + o->length : nullptr, room, format, args);
  va_end(args);
  if (n > 0) o->length += (size_t)n;
}

static const char *name_or_null(const char *name) { return name && name[0] ? name : "null"; }

size_t format_timing_gates(char *out, size_t size) {
  TextOut o{out, size, 0};
  if (size) out[0] = 0;
  if (g_gates.piece_count > 0) {
    out_printf(&o, "startinggate:\n");
    for (int i = 0; i < g_gates.piece_count; i++) {
      const StartGatePiece *p = &g_gates.pieces[i];
      out_printf(&o, "[%f %f %f]", p->x, p->y, p->z);
      out_printf(&o, " %f", p->angle);
      if (strcmp(p->model, DEFAULT_GATE_MODEL) == 0 &&
          strcmp(p->texture, DEFAULT_GATE_TEXTURE) == 0 &&
          strcmp(p->shape, DEFAULT_GATE_SHAPE) == 0)
        out_printf(&o, "\n");
      else
        out_printf(&o, " %s %s %s\n", name_or_null(p->model), name_or_null(p->texture),
                   name_or_null(p->shape));
    }
  }
  if (g_gates.gate_count > 0) {
    out_printf(&o, "checkpoints:\n");
    for (int i = 0; i < g_gates.gate_count; i++) {
      const TimingGate *g = &g_gates.gates[i];
      out_printf(&o, "%f ", g->radius);
      out_printf(&o, "[%f %f %f]", g->x, g->y, g->z);
      out_printf(&o, " ");
      out_printf(&o, "[%f %f %f]", g->dx, g->dy, g->dz);
      out_printf(&o, "\n");
    }
  }
  if (g_gates.first > 0) {
    out_printf(&o, "firstlap:\n");
    for (int i = 0; i < g_gates.first; i++) out_printf(&o, "%d ", g_gates.sequence[i]);
    out_printf(&o, "\n");
  }
  if (g_gates.normal > 0) {
    out_printf(&o, "normallap:\n");
    for (int i = 0; i < g_gates.normal; i++)
      out_printf(&o, "%d ", g_gates.sequence[g_gates.first + i]);
    out_printf(&o, "\n");
  }
  return o.length;
}

// ---------------------------------------------------------------------------------------
// The crossing check
// ---------------------------------------------------------------------------------------

static const RacerTiming *field_leader(const GateField *field) {
  return field && field->count > 0 ? field->order[0] : nullptr;
}

int check_gate_crossing(RacerTiming *t, int slot, Vec3 wheel, const GateField *field) {
  if (!track_has_timing() || t->finished) return 0;
  static const int offsets[] = {-3, -2, 0, 1, 2};  // -1, the gate crossed last, is not retested
  int c = t->next_gate;
  int missed = 0;
  for (int o : offsets) {
    int g = c + o;
    if (g < 0) continue;
    if (!crossing_valid(t, g)) missed = 1;
    const TimingGate *gate = &g_gates.gates[gate_of_crossing(g)];
    float dx = wheel.x - gate->x, dz = wheel.z - gate->z;
    int passed = dx * dx + dz * dz <= gate->radius * gate->radius &&
                 dx * gate->dx + dz * gate->dz >= 0;
    if (!passed) {
      // No gate beyond a start/finish line that was not crossed can be taken.
      if (ends_lap(g) && !crossing_valid(t, g)) break;
      continue;
    }
    // An old gate counts again only when a gate tested so far was skipped.
    if (o < 0 && !missed) continue;
    if (g >= MAX_CROSSING_INDEX) return 0;
    put_crossing(t, g, field ? field->tick : 0);
    t->next_gate = g + 1;
    if (g_hooks.learn_crossing) g_hooks.learn_crossing(slot, g, o == 0);
    if (ends_lap(g)) {
      int lap_limit = field ? field->lap_limit : 0;
      const RacerTiming *leader = field_leader(field);
      if ((leader && leader->next_gate > finish_index(lap_limit)) ||
          laps_completed(t) >= lap_limit)
        t->finished = 1;
      if (g_hooks.update_results) g_hooks.update_results();
    }
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Laps, the finish, slowness and cutting
// ---------------------------------------------------------------------------------------
// A racer's crossing count is its next gate, as in the running order: entries stored past it
// (left by going back for a missed gate) are not counted until passed again.

int laps_completed(const RacerTiming *t) {
  int c = t->next_gate;
  if (g_gates.gate_count == 0 || g_gates.normal <= 0 || c < g_gates.first) return 0;
  return (c - g_gates.first) / g_gates.normal + 1;
}

float lap_time(const RacerTiming *t, int lap, const GateField *field) {
  int done = laps_completed(t);
  if (lap < 0) lap = done;
  if (!track_has_timing() || lap <= 0 || lap > done) return 0;
  int32_t start, end = crossing_tick(t, (int)lap_end_index(lap));
  if (lap == 1)
    start = field ? field->start_tick : 0;
  else
    start = crossing_tick(t, (int)lap_end_index(lap - 1));
  if (start == -1 || end == -1) return 0;
  return (float)((end - start) * TICK);
}

int32_t lap_ticks(const RacerTiming *t, int lap) {
  if (!track_has_timing() || lap < 2 || lap > laps_completed(t)) return 0;
  int32_t start = crossing_tick(t, (int)lap_end_index(lap - 1));
  int32_t end = crossing_tick(t, (int)lap_end_index(lap));
  if (start == -1 || end == -1) return 0;
  return end - start;
}

int has_finished(RacerTiming *t, const GateField *field) {
  if (t->finished) return 1;
  const RacerTiming *leader = field_leader(field);
  if (!leader || !track_has_timing()) return 0;
  int64_t e = finish_index(field->lap_limit);
  if (leader->next_gate <= e) return 0;
  int32_t d = crossing_tick(leader, (int)e);
  if (d == -1) return 0;
  int c = t->next_gate;
  int h_index = 0;
  if (c >= g_gates.first)
    h_index = g_gates.first + g_gates.normal * ((c - g_gates.first) / g_gates.normal) - 1;
  int32_t h = crossing_tick(t, h_index);
  if (h == -1 || h < d) return 0;
  // A lap completed since the leader finished.
  t->finished = 1;
  return 1;
}

// Every crossing from b to a (inclusive) is valid; b below 0 counts as the start at tick 0.
static int stretch_valid(const RacerTiming *t, int a, int b) {
  if (a >= t->next_gate || a < 0) return 0;
  for (int i = b < 0 ? 0 : b; i <= a; i++)
    if (!crossing_valid(t, i)) return 0;
  return 1;
}

int32_t segment_average(int a, int b, const GateField *field) {
  int64_t sum = 0;
  int racers = 0;
  int n = g_gates.normal;
  for (int r = 0; field && r < field->count; r++) {
    const RacerTiming *t = field->order[r];
    if (!t) continue;
    if (b < g_gates.first) {
      if (!stretch_valid(t, a, b)) continue;
      int32_t from = b < 0 ? 0 : crossing_tick(t, b);
      sum += crossing_tick(t, a) - from;
      racers++;
    } else {
      if (n <= 0) continue;
      int64_t laps_sum = 0;
      int laps = 0;
      for (int bb = gate_slot(b), aa = bb + (a - b); aa < t->next_gate; bb += n, aa += n) {
        if (!stretch_valid(t, aa, bb)) continue;
        laps_sum += crossing_tick(t, aa) - crossing_tick(t, bb);
        laps++;
      }
      if (laps == 0) continue;
      sum += laps_sum / laps;
      racers++;
    }
  }
  if (racers == 0) return NO_SEGMENT_TIME;
  return (int32_t)(sum / racers);
}

int is_slow_on(const RacerTiming *t, int n, const GateField *field) {
  if (!field) return 0;
  double b = field->start_tick;
  for (int i = n - 1; i >= n - 3 && i >= 0; i--) {
    if (crossing_valid(t, i)) {
      b = crossing_tick(t, i);
      break;
    }
  }
  double e = field->tick;
  for (int i = n < 0 ? 0 : n; i < t->next_gate; i++) {
    if (crossing_valid(t, i)) {
      e = crossing_tick(t, i);
      break;
    }
  }
  for (int r = 0; r < field->count; r++) {
    const RacerTiming *o = field->order[r];
    if (!o) continue;
    if (o->next_gate <= n) return 0;
    int32_t p = crossing_tick(o, n - 1), q = crossing_tick(o, n);
    if (p == -1 || q == -1) continue;
    return b * TICK + (q - p) * TICK * field->slow_factor + field->slow_grace <= e * TICK;
  }
  return 0;
}

int32_t cutting_penalty(const RacerTiming *t, const GateField *field) {
  int64_t penalty = 0;
  int32_t last = 0;
  int skipped = 0;
  for (int i = 0; i < t->next_gate; i++) {
    int32_t tick = crossing_tick(t, i);
    if (tick == -1) {
      skipped++;
      continue;
    }
    if (skipped >= 1) {
      int64_t expected = (int64_t)segment_average(i, i - skipped - 1, field) + PENALTY_MARGIN;
      int64_t taken = (int64_t)tick - last;
      if (taken < expected) penalty += expected - taken;
    }
    skipped = 0;
    last = tick;
  }
  return penalty > 0x7fffffff ? 0x7fffffff : (int32_t)penalty;
}

int penalty_laps(const RacerTiming *t, int *counted, int32_t *penalty) {
  int best = 0;
  int32_t best_ticks = 0;
  for (int lap = 2; lap <= laps_completed(t); lap++) {
    int32_t ticks = lap_ticks(t, lap);
    if (ticks > 0 && (best == 0 || ticks < best_ticks)) {
      best = lap;
      best_ticks = ticks;
    }
  }
  int taken = 0;
  if (best >= 2 && best_ticks < *penalty) {
    while (*counted > g_gates.first && best_ticks < *penalty) {
      *counted -= g_gates.normal;
      *penalty -= best_ticks;
      taken++;
    }
  }
  return taken;
}
