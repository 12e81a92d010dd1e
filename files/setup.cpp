// The bike setup block: its keys, reader and writer, the stability table, setup files
// under @setups/ and the selectable texture lists the setup's choices offer.
#include <cctype>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike_model.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"

// ---- texture lists ----

namespace {

char *copy_text(const char *text, size_t n) {
  char *s = (char *)malloc(n + 1);
  if (!s) fatal_out_of_memory();
  memcpy(s, text, n);
  s[n] = 0;
  return s;
}

void texture_choices_push(TextureChoices *list, char *path, char *name) {
  if (list->count == list->capacity) {
    int capacity = list->capacity ? list->capacity * 2 : 16;
    char **paths = (char **)realloc(list->paths, sizeof(char *) * capacity);
    if (!paths) fatal_out_of_memory();
    list->paths = paths;
    char **names = (char **)realloc(list->names, sizeof(char *) * capacity);
    if (!names) fatal_out_of_memory();
    list->names = names;
    list->capacity = capacity;
  }
  list->paths[list->count] = path;
  list->names[list->count] = name;
  list->count++;
}

bool ends_with(const char *s, size_t n, const char *suffix) {
  size_t m = strlen(suffix);
  return n >= m && memcmp(s + n - m, suffix, m) == 0;
}

}  // namespace

void texture_choices_free(TextureChoices *list) {
  for (int i = 0; i < list->count; i++) {
    free(list->paths[i]);
    free(list->names[i]);
  }
  free(list->paths);
  free(list->names);
  *list = TextureChoices{};
}

void list_textures(TextureChoices *list, const char *prefix) {
  texture_choices_free(list);
  texture_choices_push(list, nullptr, copy_text("default", 7));
  size_t prefix_n = strlen(prefix);
  const char *const *names = data_names();
  for (int i = 0; names && names[i]; i++) {
    const char *name = names[i];
    size_t n = strlen(name);
    size_t ext;  // length of ".png" or ".png.scram"
    if (ends_with(name, n, ".png")) {
      if (ends_with(name, n, "_norm.png") || ends_with(name, n, "_spec.png")) continue;
      ext = 4;
    } else if (ends_with(name, n, ".png.scram")) {
      if (ends_with(name, n, "_norm.png.scram") || ends_with(name, n, "_spec.png.scram")) continue;
      ext = 10;
    } else {
      continue;
    }
    const char *slash = strrchr(name, '/');
    const char *base = slash ? slash + 1 : name;
    size_t base_n = (size_t)(name + n - base);
    if (base_n < prefix_n + ext || strncmp(base, prefix, prefix_n) != 0) continue;
    // "@" + name without ".scram"; display name between the prefix and the extension.
    size_t path_n = ext == 10 ? n - 6 : n;
    char *path = (char *)malloc(path_n + 2);
    if (!path) fatal_out_of_memory();
    path[0] = '@';
    memcpy(path + 1, name, path_n);
    path[path_n + 1] = 0;
    texture_choices_push(list, path, copy_text(base + prefix_n, base_n - prefix_n - ext));
  }
}

// ---- the setup block ----

