// Points series: the .series reader, standings, round ranks, gate picks and recording.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/race_local.h"

// ---- lives for the process: the scanned series, the menu's selection, the running event ----
static struct SeriesState {
  Series *list;
  int count, capacity;
  int selected;
  int running;        // series index of the running event, -1 when none
  int running_event;  // its event index
} g = {nullptr, 0, 0, 0, -1, 0};

constexpr size_t SERIES_FILE_LIMIT = 4 << 20;  // bytes read of one series or standings file

static char *dup_text(const char *text) {
  size_t n = strlen(text) + 1;
  char *copy = (char *)malloc(n);
  if (!copy) fatal_out_of_memory();
  memcpy(copy, text, n);
  return copy;
}

// ---------------------------------------------------------------------------------------
// Reading fields: white space separates them; a quoted field may hold spaces
// ---------------------------------------------------------------------------------------
namespace {
struct Cursor {
  const char *p, *end;
};
}  // namespace

static void skip_space(Cursor *c) {
  while (c->p < c->end && isspace((unsigned char)*c->p)) c->p++;
}

static int read_int(Cursor *c, int *out) {
  skip_space(c);
  const char *p = c->p;
  int negative = 0;
  if (p < c->end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (p >= c->end || !isdigit((unsigned char)*p)) return 0;
  long long v = 0;
  while (p < c->end && isdigit((unsigned char)*p)) {
    if (v < (long long)INT_MAX + 1) v = v * 10 + (*p - '0');
    p++;
  }
  if (negative) v = -v;
  *out = (int)std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, v));
  c->p = p;
  return 1;
}

// One word of at most SERIES_NAME_CHARS characters (a longer one is split).
static int read_word(Cursor *c, char *out) {
  skip_space(c);
  size_t n = 0;
  while (c->p < c->end && !isspace((unsigned char)*c->p) && n < SERIES_NAME_CHARS)
    out[n++] = *c->p++;
  out[n] = 0;
  return n > 0;
}

// A quoted string of at most SERIES_NAME_CHARS characters, or else one word.
static int read_name(Cursor *c, char *out) {
  skip_space(c);
  if (c->p < c->end && *c->p == '"') {
    const char *q = c->p + 1;
    size_t n = 0;
    while (q < c->end && *q != '"' && n < SERIES_NAME_CHARS) out[n++] = *q++;
    if (q < c->end && *q == '"') {
      out[n] = 0;
      c->p = q + 1;
      return 1;
    }
  }
  return read_word(c, out);
}

// Whether a track directory is a track: the catalogue's answer, or without a catalogue a
// directory holding a height field.
static int find_track(const char *dir, int *index) {
  const SessionHooks *h = session_hooks();
  if (h->track_index) {
    *index = h->track_index(dir);
    return *index >= 0;
  }
  *index = -1;
  size_t n = strlen(dir);
  static const char *const endings[] = {"/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram",
                                        "/terrain.hf.gz.scram"};
  for (const char *const *name = data_names(); *name; name++) {
    if (strncmp(*name, dir, n) != 0) continue;
    for (const char *e : endings)
      if (strcmp(*name + n, e) == 0) return 1;
  }
  return 0;
}

void series_free(Series *s) {
  for (int i = 0; i < s->event_count; i++) {
    free(s->events[i].name);
    free(s->events[i].track);
  }
  free(s->events);
  free(s->file);
  free(s->name);
  free(s->standings);
  *s = Series{};
}

