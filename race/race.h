// Race: the session and its 160 racer slots, the simulation tick, results and points series.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/common.h"

struct Bike;         // bike/bike.h
struct RacerTiming;  // track/track.h

// ---------------------------------------------------------------------------------------
// Limits
// ---------------------------------------------------------------------------------------
constexpr int MAX_RACERS = 160;          // racer slots and lineup entries
constexpr int ROBOT_ROSTER_SIZE = 80;    // robot profiles, numbers "20" to "99"
constexpr int NO_LAP_LIMIT = 1000000;    // lap limit and halfway lap until fixed
constexpr int GATE_DROP_LEAD = 640;      // ticks (5 s) kept for the renderer and auto pilot
constexpr int TIME_TRIAL_START_TICK = 38400;  // 300 s: long after the gate drop
constexpr int SKILL_LEVELS = 3;          // Novice, Amateur, Expert

// ---------------------------------------------------------------------------------------
// Racers
// ---------------------------------------------------------------------------------------
enum RacerKind : int32_t {
  RACER_HUMAN = 0,   // local rider, driven by the input of the frame loop
  RACER_REMOTE = 1,  // placed from history (demo, ghost, server); also every empty slot
  RACER_ROBOT = 2,   // driven by the auto pilot
};

// Lineup codes, one per slot of a 160-entry lineup.
enum LineupCode : int32_t {
  LINEUP_EMPTY = 0,
  LINEUP_HUMAN = 1,     // only the first counts
  LINEUP_ROBOT = 2,     // the next robot of the shuffled roster
  LINEUP_ROBOT_125 = 3, // "Robot (2 stroke)"
  LINEUP_ROBOT_250 = 4, // "Robot (4 stroke)"
  LINEUP_SERVER = 5,    // a racer of the race server (online lineups only)
  LINEUP_ROBOT_NUMBER = 1000,  // 1000 + n: the robot numbered n
};

constexpr int RACER_NAME_CHARS = 63;
constexpr int RACER_NUMBER_CHARS = 7;
constexpr int RACER_FILE_CHARS = 127;

// One racer slot. The slot owns its bike (build_racer .. free_racer) and, through the
// hooks below, its engine sound and auto pilot.
struct Racer {
  RacerKind kind;
  Bike *bike;  // null for an empty slot; carries the RacerTiming and presence weight
  char name[RACER_NAME_CHARS + 1];
  char number[RACER_NUMBER_CHARS + 1];
  char model[RACER_FILE_CHARS + 1];  // bike model name as given (before the aliases)
  // Data-file names of the rider body, rider head, bike and wheel textures; "" = default.
  char rider_texture[RACER_FILE_CHARS + 1];
  char head_texture[RACER_FILE_CHARS + 1];
  char bike_texture[RACER_FILE_CHARS + 1];
  char wheel_texture[RACER_FILE_CHARS + 1];
  const char *personality;  // auto pilot personality of a robot, null otherwise
  int robot;                // roster index of a robot, -1 otherwise
  void *engine_sound;       // owned by the sound hooks; null when none
  void *auto_pilot;         // owned by the robot hooks; null when none
};

// The racer of a slot (null when out of range). Slots always exist; an empty one has no bike.
Racer *racer_at(int slot);
// Slots in use: one past the highest slot built by the last session (0 without a session).
int racer_count();
// The bike's timing, or null for an empty slot.
RacerTiming *racer_timing(int slot);

// Start-up and the tests: every slot empty with kind 1, every lineup entry empty, count 0.
// Frees any bikes still built.
void racer_table_reset();

// ---------------------------------------------------------------------------------------
// The robot roster
// ---------------------------------------------------------------------------------------
struct RobotProfile {
  const char *number;       // "20" .. "99"
  const char *personality;  // "torvik", "corvel", "halden"
  const char *model;        // bike model name (before the aliases)
  const char *rider_texture, *head_texture, *bike_texture, *wheel_texture;  // null = none
};
const RobotProfile *robot_profile(int index);  // roster order, 0 .. 79; null when out of range
// The shuffled order of the current session: entry i is a roster index.
const int *robot_roster_order();
// Shuffles the identity order with an MT19937 seeded by `seed` (start_session passes the
// current tick): for i from 79 down to 1 swap i with (r >> 16) mod i.
void shuffle_robot_roster(uint32_t seed);
// The model alias table: "crf250" -> "crf250(2008)" ...; other names come back unchanged.
const char *bike_model_alias(const char *model);

