// The configuration file: the settings table, reading and writing @config, the presets.
#include "files/config.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/files.h"
#include "platform/velk.h"

// ---- setting objects ----

const char *choice_text(const ChoiceSetting *s) {
  if (!s->options || s->index < 0 || s->index >= s->count) return "";
  return s->options[s->index];
}

int choice_select(ChoiceSetting *s, const char *text) {
  for (int i = 0; i < s->count; i++) {
    if (strcmp(s->options[i], text) == 0) {
      s->index = i;
      return 1;
    }
  }
  return 0;
}

void range_set(RangeSetting *s, double value) {
  // Written so that NaN fails the first test and lands on the minimum.
  if (!(value >= s->min)) value = s->min;
  if (value > s->max) value = s->max;
  s->value = value;
}

int range_read(RangeSetting *s, const char *text) {
  // "%f": leading blanks skipped, a 32-bit float, whatever follows the number ignored.
  char *end;
  float v = strtof(text, &end);
  if (end == text) return 0;
  range_set(s, (double)v);
  return 1;
}

static void string_setting_copy(char *dst, int capacity, const char *src) {
  size_t n = strnlen(src, (size_t)capacity);
  memcpy(dst, src, n);
  dst[n] = 0;
}

// ---- interned strings (per process, never freed) ----

namespace {

constexpr int INTERN_BUCKETS = 256;
struct InternEntry {
  InternEntry *next;
  char text[1];  // allocated to fit
};
InternEntry *s_intern[INTERN_BUCKETS];

unsigned intern_hash(const char *s) {
  unsigned h = 2166136261u;
  for (; *s; s++) h = (h ^ (unsigned char)*s) * 16777619u;
  return h;
}

}  // namespace

const char *intern_string(const char *text) {
  if (!text) return nullptr;
  unsigned b = intern_hash(text) % INTERN_BUCKETS;
  for (InternEntry *e = s_intern[b]; e; e = e->next)
    if (strcmp(e->text, text) == 0) return e->text;
  size_t n = strlen(text);
  InternEntry *e = (InternEntry *)malloc(sizeof(InternEntry) + n);
  if (!e) fatal_out_of_memory();
  memcpy(e->text, text, n + 1);
  e->next = s_intern[b];
  s_intern[b] = e;
  return e->text;
}

// ---- the settings table ----