int series_parse(const char *text, size_t length, const char *file, Series *out) {
  Cursor c = {text, text + length};
  char word[SERIES_NAME_CHARS + 1];
  Series s = {};
  int n, events;
  if (!read_name(&c, word)) return 0;
  s.name = dup_text(word);
  if (!read_int(&c, &n) || !read_word(&c, word) || n < 0 || n > MAX_RACERS - 1) goto fail;
  s.robot_count = n;
  s.skill = strcmp(word, "Novice") == 0 ? 0 : strcmp(word, "Amateur") == 0 ? 1 : 2;
  // A robot number must make a lineup code (1000 + number).
  for (int i = 0; i < n; i++)
    if (!read_int(&c, &s.robots[i]) || s.robots[i] < 0 || s.robots[i] > 1000000) goto fail;
  // Each event takes at least 84 fields; more events than the text could hold is corrupt.
  if (!read_int(&c, &events) || events < 0 || (size_t)events > length / 84 + 1) goto fail;
  s.events = (SeriesEvent *)calloc(events ? events : 1, sizeof(SeriesEvent));
  if (!s.events) fatal_out_of_memory();
  for (int i = 0; i < events; i++) {
    SeriesEvent *e = &s.events[i];
    if (!read_name(&c, word)) goto fail;
    e->name = dup_text(word);
    s.event_count = i + 1;
    if (!read_name(&c, word)) goto fail;
    e->track = dup_text(word);
    if (!find_track(e->track, &e->track_index)) goto fail;
    if (!read_int(&c, &e->minutes) || !read_int(&c, &e->laps)) goto fail;
    for (int k = 0; k < SERIES_POINTS; k++)
      if (!read_int(&c, &e->moto_points[k])) goto fail;
    for (int k = 0; k < SERIES_POINTS; k++)
      if (!read_int(&c, &e->round_points[k])) goto fail;
    for (int k = 0; k < MAX_RACERS; k++) e->finishes[k] = n;
  }
  s.event_count = events;
  s.file = dup_text(file ? file : "");
  {
    size_t size = strlen(s.file) + 12;
    s.standings = (char *)malloc(size);
    if (!s.standings) fatal_out_of_memory();
    snprintf(s.standings, size, "@%s_standings", s.file);
  }
  *out = s;
  return 1;
fail:
  series_free(&s);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Standings and round ranks
// ---------------------------------------------------------------------------------------
static int moto_points(const SeriesEvent *e, int finish) {
  return finish >= 0 && finish < SERIES_POINTS ? e->moto_points[finish] : 0;
}

void series_compute_round_ranks(Series *s) {
  int participants = s->robot_count + 1;
  long long sum[MAX_RACERS] = {};
  for (int i = 0; i < s->completed && i < s->event_count; i++) {
    SeriesEvent *e = &s->events[i];
    for (int p = 0; p < participants; p++) sum[p] += moto_points(e, e->finishes[p]);
    if (e->round_points[0] == 0) continue;
    int order[MAX_RACERS];
    for (int p = 0; p < participants; p++) order[p] = p;
    std::stable_sort(order, order + participants, [&](int a, int b) {
      if (sum[a] != sum[b]) return sum[a] > sum[b];
      return e->finishes[a] < e->finishes[b];
    });
    for (int k = 0; k < participants; k++) e->round_ranks[order[k]] = k;
    for (int p = 0; p < participants; p++) sum[p] = 0;
  }
}

int series_points(const Series *s, int participant) {
  if (participant < 0 || participant > s->robot_count) return 0;
  long long total = 0;  // points tables are the file's; their sums may be large
  for (int i = 0; i < s->completed && i < s->event_count; i++) {
    const SeriesEvent *e = &s->events[i];
    if (e->round_points[0] == 0) continue;
    int rank = e->round_ranks[participant];
    if (rank >= 0 && rank < SERIES_POINTS) total += e->round_points[rank];
  }
  return (int)std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, total));
}

