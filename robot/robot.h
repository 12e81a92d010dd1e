// Robot riders: learning racing lines from human laps, and the auto pilot that rides them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/common.h"

struct Racer;     // race/race.h
struct DataFile;  // files/files.h

// ---------------------------------------------------------------------------------------
// Limits and fixed values of the line store
// ---------------------------------------------------------------------------------------
constexpr int LINE_SLOTS = 45;               // learnt lines per section
constexpr int LINE_NO_TIME = 1000000;        // ticks: empty recorded and best times
constexpr int LINE_MAX_TOTAL = 100000000;    // ticks: ceiling of the summed robot times
constexpr int LINE_MAX_COUNT = 65535;        // ceiling of runs and failures
constexpr int LINE_PENALTY = 640;            // ticks (5 s): what a failure costs
constexpr int LINE_COST_TYPES = 4;           // 0..2 planned, 3 exploration
constexpr int LINE_PLAN_TYPES = 3;
constexpr int LINE_NO_CHAIN = 100000000;     // cost of a chain that does not exist
constexpr int PERSONALITY_COUNT = 5;         // entry 0 = no auto pilot

// One sample of a ridden line.
struct LinePoint {
  float x, y, z;  // ft, the frame's centre
  float speed;    // ft/s; negative when neither wheel touched the ground
  float lean;     // rad, the bike's roll (> 0 leaning left)
};
static_assert(sizeof(LinePoint) == 20, "LinePoint is five floats");

// One learnt line of a section. `count` 0 means the slot is free.
struct LineSlot {
  LinePoint *points;  // owned by the slot
  int count;
  int recorded_time1;  // ticks the recording human took for this section
  int recorded_time2;  // ticks for this section and the next
  int runs;            // robot runs that completed the line
  int best_time1, best_time2;    // ticks
  int total_time1, total_time2;  // ticks, summed over the runs
  int failures;                  // robot runs that fell off the line
  int last_picked;               // tick a robot last chose the line
  int id;                        // unique within the program's run
};

// ---------------------------------------------------------------------------------------
// Line sections and the store
// ---------------------------------------------------------------------------------------
// The line section of a crossing index (counting laps); -1 without timing or for a
// negative index.
int line_section(int crossing);
// The store index of a line section (later laps share the lap sections); -1 when none.
int line_store_index(int section);
// Sections held by the store (F' + N'), 0 when none are allocated.
int line_section_count();
int line_first_sections();  // F'
// The slots of a store index, LINE_SLOTS of them; null when out of range.
LineSlot *line_slots(int store_index);
// The line with this id, or null. `store_index` (may be null) receives where it lives.
LineSlot *line_by_id(int id, int *store_index);

// Allocates the store for `sections` sections (the gate loader's hook); 0 frees it.
void allocate_lines(int sections);
void free_lines();
// Empties every slot (points freed, fields reset).
void clear_lines();
// Puts a line into slot `slot` of `store_index` with fresh statistics and a new id
// (tools and tests). Returns the id, 0 when out of range.
int line_set(int store_index, int slot, const LinePoint *points, int count, int time1,
             int time2);

// ---------------------------------------------------------------------------------------
// Learning
// ---------------------------------------------------------------------------------------
// Once per tick per racer, before the crossing test: sampling and crash bookkeeping.
void learn_tick(int slot);
// After the crossing check stored a crossing; `exact` when it was the expected next gate.
void learn_crossing(int slot, int crossing, int exact);
// Per-racer learning state back to empty, personality 0 (session start, before the
// robots are named).
void learn_reset_racer(int slot);
// The slot's crash flag (1 a crash just happened, 2 counted); the crash detection sets 1.
void set_learn_crash(int slot);
// Forgets the lines the racer rides in every section (a bike-to-bike contact knocks it off
// them).
void clear_riding_lines(int slot);

