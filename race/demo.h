// Demos and state history: the 39-byte compact racer state, the per-slot history rings,
// the placement of racers simulated elsewhere, and the ".dvdemo" recorder and player.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/common.h"

struct Bike;   // bike/bike.h
struct Racer;  // race/race.h

// ---------------------------------------------------------------------------------------
// The compact racer state
// ---------------------------------------------------------------------------------------
constexpr int COMPACT_STATE_BYTES = 39;  // formats 5 and 6
constexpr int LEGACY_STATE_BYTES = 26;   // format 4
constexpr int DEFAULT_STATE_FORMAT = 5;  // posing format outside a format 4 demo

// Byte layout (little-endian fields): 0-2 x, 3-5 y, 6-8 z of the frame body; 9-16 its
// quaternion w x y z; 17 steering; 18 swingarm (low bit 1 when encoded from a simulated
// rider, 0 when blended); 19 fork (low bit: integrity marking); 20-25 rider offset;
// 26-33 rider quaternion; 34, 35 front and rear wheel; 36 gear byte; 37-38 engine speed.
struct CompactRacerState {
  uint8_t bytes[COMPACT_STATE_BYTES];
};
static_assert(sizeof(CompactRacerState) == COMPACT_STATE_BYTES, "compact state is 39 bytes");

// The state of a bike simulated here. Positions are quantised over the current terrain
// (terrain_current(): extent and min_height).
void encode_racer_state(const Bike *bike, CompactRacerState *out);
// Poses the seven bodies from a state: format 4 reads the 26-byte legacy state, any
// other format the 39-byte one. Sets gear, throttle, crash timer, dab extension and
// engine speed as the state says.
void pose_from_state(Bike *bike, const uint8_t *state, int format);
// The per-tick placement of a racer simulated elsewhere: velocities from older -> newer
// (`ticks` apart), pose from target, lifted out of the ground. A solid racer that touched
// the local bike is pulled toward the target with follow_state instead.
void place_remote_racer(Bike *bike, const uint8_t *target, const uint8_t *older,
                        const uint8_t *newer, int ticks, int format);
// Spring pull of a solid racer toward its state (39-byte states); `tick` is the current
// tick, for the time since the first contact.
void follow_state(Bike *bike, const uint8_t *target, const uint8_t *older,
                  const uint8_t *newer, int ticks, int32_t tick);
// Angular velocity (rad/s) that turns quaternion a (w x y z) into b in one tick.
Vec3 rotation_rate(const double a[4], const double b[4]);

// The integrity marking carried in the low bit of byte 19: bit integrity_index() (0..255,
// from a hash of the other 38 bytes) of the 32-byte build fingerprint, most significant
// bit of byte 0 first, inverted while a setup value lay far out of range. Decoding never
// reads it.
int integrity_index(const CompactRacerState *state);
int integrity_bit(const CompactRacerState *state, int setup_out_of_range);
// What the states stored for a slot have reported of its fingerprint: 64 lower-case hex
// digits, '?' for each digit not yet known, terminated (the console's randdump).
void integrity_digits(int slot, char out[65]);
// For a state encoded by this build: 1 when it was encoded while the setup flag was set.
int state_setup_flagged(const CompactRacerState *state);

// The blend of a (older) and b (newer) with weight t (t > 1 extrapolates the positions).
// `legacy` 1 copies a whole (format 4 demos).
void blend_compact_states(CompactRacerState *out, const CompactRacerState *a,
                          const CompactRacerState *b, float t, int legacy = 0);

// ---------------------------------------------------------------------------------------
// State history: one ring of 128 states per racer slot
// ---------------------------------------------------------------------------------------
constexpr int HISTORY_ENTRIES = 128;
constexpr int HISTORY_SLOTS = 160;
constexpr int EXTRAPOLATION_TICKS = 64;  // 0.5 s past the newest state
constexpr int HISTORY_REACH = 128;       // ticks a racer is shown beyond its history

struct HistoryEntry {
  int32_t tick;  // -1 = unused
  CompactRacerState state;
};
struct StateHistory {
  HistoryEntry entries[HISTORY_ENTRIES];
  int newest;   // index of the newest entry
  int pending;  // entries not yet written to the demo being recorded (<= 128)
};