namespace {

const char *const NO_YES[] = {"No", "Yes"};
const char *const SKILLS[] = {"Novice", "Amateur", "Expert"};
const char *const GATE_OCCUPANTS[] = {"Empty", "Human", "Robot", "Robot (2 stroke)",
                                      "Robot (4 stroke)"};
const char *const TEXTURE_DIMS[] = {"32x32",   "64x64",   "128x128",
                                    "256x256", "512x512", "1024x1024"};
const char *const COMPRESS[] = {"No", "Yes", "Always"};
const char *const RENDER_METHODS[] = {"Software", "Hardware/Copy", "Hardware/Direct",
                                      "Shaders/Copy", "Shaders/Direct"};
const char *const PLAYBACK_MODES[] = {"Playback Only", "Race Against"};
#define OPTIONS(a) a, (int)(sizeof a / sizeof a[0])

constexpr const char *DEFAULT_SERVER_NAME = "localhost";

struct BindingDefault {
  const char *key, *label, *key_name;
};
const BindingDefault BINDINGS[KEY_BINDING_COUNT] = {
    {"throttle_key", "Throttle", "x"},
    {"front_brake_key", "Front Brake", "c"},
    {"rear_brake_key", "Rear Brake", "v"},
    {"left_key", "Left", "left"},
    {"right_key", "Right", "right"},
    {"clutch_key", "Clutch", "z"},
    {"upshift_key", "Upshift", "up"},
    {"downshift_key", "Downshift", "down"},
    {"dab_key", "Sit/Dab", "right ctrl"},
    {"back_up_key", "Back up", "b"},
    {"lean_forward_key", "Lean Forward", "n"},
    {"lean_backward_key", "Lean Backward", "m"},
    {"pause_key", "Pause", "pause"},
    {"step_key", "Step", "."},
    {"rewind_key", "Rewind", "\\"},
    {"skip_key", "Skip", "/"},
    {"prev_key", "Previous Bike", "["},
    {"next_key", "Next Bike", "]"},
    {"console_key", "Chat", "t"},
    {"screenshot_key", "Screenshot", "s"},
};

enum SettingKind {
  KIND_INT,
  KIND_INTERNED,
  KIND_CHOICE,
  KIND_RANGE,
  KIND_STRING,   // fixed capacity, cut when longer
  KIND_HISTORY,  // fixed capacity, values that do not fit are ignored
  KIND_BINDING,
  KIND_SETUP_BLOCK,  // where the bike setup block is written
  KIND_IGNORED,      // legacy ground_texture_distance
  KIND_USE_FBO,      // legacy, read only
};

constexpr int KEY_CHARS = 32;
struct SettingKey {
  char key[KEY_CHARS];
  SettingKind kind;
  void *setting;
  int capacity;  // characters, for strings
};

// Every key, in the order written; the legacy keys last (never written).
constexpr int SETTING_KEY_MAX = 160;

constexpr int VIDEO_MODE_MAX = 128;
constexpr int VIDEO_LABEL_CHARS = 32;

// ---- per process ----
struct ConfigState {
  Config config;
  SettingKey keys[SETTING_KEY_MAX];
  int key_count;
  char gate_labels[GATE_COUNT][12];
  char video_labels[VIDEO_MODE_MAX][VIDEO_LABEL_CHARS];
  const char *video_label_list[VIDEO_MODE_MAX];
  int video_mode_count;
  bool ready;
};
ConfigState s_state;

void add_key(const char *key, SettingKind kind, void *setting, int capacity = 0) {
  if (s_state.key_count >= SETTING_KEY_MAX) {
    velk_log("config: settings table full at %s\n", key);
    return;
  }
  SettingKey *k = &s_state.keys[s_state.key_count++];
  snprintf(k->key, sizeof k->key, "%s", key);
  k->kind = kind;
  k->setting = setting;
  k->capacity = capacity;
}

void build_key_table() {
  Config *c = &s_state.config;
  s_state.key_count = 0;
  char key[KEY_CHARS];
  add_key("xres", KIND_INT, &c->xres);
  add_key("yres", KIND_INT, &c->yres);
  add_key("draw_fps", KIND_INT, &c->draw_fps);
  add_key("draw_time", KIND_INT, &c->draw_time);
  add_key("draw_ping", KIND_INT, &c->draw_ping);
  add_key("spy", KIND_INT, &c->spy);
  add_key("track", KIND_INTERNED, &c->track);
  add_key("record", KIND_CHOICE, &c->record);
  add_key("skill", KIND_CHOICE, &c->skill);
  add_key("minutes", KIND_RANGE, &c->minutes);
  add_key("laps", KIND_RANGE, &c->laps);
  for (int g = 0; g < GATE_COUNT; g++) {
    snprintf(key, sizeof key, "slot%02d", g);
    add_key(key, KIND_CHOICE, &c->slots[g]);
  }
  add_key("ghost_fade_distance", KIND_RANGE, &c->ghost_fade_distance);
  add_key("time_trial_abort", KIND_CHOICE, &c->time_trial_abort);
  add_key("", KIND_SETUP_BLOCK, nullptr);
  add_key("video_mode", KIND_CHOICE, &c->video_mode);
  add_key("server_name", KIND_STRING, c->server_name, SERVER_NAME_CHARS);
  for (int h = 0; h < SERVER_HISTORY; h++) {
    snprintf(key, sizeof key, "server_name_hist%02d", h);
    add_key(key, KIND_HISTORY, c->server_name_hist[h], SERVER_NAME_CHARS);
  }
  add_key("ground_detail", KIND_RANGE, &c->ground_detail);
  add_key("ground_texture_detail", KIND_RANGE, &c->ground_texture_detail);
  add_key("ground_texture_dim", KIND_CHOICE, &c->ground_texture_dim);
  add_key("ground_mipmaps", KIND_CHOICE, &c->ground_mipmaps);
  add_key("texture_compress", KIND_CHOICE, &c->texture_compress);
  add_key("render_texture", KIND_CHOICE, &c->render_texture);
  add_key("use_shader", KIND_CHOICE, &c->use_shader);
  add_key("roost_density", KIND_RANGE, &c->roost_density);
  add_key("lens_flare", KIND_CHOICE, &c->lens_flare);
  add_key("reflections", KIND_CHOICE, &c->reflections);
  add_key("hide_rider", KIND_CHOICE, &c->hide_rider);
  add_key("rigid_camera", KIND_CHOICE, &c->rigid_camera);
  add_key("model_detail", KIND_RANGE, &c->model_detail);
  add_key("model_texture_detail", KIND_RANGE, &c->model_texture_detail);
  add_key("fov", KIND_RANGE, &c->fov);
  add_key("first_person_height", KIND_RANGE, &c->first_person_height);
  add_key("first_person_angle", KIND_RANGE, &c->first_person_angle);
  add_key("third_person_height", KIND_RANGE, &c->third_person_height);
  add_key("third_person_distance", KIND_RANGE, &c->third_person_distance);
  add_key("volume", KIND_RANGE, &c->volume);
  add_key("comp_volume", KIND_RANGE, &c->comp_volume);
  add_key("playback_mode", KIND_CHOICE, &c->playback_mode);
  add_key("billboard_optimize_lookahead", KIND_INT, &c->billboard_optimize_lookahead);
  add_key("message_lines", KIND_INT, &c->message_lines);
  add_key("demo_backups", KIND_INT, &c->demo_backups);
  for (int b = 0; b < KEY_BINDING_COUNT; b++) add_key(BINDINGS[b].key, KIND_BINDING, &c->keys[b]);
  add_key("ground_texture_distance", KIND_IGNORED, nullptr);
  add_key("use_fbo", KIND_USE_FBO, &c->use_fbo);
}

ChoiceSetting choice(const char *label, const char *const *options, int count, int index) {
  return ChoiceSetting{label, options, count, index};
}
RangeSetting range(const char *label, double value, double min, double max, double step) {
  return RangeSetting{label, value, step, min, max};
}

// The compiled-in defaults of every configuration key.
void set_defaults() {
  Config *c = &s_state.config;
  for (int g = 0; g < GATE_COUNT; g++)
    snprintf(s_state.gate_labels[g], sizeof s_state.gate_labels[g], "Gate %d", g + 1);
  if (s_state.video_mode_count == 0) {
    const char *const fallback[] = {"Default Fullscreen", "Windowed"};
    config_set_video_modes(fallback, 2);
  }
  *c = Config{};
  c->xres = 640;
  c->yres = 480;
  c->draw_fps = 0;
  c->draw_time = 0;
  c->draw_ping = 1;
  c->spy = 0;
  c->track = intern_string("rabbithill");
  c->record = choice("Record Demo", OPTIONS(NO_YES), 0);
  c->skill = choice("Robot Skill", OPTIONS(SKILLS), 0);
  c->minutes = range("Minutes", 0, 0, 60, 1);
  c->laps = range("Laps", 5, 0, 50, 1);
  for (int g = 0; g < GATE_COUNT; g++) {
    // The player starts in gate 20 among robots in gates 18, 19 and 21 to 23.
    int occupant = GATE_EMPTY;
    if (g == 19) occupant = GATE_HUMAN;
    else if (g == 17 || g == 18 || (g >= 20 && g <= 22)) occupant = GATE_ROBOT;
    c->slots[g] = choice(s_state.gate_labels[g], OPTIONS(GATE_OCCUPANTS), occupant);
  }
  c->ghost_fade_distance = range("Ghost Fade Distance", 10, 0, 40, 1);
  c->time_trial_abort = choice("Backing Up Aborts Attempt", OPTIONS(NO_YES), 1);
  c->video_mode = choice("Video Mode", s_state.video_label_list, s_state.video_mode_count, 0);
  string_setting_copy(c->server_name, SERVER_NAME_CHARS, DEFAULT_SERVER_NAME);
  c->ground_detail = range("Ground Geometric Detail", 70, 0, 100, 1);
  c->ground_texture_detail = range("Ground Texture Levels", 9, 0, 10, 1);
  c->ground_texture_dim = choice("Ground Texture Resolution", OPTIONS(TEXTURE_DIMS), 1);
  c->ground_mipmaps = choice("Enable Ground Mipmaps", OPTIONS(NO_YES), 1);
  c->texture_compress = choice("Compress Textures", OPTIONS(COMPRESS), 0);
  c->render_texture = choice("Terrain Rendering Method", OPTIONS(RENDER_METHODS), 0);
  c->use_shader = choice("Use Shader Programs", OPTIONS(NO_YES), 1);
  c->roost_density = range("Roost Density", 1000, 0, 1000, 10);
  c->lens_flare = choice("Enable Lens Flares", OPTIONS(NO_YES), 1);
  c->reflections = choice("Enable Reflections", OPTIONS(NO_YES), 1);
  c->hide_rider = choice("Hide 1st Person Rider", OPTIONS(NO_YES), 0);
  c->rigid_camera = choice("Rigid 3rd person camera", OPTIONS(NO_YES), 0);
  c->model_detail = range("Model Geometric Detail", 50, 0, 100, 1);
  c->model_texture_detail = range("Model Texture Detail", 9, 0, 10, 1);
  c->fov = range("Field Of View", 110, 10, 170, 1);
  c->first_person_height = range("1st Person Height", 0, 0, 1, 0.03125);
  c->first_person_angle = range("1st Person Angle", 0, 0, 40, 1);
  c->third_person_height = range("3rd Person Height", 5, 0, 20, 1);
  c->third_person_distance = range("3rd Person Distance", 10, 5, 40, 1);
  c->volume = range("Volume", 10, 0, 10, 1);
  c->comp_volume = range("Competitor Volume", 8, 0, 10, 1);
  c->playback_mode = choice("Playback Mode", OPTIONS(PLAYBACK_MODES), 0);
  c->billboard_optimize_lookahead = 8;
  c->message_lines = 5;
  c->demo_backups = 0;
  for (int b = 0; b < KEY_BINDING_COUNT; b++) {
    KeyBinding *k = &c->keys[b];
    *k = KeyBinding{};
    k->label = BINDINGS[b].label;
    k->key_name = intern_string(BINDINGS[b].key_name);
    k->low = 0;
    k->high = 1;
  }
  c->use_fbo = choice("use_fbo", OPTIONS(NO_YES), 1);
}

void ensure_ready() {
  if (s_state.ready) return;
  s_state.ready = true;
  set_defaults();
  build_key_table();
}

int read_int(int *out, const char *text) {
  // "%d": leading blanks, an optional sign, decimal digits; the rest ignored.
  char *end;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (end == text) return 0;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  *out = (int)v;
  return 1;
}

void read_binding(KeyBinding *b, const char *value) {
  const char *v = value;
  while (*v == ' ' || *v == '\t' || *v == '\n' || *v == '\v' || *v == '\f' || *v == '\r') v++;
  b->key_name = nullptr;
  b->axis_name = nullptr;
  b->low = 0;
  b->high = 1;
  const char *close = v[0] == '(' ? strchr(v, ')') : nullptr;
  float low, high;
  if (close && sscanf(v, "(%f,%f)", &low, &high) == 2) {
    b->low = low;
    b->high = high;
    b->axis_name = intern_string(close + 1);
    return;
  }
  if (strncmp(v, "(k)", 3) == 0) v += 3;
  b->key_name = intern_string(v);
}

void apply_setting(const SettingKey *k, const char *value) {
  Config *c = &s_state.config;
  switch (k->kind) {
    case KIND_INT: read_int((int *)k->setting, value); break;
    case KIND_INTERNED: *(const char **)k->setting = intern_string(value); break;
    case KIND_CHOICE: choice_select((ChoiceSetting *)k->setting, value); break;
    case KIND_RANGE: range_read((RangeSetting *)k->setting, value); break;
    case KIND_STRING: string_setting_copy((char *)k->setting, k->capacity, value); break;
    case KIND_HISTORY:
      if (strlen(value) < (size_t)k->capacity) string_setting_copy((char *)k->setting, k->capacity, value);
      break;
    case KIND_BINDING: read_binding((KeyBinding *)k->setting, value); break;
    case KIND_USE_FBO:
      if (choice_select(&c->use_fbo, value))
        choice_select(&c->render_texture, c->use_fbo.index == 0 ? "Hardware/Copy" : "Hardware/Direct");
      break;
    case KIND_SETUP_BLOCK:
    case KIND_IGNORED: break;
  }
}

// Writes one key; 0 on a write error.
int write_setting(DataFile *f, const SettingKey *k) {
  int r = 0;
  switch (k->kind) {
    case KIND_INT: r = datafile_printf(f, "%s=%d\n", k->key, *(int *)k->setting); break;
    case KIND_INTERNED: {
      const char *s = *(const char **)k->setting;
      r = datafile_printf(f, "%s=%s\n", k->key, s ? s : "");
      break;
    }
    case KIND_CHOICE:
      r = datafile_printf(f, "%s=%s\n", k->key, choice_text((ChoiceSetting *)k->setting));
      break;
    case KIND_RANGE: r = datafile_printf(f, "%s=%f\n", k->key, ((RangeSetting *)k->setting)->value); break;
    case KIND_STRING:
    case KIND_HISTORY: r = datafile_printf(f, "%s=%s\n", k->key, (const char *)k->setting); break;
    case KIND_SETUP_BLOCK: return setup_write(f);
    case KIND_BINDING:
    case KIND_IGNORED:
    case KIND_USE_FBO: return 1;  // bindings go last; legacy keys are never written
  }
  return r >= 0;
}

int write_binding(DataFile *f, const SettingKey *k) {
  const KeyBinding *b = (const KeyBinding *)k->setting;
  int r = 0;
  if (b->key_name) r = datafile_printf(f, "%s=(k)%s\n", k->key, b->key_name);
  else if (b->axis_name)
    r = datafile_printf(f, "%s=(%f,%f)%s\n", k->key, (double)b->low, (double)b->high, b->axis_name);
  return r >= 0;
}

}  // namespace

