// Race session: the racer table, the robot roster and its shuffle, the lineup, the start
// grid, the race length and the time trial's lap loop.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_model.h"
#include "core/frame.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "race/demo.h"
#include "race/race_local.h"
#include "render/model.h"
#include "render/texture.h"
#include "terrain/terrain.h"

// ---------------------------------------------------------------------------------------
// The robot roster (built once; read-only afterwards)
// ---------------------------------------------------------------------------------------
namespace {
struct RosterEntry {
  RobotProfile profile;
  char number[4];
  char rider[32], head[32], bike[128], wheel[32];
};
}  // namespace

static RosterEntry roster[ROBOT_ROSTER_SIZE];
static int roster_built;

// The bike model's own graphics with "-alt1" before ".png".
static void alt_bike_texture(const char *model, char *out, size_t size) {
  const BikeModel *m = bike_model_by_name(bike_model_alias(model));
  out[0] = 0;
  if (!m || !m->bike_texture) return;
  const char *t = m->bike_texture;
  size_t n = strlen(t);
  if (n >= 4 && strcmp(t + n - 4, ".png") == 0) n -= 4;
  snprintf(out, size, "%.*s-alt1.png", (int)n, t);
}

static void build_roster() {
  if (roster_built) return;
  struct Group {
    int first;
    const char *personality;
    const char *models[4];
    int counts[4];
    const char *last_model;  // replaces the model of the group's last number, or null
  };
  static const Group groups[] = {
      {20, "torvik", {"kx125", "yz125", "cr125", "rm125"}, {5, 5, 5, 5}, nullptr},
      {40, "corvel", {"crf250", "kx250f", "rmz250", "yz250f"}, {5, 5, 4, 6}, "yz250f_se(2006)"},
      {60, "torvik", {"crf250", "kx250f", "rmz250", "yz250f"}, {5, 5, 5, 5}, "yz250f_se(2006)"},
      {80, "halden", {"crf250", "kx250f", "yz250f", "rmz250"}, {5, 5, 5, 5}, nullptr},
  };
  int i = 0;
  for (const Group &g : groups) {
    int first = i;
    for (int m = 0; m < 4; m++)
      for (int k = 0; k < g.counts[m]; k++) roster[i++].profile.model = g.models[m];
    if (g.last_model) roster[i - 1].profile.model = g.last_model;
    for (int j = first; j < i; j++) roster[j].profile.personality = g.personality;
  }
  static_assert(ROBOT_ROSTER_SIZE == 80, "four groups of twenty");
  for (i = 0; i < ROBOT_ROSTER_SIZE; i++) {
    RosterEntry *e = &roster[i];
    snprintf(e->number, sizeof e->number, "%d", 20 + i);
    e->profile.number = e->number;
    int alt = 0, alt_bike = 0;
    if (i < 60) {
      // Riders 20-79 rotate through the three alternative outfits; every seventh rides in
      // the default one and every fifth has the alternative bike graphics.
      alt = i % 7 == 6 ? 0 : i % 3 + 1;
      alt_bike = i % 5 == 4;
    } else {
      alt = i % 2 + 1;
      alt_bike = alt;
    }
    if (alt) {
      snprintf(e->rider, sizeof e->rider, "@rider_body-alt%d.png", alt);
      snprintf(e->head, sizeof e->head, "@rider_head-alt%d.png", alt);
      e->profile.rider_texture = e->rider;
      e->profile.head_texture = e->head;
    }
    if (alt_bike) {
      int n = i < 60 ? 1 : alt;
      alt_bike_texture(e->profile.model, e->bike, sizeof e->bike);
      if (n == 2 && e->bike[0]) e->bike[strlen(e->bike) - 5] = '2';  // "-alt1.png" -> "-alt2"
      snprintf(e->wheel, sizeof e->wheel, "@wheels-alt%d.png", n);
      e->profile.bike_texture = e->bike[0] ? e->bike : nullptr;
      e->profile.wheel_texture = e->wheel;
    }
  }
  roster_built = 1;
}

const RobotProfile *robot_profile(int index) {
  if (index < 0 || index >= ROBOT_ROSTER_SIZE) return nullptr;
  build_roster();
  return &roster[index].profile;
}

