// State history: the 128-entry ring of every racer slot, the blend of two compact states,
// and the placement and hiding of racers simulated elsewhere.
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "core/frame.h"
#include "race/demo.h"
#include "race/race_local.h"

static_assert(HISTORY_SLOTS == MAX_RACERS, "one history per racer slot");

// ---- per session: the rings; per connection: what the client tells us ----
constexpr int FINGERPRINT_BITS = 256;
static struct {
  StateHistory rings[HISTORY_SLOTS];
  RemoteView remote;
  // What each slot's states reported of its build fingerprint (per session).
  uint8_t reported_known[HISTORY_SLOTS][FINGERPRINT_BITS / 8];
  uint8_t reported_bits[HISTORY_SLOTS][FINGERPRINT_BITS / 8];
  int initialised;
} s;

static void ensure_initialised() {
  if (s.initialised) return;
  s.initialised = 1;
  for (int i = 0; i < HISTORY_SLOTS; i++) clear_history(i);
  s.remote.own_slot = s.remote.racing_slot = HISTORY_SLOTS;
  s.remote.off_course_bias = 10;
}

static int prev_index(int i) { return (i + HISTORY_ENTRIES - 1) % HISTORY_ENTRIES; }
static int next_index(int i) { return (i + 1) % HISTORY_ENTRIES; }

StateHistory *state_history(int slot) {
  ensure_initialised();
  return slot >= 0 && slot < HISTORY_SLOTS ? &s.rings[slot] : nullptr;
}

RemoteView *remote_view() {
  ensure_initialised();
  return &s.remote;
}

void clear_history(int slot) {
  if (slot < 0 || slot >= HISTORY_SLOTS) return;
  StateHistory *h = &s.rings[slot];
  memset(h, 0, sizeof *h);
  for (int i = 0; i < HISTORY_ENTRIES; i++) h->entries[i].tick = -1;
}

void clear_all_histories() {
  s.initialised = 1;
  for (int i = 0; i < HISTORY_SLOTS; i++) clear_history(i);
}

void history_forget_reports() {
  memset(s.reported_known, 0, sizeof s.reported_known);
  memset(s.reported_bits, 0, sizeof s.reported_bits);
}

static void note_report(int slot, const CompactRacerState *state) {
  int k = integrity_index(state);
  uint8_t mask = (uint8_t)(0x80 >> (k % 8));
  s.reported_known[slot][k / 8] |= mask;
  if (state->bytes[19] & 1)
    s.reported_bits[slot][k / 8] |= mask;
  else
    s.reported_bits[slot][k / 8] &= (uint8_t)~mask;
}

void integrity_digits(int slot, char out[65]) {
  static const char hex[] = "0123456789abcdef";
  for (int d = 0; d < 64; d++) {
    int shift = d % 2 ? 0 : 4;
    int known = slot >= 0 && slot < HISTORY_SLOTS ? (s.reported_known[slot][d / 2] >> shift) & 15 : 0;
    out[d] = known == 15 ? hex[(s.reported_bits[slot][d / 2] >> shift) & 15] : '?';
  }
  out[64] = 0;
}

void history_reset_remote_view() {
  s.remote = RemoteView{};
  s.remote.own_slot = s.remote.racing_slot = HISTORY_SLOTS;
  s.remote.off_course_bias = 10;
}

// The new entry goes right after the newest entry not after its tick; entries after it
// are discarded (marked unused, so that the ring stays in tick order backwards from the
// newest). A tick already stored changes nothing.
int add_state_to_history(int slot, const CompactRacerState *state, int32_t tick) {
  StateHistory *h = state_history(slot);
  if (!h) {
    show_message("add_state_to_history: slot out of range");
    return 0;
  }
  if (tick < 0) return 0;  // -1 marks unused entries
  int i = h->newest, found = -1;
  for (int step = 0; step < HISTORY_ENTRIES; step++) {
    if (h->entries[i].tick <= tick) {
      found = i;
      break;
    }
    i = prev_index(i);
  }
  if (found >= 0 && h->entries[found].tick == tick) return 0;
  int at;
  if (found < 0) {
    // Earlier than everything stored: it starts the ring afresh.
    for (int k = 0; k < HISTORY_ENTRIES; k++) h->entries[k].tick = -1;
    at = next_index(h->newest);
  } else {
    at = next_index(found);
    for (int k = at, end = next_index(h->newest); k != end; k = next_index(k)) h->entries[k].tick = -1;
  }
  h->entries[at].tick = tick;
  h->entries[at].state = *state;
  h->newest = at;
  if (h->pending < HISTORY_ENTRIES) h->pending++;
  note_report(slot, state);
  return 1;
}