Config *config() {
  ensure_ready();
  return &s_state.config;
}

const char *key_binding_config_key(int index) {
  return index >= 0 && index < KEY_BINDING_COUNT ? BINDINGS[index].key : nullptr;
}

void config_set_video_modes(const char *const *labels, int count) {
  if (count > VIDEO_MODE_MAX) count = VIDEO_MODE_MAX;
  if (count < 0) count = 0;
  for (int i = 0; i < count; i++) {
    snprintf(s_state.video_labels[i], VIDEO_LABEL_CHARS, "%s", labels[i]);
    s_state.video_label_list[i] = s_state.video_labels[i];
  }
  s_state.video_mode_count = count;
  ChoiceSetting *v = &s_state.config.video_mode;
  v->options = s_state.video_label_list;
  v->count = count;
  if (v->index >= count) v->index = 0;
}

void config_reset_defaults() {
  s_state.ready = true;
  set_defaults();
  build_key_table();
  apply_graphics_preset(0);
  setup_reset_defaults();
}

void config_apply(const char *key, const char *value) {
  ensure_ready();
  if (setup_read_key(key, value)) return;
  for (int i = 0; i < s_state.key_count; i++) {
    const SettingKey *k = &s_state.keys[i];
    if (k->kind != KIND_SETUP_BLOCK && strcmp(k->key, key) == 0) {
      apply_setting(k, value);
      return;
    }
  }
}

