// Start-up, command line, the catalogues of tracks, demos and video modes, and the exit path.
#pragma once
#include <cstdint>

#include "core/common.h"

// ---- RunOptions: what the command line can set ----
struct RunOptions {
  bool flat_shading;      // --fugly
  bool sound_off;         // --nosound
  bool no_vertex_arrays;  // --novertexarrays
  bool learn_lines;       // --learn / --nolearn (configuration default)
  bool mmx;               // from the processor; --nommx clears it
  int debug_level;        // 0, 1 (--debug), 2 (--super-debug)
  bool practice;          // --practice
  bool warp;              // --warp
  int texture_detail;         // 0 (full) .. 4
  int ground_texture_detail;  // 0 .. 4
  int roost_frequency;        // 0 .. 1000
  float erosion;              // 0 .. 100; 0 = terrain deformation off
  float ground_detail;        // 0.125 / ground_detail of the configuration, or --detail
  float max_detail_distance;  // ft
  float detail_fade_end;      // ft, max_detail_distance + 5
  float lod_scale;            // 1e-6 .. 1e6
  float lod_bias;
  float locked_fps;           // frames per second; 0 = not locked
  double fake_lag;            // s, 0 .. 1
  int fake_loss;              // percent, 0 .. 100
  const char *record_audio;   // file name or null
  bool record_video;
  int rotate_lineup;          // gate positions moved on after each New Race
  bool editor;                // --editor
  bool show_paused;           // cleared by --hidden-pause
  bool show_hud;              // cleared by --hidden-hud
  int width, height;          // pixels, window size when windowed
  int depth;                  // bits per pixel
  int zdepth;                 // bits of the depth buffer
  int draw_fps, draw_time, draw_ping, draw_render_stats;
  bool accurate_skip;
  const char *track;          // start track directory or null
  const char *connect;        // server address or null ("dirtvane:" removed)
  const char *password;       // server password or null
  Vec3 chase_center;          // ft
  bool glfinish;
  bool print_orientation;
  const char *file;           // the one non-option argument (a demo) or null
};
// Strings point into the argument vector (or are null); they live as long as it does.

// The process-wide options (start-up fills them; later Parts read them).
RunOptions *run_options();
// The fixed defaults of every setting (derived ones at their configuration defaults).
void run_options_defaults(RunOptions *o);
// The settings derived from the configuration (config_run_defaults).
void run_options_from_config(RunOptions *o);

// ---- the command line ----
struct ArgCursor {
  int left;             // arguments not yet consumed
  char **current;       // the next argument
  bool options_ended;   // set by "--": no option matches any more
};
// 1 when the current argument is option `name` (consumed), else 0. With `value` null the
// option takes no value and must match exactly. With `value` it takes one: "name value" or
// "name=value"; *value is the text, or null when it is missing. A "--" argument sets
// options_ended, is consumed and does not match.
int match_option(ArgCursor *cursor, const char *name, const char **value);
// Parses argv[1..] into `o`, in order, with the messages on standard error. Returns -1 to go
// on, or the exit status to end with now (1 for a bad option or value or a second file,
// 0 after --open-home). A server address drops the start track.
int parse_command_line(int argc, char **argv, RunOptions *o);

// ---- build and data checks ----
constexpr int FINGERPRINT_SIZE = 32;  // bytes
// A fixed 32-byte identification of the running build (the client proves it to servers).
void build_fingerprint(uint8_t out[FINGERPRINT_SIZE]);
// 1 when a search directory holds the game data ("zzzz.saf" with the build's digest).
// Creates the home directory and opens the log there ("lastlog.txt") first.
int find_game_data();
// The lower-case hex SHA-1 of the first 1 MiB of the real file `path` (read 256 bytes at a
// time), as the game-data check takes it. 1, or 0 when the file cannot be opened.
int game_data_digest(const char *path, char out[41]);
// The lower-case hex SHA-1 over the fixed bike and rider collision shapes, in order, read
// through the data files (missing ones skipped).
void fixed_files_digest(char out[41]);
// Hashes the fixed bike and rider collision shapes; sets fixed_files_ok.
void check_fixed_files();
int fixed_files_ok();
// The processor's MMX feature bit (cpuid leaf 1, edx bit 23); 0 off x86.
int cpu_has_mmx();

// ---- catalogues ----
struct TrackCatalogue {
  char **dirs;   // data-file names of the track directories, no trailing '/'
  char **names;  // display names (first line of the directory's "desc")
  int count;
  int selected;  // index of the start track (option or configuration), -1 when none matched
};
// Rebuilds the catalogue from the data names; returns the number of tracks.
int scan_tracks();
const TrackCatalogue *track_catalogue();

constexpr int DEMO_PAGE_SIZE = 20;
struct DemoCatalogue {
  char **files;  // data-file names under "demos/" ending in ".dvdemo"
  char **names;  // base names without directory and extension
  int count;
  const char *page[DEMO_PAGE_SIZE];  // display names of the page shown (null past the end)
  int page_count;  // at least 1
  int page_index;
};
int scan_demos();
const DemoCatalogue *demo_catalogue();
// Fills the page table with page `index` (clamped to the pages there are).
void demo_catalogue_show_page(int index);

struct VideoMode {
  char label[32];     // "Default Fullscreen", "Windowed" or "%dx%d"
  int width, height;  // pixels; 0 x 0 = the desktop's own size
};
constexpr int MAX_VIDEO_MODES = 128;  // entries, the two fixed ones included
// Rebuilds the list from the platform's display modes (those of the first mode's depth)
// and hands the labels to the configuration's video_mode choice. Returns the count.
int list_video_modes();
const VideoMode *video_modes(int *count);

// ---- start-up and exit ----
// The start-up steps that need no window, sound, GL or session: defaults, fingerprint,
// game data, fixed files, video modes, MMX, configuration, the command line and the
// catalogues. Returns -1 to go on with the window, or the exit status to end with.
int startup_headless(int argc, char **argv);
// The orderly exit of whatever start-up built; writes the configuration, closes the log.
// Returns the exit status (0).
int exit_path();
// Tests: forget the start-up state (options, catalogues, checks).
void startup_reset();

// The whole program: start-up, the frame loop and the orderly exit; returns the exit status.
int game_main(int argc, char **argv);