const char *bike_model_alias(const char *model) {
  static const char *const aliases[][2] = {
      {"crf250", "crf250(2008)"},
      {"kx250f", "kx250f(2008)"},
      {"rmz250", "rmz250(2008)"},
      {"yz250f", "yz250f(2008)"},
  };
  if (!model) return model;
  for (const auto &a : aliases)
    if (strcmp(model, a[0]) == 0) return a[1];
  return model;
}

// ---------------------------------------------------------------------------------------
// Module state
// ---------------------------------------------------------------------------------------
static struct SessionState {
  // -- lives for the process --
  SessionOptions options;
  SessionHooks hooks;
  int lineup[MAX_RACERS];  // the menus' lineup
  Mt19937 random;          // the program's random generator

  // -- per session --
  Racer racers[MAX_RACERS];
  int racer_count;
  int session_lineup[MAX_RACERS];
  SessionClock clock;
  int roster_order[ROBOT_ROSTER_SIZE];
  int roster_next;
  int active;
  int skill;
  int lines_loaded;
  char loaded_track[512];
  FalseStart false_start;
} s;

Racer *racer_at(int slot) { return slot >= 0 && slot < MAX_RACERS ? &s.racers[slot] : nullptr; }
// Ghosts and demo racers may be built into slots after the lineup's last one.
int racer_count() {
  int count = s.racer_count;
  for (int i = MAX_RACERS - 1; i >= count; i--)
    if (s.racers[i].bike) return i + 1;
  return count;
}
RacerTiming *racer_timing(int slot) {
  Racer *r = racer_at(slot);
  return r && r->bike ? r->bike->timing : nullptr;
}
SessionClock *session_clock() { return &s.clock; }
int session_active() { return s.active; }
int session_skill() { return s.skill; }
int *session_lineup() { return s.lineup; }
SessionOptions *session_options() { return &s.options; }
FalseStart *false_start() { return &s.false_start; }
const int *robot_roster_order() { return s.roster_order; }

void set_session_hooks(const SessionHooks *hooks) {
  s.hooks = hooks ? *hooks : SessionHooks{};
  race_install_gate_hooks();
}
const SessionHooks *session_hooks() { return &s.hooks; }

void race_install_gate_hooks() {
  GateHooks g = {};
  g.learn_crossing = s.hooks.learn_crossing;
  g.allocate_lines = s.hooks.allocate_lines;
  g.update_results = update_results;
  set_gate_hooks(&g);
}

static void progress(const char *text) {
  if (s.hooks.draw_progress) s.hooks.draw_progress(text);
}

// Releases a slot's engine sound, auto pilot and bike; the slot becomes empty, kind 1.
static void release_slot(int slot) {
  Racer *r = &s.racers[slot];
  if (r->engine_sound && s.hooks.engine_sound_release) s.hooks.engine_sound_release(r, slot);
  r->engine_sound = nullptr;
  if (r->bike) free_racer(r->bike);
  r->bike = nullptr;
  r->kind = RACER_REMOTE;
  r->personality = nullptr;
  r->robot = -1;
}

static void clear_racer(Racer *r) {
  *r = Racer{};
  r->kind = RACER_REMOTE;
  r->robot = -1;
}

void racer_table_reset() {
  for (int i = 0; i < MAX_RACERS; i++) {
    release_slot(i);
    clear_racer(&s.racers[i]);
    s.lineup[i] = LINEUP_EMPTY;
    s.session_lineup[i] = LINEUP_EMPTY;
  }
  s.racer_count = 0;
}

void session_end() {
  for (int i = 0; i < MAX_RACERS; i++) {
    release_slot(i);
    clear_racer(&s.racers[i]);
  }
  s.racer_count = 0;
  s.active = 0;
  s.loaded_track[0] = 0;
  s.clock = SessionClock{};
  results_reset();
}

