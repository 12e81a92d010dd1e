// Track: loading a track directory and its objects, the timing gates and the lap rules.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/common.h"

struct Model;  // render/model.h
struct Shape;  // render/model.h

// ---------------------------------------------------------------------------------------
// Limits
// ---------------------------------------------------------------------------------------
constexpr int MAX_TIMING_GATES = 256;     // gates per track
constexpr int MAX_GATE_SEQUENCE = 256;    // entries per lap sequence
constexpr int MAX_START_GATE_PIECES = 160;
constexpr int GATE_NO_LEARN_FLAG = 100000;  // sequence flag: timed, but no line or camera cue
constexpr int ROOST_BILLBOARDS = 2000;    // hidden billboards made first, one per roost particle
constexpr int MAX_FLARE_ELEMENTS = 8;
constexpr int OBJECT_BINS = 8;            // billboard and statue bins per side

// ---------------------------------------------------------------------------------------
// Timing gates and laps
// ---------------------------------------------------------------------------------------

// One timing gate: a disc on the ground passed in the direction of travel.
struct TimingGate {
  float x, y, z;     // ft, centre on the ground
  float dx, dy, dz;  // direction of travel; only dx and dz are used
  float radius;      // ft, measured horizontally
};

// One piece of the starting gate; the session places one racer behind each.
struct StartGatePiece {
  float x, y, z;       // ft, as written; y is the height its object stands at
  float angle;         // rad, wrapped to [-pi, pi]
  int statue;          // index of the track object made for it, -1 when none
  float drop_angle;    // current drop of the gate animation (frame loop)
  char model[256];     // names as read ("@startgate.jm" ...), for saving
  char texture[256];
  char shape[256];
};

// The timing part of a racer, carried by the racer's bike. Owned by the racer:
// racer_timing_init before use, racer_timing_free when the racer goes.
struct RacerTiming {
  int32_t next_gate;   // index of the next crossing expected = crossings made or skipped
  Growable crossings;  // int32_t per crossing index: tick, or -1 for a skipped gate
  int finished;        // set by the finish rule; nothing is recorded after it
};

void racer_timing_init(RacerTiming *t);
void racer_timing_free(RacerTiming *t);
// Per-race reset: no crossings, next gate 0, not finished (keeps the storage).
void racer_timing_clear(RacerTiming *t);
// Truncating the crossings to n: next gate n, at most n entries kept, finished cleared
// when n is below the old next gate.
void truncate_crossings(RacerTiming *t, int n);
// Stores a crossing reported from elsewhere (server): pads with -1 up to index, stores
// the tick and sets the next gate to index + 1. Returns 0 for a bad index.
int store_crossing(RacerTiming *t, int index, int32_t tick);
// The tick of crossing i, or -1 when out of range (or skipped).
int32_t crossing_tick(const RacerTiming *t, int i);
// Entries stored; the crossings counted by the lap rules are those below next_gate.
inline int crossing_count(const RacerTiming *t) { return t->crossings.count; }

// What the lap rules read from the race: the running order and the clock. The race module
// fills it; tests build one by hand.
struct GateField {
  // Running order, leader first; only racers with a bike (and, for segment averages while
  // connected in the server's warm-up, without the local human riders).
  const RacerTiming *const *order;
  int count;
  int32_t start_tick;  // session's start tick
  int32_t tick;        // current tick
  int lap_limit;       // the race's lap limit L (0 = none)
  float slow_factor;   // server's slowness factor (1.5)
  float slow_grace;    // s, server's slowness grace (10)
};

// Calls out of the crossing check; null members are skipped. Line learning takes the
// racer's slot, the crossing index and whether it was the expected next gate; the results
// are recomputed after every accepted lap completion.
struct GateHooks {
  void (*learn_crossing)(int slot, int crossing, int exact);
  void (*update_results)();
  void (*allocate_lines)(int sections);  // a track with timing was read: F' + N' sections
};
void set_gate_hooks(const GateHooks *hooks);  // null restores the no-op hooks