void config_apply_line(const char *line) {
  const char *eq = strchr(line, '=');
  if (!eq) return;
  char key[1024], value[1024];
  size_t kn = (size_t)(eq - line);
  if (kn >= sizeof key) kn = sizeof key - 1;
  memcpy(key, line, kn);
  key[kn] = 0;
  snprintf(value, sizeof value, "%s", eq + 1);
  size_t vn = strlen(value);
  while (vn > 0 && (value[vn - 1] == '\r' || value[vn - 1] == '\n')) value[--vn] = 0;
  config_apply(key, value);
}

int config_read_file(const char *file_name) {
  DataFile *f = datafile_open(file_name, "rb");
  if (!f) return 0;
  char line[1024];
  while (datafile_gets(f, line, sizeof line)) config_apply_line(line);
  datafile_close(f);
  return 1;
}

int config_read() { return config_read_file("@config"); }

int config_write_file(const char *file_name) {
  ensure_ready();
  DataFile *f = datafile_open(file_name, "wb");
  int ok = f != nullptr;
  for (int i = 0; ok && i < s_state.key_count; i++) ok = write_setting(f, &s_state.keys[i]);
  for (int i = 0; ok && i < s_state.key_count; i++)
    if (s_state.keys[i].kind == KIND_BINDING) ok = write_binding(f, &s_state.keys[i]);
  if (ok) ok = datafile_flush(f) == 0;
  datafile_close(f);
  if (!ok) {
    // The settings of this run would be lost without a word; say so where it can be seen.
    const char *why = f ? "write error" : "cannot create the file";
    velk_log("Configuration not saved: %s (%s)\n", file_name, why);
    fprintf(stderr, "Configuration not saved: %s (%s)\n", file_name, why);
  }
  return ok;
}

