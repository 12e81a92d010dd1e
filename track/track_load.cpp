// Track loading and unloading, the track digest, and the files written beside a track.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/frame.h"
#include "files/files.h"
#include "platform/velk.h"
#include "render/model.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "track/track.h"
#include "track/track_local.h"
#include "track/track_objects_local.h"

constexpr size_t MAX_TRACK_TEXT = 64u << 20;  // bytes; a text file beyond this is not a track file

// ---------------------------------------------------------------------------------------
// Plumbing
// ---------------------------------------------------------------------------------------

void track_message(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  show_message(text);
}

int track_debug_level() { return track_objects_state()->session.debug_level; }

void track_set_options(int debug_level, int render_method, int model_normal_maps) {
  TrackSession *s = &track_objects_state()->session;
  s->debug_level = debug_level;
  s->render_method = render_method;
  s->model_normal_maps = model_normal_maps;
}

void set_track_load_hooks(const TrackLoadHooks *hooks) {
  TrackSession *s = &track_objects_state()->session;
  if (hooks)
    s->hooks = *hooks;
  else
    s->hooks = TrackLoadHooks{};
}

int track_file_read(const char *name, char **text, size_t *length) {
  uint8_t *data = nullptr;
  size_t size = 0;
  if (!data_read_all(name, &data, &size, MAX_TRACK_TEXT)) return 0;
  char *out = (char *)malloc(size + 1);
  if (!out) fatal_out_of_memory();
  if (size) memcpy(out, data, size);
  out[size] = 0;
  free(data);
  *text = out;
  *length = size;
  return 1;
}

// "@<dir>/<name>" of the current track.
static void track_path(char *out, size_t size, const char *name) {
  snprintf(out, size, "@%s/%s", track_objects_state()->session.directory, name);
}

// Reads one track file and hands it to a reader; 0 when the file does not exist.
static int read_track_text(const char *name, int (*reader)(const char *, size_t)) {
  char path[1100];
  track_path(path, sizeof path, name);
  char *text;
  size_t length;
  if (!track_file_read(path, &text, &length)) return 0;
  reader(text, length);
  free(text);
  return 1;
}

// Feeds a data file's bytes into the digest, when it exists.
static void digest_file(Sha1 *sha, const char *path) {
  DataFile *f = datafile_open(path, "rb");
  if (!f) return;
  uint8_t block[65536];
  size_t n;
  while ((n = datafile_read(f, block, sizeof block)) > 0) sha1_update(sha, block, n);
  datafile_close(f);
}

static void digest_track_file(Sha1 *sha, const char *name) {
  char path[1100];
  track_path(path, sizeof path, name);
  digest_file(sha, path);
}

// ---------------------------------------------------------------------------------------
// The current track
// ---------------------------------------------------------------------------------------

int read_track_desc(const char *dir, char *out, size_t size) {
  char path[1100];
  snprintf(path, sizeof path, "@%s/desc", dir);
  DataFile *f = datafile_open(path, "rb");
  if (!f) return 0;
  size_t n = 0;
  int ch;
  while ((ch = datafile_getc(f)) > 0 && ch != '\r' && ch != '\n')
    if (n + 1 < size) out[n++] = (char)ch;
  if (size) out[n] = 0;
  datafile_close(f);
  return 1;
}

void track_select(const char *dir, const char *display_name) {
  TrackSession *s = &track_objects_state()->session;
  snprintf(s->directory, sizeof s->directory, "%s", dir ? dir : "");
  if (display_name)
    snprintf(s->display_name, sizeof s->display_name, "%s", display_name);
  else if (!read_track_desc(s->directory, s->display_name, sizeof s->display_name))
    snprintf(s->display_name, sizeof s->display_name, "%s", s->directory);
}

const char *track_directory() { return track_objects_state()->session.directory; }
const char *track_display_name() { return track_objects_state()->session.display_name; }
int track_loaded() { return track_objects_state()->loaded; }
const uint8_t *track_digest() { return track_objects_state()->digest; }

// ---------------------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------------------

static int read_timing_gates_text(const char *text, size_t length) {
  return parse_timing_gates(text, length);
}

int load_timing_gates(const char *path) {
  char *text;
  size_t length;
  if (!track_file_read(path, &text, &length)) {
    clear_timing_gates();
    return 0;
  }
  int ok = parse_timing_gates(text, length);
  free(text);
  return ok;
}

static void log_texture_memory(const char *when) {
  if (track_debug_level() >= 1)
    velk_log("%lu bytes texture memory used after %s creation\n", texture_memory(), when);
}