// ---------------------------------------------------------------------------------------
// The shuffle
// ---------------------------------------------------------------------------------------
void shuffle_robot_roster(uint32_t seed) {
  mt_seed(&s.random, seed);
  for (int i = 0; i < ROBOT_ROSTER_SIZE; i++) s.roster_order[i] = i;
  for (int i = ROBOT_ROSTER_SIZE - 1; i >= 1; i--) {
    uint32_t r = mt_next(&s.random);
    int j = (int)((r >> 16) % (uint32_t)i);
    int t = s.roster_order[i];
    s.roster_order[i] = s.roster_order[j];
    s.roster_order[j] = t;
  }
  s.roster_next = 0;
}

static int matches(const RobotProfile *p, int code) {
  if (code == LINEUP_ROBOT_125) return strstr(p->model, "125") != nullptr;
  if (code == LINEUP_ROBOT_250) return strstr(p->model, "250") != nullptr;
  char number[16];
  snprintf(number, sizeof number, "%d", code - LINEUP_ROBOT_NUMBER);
  return strcmp(p->number, number) == 0;
}

// The next robot for a lineup code: the next of the shuffled order, or the last unused
// one that matches, swapped into the next place. More robots than the roster holds start
// the shuffled order again.
static const RobotProfile *next_robot(int code, int *index) {
  if (s.roster_next >= ROBOT_ROSTER_SIZE) s.roster_next = 0;
  int next = s.roster_next++;
  if (code != LINEUP_ROBOT) {
    for (int i = ROBOT_ROSTER_SIZE - 1; i >= next; i--) {
      if (!matches(robot_profile(s.roster_order[i]), code)) continue;
      int t = s.roster_order[i];
      s.roster_order[i] = s.roster_order[next];
      s.roster_order[next] = t;
      break;
    }
  }
  *index = s.roster_order[next];
  return robot_profile(*index);
}

// ---------------------------------------------------------------------------------------
// Start positions
// ---------------------------------------------------------------------------------------
float start_position(int g, float *x, float *z) {
  int pieces = start_gate_count();
  if (pieces > 0) {
    const StartGatePiece *p = start_gate_piece(g % pieces);
    float back = (float)(g / pieces + 0.0625) * 10;  // ft behind the piece
    *x = p->x + std::sin(p->angle) * back;
    *z = p->z + std::cos(p->angle) * back;
    return p->angle;
  }
  const Terrain *t = terrain_current();
  float w = t ? t->extent : 0;
  *x = g * 5 + w / 2;
  *z = w / 2;
  return 0;
}

// Height of the grid point nearest to (x, z), clamped to the grid.
static float grid_height(float x, float z) {
  const Terrain *t = terrain_current();
  if (!t || !t->heights || t->samples < 1 || !(t->spacing > 0)) return 0;
  auto index = [t](float v) {
    double i = std::floor(v / t->spacing + 0.5);
    if (!(i >= 0)) return 0;
    if (i > t->samples - 1) return t->samples - 1;
    return (int)i;
  };
  return t->heights[index(z) * t->samples + index(x)];
}

void place_bike(Bike *bike, float x, float z, float yaw) {
  if (!bike) return;
  // The build pose comes with a cleared race state; the gate crossings stay (a time-trial
  // restart truncates them itself).
  RacerTiming *t = bike->timing;
  int count = t ? crossing_count(t) : 0;
  std::vector<int32_t> kept((size_t)count);
  int next = t ? t->next_gate : 0, finished = t ? t->finished : 0;
  for (int i = 0; i < count; i++) kept[i] = crossing_tick(t, i);
  reset_racer(bike);
  if (t && (count > 0 || next > 0)) {
    for (int i = 0; i < count; i++)
      if (kept[i] >= 0) store_crossing(t, i, kept[i]);
    t->next_gate = next;
    t->finished = finished;
  }
  rotate_racer(bike, 0, 1, 0, yaw);
  translate_racer(bike, x, grid_height(x, z), z);
  // Raised until free; a bike buried under a statue gives up 100 ft up.
  for (int i = 0; i < 400; i++) {
    int touching = s.hooks.object_contact_pass
                       ? s.hooks.object_contact_pass(bike)
                       : object_contact_pass(bike, terrain_current(), s.clock.tick);
    if (physics_contact_group()) dJointGroupEmpty(physics_contact_group());
    if (!touching) break;
    translate_racer(bike, 0, 0.25f, 0);
  }
}

