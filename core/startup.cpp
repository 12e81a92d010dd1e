// Start-up and the orderly exit path: the game-data checks, the build fingerprint, the MMX
// test and the headless start-up steps up to the window.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/core.h"
#include "core/game.h"
#include "core/data_digests.h"
#include "core/frame.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/race.h"
#include "render/model.h"
#include "render/texture.h"
#include "robot/robot.h"
#include "terrain/terrain.h"
#include "track/track.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

void startup_catalogue_reset();  // core/startup_catalogue.cpp

// ---- module state: per process ----
static struct {
  int fixed_files_ok;
  int config_loaded;  // start-up read (or tried to read) the configuration: exit writes it
} g_startup;

static const char *const FIXED_FILES[] = {
    "@generic_frame.shp", "@generic_fork_upper.shp", "@generic_fork_lower.shp",
    "@generic_swingarm.shp", "@front_wheel.shp", "@rear_wheel.shp", "@generic_rider.shp",
};

static const char *const DATA_MARKER = "zzzz.saf";
constexpr long DATA_MARKER_HASHED = 1048576;  // bytes of the marker that are hashed

int cpu_has_mmx() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d)) return (d >> 23) & 1;
#endif
  return 0;
}

void build_fingerprint(uint8_t out[FINGERPRINT_SIZE]) {
  static_assert(FINGERPRINT_SIZE == 32, "a SHA-1 and a 12-byte tag");
  // The build's identity: program, compiler, word size and the data set it was built for.
  std::string identity = std::string("Dirtvane build|") + __VERSION__ + "|" +
                         std::to_string(sizeof(void *) * 8) + "|" + GAME_DATA_DIGEST + "|" +
                         FIXED_FILES_DIGEST;
  Sha1 s;
  sha1_init(&s);
  sha1_update(&s, identity.data(), identity.size());
  sha1_final(&s, out);
  memcpy(out + 20, "Dirtvane0001", 12);
}

static void sha1_to_hex(Sha1 *s, char out[41]) {
  uint8_t digest[20];
  sha1_final(s, digest);
  sha1_hex(digest, out);
}

int game_data_digest(const char *path, char out[41]) {
  FILE *f = fopen(path, "rb");
  if (!f) return 0;
  Sha1 s;
  sha1_init(&s);
  char block[256];
  long total = 0;
  size_t n;
  while (total < DATA_MARKER_HASHED && (n = fread(block, 1, sizeof block, f)) > 0) {
    if (total + (long)n > DATA_MARKER_HASHED) n = DATA_MARKER_HASHED - total;
    sha1_update(&s, block, n);
    total += n;
  }
  fclose(f);
  sha1_to_hex(&s, out);
  return 1;
}

int find_game_data() {
  const char *home = data_search_dir(0);
  if (home && strlen(home) + 1 <= 1024) {
    // Every prefix that ends before a '/', so the directory and its parents exist.
    std::string prefix;
    for (const char *p = home; *p; p++) {
      if (*p == '/' && !prefix.empty() && prefix.back() != '/') mkdir(prefix.c_str(), 0777);
      prefix += *p;
    }
    velk_log("VELK_LOGFILE=%slastlog.txt", home);
  }
  for (int i = 0; const char *dir = data_search_dir(i); i++) {
    std::string path = std::string(dir) + DATA_MARKER;
    char hex[41];
    if (game_data_digest(path.c_str(), hex) && !strcmp(hex, GAME_DATA_DIGEST)) return 1;
  }
  return 0;
}

void fixed_files_digest(char out[41]) {
  Sha1 s;
  sha1_init(&s);
  for (const char *name : FIXED_FILES) {
    DataFile *f = datafile_open(name, "rb");
    if (!f) continue;
    char block[1024];
    size_t n;
    while ((n = datafile_read(f, block, sizeof block)) > 0) sha1_update(&s, block, n);
    datafile_close(f);
  }
  sha1_to_hex(&s, out);
}

void check_fixed_files() {
  char hex[41];
  fixed_files_digest(hex);
  g_startup.fixed_files_ok = !strcmp(hex, FIXED_FILES_DIGEST);
}

int fixed_files_ok() { return g_startup.fixed_files_ok; }

void startup_reset() {
  g_startup = {};
  startup_catalogue_reset();
  run_options_defaults(run_options());
}

// The index of a track directory in the catalogue, -1 when it is not a catalogued track.
static int catalogue_track_index(const char *dir) {
  const TrackCatalogue *tracks = track_catalogue();
  for (int i = 0; i < tracks->count; i++)
    if (!strcmp(tracks->dirs[i], dir)) return i;
  return -1;
}

int startup_headless(int argc, char **argv) {
  RunOptions *o = run_options();
  // 1. Defaults, and the control channels of the frame loop.
  run_options_defaults(o);
  channel_bindings_reset();
  // 2.-4. The fingerprint is computed when the client needs it; the message log starts
  // empty; standard output needs no binary mode here.
  message_log_clear();

  // 5. The game data must be there. Finding none is a failure.
  if (!find_game_data()) {
    velk_message_box("Problem starting Dirtvane", "Can't find game data\n");
    return 1;
  }
  check_fixed_files();
  list_video_modes();
  // 8. MMX (run_options_defaults asked the processor).
  if (!o->mmx) velk_log("This CPU does not have MMX!\n");

  // 9.-11. The configuration: defaults, the texture lists, then the file.
  config_reset_defaults();
  config_build_texture_lists();
  config_read();
  g_startup.config_loaded = 1;
  // 12. No racers yet.
  racer_table_reset();
  // 13.-15. Derived options, then the command line over them.
  run_options_from_config(o);
  int status = parse_command_line(argc, argv, o);
  if (status >= 0) return status;

  // The loaders' options follow the command line.
  terrain_set_options(o->debug_level, o->ground_detail);
  texture_set_options(o->texture_detail, o->debug_level,
                      strcmp(choice_text(&config()->texture_compress), "Yes") == 0);
  model_set_debug_level(o->debug_level);
  track_set_options(o->debug_level, 0, 0);  // 0: the load's default render method

  SessionOptions *session = session_options();
  session->practice = o->practice;
  session->erosion = o->erosion;
  session->debug_level = o->debug_level;

  // 16.-18. The catalogues.
  if (!scan_tracks()) {
    fprintf(stderr, "No tracks found\n");
    return 1;
  }
  scan_demos();
  SessionHooks hooks = session_hooks() ? *session_hooks() : SessionHooks{};
  hooks.track_index = catalogue_track_index;
  set_session_hooks(&hooks);
  scan_series();

  // 19. The start track: the option, else the configuration's.
  const char *start = o->track ? o->track : config()->track;
  const TrackCatalogue *tracks = track_catalogue();
  for (int i = 0; start && i < tracks->count; i++)
    if (!strcmp(start, tracks->dirs[i])) {
      const_cast<TrackCatalogue *>(tracks)->selected = i;
      track_select(tracks->dirs[i], tracks->names[i]);
      break;
    }
  return -1;
}

int exit_path() {
  // 2. A running points-series event keeps its result. 3. Learnt lines are saved.
  int event;
  if (running_series(&event) >= 0) record_series_event();
  lines_save();
  velk_log("Deallocating bikes\n");
  session_end();
  velk_log("Finished deallocating bikes\n");
  if (track_loaded()) track_unload();
  game_release_windowed();
  if (g_startup.config_loaded) config_write();
  velk_log(nullptr);
  return 0;
}

int game_main(int argc, char **argv) {
  int status = startup_headless(argc, argv);
  if (status >= 0) {
    velk_log(nullptr);
    return status;
  }
  return game_run_windowed();
}