int track_load() {
  TrackObjects *o = track_objects_state();
  TrackSession *s = &o->session;
  if (o->created) track_objects_free();
  timing_gates_reset();
  if (!s->display_name[0]) snprintf(s->display_name, sizeof s->display_name, "%s", s->directory);
  Sha1 sha;
  sha1_init(&sha);

  track_objects_create();
  if (s->hooks.draw_loading) s->hooks.draw_loading("Loading track...");
  static const char *const ground_files[] = {"tilemap", "terrain.hf", "terrain.png", "texturelist",
                                             "tileinfo"};
  for (const char *name : ground_files) digest_track_file(&sha, name);
  char dir[520];
  snprintf(dir, sizeof dir, "@%s", s->directory);
  if (s->debug_level >= 1) velk_log("Loading '%s'\n", dir);

  read_track_text("lighting", parse_lighting);

  int method = s->render_method >= 1 && s->render_method <= 3 ? s->render_method : 2;
  if (!terrain_load(terrain_current(), dir, method)) {
    track_objects_free();
    s->directory[0] = 0;
    s->display_name[0] = 0;
    return 0;
  }
  if (s->debug_level >= 1)
    velk_log("%lu bytes texture memory used after hf creation\n", texture_memory());

  digest_track_file(&sha, "timing_gates");
  if (!read_track_text("timing_gates", read_timing_gates_text)) clear_timing_gates();

  // Hidden at the origin until the roost throws them.
  for (int i = 0; i < ROOST_BILLBOARDS; i++) {
    int b = create_billboard(0, 0, 0, 1, 1, nullptr);
    billboard_at(b)->y = 0;
  }

  read_track_text("flaggers", parse_flaggers);
  log_texture_memory("flagger");

  o->track_billboard_first = billboard_count();
  read_track_text("billboards", parse_billboards);
  log_texture_memory("billboard");

  o->track_statue_first = statue_count();
  digest_track_file(&sha, "statues");
  read_track_text("statues", parse_statues);
  log_texture_memory("statue");

  char path[1100];
  track_path(path, sizeof path, "map.png");
  o->map_texture = texture_load(path);

  bin_statues();
  if (s->hooks.start_editor) s->hooks.start_editor();

  // Each distinct shape file once, in statue order.
  for (int i = 0; i < statue_count(); i++) {
    const Statue *st = statue_at(i);
    if (!st->shape || !st->shape->source || !st->shape->source->name) continue;
    const char *name = st->shape->source->name;
    int seen = 0;
    for (int j = 0; j < i && !seen; j++) {
      const Statue *prev = statue_at(j);
      seen = prev->shape && prev->shape->source && prev->shape->source->name &&
             !strcmp(prev->shape->source->name, name);
    }
    if (!seen) digest_file(&sha, name);
  }
  sha1_final(&sha, o->digest);

  read_track_text("cameras", parse_cameras);
  o->loaded = 1;
  return 1;
}

void track_unload() {
  velk_log("Deallocating track\n");
  track_objects_free();
  clear_timing_gates();
  terrain_unload(terrain_current());
  velk_log("Finished deallocating track\n");
}

void track_reset() {
  track_objects_free();
  timing_gates_reset();
  TrackObjects *o = track_objects_state();
  memset(&o->session, 0, sizeof o->session);
  set_gate_hooks(nullptr);
}

// ---------------------------------------------------------------------------------------
// Files written beside the track
// ---------------------------------------------------------------------------------------

int save_timing_gates() {
  char path[1100];
  track_path(path, sizeof path, "timing_gates");
  DataFile *f = datafile_open(path, "wb");
  if (!f) {
    track_message("Can't open 'timing_gates'\n");
    return 0;
  }
  size_t need = format_timing_gates(nullptr, 0);
  char *text = (char *)malloc(need + 1);
  if (!text) fatal_out_of_memory();
  format_timing_gates(text, need + 1);
  size_t written = datafile_write(f, text, need);
  free(text);
  datafile_close(f);
  return written == need;
}

int save_track_info() {
  TrackObjects *o = track_objects_state();
  if (!o->loaded) return 0;
  const char *dir = o->session.directory;
  char path[1100];
  snprintf(path, sizeof path, "@%s.trackinfo", dir);
  DataFile *f = datafile_open(path, "wb");
  if (!f) return 0;
  char hex[41];
  sha1_hex(o->digest, hex);
  datafile_printf(f, "dir=%s\n", dir);
  datafile_printf(f, "longname=%s\n", o->session.display_name[0] ? o->session.display_name : dir);
  datafile_printf(f, "firstlap=%d\n", first_lap_gates());
  datafile_printf(f, "normallap=%d\n", normal_lap_gates());
  datafile_printf(f, "gatecount=%d\n", start_gate_count());
  datafile_printf(f, "hash=%s\n", hex);
  datafile_close(f);
  track_message("Track info saved to %s", path);
  return 1;
}

// Opens a track file for writing, or shows "Can't open '<name>'".
static DataFile *open_for_saving(const char *name) {
  char path[1100];
  track_path(path, sizeof path, name);
  DataFile *f = datafile_open(path, "wb");
  if (!f) track_message("Can't open '%s'\n", name);
  return f;
}

int save_billboards() {
  DataFile *f = open_for_saving("billboards");
  if (!f) return 0;
  for (int i = track_billboard_first(); i < billboard_count(); i++) {
    const Billboard *b = billboard_at(i);
    const char *name = texture_name(b->texture);
    if (!name) name = "null";
    datafile_printf(f, "[%f %f %f] %f %f ", b->x, b->height, b->z, b->size, b->aspect);
    if (b->colour[0] == 255 && b->colour[1] == 255 && b->colour[2] == 255)
      datafile_printf(f, "%s\n", name);
    else
      datafile_printf(f, "#%02x%02x%02x#%s\n", b->colour[0], b->colour[1], b->colour[2], name);
  }
  datafile_close(f);
  return 1;
}

int save_statues() {
  DataFile *f = open_for_saving("statues");
  if (!f) return 0;
  for (int i = track_objects_state()->track_statue_first; i < statue_count(); i++) {
    const Statue *s = statue_at(i);
    const char *model = s->model && s->model->name ? s->model->name : "null";
    const char *texture = s->texture ? texture_name(s->texture) : nullptr;
    const char *shape =
        s->shape && s->shape->source && s->shape->source->name ? s->shape->source->name : "null";
    datafile_printf(f, "[%f %f %f] %f %s %s %s\n", s->x, s->height, s->z, s->heading, model,
                    texture ? texture : "null", shape);
  }
  datafile_close(f);
  return 1;
}
