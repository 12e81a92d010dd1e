// Demo files (".dvdemo"): recording every session, playback, race against a demo, seeking,
// the time-trial ghost, namedemo, and the session's demo calls.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "core/core.h"
#include "core/frame.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/demo.h"
#include "race/race.h"
#include "track/track.h"

namespace {

constexpr int MAX_DEMO_RACERS = MAX_RACERS;
constexpr int LINE_CHARS = 1024;              // longest header line, newline included
constexpr int32_t TICK_LIMIT = 1 << 30;       // ticks; anything beyond is a damaged file
constexpr int32_t READ_AHEAD = 64;            // ticks of states read before they are due
constexpr int MAX_BLOCKS_PER_TICK = 128;
constexpr int MAX_TEXT_SHOWN = 1023;          // bytes of a text block shown
constexpr int32_t DEFAULT_START_TICK = 1792;  // 14 s, headers without a start tick
constexpr int FILE_NAME_CHARS = 1024;

struct DemoRacer {
  char model[RACER_FILE_CHARS + 1];
  char rider_texture[RACER_FILE_CHARS + 1], bike_texture[RACER_FILE_CHARS + 1];
  char wheel_texture[RACER_FILE_CHARS + 1], head_texture[RACER_FILE_CHARS + 1];
  char number[RACER_NUMBER_CHARS + 1];
  char name[RACER_NAME_CHARS + 1];
};

struct DemoHeader {
  int version, racer_count;
  int32_t duration, extra_laps, start_tick;
  char track[LINE_CHARS];
  DemoRacer racers[MAX_DEMO_RACERS];
  long length;  // bytes
};

// ---- per playback: the open demo ----
struct Playback {
  DataFile *file;
  long pos;  // read position in the file
  DemoHeader header;
  long next_offset;      // the block to read next
  uint32_t prev_size;    // payload of the block before it
  int32_t first_tick;    // -1 until the first block
  int32_t offset;        // added to every recorded tick
  int32_t next_tick;
  int map[MAX_DEMO_RACERS];  // demo racer -> slot, -1
  int next_racer, last_racer;
  int complained;  // "slot out of range" shown once per playback
  char name[FILE_NAME_CHARS + 1];
};

// ---- per recording ----
struct Recording {
  DataFile *file;
  uint32_t last_size;
  int is_default;  // "@demos/default.dvdemo" (namedemo renames it)
  int slots[MAX_RACERS];
  int count;
};

static struct {
  Playback play;
  Recording rec;
  char pending_name[FILE_NAME_CHARS + 1];  // namedemo; "" = none
  char chosen[FILE_NAME_CHARS + 1];        // the demo menu's file; "" = none
  DemoHeader probe;                        // demo_file_track's scratch header
  uint8_t scratch[MAX_RACERS * HISTORY_ENTRIES * DEMO_ENTRY_BYTES];  // one block being written
} s = {};

// ---- little-endian ----
void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}
uint32_t get32(const uint8_t *p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Copies as much of the text as fits, always terminated.
void copy_text(char *out, size_t size, const char *text) {
  if (!size) return;
  size_t n = 0;
  if (text)
    while (n < size - 1 && text[n]) n++;
  if (n) memmove(out, text, n);
  out[n] = 0;
}

// ---- header reading ----
// One line ending in '\n' (not kept). 0 at the end of the data, on a line without its
// newline or a line longer than the buffer.
int read_line(DataFile *f, char *out, int size, long *consumed) {
  int n = 0;
  for (;;) {
    int c = datafile_getc(f);
    if (c < 0) return 0;
    (*consumed)++;
    if (c == '\n') break;
    if (n >= size - 1) return 0;
    out[n++] = (char)c;
  }
  out[n] = 0;
  return 1;
}

// Splits "a|b|c|d|e" into the racer's model and four textures (missing fields empty).
void split_racer_line(char *line, DemoRacer *r) {
  char *fields[5] = {};
  int n = 0;
  char *p = line;
  fields[n++] = p;
  while (*p && n < 5) {
    if (*p == '|') {
      *p = 0;
      fields[n++] = p + 1;
    }
    p++;
  }
  char *bar = strchr(fields[n - 1], '|');
  if (bar) *bar = 0;
  copy_text(r->model, sizeof r->model, fields[0]);
  copy_text(r->rider_texture, sizeof r->rider_texture, fields[1]);
  copy_text(r->bike_texture, sizeof r->bike_texture, fields[2]);
  copy_text(r->wheel_texture, sizeof r->wheel_texture, fields[3]);
  copy_text(r->head_texture, sizeof r->head_texture, fields[4]);
}

int parse_header(DataFile *f, DemoHeader *h) {
  char line[LINE_CHARS];
  long length = 0;
  if (!read_line(f, line, sizeof line, &length)) return 0;
  int version = 0, count = 0, duration = 0, extra = 0, start = DEFAULT_START_TICK;
  int n = sscanf(line, "DV%d %d %d %d %d", &version, &count, &duration, &extra, &start);
  if (n < 3 || version < 4 || version > 6) return 0;
  if (n < 4) extra = 0;
  if (n < 5) start = DEFAULT_START_TICK;
  if (count < 0 || count > MAX_DEMO_RACERS) return 0;
  if (duration < 0 || duration >= TICK_LIMIT || extra < 0 || extra >= TICK_LIMIT || start < 0 ||
      start >= TICK_LIMIT)
    return 0;
  if (!read_line(f, h->track, sizeof h->track, &length)) return 0;
  // The track is a directory among the data files, never a way out of them.
  if (h->track[0] == '/' || strstr(h->track, "..")) return 0;
  for (int i = 0; i < count; i++) {
    DemoRacer *r = &h->racers[i];
    *r = DemoRacer{};
    if (!read_line(f, line, sizeof line, &length)) return 0;
    split_racer_line(line, r);
    if (!read_line(f, line, sizeof line, &length)) return 0;
    copy_text(r->number, sizeof r->number, line);
    if (version >= 6) {
      if (!read_line(f, line, sizeof line, &length)) return 0;
      copy_text(r->name, sizeof r->name, line);
      // Any further lines up to the empty one belong to later versions.
      do {
        if (!read_line(f, line, sizeof line, &length)) return 0;
      } while (line[0]);
    }
  }
  h->version = version;
  h->racer_count = count;
  h->duration = duration;
  h->extra_laps = extra;
  h->start_tick = start;
  h->length = length;
  return 1;
}

// ---- playback file access ----
int play_seek(long offset) {
  Playback *p = &s.play;
  if (p->pos == offset) return 1;
  if (!datafile_seek(p->file, offset)) return 0;
  p->pos = offset;
  return 1;
}
size_t play_read(void *buffer, size_t length) {
  size_t n = datafile_read(s.play.file, buffer, length);
  s.play.pos += (long)n;
  return n;
}
// Skips forward by reading when the layer cannot seek.
int play_skip(long bytes) {
  if (bytes <= 0) return 1;
  if (play_seek(s.play.pos + bytes)) return 1;
  uint8_t buffer[4096];
  while (bytes > 0) {
    size_t want = bytes < (long)sizeof buffer ? (size_t)bytes : sizeof buffer;
    size_t n = play_read(buffer, want);
    if (n != want) return 0;
    bytes -= (long)n;
  }
  return 1;
}

void end_playback(const char *why) {
  if (why) {
    show_message(why);
    velk_log("demo: %s at byte %ld\n", why, s.play.pos);
  }
  datafile_close(s.play.file);
  s.play.file = nullptr;
}

const char *const DAMAGED = "Demo file damaged - playback stopped";

void forget_racers() {
  Playback *p = &s.play;
  for (int i = 0; i < MAX_DEMO_RACERS; i++) p->map[i] = -1;
  p->header.racer_count = 0;
  p->next_racer = 0;
  p->last_racer = -1;
}

int time_trial() { return session_clock()->time_trial; }

// The demo file playback opens.
void playback_file(char *out, size_t size) {
  const RunOptions *o = run_options();
  if (time_trial())
    snprintf(out, size, "@%s/fastlap.dvdemo", track_directory());
  else if (s.chosen[0])
    snprintf(out, size, "%s", s.chosen);
  else if (o && o->file)
    snprintf(out, size, "%s", o->file);
  else
    snprintf(out, size, "@demos/default.dvdemo");
}

// ---- format 6 blocks ----
// Reads one block; 0 when reading ends for this tick.
int read_block() {
  Playback *p = &s.play;
  SessionClock *clock = session_clock();
  if (!play_seek(p->next_offset)) return 0;  // not there yet: later ticks try again
  uint8_t head[DEMO_BLOCK_HEADER];
  if (play_read(head, sizeof head) != sizeof head) return 0;
  uint32_t size = get32(head) ^ p->prev_size;
  int32_t tick = (int32_t)get32(head + 4);
  int type = head[8];
  if (tick < 0 || tick >= TICK_LIMIT || size > (uint32_t)0x7FFFFFFF - DEMO_BLOCK_HEADER) {
    end_playback(DAMAGED);
    return 0;
  }
  if (type == DEMO_BLOCK_STATES && size % DEMO_ENTRY_BYTES == 0) {
    if (p->first_tick == -1) {
      p->first_tick = tick;
      if (clock->time_trial)
        p->offset = clock->tick - tick;  // the ghost starts now
      else
        clock->tick = tick;
    }
    for (uint32_t k = 0; k < size / DEMO_ENTRY_BYTES; k++) {
      uint8_t e[DEMO_ENTRY_BYTES];
      if (play_read(e, sizeof e) != sizeof e) {
        end_playback(DAMAGED);
        return 0;
      }
      int index = e[0];
      int64_t at = (int64_t)(int32_t)get32(e + 1) + p->offset;
      int slot = index < p->header.racer_count ? p->map[index] : -1;
      if (slot < 0) {
        if (!p->complained) show_message("add_state_to_history: slot out of range");
        p->complained = 1;
        continue;
      }
      if (at < 0 || at >= TICK_LIMIT) continue;
      CompactRacerState state;
      memcpy(state.bytes, e + 5, COMPACT_STATE_BYTES);
      add_state_to_history(slot, &state, (int32_t)at);
    }
  } else if (type == DEMO_BLOCK_TEXT) {
    char text[MAX_TEXT_SHOWN + 1];
    size_t shown = size < MAX_TEXT_SHOWN ? size : MAX_TEXT_SHOWN;
    if (play_read(text, shown) != shown) {
      end_playback(DAMAGED);
      return 0;
    }
    text[shown] = 0;
    show_message(text);
    if (!play_skip((long)(size - shown))) {
      end_playback(DAMAGED);
      return 0;
    }
  } else if (!play_skip((long)size)) {
    end_playback(DAMAGED);
    return 0;
  }
  p->next_offset += (long)size + DEMO_BLOCK_HEADER;
  p->prev_size = size;
  int64_t next = (int64_t)tick + p->offset;
  p->next_tick = next < TICK_LIMIT ? (int32_t)next : TICK_LIMIT;
  return 1;
}

// ---- formats 4 and 5: one record per racer per tick ----
void read_records() {
  Playback *p = &s.play;
  SessionClock *clock = session_clock();
  int size = p->header.version == 4 ? LEGACY_STATE_BYTES : COMPACT_STATE_BYTES;
  if (p->first_tick == -1) {
    p->first_tick = 0;
    p->next_tick = clock->tick;
  }
  for (int guard = 0; guard < 1024 && p->file && p->next_tick - 7 <= clock->tick; guard++) {
    int read = 0;
    for (int slot = 0, count = racer_count(); slot < count && read < p->header.racer_count; slot++) {
      Racer *r = racer_at(slot);
      if (!r->bike || r->kind != RACER_REMOTE) continue;
      CompactRacerState state = {};
      if (play_read(state.bytes, (size_t)size) != (size_t)size) return;  // the end, for now
      add_state_to_history(slot, &state, p->next_tick);
      read++;
    }
    if (!play_skip((long)(p->header.racer_count - read) * size)) return;
    p->next_tick++;
  }
}

// ---- recording ----
int write_all(const void *data, size_t length) {
  return datafile_write(s.rec.file, data, length) == length;
}

// Header texts never carry the separators of the header's own lines.
void header_text(char *out, size_t size, const char *text, int bar_too) {
  copy_text(out, size, text);
  for (char *c = out; *c; c++)
    if (*c == '\n' || *c == '\r' || (bar_too && *c == '|')) *c = '_';
}

int recorded_kind(const Racer *r) {
  const RemoteView *v = remote_view();
  if (!r->bike) return 0;
  if (!v->connected) return r->kind == RACER_HUMAN || r->kind == RACER_ROBOT;
  if (v->racing_slot == HISTORY_SLOTS) return r->kind == RACER_REMOTE || r->kind == RACER_ROBOT;
  return 1;
}

void write_header() {
  const SessionClock *c = session_clock();
  Recording *rec = &s.rec;
  rec->count = 0;
  for (int slot = 0; slot < racer_count(); slot++)
    if (recorded_kind(racer_at(slot))) rec->slots[rec->count++] = slot;
  char track[LINE_CHARS];
  header_text(track, sizeof track, track_directory(), 0);
  datafile_printf(rec->file, "DV06 %d %d %d %d\n%s\n", rec->count, (int)c->duration,
                  (int)c->extra_laps, (int)c->start_tick, track);
  for (int i = 0; i < rec->count; i++) {
    const Racer *r = racer_at(rec->slots[i]);
    char f[7][RACER_FILE_CHARS + 1];
    header_text(f[0], sizeof f[0], r->model, 1);
    header_text(f[1], sizeof f[1], r->rider_texture, 1);
    header_text(f[2], sizeof f[2], r->bike_texture, 1);
    header_text(f[3], sizeof f[3], r->wheel_texture, 1);
    header_text(f[4], sizeof f[4], r->head_texture, 1);
    header_text(f[5], sizeof f[5], r->number, 0);
    header_text(f[6], sizeof f[6], r->name, 0);
    datafile_printf(rec->file, "%s|%s|%s|%s|%s\n%s\n%s\n\n", f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
  }
  rec->last_size = 0;
  datafile_flush(rec->file);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Recording
// ---------------------------------------------------------------------------------------
void rotate_demo_backups(int backups) {
  int n = backups < 0 ? 0 : (backups > MAX_DEMO_BACKUPS ? MAX_DEMO_BACKUPS : backups);
  char from[64], to[64];
  for (int k = n - 2; k >= 0; k--) {
    snprintf(from, sizeof from, "@demos/default%02d.dvdemo", k);
    snprintf(to, sizeof to, "@demos/default%02d.dvdemo", k + 1);
    data_rename(from, to);
  }
  if (n > 0) data_rename("@demos/default.dvdemo", "@demos/default00.dvdemo");
}

int start_recording(const char *name) {
  stop_recording();
  char file[FILE_NAME_CHARS + 1];
  s.rec.is_default = 0;
  if (name && name[0]) {
    copy_text(file, sizeof file, name);
  } else if (time_trial()) {
    snprintf(file, sizeof file, "@%s/lastlap.dvdemo", track_directory());
  } else {
    rotate_demo_backups(config()->demo_backups);
    copy_text(file, sizeof file, "@demos/default.dvdemo");
    s.rec.is_default = 1;
  }
  if (s.play.file && strcmp(s.play.name, file) == 0) {
    show_message("Can't record and play from same file - recording disabled");
    return 0;
  }
  s.rec.file = datafile_open(file, "wb");
  if (!s.rec.file) {
    velk_log("demo: can't write '%s'\n", file);
    return 0;
  }
  write_header();
  return 1;
}

int demo_recording() { return s.rec.file != nullptr; }

void stop_recording() {
  if (!s.rec.file) return;
  write_demo_tick(1);  // the states since the last block
  datafile_close(s.rec.file);
  s.rec.file = nullptr;
  if (s.pending_name[0] && s.rec.is_default) {
    char to[FILE_NAME_CHARS + 16];
    snprintf(to, sizeof to, "@demos/%s", s.pending_name);
    if (!data_rename("@demos/default.dvdemo", to)) velk_log("demo: can't rename to '%s'\n", to);
  }
  s.pending_name[0] = 0;
}

void write_demo_tick(int force) {
  int32_t tick = session_clock()->tick;
  if (tick % DEMO_STATE_TICKS == 0 || force) {
    for (int slot = 0, count = racer_count(); slot < count; slot++) {
      Racer *r = racer_at(slot);
      if (!r->bike || (r->kind != RACER_HUMAN && r->kind != RACER_ROBOT)) continue;
      CompactRacerState state;
      encode_racer_state(r->bike, &state);
      add_state_to_history(slot, &state, tick);
    }
  }
  Recording *rec = &s.rec;
  if (!rec->file || !(tick % DEMO_BLOCK_TICKS == 0 || force)) return;
  // Gather every recorded racer's pending entries, oldest first.
  uint8_t *out = s.scratch;
  size_t size = 0;
  for (int i = 0; i < rec->count; i++) {
    StateHistory *h = state_history(rec->slots[i]);
    int pending = h->pending;
    int at = (h->newest - (pending - 1) % HISTORY_ENTRIES + HISTORY_ENTRIES) % HISTORY_ENTRIES;
    for (int k = 0; k < pending; k++, at = (at + 1) % HISTORY_ENTRIES) {
      const HistoryEntry *e = &h->entries[at];
      if (e->tick < 0) continue;  // discarded since
      out[size] = (uint8_t)i;
      put32(out + size + 1, (uint32_t)e->tick);
      memcpy(out + size + 5, e->state.bytes, COMPACT_STATE_BYTES);
      size += DEMO_ENTRY_BYTES;
    }
    h->pending = 0;
  }
  if (size == 0) return;
  uint8_t head[DEMO_BLOCK_HEADER];
  put32(head, (uint32_t)size ^ rec->last_size);
  put32(head + 4, (uint32_t)tick);
  head[8] = DEMO_BLOCK_STATES;
  if (!write_all(head, sizeof head) || !write_all(out, size)) velk_log("demo: write failed\n");
  rec->last_size = (uint32_t)size;
  datafile_flush(rec->file);
}

void write_demo_text(const char *text) {
  Recording *rec = &s.rec;
  if (!rec->file || !text) return;
  uint32_t size = (uint32_t)strlen(text);
  uint8_t head[DEMO_BLOCK_HEADER];
  put32(head, size ^ rec->last_size);
  put32(head + 4, (uint32_t)session_clock()->tick);
  head[8] = DEMO_BLOCK_TEXT;
  if (!write_all(head, sizeof head) || !write_all(text, size)) velk_log("demo: write failed\n");
  rec->last_size = size;
  datafile_flush(rec->file);
}

int namedemo(const char *text) {
  if (time_trial() || !s.rec.file || !s.rec.is_default) {
    show_message("Not currently recording a demo");
    return 0;
  }
  const char *p = text ? text : "";
  while (*p == ' ' || *p == '\t') p++;
  size_t length = 0;
  while (p[length] && p[length] != ' ' && p[length] != '\t' && p[length] != '\n') length++;
  if (length + 8 > FILE_NAME_CHARS) {
    show_message("Name too long");
    return 0;
  }
  char name[FILE_NAME_CHARS + 1];
  memcpy(name, p, length);
  name[length] = 0;
  // The name stays inside the demos folder.
  if (!length || strchr(name, '/') || strchr(name, '\\') || name[0] == '.') {
    show_message("Demo name must be a plain file name");
    return 0;
  }
  const char *ext = ".dvdemo";
  if (length < 7 || strcmp(name + length - 7, ext) != 0) strcat(name, ext);
  copy_text(s.pending_name, sizeof s.pending_name, name);
  show_message("Demo name updated");
  return 1;
}

// ---------------------------------------------------------------------------------------
// Playback
// ---------------------------------------------------------------------------------------
void demo_choose_file(const char *name) { copy_text(s.chosen, sizeof s.chosen, name); }

void close_demo() {
  if (s.play.file) end_playback(nullptr);
}

int open_demo() {
  close_demo();
  forget_racers();
  Playback *p = &s.play;
  char file[FILE_NAME_CHARS + 1];
  playback_file(file, sizeof file);
  DataFile *f = datafile_open(file, "rb");
  if (!f) {
    velk_log("demo: can't open '%s'\n", file);
    return 0;
  }
  if (!parse_header(f, &p->header)) {
    velk_log("demo: '%s' is not a demo\n", file);
    datafile_close(f);
    forget_racers();
    return 0;
  }
  p->file = f;
  copy_text(p->name, sizeof p->name, file);
  p->complained = 0;
  p->pos = p->header.length;
  p->offset = 0;
  p->first_tick = -1;
  p->next_tick = 1;
  p->prev_size = 0;
  p->next_offset = p->header.length;
  SessionClock *c = session_clock();
  c->start_tick = p->header.start_tick;
  c->duration = p->header.duration;
  c->extra_laps = p->header.extra_laps;
  return 1;
}

int demo_format() { return s.play.file ? s.play.header.version : 0; }
int demo_racer_count() { return s.play.file ? s.play.header.racer_count : 0; }

void read_demo_tick() {
  Playback *p = &s.play;
  if (!p->file) return;
  if (p->header.version != 6) {
    read_records();
    return;
  }
  for (int blocks = 0; blocks < MAX_BLOCKS_PER_TICK && p->file; blocks++) {
    if (p->next_tick - READ_AHEAD > session_clock()->tick) break;
    if (!read_block()) break;
  }
}

int demo_file_track(const char *file, char *track, size_t size) {
  DataFile *f = file ? datafile_open(file, "rb") : nullptr;
  if (!f) return 0;
  int ok = parse_header(f, &s.probe);
  datafile_close(f);
  if (ok) copy_text(track, size, s.probe.track);
  return ok;
}

// ---------------------------------------------------------------------------------------
// Seeking
// ---------------------------------------------------------------------------------------
// Format 6: walks back through the blocks until one lies at least 64 ticks before the
// target (or the first block is reached).
static void step_back_blocks(int32_t target) {
  Playback *p = &s.play;
  int32_t limit = target - READ_AHEAD > 0 ? target - READ_AHEAD : 0;
  long at = p->next_offset;
  uint32_t prev = p->prev_size;
  uint8_t head[DEMO_BLOCK_HEADER];
  int64_t reached = INT64_MAX;  // tick of the block at `at`; past the end: none
  if (play_seek(at) && play_read(head, sizeof head) == sizeof head) reached = (int32_t)get32(head + 4);
  while (limit < reached && prev != 0) {
    long back = at - (long)prev - DEMO_BLOCK_HEADER;
    if (back < p->header.length || !play_seek(back) || play_read(head, sizeof head) != sizeof head) {
      // The chain is broken: start again from the first block.
      at = p->header.length;
      prev = 0;
      break;
    }
    at = back;
    reached = (int32_t)get32(head + 4);
    prev = get32(head) ^ prev;
  }
  p->next_offset = at;
  p->prev_size = prev;
}

static int pure_playback() {
  for (int slot = 0, count = racer_count(); slot < count; slot++) {
    const Racer *r = racer_at(slot);
    if (r->bike && r->kind != RACER_REMOTE) return 0;
  }
  return 1;
}

void seek_demo(double seconds) {
  Playback *p = &s.play;
  SessionClock *c = session_clock();
  if (!p->file || s.rec.file || !pure_playback() || !(std::fabs(seconds) < 1e6)) return;
  const RunOptions *o = run_options();
  int accurate = o && o->accurate_skip;
  if (seconds < 0 || (p->header.version != 6 && !accurate)) {
    // A packed (gzip or scrambled) demo is read straight through only.
    if (!datafile_seek(p->file, p->pos)) {
      show_message("Can't seek in a packed demo");
      return;
    }
    double want = std::round(c->tick + seconds / TICK - 1);
    int32_t target = want > 0 ? (want < TICK_LIMIT ? (int32_t)want : TICK_LIMIT - 1) : 0;
    if (p->header.version == 6) {
      step_back_blocks(target);
    } else {
      int size = p->header.version == 4 ? LEGACY_STATE_BYTES : COMPACT_STATE_BYTES;
      long where = p->header.length + (long)target * p->header.racer_count * size;
      if (!play_seek(where)) return;  // beyond the end or a packed file: stay
      p->first_tick = 0;
    }
    p->next_tick = target;
    if (target < c->tick) {
      for (int slot = 0, count = racer_count(); slot < count; slot++) {
        RacerTiming *t = racer_timing(slot);
        if (!t) continue;
        int keep = 0;
        while (keep < crossing_count(t) && crossing_tick(t, keep) <= target) keep++;
        if (keep < crossing_count(t)) truncate_crossings(t, keep);
      }
      c->results_final = 0;
    }
    c->tick = target;
    clear_all_histories();
    read_demo_tick();
    run_tick();
    return;
  }
  // Forwards through the ticks, so laps and results stay right.
  int32_t end = (int32_t)std::round(c->tick + seconds / TICK);
  int roost = o ? o->roost_frequency : 0;
  if (o) run_options()->roost_frequency = 0;
  while (c->tick < end && p->file) {
    demo_set_light_placement(!accurate && c->tick + 1 < end);
    run_tick();
  }
  demo_set_light_placement(0);
  if (o) run_options()->roost_frequency = roost;
}

// ---------------------------------------------------------------------------------------
// The time-trial ghost
// ---------------------------------------------------------------------------------------
int demo_load_ghost() {
  if (!open_demo()) return 0;
  Playback *p = &s.play;
  const SessionHooks *hooks = session_hooks();
  int f = first_lap_gates();
  int built = 0;
  for (int i = 0; i < p->header.racer_count && 1 + i < MAX_RACERS; i++) {
    int slot = 1 + i;
    Racer *r = racer_at(slot);
    if (r->bike) continue;
    const DemoRacer *d = &p->header.racers[i];
    copy_text(r->name, sizeof r->name, d->name);
    copy_text(r->number, sizeof r->number, d->number);
    copy_text(r->model, sizeof r->model, d->model);
    copy_text(r->rider_texture, sizeof r->rider_texture, d->rider_texture);
    copy_text(r->head_texture, sizeof r->head_texture, d->head_texture);
    copy_text(r->bike_texture, sizeof r->bike_texture, d->bike_texture);
    copy_text(r->wheel_texture, sizeof r->wheel_texture, d->wheel_texture);
    r->kind = RACER_REMOTE;
    auto or_null = [](const char *t) { return t[0] ? t : nullptr; };
    r->bike = build_racer(bike_model_alias(r->model), slot, r->number, or_null(r->rider_texture),
                          or_null(r->head_texture), or_null(r->bike_texture), or_null(r->wheel_texture));
    if (!r->bike) continue;
    set_presence(r->bike, 0);
    if (hooks && hooks->engine_sound_load) hooks->engine_sound_load(r, slot);
    truncate_crossings(r->bike->timing, f > 0 ? f - 1 : 0);
    p->map[i] = slot;
    built++;
  }
  return built;
}

// ---------------------------------------------------------------------------------------
// The session's calls
// ---------------------------------------------------------------------------------------
int demo_open_playback() {
  if (!open_demo()) return 0;
  if (!time_trial()) track_select(s.play.header.track, nullptr);
  return 1;
}
void demo_close_playback() { close_demo(); }

int demo_next_racer(Racer *out) {
  Playback *p = &s.play;
  if (!p->file || p->next_racer >= p->header.racer_count) return 0;
  const DemoRacer *d = &p->header.racers[p->next_racer];
  copy_text(out->name, sizeof out->name, d->name);
  copy_text(out->number, sizeof out->number, d->number);
  copy_text(out->model, sizeof out->model, d->model);
  copy_text(out->rider_texture, sizeof out->rider_texture, d->rider_texture);
  copy_text(out->head_texture, sizeof out->head_texture, d->head_texture);
  copy_text(out->bike_texture, sizeof out->bike_texture, d->bike_texture);
  copy_text(out->wheel_texture, sizeof out->wheel_texture, d->wheel_texture);
  p->last_racer = p->next_racer++;
  return 1;
}

void demo_forget_racers() { forget_racers(); }

void demo_map_slot(int demo_racer, int slot) {
  Playback *p = &s.play;
  if (demo_racer < 0) demo_racer = p->last_racer;
  if (demo_racer < 0 || demo_racer >= MAX_DEMO_RACERS) return;
  p->map[demo_racer] = slot >= 0 && slot < MAX_RACERS ? slot : -1;
}

int demo_start_recording(const char *name) {
  // A time-trial lap: the ghost of the fastest lap rides from this tick on.
  if (name && time_trial()) demo_load_ghost();
  return start_recording(name);
}
void demo_stop_recording() { stop_recording(); }
void demo_write_tick(int force) { write_demo_tick(force); }
void demo_read_tick() { read_demo_tick(); }
void demo_clear_history() {
  clear_all_histories();
  history_forget_reports();
}
int demo_playing() { return s.play.file != nullptr; }

void demo_reset() {
  close_demo();
  if (s.rec.file) datafile_close(s.rec.file);
  s.rec = Recording{};
  s.pending_name[0] = 0;
  s.chosen[0] = 0;
  forget_racers();
  clear_all_histories();
  history_forget_reports();
  history_reset_remote_view();
  demo_set_light_placement(0);
}