namespace {

const char *const NO_YES[] = {"No", "Yes"};
const char *const BRAKES[] = {"Normal", "Antilock"};
const char *const WHEELIES[] = {"No", "Yes", "Front Only"};
const char *const DEFAULT_ONLY[] = {"default"};
#define OPTIONS(a) a, (int)(sizeof a / sizeof a[0])

// Model names of an older release, read from old configuration files.
const char *const OLD_BIKE_NAMES[][2] = {
    {"crf250", "crf250(2008)"},
    {"kx250f", "kx250f(2008)"},
    {"rmz250", "rmz250(2008)"},
    {"yz250f", "yz250f(2008)"},
};

enum SetupKind { SETUP_CHOICE, SETUP_RANGE, SETUP_STRING, SETUP_BIKE, SETUP_STABILITY };

struct SetupKey {
  const char *key;
  SetupKind kind;
  size_t offset;  // into BikeSetup
  int capacity;   // characters, for strings
};
#define K(name, kind) {#name, kind, offsetof(BikeSetup, name), 0}
const SetupKey SETUP_KEYS[] = {
    K(bike, SETUP_BIKE),
    {"name", SETUP_STRING, offsetof(BikeSetup, name), SETUP_NAME_CHARS},
    {"number", SETUP_STRING, offsetof(BikeSetup, number), SETUP_NUMBER_CHARS},
    K(rider_texture, SETUP_CHOICE),
    K(head_texture, SETUP_CHOICE),
    K(bike_texture, SETUP_CHOICE),
    K(wheel_texture, SETUP_CHOICE),
    K(stability, SETUP_STABILITY),
    K(leveling, SETUP_RANGE),
    K(roll_damping, SETUP_RANGE),
    K(roll_limit_angle, SETUP_RANGE),
    K(roll_limit_factor, SETUP_RANGE),
    K(steering_damping, SETUP_RANGE),
    K(steering_strength, SETUP_RANGE),
    K(max_steering_force, SETUP_RANGE),
    K(direct_steering, SETUP_RANGE),
    K(slow_damping_speed, SETUP_RANGE),
    K(slow_damping_factor, SETUP_RANGE),
    K(land_damping_falloff, SETUP_RANGE),
    K(land_damping_factor, SETUP_RANGE),
    K(full_lock_speed, SETUP_RANGE),
    K(restricted_lock_speed, SETUP_RANGE),
    K(restricted_lock, SETUP_RANGE),
    K(arcade, SETUP_CHOICE),
    K(front_brake, SETUP_CHOICE),
    K(rear_brake, SETUP_CHOICE),
    K(stop_wheelies, SETUP_CHOICE),
    K(auto_shift, SETUP_CHOICE),
    K(auto_dab, SETUP_CHOICE),
    K(auto_align, SETUP_CHOICE),
    K(sticky_dab, SETUP_CHOICE),
    K(reverse_steering, SETUP_CHOICE),
    K(lean_indicator, SETUP_CHOICE),
    K(auto_clutch_rpms, SETUP_RANGE),
    K(brake_torque, SETUP_RANGE),
    K(rear_brake_torque, SETUP_RANGE),
    K(max_dab_speed, SETUP_RANGE),
    K(front_sprocket_adjustment, SETUP_RANGE),
    K(rear_sprocket_adjustment, SETUP_RANGE),
    K(fork_compression_adjustment, SETUP_RANGE),
    K(fork_rebound_adjustment, SETUP_RANGE),
    K(fork_spring_rate_adjustment, SETUP_RANGE),
    K(fork_preload_adjustment, SETUP_RANGE),
    K(fork_oil_level_adjustment, SETUP_RANGE),
    K(shock_compression_adjustment, SETUP_RANGE),
    K(shock_rebound_adjustment, SETUP_RANGE),
    K(shock_spring_rate_adjustment, SETUP_RANGE),
    K(shock_preload_adjustment, SETUP_RANGE),
    K(rider_yspring, SETUP_RANGE),
    K(rider_ydamping, SETUP_RANGE),
    K(rider_zspring, SETUP_RANGE),
    K(rider_zdamping, SETUP_RANGE),
    K(rider_mass_distribution, SETUP_RANGE),
};
#undef K
constexpr int SETUP_KEY_COUNT = (int)(sizeof SETUP_KEYS / sizeof SETUP_KEYS[0]);
static_assert(SETUP_KEY_COUNT == 53, "every key of the setup block");

// The stability table: each linked value at stability 0, 20, 40, 60, 80 and 100.
struct StabilityRow {
  size_t offset;  // RangeSetting in BikeSetup
  float v[6];
};
#define S(name) offsetof(BikeSetup, name)
const StabilityRow STABILITY_TABLE[] = {
    {S(leveling), {20, 20, 20, 20, 20, 20}},
    {S(roll_damping), {40, 50, 60, 70, 75, 80}},
    {S(roll_limit_angle), {90, 45, 45, 40, 35, 35}},
    {S(roll_limit_factor), {0, 5, 10, 32, 32, 32}},
    {S(steering_damping), {45, 45, 45, 45, 45, 45}},
    {S(steering_strength), {75, 75, 75, 75, 75, 75}},
    {S(direct_steering), {1, 1, 1, 1, 1, 0}},
    {S(max_steering_force), {400, 400, 400, 400, 400, 400}},
    {S(slow_damping_speed), {40, 40, 40, 40, 40, 40}},
    {S(slow_damping_factor), {1, 1, 1.5f, 2, 2, 2}},
    {S(land_damping_falloff), {0, 0.125f, 0.25f, 0.25f, 0.25f, 0.25f}},
    {S(land_damping_factor), {1, 1.5f, 2, 2, 2, 2}},
    {S(full_lock_speed), {10, 10, 10, 10, 10, 10}},
    {S(restricted_lock_speed), {50, 50, 50, 50, 50, 50}},
    {S(restricted_lock), {45, 15, 10, 5, 5, 5}},
};
#undef S

// ---- per process ----
struct SetupState {
  BikeSetup setup;
  const char *bike_names[BIKE_MODEL_COUNT];
  TextureChoices lists[TEXTURE_LIST_COUNT];
  bool lists_built;
  bool ready;
};
SetupState s_setup;

ChoiceSetting choice(const char *label, const char *const *options, int count, int index) {
  return ChoiceSetting{label, options, count, index};
}
RangeSetting range(const char *label, double value, double min, double max, double step) {
  return RangeSetting{label, value, step, min, max};
}

// Points a texture choice at its list (or at "default" alone before the lists exist).
void point_choice(ChoiceSetting *c, TextureList which) {
  const TextureChoices *l = &s_setup.lists[which];
  if (l->count > 0) {
    c->options = l->names;
    c->count = l->count;
  } else {
    c->options = DEFAULT_ONLY;
    c->count = 1;
  }
  if (c->index >= c->count) c->index = 0;
}

void set_setup_defaults() {
  BikeSetup *s = &s_setup.setup;
  const BikeModel *rows = bike_model_table();
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) s_setup.bike_names[r] = rows[r].name;
  *s = BikeSetup{};
  int bike = bike_model_index("450sxf(2013)");
  s->bike = choice("Bike", s_setup.bike_names, BIKE_MODEL_COUNT, bike < 0 ? 0 : bike);
  snprintf(s->name, sizeof s->name, "%s", "Ziz Adoduruve");
  snprintf(s->number, sizeof s->number, "%s", "999");
  s->rider_texture = choice("Riding Gear", DEFAULT_ONLY, 1, 0);
  s->head_texture = choice("Helmet", DEFAULT_ONLY, 1, 0);
  s->bike_texture = choice("Bike Graphics", DEFAULT_ONLY, 1, 0);
  s->wheel_texture = choice("Wheel Graphics", DEFAULT_ONLY, 1, 0);
  point_choice(&s->rider_texture, TEXTURES_RIDER);
  point_choice(&s->head_texture, TEXTURES_HEAD);
  point_choice(&s->bike_texture, TEXTURES_BIKE);
  point_choice(&s->wheel_texture, TEXTURES_WHEEL);
  s->stability = range("Stability", 100, 0, 100, 1);
  s->leveling = range("Leveling", 20, 0, 100, 1);
  s->roll_damping = range("Roll Damping", 80, 0, 100, 1);
  s->roll_limit_angle = range("Roll Limit Angle", 35, 0, 180, 1);
  s->roll_limit_factor = range("Roll Limit Factor", 32, 0, 64, 1);
  s->steering_damping = range("Steering Damping", 45, 0, 100, 1);
  s->steering_strength = range("Steering Strength", 75, 0, 100, 1);
  s->max_steering_force = range("Max Steering Force", 400, 0, 1000, 5);
  s->direct_steering = range("Direct Steering", 0, 0, 1, 0.125);
  s->slow_damping_speed = range("Slow Damping Speed", 40, 0, 100, 1);
  s->slow_damping_factor = range("Slow Damping Factor", 2, 1, 10, 0.25);
  s->land_damping_falloff = range("Landing Damping Falloff", 0.25, 0, 0.5, 0.0625);
  s->land_damping_factor = range("Landing Damping Factor", 2, 1, 3, 0.25);
  s->full_lock_speed = range("Full Lock Speed", 10, 1, 100, 1);
  s->restricted_lock_speed = range("Restricted Lock Speed", 50, 1, 100, 1);
  s->restricted_lock = range("Restricted Lock Angle", 5, 0, 45, 0.125);
  s->arcade = choice("Arcade Physics", OPTIONS(NO_YES), 1);
  s->front_brake = choice("Front Brake", OPTIONS(BRAKES), 1);
  s->rear_brake = choice("Rear Brake", OPTIONS(BRAKES), 0);
  s->stop_wheelies = choice("Stop Wheelies", OPTIONS(WHEELIES), 0);
  s->auto_shift = choice("Automatic Shifting", OPTIONS(NO_YES), 1);
  s->auto_dab = choice("Dab When Stopped", OPTIONS(NO_YES), 1);
  s->auto_align = choice("Realign After Fall", OPTIONS(NO_YES), 1);
  s->sticky_dab = choice("Sticky Sit/Dab", OPTIONS(NO_YES), 0);
  s->reverse_steering = choice("Reversed Steering", OPTIONS(NO_YES), 1);
  s->lean_indicator = choice("Lean Indicator", OPTIONS(NO_YES), 1);
  s->auto_clutch_rpms = range("Auto Clutch RPMs", 5000, 0, 5000, 100);
  s->brake_torque = range("Braking Torque (Front)", 250, 0, 500, 10);
  s->rear_brake_torque = range("Braking Torque (Rear)", 250, 0, 500, 10);
  s->max_dab_speed = range("Max Dab Speed (MPH)", 20, 5, 60, 1);
  s->front_sprocket_adjustment = range("Countershaft Sprocket", 0, -2, 2, 1);
  s->rear_sprocket_adjustment = range("Rear Sprocket", 0, -2, 2, 1);
  s->fork_compression_adjustment = range("Fork Compression Damping", 50, 0, 100, 1);
  s->fork_rebound_adjustment = range("Fork Rebound Damping", 50, 0, 100, 1);
  s->fork_spring_rate_adjustment = range("Fork Spring Rate", 50, 0, 100, 1);
  s->fork_preload_adjustment = range("Fork Preload", 50, 0, 100, 1);
  s->fork_oil_level_adjustment = range("Fork Oil Level", 50, 0, 100, 1);
  s->shock_compression_adjustment = range("Shock Compression Damping", 50, 0, 100, 1);
  s->shock_rebound_adjustment = range("Shock Rebound Damping", 50, 0, 100, 1);
  s->shock_spring_rate_adjustment = range("Shock Spring Rate", 50, 0, 100, 1);
  s->shock_preload_adjustment = range("Shock Preload", 50, 0, 100, 1);
  s->rider_yspring = range("Rider Vertical Spring", 50, 0, 100, 1);
  s->rider_ydamping = range("Rider Vertical Damping", 50, 0, 100, 1);
  s->rider_zspring = range("Rider Forward Spring", 50, 0, 100, 1);
  s->rider_zdamping = range("Rider Forward Damping", 50, 0, 100, 1);
  s->rider_mass_distribution = range("Rider Mass Distribution", 0.33, 0.33, 0.5, 0.01);
}