void series_parse_standings(Series *s, const char *text, size_t length) {
  int participants = s->robot_count + 1;
  const char *p = text, *end = text + length;
  s->completed = 0;
  while (s->completed < s->event_count && p < end) {
    const char *line_end = (const char *)memchr(p, '\n', (size_t)(end - p));
    if (!line_end) break;  // an unfinished last line is not a result
    Cursor c = {p, line_end};
    int finishes[MAX_RACERS];
    int ok = 1;
    for (int k = 0; k < participants && ok; k++) {
      int v;
      ok = read_int(&c, &v) && v >= 1 && v <= participants;
      if (ok) finishes[k] = v - 1;
    }
    if (!ok) break;
    memcpy(s->events[s->completed].finishes, finishes, sizeof(int) * participants);
    s->completed++;
    p = line_end + 1;
  }
  series_compute_round_ranks(s);
}

static int read_whole(const char *name, char **text, size_t *length) {
  DataFile *f = datafile_open(name, "rb");
  if (!f) return 0;
  size_t capacity = 4096, n = 0;
  char *buffer = (char *)malloc(capacity);
  if (!buffer) fatal_out_of_memory();
  for (;;) {
    if (n == capacity) {
      if (capacity >= SERIES_FILE_LIMIT) break;
      capacity *= 2;
      buffer = (char *)realloc(buffer, capacity);
      if (!buffer) fatal_out_of_memory();
    }
    size_t got = datafile_read(f, buffer + n, capacity - n);
    if (got == 0) break;
    n += got;
  }
  datafile_close(f);
  *text = buffer;
  *length = n;
  return 1;
}

void series_load_standings(Series *s) {
  char *text;
  size_t length;
  if (!read_whole(s->standings, &text, &length)) {
    s->completed = 0;
    series_compute_round_ranks(s);
    return;
  }
  series_parse_standings(s, text, length);
  free(text);
}

int series_save_standings(const Series *s) {
  DataFile *f = datafile_open(s->standings, "wb");
  if (!f) return 0;
  for (int i = 0; i < s->completed && i < s->event_count; i++) {
    for (int p = 0; p <= s->robot_count; p++)
      datafile_printf(f, "%d ", s->events[i].finishes[p] + 1);
    datafile_printf(f, "\n");
  }
  int ok = datafile_flush(f) == 0;
  datafile_close(f);
  return ok;
}

// ---------------------------------------------------------------------------------------
// The series list
// ---------------------------------------------------------------------------------------
void series_reset() {
  for (int i = 0; i < g.count; i++) series_free(&g.list[i]);
  free(g.list);
  g = SeriesState{nullptr, 0, 0, 0, -1, 0};
}

void scan_series() {
  series_reset();
  int debug = session_options()->debug_level;
  for (const char *const *name = data_names(); *name; name++) {
    size_t n = strlen(*name);
    if (n < 7 || strcmp(*name + n - 7, ".series") != 0) continue;
    char path[1024];
    snprintf(path, sizeof path, "@%s", *name);
    char *text;
    size_t length;
    if (!read_whole(path, &text, &length)) continue;
    Series s;
    int ok = series_parse(text, length, *name, &s);
    free(text);
    if (!ok) continue;
    if (g.count == g.capacity) {
      g.capacity = g.capacity ? g.capacity * 2 : 8;
      g.list = (Series *)realloc(g.list, sizeof(Series) * g.capacity);
      if (!g.list) fatal_out_of_memory();
    }
    series_load_standings(&s);
    if (debug >= 1) {
      velk_log("series %s (%s)\n", *name, s.name);
      for (int i = 0; i < s.event_count; i++)
        velk_log("  event %s (%s)\n", s.events[i].track, s.events[i].name);
    }
    g.list[g.count++] = s;
  }
}

int series_count() { return g.count; }
Series *series_at(int index) { return index >= 0 && index < g.count ? &g.list[index] : nullptr; }
void select_series(int index) { g.selected = index; }
int selected_series() { return g.selected; }
int running_series(int *event) {
  if (event) *event = g.running_event;
  return g.running;
}
void set_running_series(int series, int event) {
  g.running = series;
  g.running_event = event;
}