// The store of the current track for a skill (0..2): read and analysed. Remembers the skill.
void lines_load(int skill);
// Saves the remembered skill's store when learning is on and a store was loaded, then
// empties every slot.
void lines_save();
// Reads a "ct03" file into the store. 1 when its section count matched the store (what was
// read is kept either way, silently).
int lines_read(DataFile *file);
int lines_read_file(const char *name);
// Writes the store as a "ct03" file. 1 when written.
int lines_write(DataFile *file);
int lines_write_file(const char *name);
// The file name of a skill: "lines_novice", "lines_amateur", "lines_expert".
const char *lines_file_name(int skill);
// Halves and clamps a slot's statistics so they fit the field widths.
void line_scale(LineSlot *line);

// The analysis: builds the three plans and logs the best lap costs.
void lines_analyse();
// The plan of cost type 0..2: one line id per section (0 = none); null for other types.
const int *line_plan(int type);
// Line j may follow line i.
int lines_continue(const LineSlot *i, const LineSlot *j);
// Cost of a line in ticks for cost type 0..3.
double line_cost(const LineSlot *line, int type);
// Cheapest chains over `steps` sections from store section `section` with cost type
// `type`: best[l] for each start line l of the section (LINE_NO_CHAIN where none). Where
// no chain reaches the end of the stretch, the deepest section any chain reached counts.
void line_chain_costs(int section, int steps, int type, double best[LINE_SLOTS]);
// The circle through three points in the horizontal plane: centre and radius (ft). Nearly
// collinear points put the centre 1 000 000 ft away along the perpendicular.
void line_circle(const LinePoint *a, const LinePoint *b, const LinePoint *c, float *cx,
                 float *cz, float *radius);

// ---------------------------------------------------------------------------------------
// The auto pilot
// ---------------------------------------------------------------------------------------
struct Personality {
  const char *name;
  int near_type, far_type;  // cost types
  float gap_threshold;      // s
  float reaction_min, reaction_max;  // s
};
const Personality *personality_at(int index);  // null when out of range
// Index 1..4 by exact name; logs "auto pilot personality '%s' not found" and takes 1.
int personality_index(const char *name);
void set_personality(Racer *racer, int slot, const char *name);
int racer_personality(int slot);  // 0 = no auto pilot

void auto_pilot_reset(Racer *racer, int slot);
void auto_pilot_tick(Racer *racer, int slot);
// Rides the racer along the route given with set_robot_route, as the auto pilot does but
// without picking lines (scripted riders of the tools; any racer kind).
void ride_route(Racer *racer, int slot);

// Cost type a robot picks with: the personality's near type, or its far type while it
// leads by more than the gap threshold.
int pick_cost_type(int slot);
// The robot's lead over the second racer in the running order, s (0 when not leading).
float leader_gap(int slot);
// Share of the plan bonus at a race time (s): clamp((t - 40) * 0.05, 0, 1).
float plan_bonus_share(float race_seconds);
// Picks the next line for the robot and appends it to its route. 1 when a line was picked.
int pick_line(int slot);

// Tests and tools: the line a racer rides in a line section (its riding entry).
void set_riding_line(int slot, int section, int id);
void set_robot_next_section(int slot, int section);
int riding_line(int slot, int section);

// The robot's route (read-only view; null when none) and target.
const LinePoint *robot_route(int slot, int *count);
int robot_target(int slot);
int robot_mode(int slot);
int robot_last_advance(int slot);
// Tests and tools: replaces the route with these points, target and last advance.
void set_robot_route(int slot, const LinePoint *points, int count, int target, int last_advance);

// Where the racer's reference line is `ahead` samples beyond its place (the realignment
// after a fall turns the bike toward it). 1 when there is such a point.
int reference_line_point(int slot, int ahead, Vec3 *out);

// ---------------------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------------------
// Debug level (0..2: the learning and picking messages from 1) and whether learnt lines are
// saved (--learn).
void robot_set_options(int debug_level, int learn);
// Installs line learning and the auto pilot into the session hooks (keeps the others).
// Call it after the physics hooks are installed: sampling runs after each racer's physics
// step.
void robot_install_hooks();
// Tests: frees the store and forgets every racer's learning and auto pilot state.
void robot_reset();