// ---------------------------------------------------------------------------------------
// The session
// ---------------------------------------------------------------------------------------
struct SessionClock {
  int32_t tick;          // current tick
  int32_t start_tick;    // the gate drops
  int32_t duration;      // ticks of the timed part; 0 for a race of laps only
  int32_t extra_laps;    // laps after the time is up, or the race's laps without a duration
  int32_t lap_limit;     // racers finish after this many laps (NO_LAP_LIMIT until fixed)
  int32_t halfway_lap;   // the halfway signal (NO_LAP_LIMIT until fixed)
  int32_t gate_lead;     // ticks, GATE_DROP_LEAD
  int time_trial;
  int32_t last_lap;  // ticks of the time trial's last lap, 0 = none
  int32_t best_lap;  // ticks of the time trial's best lap, 0 = none
  int results_final;
  int viewed_slot;
};
SessionClock *session_clock();
int session_active();  // a session is running (a track was loaded by start_session)
int session_skill();   // skill level of the current session, 0 .. 2

// The lineup the session was started from (160 codes) and the menus' lineup.
int *session_lineup();

// Options the start-up and the console set.
struct SessionOptions {
  int practice;        // every robot rides with the personality "tester"
  int force_reload;    // the console's forcereload: reload the track even when unchanged
  int online;          // connected to a race server
  float erosion;       // 0 .. 100; terrain deformation under the bikes when above 0
  int debug_level;     // 0 .. 2: series scan logs at 1
};
SessionOptions *session_options();

// Starts a session. `lineup` null starts a time trial; otherwise 160 LineupCodes (copied).
// The track is the one selected with track_select (the demo's with `playback`).
// `duration` is in ticks (0 = laps only); `skill` 0 .. 2. Returns 1 when a session runs,
// 0 when the track failed to load (no session then).
int start_session(const int *lineup, int playback, int record, int32_t duration, int laps,
                  int skill);
// Time trial: puts the human back before the last gate of the first lap for a new lap.
void restart_time_trial_lap();

// The race length as the HUD, menus and server messages show it ("10 minutes + 2 laps").
// Returns the length snprintf would need.
int race_length_text(char *out, size_t size, int32_t duration, int extra_laps);

// Sets the process's memory limits from the physical memory size and logs what it did.
void adjust_working_set();
// The range adjust_working_set chooses for a physical memory size, in bytes. 0 when the
// memory is below 64 MiB (left alone).
int working_set_range(uint64_t physical, uint64_t *minimum, uint64_t *maximum);

// Places a bike on a start position: reset, turned to `yaw`, put on the ground under
// (x, z), raised 0.25 ft at a time while it touches anything.
void place_bike(Bike *bike, float x, float z, float yaw);
// The start position of grid position g (offline g is the slot). Returns the yaw (rad).
float start_position(int g, float *x, float *z);

// Tears the session down: every bike freed, every slot empty (exit path, tests).
void session_end();

// ---------------------------------------------------------------------------------------
// The simulation tick
// ---------------------------------------------------------------------------------------
// One step of 1/128 s for every racer, the world, the timing, the results and the demo.
void run_tick();

// ---------------------------------------------------------------------------------------
// Results
// ---------------------------------------------------------------------------------------
struct RunningOrder {
  int slot;
  int32_t crossings;   // the racer's next gate (or, in the final order, counted crossings)
  int32_t last_tick;   // tick of its last crossing; in the final order the entry time
  int laps_lost;       // final order: laps taken away for cutting
  int32_t penalty;     // final order: remaining penalty, ticks
};
// The running order (rebuilt at every update) and the final order (built once).
const RunningOrder *running_order(int *count);
const RunningOrder *final_order(int *count);
int race_leader();  // slot of the running order's leader, -1 when there is none

// Sorts by crossings (more first), then last tick (earlier first), then slot.
void sort_running_order(RunningOrder *entries, int count);

// Recomputes the running order, the lap limit of a timed race and, when every racer has
// finished, the official result and "results.txt". Nothing once the results are final.
void update_results();
// The timed-race rules (halfway lap, lap limit) on the given order of timings.
void apply_timed_race_rules(SessionClock *clock, const RacerTiming *const *order, int count);
// Writes the official result as "@results.txt"; 0 when the file cannot be opened.
int write_results_file();
// The same text into a buffer (snprintf-like: returns the length it needs). `now` is the
// date written.
size_t format_results(char *out, size_t size, long now);
// Tests: forget both orders and the final flag.
void results_reset();

// ---------------------------------------------------------------------------------------
// Points series
// ---------------------------------------------------------------------------------------
constexpr int SERIES_POINTS = 40;        // positions in each points table
constexpr int SERIES_NAME_CHARS = 1023;

struct SeriesEvent {
  char *name;
  char *track;  // track directory
  int track_index;  // index into the track catalogue, -1 when the catalogue is not known
  int minutes, laps;
  int moto_points[SERIES_POINTS];
  int round_points[SERIES_POINTS];
  int finishes[MAX_RACERS];     // per participant: finishing position, 0 = first
  int round_ranks[MAX_RACERS];  // per participant: rank in the round this moto closes
};