// The track's gates and lap sequences (valid while a track is loaded).
int track_has_timing();            // gate count, F, N, F', N' all above 0
int timing_gate_count();
const TimingGate *timing_gate(int i);  // null when out of range
int first_lap_gates();             // F
int normal_lap_gates();            // N
int first_lap_learn_gates();       // F': entries below 100000
int normal_lap_learn_gates();      // N'
int gate_sequence_entry(int pos);  // raw entry (with its 100000 flag); 0..F+N-1, else -1
int gate_slot(int i);              // crossing index -> sequence position
int gate_of_crossing(int i);       // crossing index -> gate index without the flag
int start_gate_count();
StartGatePiece *start_gate_piece(int i);  // null when out of range

// Reading: `load_timing_gates` opens the data file (track load calls it with
// "@<dir>/timing_gates"); `parse_timing_gates` reads the same format from memory. A track
// without timing keeps no gates. Start gate pieces become track objects. Returns 1 when the
// track has timing.
int load_timing_gates(const char *path);
int parse_timing_gates(const char *text, size_t length);
// Replaces the gates and sequences with a hand-made layout (editor and tests); the entries
// are normalised as read from a file. Returns track_has_timing().
int set_timing_gates(const TimingGate *gates, int gate_count, const int *first, int f,
                     const int *normal, int n);
void clear_timing_gates();
// Writes "@<dir>/timing_gates"; 0 when it cannot be opened ("Can't open 'timing_gates'").
int save_timing_gates();
// Writes the timing gates file text into `out` (used by save_timing_gates); returns the
// length it needs (like snprintf).
size_t format_timing_gates(char *out, size_t size);

// The crossing check, once per tick for a racer; `wheel` is the front wheel centre (ft).
// Returns 1 when a crossing was accepted this tick.
int check_gate_crossing(RacerTiming *t, int slot, Vec3 wheel, const GateField *field);
int laps_completed(const RacerTiming *t);
// Seconds of lap `lap` (negative: the last completed lap); 0 when unknown.
float lap_time(const RacerTiming *t, int lap, const GateField *field);
// The ticks of lap `lap` by its end crossings (laps 2 and later); 0 when unknown.
int32_t lap_ticks(const RacerTiming *t, int lap);
int has_finished(RacerTiming *t, const GateField *field);
int32_t segment_average(int a, int b, const GateField *field);  // ticks
int is_slow_on(const RacerTiming *t, int n, const GateField *field);
int32_t cutting_penalty(const RacerTiming *t, const GateField *field);  // ticks
// The results' reduction of a penalty into lost laps. `counted` is the racer's crossing
// count, reduced by N per lap taken away; returns the laps taken away and leaves the rest
// of the penalty in *penalty.
int penalty_laps(const RacerTiming *t, int *counted, int32_t *penalty);

// Writes "@<dir>.trackinfo" and shows "Track info saved to <file>". Does nothing without a
// loaded track or when the file cannot be opened; returns 1 when written.
int save_track_info();

// ---------------------------------------------------------------------------------------
// Track objects
// ---------------------------------------------------------------------------------------

struct FlareElement {
  float place[2];    // placement along the flare line
  float colour[3];   // default 1, 1, 1
  float size;        // default 1
  uint32_t texture;  // 0 = none
};

struct Flare {
  float position[3];  // world point (kind 0) or direction (kind 1)
  int kind;           // 0 at a point, 1 along a direction (infinitely far)
  int element_count;  // 0..8
  FlareElement elements[MAX_FLARE_ELEMENTS];
};

struct Lighting {
  float sun_vector[3];      // normalised
  float sun_colour[3];
  float ambient[3];
  float global_ambient[3];
  float near_plane;         // ft, 2^-10 .. 0.875
  float far_plane;          // ft, near .. 1048576
  int dynamic_lighting;
  uint32_t sky[5];          // north, east, south, west, up
  uint32_t sky_env;
  float fog_colour[3];
  float fog_density;        // 0 = no fog
  int fog_set;              // the load set exponential fog
  Growable flares;          // Flare
};

struct Billboard {
  float x, y, z;       // ft; y = ground + height above ground
  float size;          // ft, height of the drawn billboard
  float height;        // ft above ground
  float aspect;        // width / height
  int sort_key;        // rewritten by the renderer
  uint32_t texture;    // 0 hides the billboard
  uint8_t colour[4];   // r, g, b, a
};