// The ring of a slot, or null when out of range.
StateHistory *state_history(int slot);
// Stores a state at a tick (see the rules in demo_history.cpp). A slot outside 0..159
// shows "add_state_to_history: slot out of range". 1 when stored.
int add_state_to_history(int slot, const CompactRacerState *state, int32_t tick);
void clear_history(int slot);
void clear_all_histories();

// The older and newer entry indices for a wanted tick; 0 when the history is empty.
int history_bracket(const StateHistory *h, int32_t tick, int *older, int *newer);
// Poses the racer of a slot for a tick from its history (demo racers, ghost, server).
void place_from_history(int slot, int32_t tick);
// SessionHooks::place_remote: place_from_history with the warm-up delay while connected.
void place_remote_from_history(Racer *racer, int slot, int32_t tick);
// 1 when the racer in the slot is neither drawn nor heard this tick.
int racer_hidden(int slot);

// What the multiplayer client tells the placement and hiding rules. Offline: not
// connected, own and racing slot 160.
struct RemoteView {
  int connected;
  int own_slot;      // this client's slot, 160 = none
  int racing_slot;   // 160 while the server is in warm-up
  int32_t newest_tick[HISTORY_SLOTS];  // newest state received per slot
  float off_course_bias;               // s, 10 unless the server sets it
};
RemoteView *remote_view();

// ---------------------------------------------------------------------------------------
// Demo files
// ---------------------------------------------------------------------------------------
constexpr int MAX_DEMO_BACKUPS = 100;
constexpr int DEMO_BLOCK_TICKS = 16;    // a block every 16 ticks
constexpr int DEMO_STATE_TICKS = 4;     // a state every 4 ticks
constexpr int DEMO_ENTRY_BYTES = 44;    // racer index, tick, state
constexpr int DEMO_BLOCK_HEADER = 9;    // size, tick, type
enum DemoBlockType { DEMO_BLOCK_STATES = 1, DEMO_BLOCK_TEXT = 2 };

// Recording. `name` null: "@demos/default.dvdemo" with the backups rotated (the time
// trial's lap recording passes its own name). 1 when the file is open.
int start_recording(const char *name);
void stop_recording();
int demo_recording();
// Once per tick after the step (force 0); force 1 writes everything pending now.
void write_demo_tick(int force);
// A text from the race server, appended at once as a text block.
void write_demo_text(const char *text);
// The console's namedemo: the pending name for "@demos/default.dvdemo". Replies with
// show_message; 1 when the name was taken.
int namedemo(const char *text);
// Renames old recordings: default%02d.dvdemo (n - 2 .. 0 up one), default -> default00.
void rotate_demo_backups(int backups);

// Playback. The file: in a time trial "fastlap.dvdemo" of the track; otherwise the one
// chosen (demo_choose_file, the demo menu), else the command line's, else
// "@demos/default.dvdemo". A demo that cannot be read is not opened (0).
void demo_choose_file(const char *name);  // null or "" forgets the choice
int open_demo();
void close_demo();
void read_demo_tick();
// Rewind (< 0) or skip (> 0) by seconds while a demo plays on its own.
void seek_demo(double seconds);
int demo_format();  // 4, 5 or 6 while playing, else 0
int demo_racer_count();
// Time trial: opens the fastest lap and puts its racers into slots 1, 2, ... (kind 1,
// presence 0, crossings truncated to F - 1). Returns the number of ghosts built.
int demo_load_ghost();

// Start-up's opener for a demo given on the command line: reads the header of `file` and
// returns its track directory in `track`. 1 when it is a readable demo.
int demo_file_track(const char *file, char *track, size_t size);

// ---- internals the tests and the seeking use ----
// Stiffness (lb/ft) and damping of follow_state for a presence weight, marker and tick.
void follow_gains(float presence, int marker, int32_t tick, float *k, float *c);
// While on, placement poses only the target state (no velocities): demo skipping.
void demo_set_light_placement(int on);
// Offline view: not connected, no own slot, warm-up slot, 10 s bias.
void history_reset_remote_view();
// Forgets what the slots' states reported of their fingerprints (session start).
void history_forget_reports();

// The session's calls (demo_open_playback ... demo_playing, declared in race/race.h) are
// defined in demo_file.cpp on top of the calls above.

// Tests: close everything, forget the choice, clear every history and the remote view.
void demo_reset();