// ---------------------------------------------------------------------------------------
// Identities
// ---------------------------------------------------------------------------------------
static void copy_text(char *out, size_t size, const char *text) {
  snprintf(out, size, "%s", text ? text : "");
}

static const char *texture_path(TextureList list, const ChoiceSetting *choice) {
  const TextureChoices *c = texture_choices(list);
  if (!c || choice->index <= 0 || choice->index >= c->count) return nullptr;
  return c->paths[choice->index];
}

static void human_identity(Racer *r) {
  BikeSetup *setup = bike_setup();
  copy_text(r->name, sizeof r->name, setup->name);
  copy_text(r->number, sizeof r->number, setup->number);
  copy_text(r->model, sizeof r->model, choice_text(&setup->bike));
  copy_text(r->rider_texture, sizeof r->rider_texture,
            texture_path(TEXTURES_RIDER, &setup->rider_texture));
  copy_text(r->head_texture, sizeof r->head_texture,
            texture_path(TEXTURES_HEAD, &setup->head_texture));
  copy_text(r->bike_texture, sizeof r->bike_texture,
            texture_path(TEXTURES_BIKE, &setup->bike_texture));
  copy_text(r->wheel_texture, sizeof r->wheel_texture,
            texture_path(TEXTURES_WHEEL, &setup->wheel_texture));
}

static void robot_identity(Racer *r, const RobotProfile *p, int index) {
  copy_text(r->name, sizeof r->name, "Dirovazov");
  copy_text(r->number, sizeof r->number, p->number);
  copy_text(r->model, sizeof r->model, p->model);
  copy_text(r->rider_texture, sizeof r->rider_texture, p->rider_texture);
  copy_text(r->head_texture, sizeof r->head_texture, p->head_texture);
  copy_text(r->bike_texture, sizeof r->bike_texture, p->bike_texture);
  copy_text(r->wheel_texture, sizeof r->wheel_texture, p->wheel_texture);
  r->personality = s.options.practice ? "tester" : p->personality;
  r->robot = index;
}

static const char *or_null(const char *text) { return text && text[0] ? text : nullptr; }

// Resolves a slot's code to an identity and builds its bike. 1 when the slot has a bike.
static int build_slot(int slot, int code, int playback) {
  Racer *r = &s.racers[slot];
  clear_racer(r);
  if (code == LINEUP_HUMAN) {
    r->kind = RACER_HUMAN;
    human_identity(r);
  } else if (code == LINEUP_ROBOT || code == LINEUP_ROBOT_125 || code == LINEUP_ROBOT_250 ||
             code >= LINEUP_ROBOT_NUMBER) {
    int index;
    const RobotProfile *p = next_robot(code, &index);
    r->kind = RACER_ROBOT;
    robot_identity(r, p, index);
  } else if (code == LINEUP_EMPTY && playback && demo_next_racer(r)) {
    r->kind = RACER_REMOTE;
    demo_map_slot(-1, slot);
  } else {
    // Empty, a server racer offline, or an unknown code.
    return 0;
  }
  r->bike = build_racer(bike_model_alias(r->model), slot, r->number, or_null(r->rider_texture),
                        or_null(r->head_texture), or_null(r->bike_texture),
                        or_null(r->wheel_texture));
  if (!r->bike) {
    clear_racer(r);
    return 0;
  }
  if (r->kind == RACER_ROBOT) {
    if (s.hooks.set_personality) s.hooks.set_personality(r, slot, r->personality);
    if (s.hooks.auto_pilot_reset) s.hooks.auto_pilot_reset(r, slot);
  }
  if (s.hooks.engine_sound_load) s.hooks.engine_sound_load(r, slot);
  return 1;
}

// ---------------------------------------------------------------------------------------
// The race length
// ---------------------------------------------------------------------------------------
int race_length_text(char *out, size_t size, int32_t duration, int extra_laps) {
  if (duration) {
    int minutes = (int)std::lround(duration * TICK / 60);
    if (extra_laps > 0) return snprintf(out, size, "%d minutes + %d laps", minutes, extra_laps);
    return snprintf(out, size, "%d minutes", minutes);
  }
  return snprintf(out, size, "%d laps", extra_laps);
}