int history_bracket(const StateHistory *h, int32_t tick, int *older, int *newer) {
  int32_t target = tick > 0 ? tick : 0;
  int c = h->newest, steps = 0;
  while (steps < HISTORY_ENTRIES && h->entries[c].tick >= target) {
    c = prev_index(c);
    steps++;
  }
  int p, q;
  if (steps == 0) {
    if (h->entries[h->newest].tick == -1) return 0;
    q = h->newest;
    p = h->entries[prev_index(q)].tick == -1 ? q : prev_index(q);
  } else if (steps == HISTORY_ENTRIES) {
    p = next_index(h->newest);
    q = next_index(p);
  } else if (h->entries[c].tick == -1) {
    p = next_index(c);
    q = steps == 1 ? p : next_index(p);
  } else {
    p = c;
    q = next_index(c);
  }
  *older = p;
  *newer = q;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Blending
// ---------------------------------------------------------------------------------------
static uint32_t get_field(const uint8_t *p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}
static void put_field(uint8_t *p, int n, uint32_t v) {
  for (int i = 0; i < n; i++) p[i] = (uint8_t)(v >> (8 * i));
}
static double field_max(int n) { return n == 1 ? 255.0 : n == 2 ? 65535.0 : 16777215.0; }
static void encode(uint8_t *p, int n, double x) {
  if (!(x > 0)) x = 0;
  if (x > 1) x = 1;
  put_field(p, n, (uint32_t)std::floor(x * field_max(n)));
}
static void blend_field(uint8_t *out, const uint8_t *a, const uint8_t *b, int n, double t) {
  double m = field_max(n), xa = get_field(a, n) / m, xb = get_field(b, n) / m;
  encode(out, n, xa + t * (xb - xa));
}
static void blend_quat(uint8_t *out, const uint8_t *a, const uint8_t *b, double t) {
  double qa[4], qb[4], q[4], dot = 0, len = 0;
  for (int i = 0; i < 4; i++) {
    qa[i] = 2 * get_field(a + 2 * i, 2) / 65535.0 - 1;
    qb[i] = 2 * get_field(b + 2 * i, 2) / 65535.0 - 1;
    dot += qa[i] * qb[i];
  }
  if (dot < 0)
    for (int i = 0; i < 4; i++) qa[i] = -qa[i];
  for (int i = 0; i < 4; i++) {
    q[i] = qa[i] + t * (qb[i] - qa[i]);
    len += q[i] * q[i];
  }
  len = std::sqrt(len);
  for (int i = 0; i < 4; i++) {
    double c = len > 0 ? q[i] / len : (i == 0 ? 1 : 0);
    c = c < -1 ? -1 : (c > 1 ? 1 : c);
    put_field(out + 2 * i, 2, (uint32_t)std::floor((c + 1) / 2 * 65535));
  }
}
// Wheel bytes are fractions of a turn; the change is taken between 1/8 turn backward and
// 7/8 turn forward.
static uint8_t blend_wheel(uint8_t a, uint8_t b, double t) {
  double fa = a / 255.0, fb = b / 255.0;
  if (fb < fa - 0.125)
    fa -= 1;
  else if (fb > fa + 0.875)
    fb -= 1;
  double x = fa + t * (fb - fa);
  if (x < 0 && x > -1e-9) x = 0;  // rounding noise, not a step back through the wrap
  if (x < 0) x += 1;
  x = x < 0 ? 0 : (x > 1 ? 1 : x);
  return (uint8_t)std::floor(255 * x);
}
// Gear byte: gear, dab and the crash state are discrete and come whole from the nearer
// state; the 4-bit throttle (or crash timer, when both are down) is interpolated.
static uint8_t blend_gear(uint8_t a, uint8_t b, double t) {
  uint8_t nearer = t < 0.5 ? a : b;
  int down_a = (a & 7) == 7, down_b = (b & 7) == 7;
  if (down_a != down_b) return nearer;
  int na = a >> 4, nb = b >> 4;
  int n = (int)std::floor(na + t * (nb - na));
  n = n < 0 ? 0 : (n > 15 ? 15 : n);
  return (uint8_t)((nearer & 15) | n << 4);
}

void blend_compact_states(CompactRacerState *out, const CompactRacerState *a,
                          const CompactRacerState *b, float t, int legacy) {
  if (t == 0 || legacy) {
    *out = *a;
    return;
  }
  const uint8_t *pa = a->bytes, *pb = b->bytes;
  uint8_t r[COMPACT_STATE_BYTES];
  double tt = t;
  for (int f = 0; f < 3; f++) blend_field(r + 3 * f, pa + 3 * f, pb + 3 * f, 3, tt);  // may run on
  if (tt > 1) tt = 1;
  blend_quat(r + 9, pa + 9, pb + 9, tt);
  blend_quat(r + 26, pa + 26, pb + 26, tt);
  for (int i = 17; i <= 19; i++) blend_field(r + i, pa + i, pb + i, 1, tt);
  for (int f = 0; f < 3; f++) blend_field(r + 20 + 2 * f, pa + 20 + 2 * f, pb + 20 + 2 * f, 2, tt);
  r[34] = blend_wheel(pa[34], pb[34], tt);
  r[35] = blend_wheel(pa[35], pb[35], tt);
  r[36] = blend_gear(pa[36], pb[36], tt);
  blend_field(r + 37, pa + 37, pb + 37, 2, tt);
  r[18] &= (uint8_t)~1;  // blended, not encoded from a simulated rider
  memcpy(out->bytes, r, sizeof r);
}

// ---------------------------------------------------------------------------------------
// Placement
// ---------------------------------------------------------------------------------------
void place_from_history(int slot, int32_t tick) {
  Racer *racer = racer_at(slot);
  StateHistory *h = state_history(slot);
  if (!racer || !racer->bike || !h) return;
  int pi, qi;
  if (!history_bracket(h, tick, &pi, &qi)) return;
  int32_t target = tick > 0 ? tick : 0;
  const HistoryEntry *p = &h->entries[pi], *q = &h->entries[qi];
  int format = demo_format() ? demo_format() : DEFAULT_STATE_FORMAT;
  int32_t tp = p->tick, tq = q->tick;
  if (tp == tq || target <= tp) {
    place_remote_racer(racer->bike, p->state.bytes, p->state.bytes, p->state.bytes, 1, format);
  } else if (target == tq) {
    place_remote_racer(racer->bike, q->state.bytes, p->state.bytes, q->state.bytes, tq - tp, format);
  } else {
    int32_t g = tq + EXTRAPOLATION_TICKS < target ? tq + EXTRAPOLATION_TICKS : target;
    CompactRacerState blended;
    blend_compact_states(&blended, &p->state, &q->state, (float)(g - tp) / (float)(tq - tp), format == 4);
    place_remote_racer(racer->bike, blended.bytes, p->state.bytes, q->state.bytes, tq - tp, format);
  }
}

void place_remote_from_history(Racer *, int slot, int32_t tick) {
  const RemoteView *v = remote_view();
  int warm_up = v->connected && v->racing_slot == HISTORY_SLOTS;
  place_from_history(slot, warm_up ? tick - 127 : tick);
}

// ---------------------------------------------------------------------------------------
// Hiding
// ---------------------------------------------------------------------------------------
// A racer that finished, has no crossings or was slow on one of its last gates.
static int off_course(RacerTiming *t, const GateField *field) {
  if (!t) return 1;
  if (has_finished(t, field)) return 1;
  int n = crossing_count(t);
  if (n == 0) return 1;
  for (int j = n - 3 > 1 ? n - 3 : 1; j <= n; j++)
    if (is_slow_on(t, j, field)) return 1;
  return 0;
}

int racer_hidden(int slot) {
  Racer *racer = racer_at(slot);
  const RemoteView *v = remote_view();
  const SessionClock *clock = session_clock();
  // 1, 2, 3.
  if (!racer || !racer->bike) return 1;
  int warm_up = v->connected && v->racing_slot == HISTORY_SLOTS;
  if (warm_up && racer->kind == RACER_HUMAN && slot != clock->viewed_slot) return 1;
  if (racer->kind == RACER_HUMAN || racer->kind == RACER_ROBOT) return 0;
  // 4. Outside the reach of its history.
  const StateHistory *h = state_history(slot);
  int pi, qi;
  if (!history_bracket(h, clock->tick, &pi, &qi)) return 1;
  if (clock->tick < h->entries[pi].tick - HISTORY_REACH ||
      clock->tick > h->entries[qi].tick + HISTORY_REACH)
    return 1;
  // 5, 6.
  if (racer->kind != RACER_REMOTE) return 0;
  Racer *own = v->own_slot < HISTORY_SLOTS ? racer_at(v->own_slot) : nullptr;
  if (!own || !own->bike) return 0;
  // 7. Stale online.
  if (slot != v->own_slot && (clock->tick - v->newest_tick[slot]) * TICK >= 1) return 1;
  // 8.
  int count = 0;
  running_order(&count);
  if (count <= 1 || (clock->tick - clock->start_tick) * TICK < v->off_course_bias) return 0;
  // 9, 10.
  GateField field;
  race_gate_field(&field);
  if (off_course(own->bike->timing, &field)) return 0;
  if (off_course(racer->bike->timing, &field)) return 1;
  return 0;
}