int config_write() { return config_write_file("@config"); }

// ---- graphics presets ----

namespace {

struct GraphicsPreset {
  const char *name;
  double ground_detail;
  const char *ground_texture_dim;
  double ground_texture_detail;
  const char *ground_mipmaps;
  double model_detail;
  const char *texture_compress;
  double model_texture_detail;
  const char *render_texture;
  const char *use_shader, *lens_flare, *reflections;
  double roost_density;
};
const GraphicsPreset PRESETS[GRAPHICS_PRESET_COUNT] = {
    {"Use Compatibility Settings", 70, "64x64", 9, "Yes", 50, "No", 9, "Software", "Yes", "Yes", "Yes", 1000},
    {"Use High FPS Settings", 50, "64x64", 7, "Yes", 25, "Yes", 7, "Hardware/Direct", "No", "No", "No", 0},
    {"Use Normal Settings", 70, "128x128", 9, "Yes", 50, "Yes", 9, "Shaders/Direct", "Yes", "Yes", "Yes", 1000},
    {"Use High Detail Settings", 90, "256x256", 10, "Yes", 75, "No", 10, "Shaders/Direct", "Yes", "Yes", "Yes", 1000},
};

}  // namespace

const char *graphics_preset_name(int preset) {
  return preset >= 0 && preset < GRAPHICS_PRESET_COUNT ? PRESETS[preset].name : nullptr;
}