// ---------------------------------------------------------------------------------------
// Working set
// ---------------------------------------------------------------------------------------
int working_set_range(uint64_t physical, uint64_t *minimum, uint64_t *maximum) {
  const uint64_t mib = 1024 * 1024;
  if (physical < 64 * mib) return 0;
  uint64_t max = (physical < 2048 * mib ? physical : 2048 * mib) - 32 * mib;
  *maximum = max;
  *minimum = max < 1024 * mib ? max : 1024 * mib;
  return 1;
}

// Linux has no working-set range; the nearest sound equivalent is the amount of memory
// the process may lock (RLIMIT_MEMLOCK), raised towards the minimum but never above the
// hard limit the administrator allows, and never lowered.
void adjust_working_set() {
  long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  uint64_t physical = pages > 0 && page_size > 0 ? (uint64_t)pages * (uint64_t)page_size : 0;
  uint64_t minimum, maximum;
  if (!working_set_range(physical, &minimum, &maximum)) {
    velk_log("Working set left alone - less than 64 MB physical memory\n");
    return;
  }
  velk_log("Setting working set range to %u - %u\n", (unsigned)minimum, (unsigned)maximum);
  struct rlimit limit;
  if (getrlimit(RLIMIT_MEMLOCK, &limit) != 0) {
    velk_log("Working set update failed\n");
    return;
  }
  rlim_t want = (rlim_t)minimum;
  if (limit.rlim_max != RLIM_INFINITY && want > limit.rlim_max) want = limit.rlim_max;
  if (limit.rlim_cur != RLIM_INFINITY && want > limit.rlim_cur) {
    limit.rlim_cur = want;
    if (setrlimit(RLIMIT_MEMLOCK, &limit) != 0) {
      velk_log("Working set update failed\n");
      return;
    }
  }
  velk_log("Working set successfully updated\n");
}

// ---------------------------------------------------------------------------------------
// start_session
// ---------------------------------------------------------------------------------------
static void teardown_racers() {
  velk_log("Deallocating bikes\n");
  for (int i = 0; i < MAX_RACERS; i++) release_slot(i);
  s.racer_count = 0;
  velk_log("Finished deallocating bikes\n");
}

static int load_track_if_changed() {
  const char *dir = track_directory();
  if (!dir || !dir[0]) return 0;
  if (track_loaded() && !s.options.force_reload && strcmp(dir, s.loaded_track) == 0) return 1;
  s.options.force_reload = 0;
  char keep[sizeof s.loaded_track];
  snprintf(keep, sizeof keep, "%s", dir);
  if (track_loaded()) track_unload();
  s.loaded_track[0] = 0;
  // The unload may forget the selection; select the wanted track again.
  if (strcmp(track_directory(), keep) != 0) track_select(keep, nullptr);
  if (!track_load()) return 0;
  snprintf(s.loaded_track, sizeof s.loaded_track, "%s", keep);
  return 1;
}