// ---------------------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------------------
int series_gate_position(int n, int p) {
  static const int small_field[] = {6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 34};
  static const int large_field[] = {10, 9, 11, 8, 12, 7, 13, 6, 14, 5, 15, 4, 16, 3, 17, 2, 18, 1, 19, 0};
  constexpr int small_count = sizeof small_field / sizeof small_field[0];
  constexpr int large_count = sizeof large_field / sizeof large_field[0];
  if (p < 0) return 0;
  if (n <= 14) return p < small_count ? small_field[p] : p + 20;
  return p < large_count ? large_field[p] : p;  // then 20 to 39 (and beyond) in order
}

int series_event_lineup(const Series *s, int lineup[MAX_RACERS]) {
  if (s->completed >= s->event_count) return 0;
  int n = s->robot_count;
  for (int i = 0; i < MAX_RACERS; i++) lineup[i] = LINEUP_EMPTY;
  auto code = [s, n](int participant) {
    return participant < n ? LINEUP_ROBOT_NUMBER + s->robots[participant] : (int)LINEUP_HUMAN;
  };
  if (s->completed == 0) {
    for (int p = 0; p <= n; p++) lineup[p] = code(p);
    return 1;
  }
  // Gate picks: last finisher of the previous event first.
  const SeriesEvent *previous = &s->events[s->completed - 1];
  int pick = 0;
  for (int position = n; position >= 0; position--)
    for (int p = 0; p <= n; p++) {
      int finish = std::min(std::max(previous->finishes[p], 0), n);
      if (finish != position) continue;
      int gate = series_gate_position(n, pick++);
      if (gate >= 0 && gate < MAX_RACERS) lineup[gate] = code(p);
    }
  return 1;
}

int start_series_event() {
  Series *s = series_at(g.selected);
  int lineup[MAX_RACERS];
  if (!s || !series_event_lineup(s, lineup)) return 0;
  const SeriesEvent *e = &s->events[s->completed];
  track_select(e->track, nullptr);
  Config *cfg = config();
  int minutes = std::min(std::max(e->minutes, 0), 100000);  // keeps the ticks in range
  return start_session(lineup, 0, cfg->record.index != 0, minutes * 60 * 128, e->laps, s->skill);
}

int enter_series_event() {
  if (g.running >= 0 && g.running == g.selected) return 0;
  Series *s = series_at(g.selected);
  if (!s) return 0;
  int completed = s->completed;
  if (!start_series_event()) return 0;
  set_running_series(g.selected, completed);
  return 1;
}

void record_series_event() {
  Series *s = series_at(g.running);
  int event = g.running_event;
  g.running = -1;
  if (!s || event != s->completed || event >= s->event_count) return;
  const SessionClock *clock = session_clock();
  int count;
  const RunningOrder *order = clock->results_final ? final_order(&count) : running_order(&count);
  int n = s->robot_count;
  SeriesEvent *e = &s->events[event];
  for (int p = 0; p <= n; p++) e->finishes[p] = n;
  int placed[MAX_RACERS] = {};
  int position = 0;
  for (int i = 0; i < count; i++) {
    const Racer *r = racer_at(order[i].slot);
    if (!r || !r->bike) continue;
    if (r->kind == RACER_HUMAN) {
      if (!clock->results_final) {
        const RacerTiming *t = r->bike->timing;
        GateField field;
        race_gate_field(&field);
        if (!t->finished || cutting_penalty(t, &field) != 0) continue;
      }
      if (!placed[n]) {
        placed[n] = 1;
        e->finishes[n] = position++;
      }
      continue;
    }
    for (int p = 0; p < n; p++) {
      char number[16];
      snprintf(number, sizeof number, "%d", s->robots[p]);
      if (placed[p] || strcmp(r->number, number) != 0) continue;
      placed[p] = 1;
      e->finishes[p] = position++;
      break;
    }
  }
  s->completed++;
  series_compute_round_ranks(s);
  series_save_standings(s);
}