struct Series {
  char *file;       // data-file name of the ".series" file
  char *name;
  char *standings;  // "@" + file + "_standings"
  SeriesEvent *events;
  int event_count;
  int completed;
  int skill;          // 0 Novice, 1 Amateur, 2 Expert
  int robot_count;    // n; participant n is the human
  int robots[MAX_RACERS - 1];  // robot numbers
};

// Parses ".series" text into `out` (caller frees with series_free). 0 on any failure
// (out then holds nothing to free). `file` is the data-file name kept in the record.
int series_parse(const char *text, size_t length, const char *file, Series *out);
void series_free(Series *s);
// Reads standings text: complete lines are events; sets `completed` and the round ranks.
void series_parse_standings(Series *s, const char *text, size_t length);
// Reads the standings file of the series (none = no events completed).
void series_load_standings(Series *s);
// Rewrites the standings file with every completed event. 1 when written.
int series_save_standings(const Series *s);
// Recomputes every completed event's round ranks.
void series_compute_round_ranks(Series *s);
// A participant's championship points over the completed round-closing events.
int series_points(const Series *s, int participant);

// Reads every data file ending in ".series" (start-up).
void scan_series();
int series_count();
Series *series_at(int index);
void select_series(int index);
int selected_series();
// Builds the lineup for the next event of `s` (160 codes). 0 when every event is done.
int series_event_lineup(const Series *s, int lineup[MAX_RACERS]);
// The gate-order table position p for a field of n robots.
int series_gate_position(int n, int p);
// Starts the next event of the selected series; 1 when a session started.
int start_series_event();
// The series menu's "Enter Next Event": start and make it the running event.
int enter_series_event();
// Records the running series event's result (results final, new session, exit).
void record_series_event();
// The running series event: series index (or -1) and event index.
int running_series(int *event);
void set_running_series(int series, int event);
// Tests: forget every series.
void series_reset();

// ---------------------------------------------------------------------------------------
// Hooks: calls into modules that the race session drives but does not own. Null members
// are skipped. The start-up installs them; tests and tools install what they need.
// ---------------------------------------------------------------------------------------
struct SessionHooks {
  // Title screen: draws and presents one frame with a progress text.
  void (*draw_progress)(const char *text);
  // Track catalogue: index of a track directory, -1 when it is not a catalogued track.
  // Without it a track is any directory holding a "terrain.hf".
  int (*track_index)(const char *dir);
  // Learnt lines (robot/): save the current skill's lines and reset; load and analyse.
  void (*lines_save)();
  void (*lines_load)(int skill);
  // Auto pilot (robot/).
  void (*set_personality)(Racer *racer, int slot, const char *name);
  void (*auto_pilot_reset)(Racer *racer, int slot);
  void (*auto_pilot_tick)(Racer *racer, int slot);
  // Engine sound (sound/).
  void (*engine_sound_load)(Racer *racer, int slot);
  void (*engine_sound_release)(Racer *racer, int slot);
  // Overrides of the bike's passes (tools and tests; the bike's own are used when null):
  // parts against the ground and statues (non-zero when touching), bike against bike.
  int (*object_contact_pass)(Bike *bike);
  int (*bike_contact_pass)(Bike *a, Bike *b, int remote);
  // Override of the bike's own physics step (tools and tests).
  void (*physics_step)(Bike *bike, int tick);
  // The robot's reference line point four samples ahead (robot/); 1 when there is one.
  int (*line_point)(Racer *racer, int slot, Vec3 *out);
  // Roost and erosion (terrain/).
  void (*roost_emit)(Bike *bike, int contact_current);
  void (*roost_update)();
  void (*erode)(Bike *bike);
  // Racers simulated elsewhere: placed from their history for the tick (race server).
  void (*place_remote)(Racer *racer, int slot, int32_t tick);
  // Line learning (robot/), handed on to the crossing check: a crossing stored, and the
  // tables allocated when a track with timing is read.
  void (*learn_crossing)(int slot, int crossing, int exact);
  void (*allocate_lines)(int sections);
  // The local human's controls for this tick (tools and tests; the frame loop hands
  // the controls itself before run_tick).
  void (*human_controls)(Racer *racer, int slot);
};
void set_session_hooks(const SessionHooks *hooks);  // null removes them
const SessionHooks *session_hooks();

// ---------------------------------------------------------------------------------------
// Demos: the session's calls into the demo recorder and player (race/demo.h has the rest).
// ---------------------------------------------------------------------------------------
int demo_open_playback();          // 1 when a demo is open for playback (its track selected)
void demo_close_playback();
int demo_next_racer(Racer *out);   // identity of the next demo racer; 0 when none remain
void demo_forget_racers();
void demo_map_slot(int demo_racer, int slot);
int demo_start_recording(const char *name);  // null = the session's default name
void demo_stop_recording();
void demo_write_tick(int force);
void demo_read_tick();
void demo_clear_history();
int demo_playing();
