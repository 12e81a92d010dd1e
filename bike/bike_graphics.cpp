// Part graphics of a racer: the four textures (the rider's choice or the model's default),
// their part models with graphics variants, their normal and specular maps, and the
// number plate.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/bike_local.h"
#include "core/frame.h"
#include "render/model.h"
#include "render/texture.h"

namespace {

struct PartModel {
  BikePartModel part;
  const char *BikeModel::*name;
  int optional;  // loads without warnings
  int key;       // the group falls back to its default texture without it
};
struct Group {
  const char *BikeModel::*default_texture;
  PartModel models[6];
  int count;
};

const Group GROUPS[4] = {
    {&BikeModel::bike_texture,
     {{FRAME_MODEL, &BikeModel::frame_model, 0, 1},
      {SIDE_PLATES_MODEL, &BikeModel::side_plates_model, 0, 0},
      {FORK_UPPER_MODEL, &BikeModel::fork_upper_model, 0, 0},
      {FRONT_PLATE_MODEL, &BikeModel::front_plate_model, 0, 0},
      {FORK_LOWER_MODEL, &BikeModel::fork_lower_model, 0, 0},
      {SWINGARM_MODEL, &BikeModel::swingarm_model, 0, 0}},
     6},
    {&BikeModel::wheel_texture,
     {{FRONT_WHEEL_MODEL, &BikeModel::front_wheel_model, 0, 1},
      {REAR_WHEEL_MODEL, &BikeModel::rear_wheel_model, 0, 1}},
     2},
    {&BikeModel::rider_texture,
     {{RIDER_PLATE_MODEL, &BikeModel::rider_plate_model, 1, 0},
      {RIDER_MODEL, &BikeModel::rider_model, 0, 1},
      {RIDER_FP_MODEL, &BikeModel::rider_model_first_person, 1, 0}},
     3},
    {&BikeModel::head_texture, {{HEAD_MODEL, &BikeModel::head_model, 0, 1}}, 1},
};

}  // namespace

int texture_variant(const char *texture, char *out, size_t size) {
  if (size) out[0] = 0;
  if (!texture) return 0;
  const char *base = strrchr(texture, '/');
  base = base ? base + 1 : texture;
  const char *first = strchr(base, '-');
  const char *second = first ? strchr(first + 1, '-') : nullptr;
  if (!second) return 0;
  snprintf(out, size, "%.*s", (int)(second - first), first);
  return 1;
}

// Length of a file name without its extension (a '.' after the last '/').
static size_t name_stem(const char *name) {
  const char *slash = strrchr(name, '/');
  const char *dot = strrchr(name, '.');
  return dot && (!slash || dot > slash) ? (size_t)(dot - name) : strlen(name);
}

void variant_model_name(const char *model, const char *variant, char *out, size_t size) {
  snprintf(out, size, "%.*s%s.jm", (int)name_stem(model), model, variant);
}

void material_map_names(const char *texture, const char *default_texture, char *second,
                        size_t size) {
  char variant[128];
  if (!default_texture) {
    snprintf(second, size, "%s", texture);
  } else if (texture_variant(texture, variant, sizeof variant)) {
    size_t stem = name_stem(default_texture);
    snprintf(second, size, "%.*s%s%s", (int)stem, default_texture, variant, default_texture + stem);
  } else {
    snprintf(second, size, "%s", default_texture);
  }
}

// The first of name_<kind>.seq, .png and .ppm that loads, for the texture in use and then
// for the second name; 0 when none does.
static uint32_t load_material_map(const char *texture, const char *second, const char *kind) {
  static const char *const EXTENSIONS[] = {".seq", ".png", ".ppm"};
  const char *names[2] = {texture, second};
  for (int n = 0; n < 2; n++) {
    if (n == 1 && !strcmp(second, texture)) break;  // already tried
    for (const char *ext : EXTENSIONS) {
      char name[1100];
      snprintf(name, sizeof name, "%.*s%s%s", (int)name_stem(names[n]), names[n], kind, ext);
      if (uint32_t id = texture_load(name)) return id;
    }
  }
  return 0;
}