void ensure_setup_ready() {
  if (s_setup.ready) return;
  s_setup.ready = true;
  set_setup_defaults();
  apply_stability(100);
}

void rebuild_bike_textures() {
  char prefix[64];
  if (!bike_model_texture_prefix(setup_bike_model(&s_setup.setup), prefix, sizeof prefix))
    prefix[0] = 0;
  list_textures(&s_setup.lists[TEXTURES_BIKE], prefix);
  s_setup.setup.bike_texture.index = 0;
  point_choice(&s_setup.setup.bike_texture, TEXTURES_BIKE);
}

}  // namespace

BikeSetup *bike_setup() {
  ensure_setup_ready();
  return &s_setup.setup;
}

void setup_reset_defaults() {
  s_setup.ready = true;
  set_setup_defaults();
  apply_stability(100);
}

const BikeModel *setup_bike_model(const BikeSetup *setup) {
  int i = setup->bike.index;
  return &bike_model_table()[i >= 0 && i < BIKE_MODEL_COUNT ? i : 0];
}

const TextureChoices *texture_choices(TextureList which) { return &s_setup.lists[which]; }

void config_build_texture_lists() {
  ensure_setup_ready();
  list_textures(&s_setup.lists[TEXTURES_RIDER], "rider_body-");
  list_textures(&s_setup.lists[TEXTURES_HEAD], "rider_head-");
  list_textures(&s_setup.lists[TEXTURES_WHEEL], "wheels-");
  BikeSetup *s = &s_setup.setup;
  point_choice(&s->rider_texture, TEXTURES_RIDER);
  point_choice(&s->head_texture, TEXTURES_HEAD);
  point_choice(&s->wheel_texture, TEXTURES_WHEEL);
  int keep = s->bike_texture.index;
  rebuild_bike_textures();
  if (keep < s->bike_texture.count) s->bike_texture.index = keep;
}