struct Statue {
  Model *model;          // or null
  Shape *shape;          // per-statue collision shape copy, or null
  uint32_t texture, normal_texture, specular_texture;
  float x, y, z;         // ft; y = ground + height above ground
  float height;          // ft above ground
  float heading;         // rad, or a level of detail code >= 3.25
  float orientation[9];  // 3 x 3, the object's x, y, z axes as columns (row-major storage)
  float special;         // 2^heading when heading >= 3.25, else 0
  int touch_tick;        // tick a bike last touched it (collisions); 0 at load
};

struct StartFlagger {
  int billboard;  // -1 when none
  uint32_t textures[5];
  float from[3], to[3];  // ft
  float walk_time;       // s
};

// The lap board: the second flagger, showing the race's progress with four textures.
struct LapBoard {
  int billboard;  // -1 when none
  uint32_t textures[4];
};

struct Flagger {
  int billboard;
  uint32_t textures[2];
  int gates[4];  // timing gate indices, -1 = none
};

struct TrackCamera {
  float x, y, z;       // ft; y = ground + given height
  float spare[4];      // 0
  float fov;           // degrees
  float autofov_size;  // ft, 0 = off
};

// The current track: directory name and display name. A null display name takes the first
// line of the directory's "desc", or the directory name.
void track_select(const char *dir, const char *display_name);
const char *track_directory();     // "" when none
const char *track_display_name();
// The first line of "@<dir>/desc" (up to CR, LF, NUL or the end); 0 when there is none.
int read_track_desc(const char *dir, char *out, size_t size);

// Settings the load reads: debug level (0, 1, 2), the terrain render method (1, 2, 3) from
// the Terrain Rendering Method setting, and whether models use normal maps.
void track_set_options(int debug_level, int render_method, int model_normal_maps);
// Calls out of the load to the window side; null members are skipped.
struct TrackLoadHooks {
  void (*draw_loading)(const char *text);  // one frame showing the text, when a window exists
  void (*start_editor)();                  // in editor mode
};
void set_track_load_hooks(const TrackLoadHooks *hooks);  // null removes them

// Loads the current track; 1 on success, 0 when the terrain failed to load.
int track_load();
void track_unload();
int track_loaded();
// Test support: forgets every track record, the selected track, the options and the gate
// hooks; does not unload the terrain.
void track_reset();

// The 20-byte digest of the loaded track (all zero before a load).
const uint8_t *track_digest();

// An object's orientation at (x, z) for a heading (rad); 3 x 3, axes as columns.
void object_orientation(float out[9], float x, float z, float heading);

const Lighting *track_lighting();
// Reads lighting text into the track lighting from defaults, then clamps and loads the sky.
// Returns 0 when an unknown keyword ended it.
int parse_lighting(const char *text, size_t length);

int billboard_count();
Billboard *billboard_at(int i);
int track_billboard_first();  // first billboard read from "billboards"
// Creates a billboard (colour prefix "#rrggbb#" allowed in the name); returns its index.
int create_billboard(float x, float height, float z, float size, float aspect,
                     const char *texture);
int parse_billboards(const char *text, size_t length);  // billboards added
const int *billboard_bin(int bx, int bz, int *count);

int statue_count();
Statue *statue_at(int i);
// Creates a statue; names may be null or "null" for none. Returns its index.
int create_statue(float x, float height, float z, float heading, const char *model,
                  const char *texture, const char *shape);
int parse_statues(const char *text, size_t length);  // statues added
// The editor's writers of the track's own billboards and statues ("@<dir>/billboards",
// "@<dir>/statues"); 0 with "Can't open 'billboards'" / "Can't open 'statues'" when the
// file cannot be opened.
int save_billboards();
int save_statues();
void bin_statues();
const int *statue_bin(int bx, int bz, int *count);

const StartFlagger *start_flagger();
const LapBoard *lap_board();
int flagger_count();
const Flagger *flagger_at(int i);
int parse_flaggers(const char *text, size_t length);

int camera_count();
const TrackCamera *camera_at(int i);
int gate_camera(int gate);  // camera index for a timing gate, -1 when none
int parse_cameras(const char *text, size_t length);

uint32_t track_map_texture();  // 0 when the track has no map