// One part model for a texture: the variant the texture names, or the plain model.
static Model *load_part(const char *model, const char *texture, int optional) {
  char variant[128], name[512], second[1024];
  if (!texture_variant(texture, variant, sizeof variant)) {
    Model *m = model_load(model);
    if (!m && !optional) show_messagef("Warning: Can't load %.900s", model);
    return m;
  }
  variant_model_name(model, variant, name, sizeof name);
  Model *m = model_load(name);
  if (m) return m;
  const char *slash = strrchr(texture, '/');
  if (!slash) {
    if (!optional) show_messagef("Warning: Can't load %.900s", name);
    return nullptr;
  }
  // In the texture's directory: the variant model's own name without directories or '@'.
  const char *own = strrchr(name, '/');
  own = own ? own + 1 : (name[0] == '@' ? name + 1 : name);
  snprintf(second, sizeof second, "%.*s%s", (int)(slash - texture + 1), texture, own);
  m = model_load(second);
  if (!m && !optional) show_messagef("Warning: Can't load %.450s or %.450s", name, second);
  return m;
}

// Loads a group's models with a texture; 0 when a key model is missing.
static int load_group(Bike *b, const Group &g, const char *texture) {
  int ok = 1;
  for (int k = 0; k < g.count; k++) {
    const PartModel &pm = g.models[k];
    const char *name = b->model->*pm.name;
    b->models[pm.part] = name ? load_part(name, texture, pm.optional) : nullptr;
    if (pm.key && !b->models[pm.part]) ok = 0;
  }
  return ok;
}

// The colour after a tag such as "[numberbackground:" in a texture's information text.
static void number_colour(const char *info, const char *tag, uint8_t rgb[3]) {
  const char *at = info ? strstr(info, tag) : nullptr;
  float c[3];
  if (!at || sscanf(at + strlen(tag), "%f,%f,%f", &c[0], &c[1], &c[2]) != 3) return;
  for (int i = 0; i < 3; i++) rgb[i] = (uint8_t)(clampf(c[i], 0, 1) * 255);
}

void parse_number_colours(const char *info, uint8_t background[3], uint8_t foreground[3]) {
  number_colour(info, "[numberbackground:", background);
  number_colour(info, "[numberforeground:", foreground);
}

constexpr int NUMBER_PLATE_SIZE = 128;  // px, both sides

void load_part_graphics(Bike *b, const char *const chosen[4]) {
  for (int g = 0; g < 4; g++) {
    const Group &group = GROUPS[g];
    const char *fallback = b->model->*group.default_texture;
    const char *use = chosen[g] && chosen[g][0] ? chosen[g] : nullptr;
    uint32_t id = use ? texture_load(use) : 0;
    if (!use || !id || !load_group(b, group, use)) {
      use = fallback;
      id = use ? texture_load(use) : 0;
      load_group(b, group, use);
    }
    b->textures[g] = id;
    snprintf(b->texture_names[g], sizeof b->texture_names[g], "%s", use ? use : "");
    b->normal_maps[g] = b->specular_maps[g] = 0;
    if (use && texture_shader_path()) {
      char second[1024];
      material_map_names(use, fallback, second, sizeof second);
      b->normal_maps[g] = load_material_map(use, second, "_norm");
      b->specular_maps[g] = load_material_map(use, second, "_spec");
    }
  }
  memset(b->number_background, 255, 3);
  memset(b->number_foreground, 0, 3);
  parse_number_colours(texture_info(b->textures[BIKE_TEXTURE]), b->number_background,
                       b->number_foreground);
  // Only drawn when it can be shown: a headless race has no use for the pixels.
  b->number_texture = texture_has_gl() ? number_plate_texture(b->number, NUMBER_PLATE_SIZE,
                                                              NUMBER_PLATE_SIZE,
                                                              b->number_foreground,
                                                              b->number_background)
                                       : 0;
}