int apply_graphics_preset(int preset) {
  if (preset < 0 || preset >= GRAPHICS_PRESET_COUNT) return 0;
  Config *c = config();
  const GraphicsPreset &p = PRESETS[preset];
  range_set(&c->ground_detail, p.ground_detail);
  choice_select(&c->ground_texture_dim, p.ground_texture_dim);
  range_set(&c->ground_texture_detail, p.ground_texture_detail);
  choice_select(&c->ground_mipmaps, p.ground_mipmaps);
  range_set(&c->model_detail, p.model_detail);
  choice_select(&c->texture_compress, p.texture_compress);
  range_set(&c->model_texture_detail, p.model_texture_detail);
  choice_select(&c->render_texture, p.render_texture);
  choice_select(&c->use_shader, p.use_shader);
  choice_select(&c->lens_flare, p.lens_flare);
  choice_select(&c->reflections, p.reflections);
  range_set(&c->roost_density, p.roost_density);
  return 1;
}

int current_graphics_preset() {
  const Config *c = config();
  for (int i = 0; i < GRAPHICS_PRESET_COUNT; i++) {
    const GraphicsPreset &p = PRESETS[i];
    if (c->ground_detail.value == p.ground_detail &&
        strcmp(choice_text(&c->ground_texture_dim), p.ground_texture_dim) == 0 &&
        c->ground_texture_detail.value == p.ground_texture_detail &&
        strcmp(choice_text(&c->ground_mipmaps), p.ground_mipmaps) == 0 &&
        c->model_detail.value == p.model_detail &&
        strcmp(choice_text(&c->texture_compress), p.texture_compress) == 0 &&
        c->model_texture_detail.value == p.model_texture_detail &&
        strcmp(choice_text(&c->render_texture), p.render_texture) == 0 &&
        strcmp(choice_text(&c->use_shader), p.use_shader) == 0 &&
        strcmp(choice_text(&c->lens_flare), p.lens_flare) == 0 &&
        strcmp(choice_text(&c->reflections), p.reflections) == 0 &&
        c->roost_density.value == p.roost_density)
      return i;
  }
  return -1;
}

// ---- values for RunOptions ----

ConfigRunDefaults config_run_defaults() {
  const Config *c = config();
  ConfigRunDefaults d{};
  auto level = [](double detail) {  // 10 = full detail (level 0) .. 6 or less = level 4
    int l = 10 - (int)detail;
    return l < 0 ? 0 : l > 4 ? 4 : l;
  };
  d.texture_detail = level(c->model_texture_detail.value);
  d.ground_texture_detail = level(c->ground_texture_detail.value);
  d.roost_frequency = (int)c->roost_density.value;
  double gd = c->ground_detail.value < 1 ? 1 : c->ground_detail.value;
  d.ground_detail = (float)(gd * 0.01);
  double md = c->model_detail.value < 1 ? 1 : c->model_detail.value;
  double scale = 50.0 / md;
  d.lod_scale = (float)(scale < 1e-6 ? 1e-6 : scale > 1e6 ? 1e6 : scale);
  d.lod_bias = 0;
  d.learn = 0;
  d.width = c->xres;
  d.height = c->yres;
  d.draw_fps = c->draw_fps;
  d.draw_time = c->draw_time;
  d.draw_ping = c->draw_ping;
  return d;
}