int start_session(const int *lineup, int playback, int record, int32_t duration, int laps,
                  int skill) {
  // 1. Everything logged while the session is set up reaches the disk at once.
  velk_log("\x13" "FLUSH");
  record_series_event();
  progress("Resetting...");

  // 2. The shuffle depends only on the tick the session starts at.
  shuffle_robot_roster((uint32_t)s.clock.tick);

  // 3. Tear the previous session down.
  if (track_loaded() && s.active) {
    progress("Remembering lines...");
    if (s.lines_loaded && s.hooks.lines_save) s.hooks.lines_save();
    s.lines_loaded = 0;
    demo_close_playback();
  }
  demo_stop_recording();
  progress("Cleaning up...");
  teardown_racers();
  s.active = 0;
  results_reset();
  bike_setup_reset();
  race_install_gate_hooks();

  // 4. The clock.
  s.clock = SessionClock{};
  s.clock.duration = duration > 0 ? duration : 0;
  s.clock.extra_laps = laps;
  s.clock.gate_lead = GATE_DROP_LEAD;
  double u = mt_next(&s.random) / 4294967296.0;
  s.clock.start_tick = (int32_t)std::lround((13 + 2 * u) / TICK);
  s.clock.time_trial = lineup == nullptr;
  s.clock.lap_limit = NO_LAP_LIMIT;
  s.clock.halfway_lap = NO_LAP_LIMIT;

  // 5. Offline: no server state, no history.
  demo_clear_history();

  // 6. The track.
  if (playback && !demo_open_playback()) playback = 0;
  if (!load_track_if_changed()) {
    velk_log("\x13" "NOFLUSH");
    return 0;
  }

  // 7. The lineup.
  int *codes = s.session_lineup;
  for (int i = 0; i < MAX_RACERS; i++)
    codes[i] = s.clock.time_trial ? (i == 0 ? LINEUP_HUMAN : LINEUP_EMPTY) : lineup[i];
  int any = 0;
  for (int i = 0; i < MAX_RACERS; i++) any |= codes[i] != LINEUP_EMPTY;
  if (!any && !(playback && demo_racer_count() > 0)) codes[0] = LINEUP_ROBOT;
  s.clock.viewed_slot = 0;
  for (int i = 0; i < MAX_RACERS; i++)
    if (codes[i] != LINEUP_EMPTY) {
      s.clock.viewed_slot = i;
      break;
    }
  int human = 0;
  for (int i = 0; i < MAX_RACERS; i++) {
    if (codes[i] != LINEUP_HUMAN) continue;
    if (human) codes[i] = LINEUP_EMPTY;
    human = 1;
  }

  // 8. Learnt lines of the skill level.
  if (skill < 0) skill = 0;
  if (skill >= SKILL_LEVELS) skill = SKILL_LEVELS - 1;
  progress("Analyzing lines...");
  if (s.hooks.lines_load) s.hooks.lines_load(skill);
  s.lines_loaded = 1;
  s.skill = skill;

  // 9. The racers.
  progress("Loading bikes...");
  s.racer_count = 0;
  for (int i = 0; i < MAX_RACERS; i++)
    if (build_slot(i, codes[i], playback)) s.racer_count = i + 1;

  // 10. The grid.
  for (int i = 0; i < s.racer_count; i++) {
    Racer *r = &s.racers[i];
    if (!r->bike) continue;
    float x, z, yaw = start_position(i, &x, &z);
    place_bike(r->bike, x, z, yaw);
    if (r->kind == RACER_HUMAN) {
      s.false_start.reference = vec3(x, grid_height(x, z), z);
      s.false_start.penalty = 0;
    }
    set_presence(r->bike, r->kind == RACER_REMOTE ? 0.0f : 1.0f);
  }

  // 11. History and recording.
  demo_clear_history();
  if (record) demo_start_recording(nullptr);

  // 12. Per-tick records; textures the new track no longer uses.
  show_messagef("%d MB texture memory used\n", (int)(texture_memory() >> 20));
  texture_purge();
  model_purge();

  // 13. A race of laps knows its end now; a timed race learns it as it runs.
  if (s.clock.duration == 0) {
    s.clock.lap_limit = s.clock.extra_laps;
    s.clock.halfway_lap = (laps + 1) / 2;
  }

  // 14. The gate goes up.
  for (int i = 0; i < start_gate_count(); i++) start_gate_piece(i)->drop_angle = 1;

  s.active = 1;
  // 15. A time trial starts long after its gate.
  if (s.clock.time_trial) {
    s.clock.tick = TIME_TRIAL_START_TICK;
    restart_time_trial_lap();
  }

  // 16. Tick 0 of the demo and the first results.
  demo_write_tick(1);
  demo_read_tick();
  s.clock.results_final = 0;
  update_results();

  // 17. The view.
  Racer *viewed = racer_at(s.clock.viewed_slot);
  if (!viewed || !viewed->bike) {
    int leader = race_leader();
    if (leader >= 0) s.clock.viewed_slot = leader;
    viewed = racer_at(s.clock.viewed_slot);
  }
  if (physics_contact_group()) dJointGroupEmpty(physics_contact_group());
  if (viewed && viewed->bike && viewed->kind == RACER_HUMAN)
    apply_setup(viewed->bike, bike_setup(), s.clock.tick * TICK);

  // 18.
  adjust_working_set();
  velk_log("\x13" "NOFLUSH");
  return 1;
}

// ---------------------------------------------------------------------------------------
// Time trial
// ---------------------------------------------------------------------------------------