void apply_stability(int stability) {
  ensure_setup_ready();
  float f = (float)(stability * 5 * 0.01);
  if (!(f >= 0)) f = 0;
  if (f > 5) f = 5;
  int i = (int)floorf(f);
  if (i > 4) i = 4;
  if (i < 0) i = 0;
  float t = f - (float)i;
  for (const StabilityRow &row : STABILITY_TABLE) {
    RangeSetting *r = (RangeSetting *)((char *)&s_setup.setup + row.offset);
    r->value = row.v[i] + (row.v[i + 1] - row.v[i]) * t;
  }
}

int setup_select_bike(const char *name) {
  ensure_setup_ready();
  for (const auto &old : OLD_BIKE_NAMES)
    if (strcmp(name, old[0]) == 0) name = old[1];
  int selected = choice_select(&s_setup.setup.bike, name);
  rebuild_bike_textures();
  return selected;
}

int setup_read_key(const char *key, const char *value) {
  ensure_setup_ready();
  for (const SetupKey &k : SETUP_KEYS) {
    if (strcmp(k.key, key) != 0) continue;
    void *setting = (char *)&s_setup.setup + k.offset;
    switch (k.kind) {
      case SETUP_CHOICE: choice_select((ChoiceSetting *)setting, value); break;
      case SETUP_RANGE: range_read((RangeSetting *)setting, value); break;
      case SETUP_STRING: {
        size_t n = strnlen(value, (size_t)k.capacity);
        memcpy(setting, value, n);
        ((char *)setting)[n] = 0;
        break;
      }
      case SETUP_BIKE: setup_select_bike(value); break;
      case SETUP_STABILITY: {
        RangeSetting *r = (RangeSetting *)setting;
        if (range_read(r, value)) apply_stability((int)r->value);
        break;
      }
    }
    return 1;
  }
  return 0;
}