// Releases every slot but the human's.
static void release_ghosts() {
  demo_close_playback();
  demo_write_tick(1);
  demo_stop_recording();
  demo_forget_racers();
  for (int i = 1; i < MAX_RACERS; i++) release_slot(i);
  s.racer_count = s.racers[0].bike ? 1 : 0;
}

void restart_time_trial_lap() {
  release_ghosts();
  Racer *human = &s.racers[0];
  if (!human->bike || !track_has_timing()) return;
  int f = first_lap_gates();
  int index = f < 2 ? 0 : f - 2;
  const TimingGate *g = timing_gate(gate_of_crossing(index));
  if (!g) return;
  float yaw = std::atan2(-g->dx, -g->dz);
  place_bike(human->bike, g->x, g->z, yaw);
  if (physics_contact_group()) dJointGroupEmpty(physics_contact_group());
  truncate_crossings(human->bike->timing, index);
  s.clock.last_lap = 0;
  update_results();
}

// The ticks from crossing a to crossing b when every crossing from a to b is valid.
static int32_t valid_span(const RacerTiming *t, int a, int b) {
  if (a < 0 || b < a) return 0;
  for (int i = a; i <= b; i++)
    if (crossing_tick(t, i) < 0) return 0;
  return crossing_tick(t, b) - crossing_tick(t, a);
}

static int copy_data_file(const char *from, const char *to) {
  DataFile *in = datafile_open(from, "rb");
  if (!in) return 0;
  DataFile *out = datafile_open(to, "wb");
  if (!out) {
    datafile_close(in);
    return 0;
  }
  char buffer[16384];
  size_t n;
  int ok = 1;
  while ((n = datafile_read(in, buffer, sizeof buffer)) > 0)
    if (datafile_write(out, buffer, n) != n) ok = 0;
  datafile_close(in);
  datafile_close(out);
  return ok;
}

void time_trial_ghost_lap() {
  const RacerTiming *t = racer_timing(1);
  if (!t || !track_has_timing()) return;
  int f = first_lap_gates(), n = normal_lap_gates();
  int32_t lap = valid_span(t, f - 1, f + n - 1);
  if (lap > 0 && (s.clock.best_lap == 0 || lap < s.clock.best_lap)) s.clock.best_lap = lap;
}

void time_trial_lap_completed() {
  RacerTiming *human = racer_timing(0);
  if (!human || !track_has_timing()) return;
  int f = first_lap_gates(), n = normal_lap_gates();
  // 1. The lap just ridden, when every gate of it was taken.
  int32_t lap = valid_span(human, f - 1, f + n - 1);
  if (lap > 0) {
    s.clock.last_lap = lap;
    if (s.clock.best_lap == 0 || lap < s.clock.best_lap) s.clock.best_lap = lap;
  }
  // 2. The ghost goes; 3. the new lap replaces it when it beat the ghost.
  const RacerTiming *ghost = racer_timing(1);
  int ahead = !ghost || crossing_count(human) > crossing_count(ghost);
  release_ghosts();
  char fast[600], last[600];
  snprintf(fast, sizeof fast, "@%s/fastlap.dvdemo", track_directory());
  snprintf(last, sizeof last, "@%s/lastlap.dvdemo", track_directory());
  DataFile *probe = datafile_open(fast, "rb");
  int have_fast = probe != nullptr;
  datafile_close(probe);
  if (!have_fast || (ahead && lap >= 1)) copy_data_file(last, fast);
  // 4. The ghost of the fastest lap rides in slots 1, 2, ... (the demo player places it).
  // 5. The new lap starts on this tick.
  Racer *h = &s.racers[0];
  truncate_crossings(human, f - 1);
  GateField field;
  race_gate_field(&field);
  const dReal *wheel = dBodyGetPosition(h->bike->bodies[FRONT_WHEEL_BODY]);
  check_gate_crossing(human, 0, vec3((float)wheel[0], (float)wheel[1], (float)wheel[2]), &field);
  // 6. Record the next lap.
  char name[600];
  snprintf(name, sizeof name, "@%s/lastlap.dvdemo", track_directory());
  demo_start_recording(name);
  demo_write_tick(1);
  update_results();
}