int setup_write(DataFile *file) {
  ensure_setup_ready();
  int ok = 1;
  for (const SetupKey &k : SETUP_KEYS) {
    const void *setting = (const char *)&s_setup.setup + k.offset;
    int r;
    switch (k.kind) {
      case SETUP_CHOICE:
      case SETUP_BIKE: r = datafile_printf(file, "%s=%s\n", k.key, choice_text((const ChoiceSetting *)setting)); break;
      case SETUP_STRING: r = datafile_printf(file, "%s=%s\n", k.key, (const char *)setting); break;
      case SETUP_RANGE:
      case SETUP_STABILITY:
      default: r = datafile_printf(file, "%s=%f\n", k.key, ((const RangeSetting *)setting)->value); break;
    }
    if (r < 0) ok = 0;
  }
  return ok;
}

int setup_read_file(const char *file_name) {
  DataFile *f = datafile_open(file_name, "rb");
  if (!f) return 0;
  char line[1024];
  while (datafile_gets(f, line, sizeof line)) {
    char *eq = strchr(line, '=');
    if (!eq) continue;
    *eq = 0;
    char *value = eq + 1;
    size_t n = strlen(value);
    while (n > 0 && (value[n - 1] == '\r' || value[n - 1] == '\n')) value[--n] = 0;
    setup_read_key(line, value);
  }
  datafile_close(f);
  return 1;
}

namespace {

// "@setups/" and the name without its surrounding white space, within 1023 characters.
void setup_file_name(const char *name, char *out, size_t size) {
  while (*name && isspace((unsigned char)*name)) name++;
  size_t n = strlen(name);
  while (n > 0 && isspace((unsigned char)name[n - 1])) n--;
  snprintf(out, size, "@setups/%.*s", (int)n, name);
}

}  // namespace

int setup_load(const char *name) {
  char file_name[1024];
  setup_file_name(name, file_name, sizeof file_name);
  return setup_read_file(file_name);
}

int setup_save(const char *name) {
  char file_name[1024];
  setup_file_name(name, file_name, sizeof file_name);
  DataFile *f = datafile_open(file_name, "wb");
  if (!f) return 0;
  int ok = setup_write(f);
  if (datafile_flush(f) != 0) ok = 0;
  datafile_close(f);
  return ok;
}
