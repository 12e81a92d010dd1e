// Surface table: the tileinfo and legacy texturelist readers, curve lookups, transition codes.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/frame.h"
#include "files/files.h"
#include "platform/velk.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "terrain/terrain_local.h"

constexpr float MIN_POINT_SPEED = 9.5367431640625e-07f;  // ft/s, 2^-20
constexpr int LINE_CHARS = 1024;

// ---- defaults ----
void roost_type_defaults(RoostType *r) {
  memset(r, 0, sizeof *r);
  r->count = 10.0f;
  r->dig = 1.0f;
  r->slip_threshold = 4.0f;
  r->slow_angle = 1.5707964f;
  r->fast_angle = 0.19634955f;
  r->slow_speed = 0.0f;
  r->fast_speed = 64.0f;
  r->size = 0.25f;
  r->grow = 4.0f;
  r->drag = 0.5f;
  r->vscale = 1.0f;
  r->randomize = 15.0f;
  r->colour[0] = r->colour[1] = r->colour[2] = r->colour[3] = 255;
  r->fade[3] = 254;
}

void surface_type_defaults(SurfaceType *s) {
  memset(s, 0, sizeof *s);
  for (int k = 0; k < FRICTION_POINTS; k++) s->friction_points[k] = {1.0f, 0.0f};
  s->friction_points[0].speed = 1.0f;
  for (int k = 0; k < ROLL_POINTS; k++) s->roll_points[k] = {5.0f, 15.0f, 0.0f};
  s->roll_points[0].speed = 1.0f;
  for (int k = 0; k < ROOST_TYPES; k++) roost_type_defaults(&s->roost[k]);
  s->erosion = {1.0f, 50.0f, 150.0f, 2.0f, 4.0f, 0.25f, 10.0f, 15.0f};
}

// ---- curve lookups ----
float friction_at(const SurfaceType *type, float v) {
  const FrictionPoint *p = type->friction_points;
  float v2 = v * v;
  int k = 0;
  while (k < FRICTION_POINTS && p[k].speed != 0 && !(p[k].speed * p[k].speed > v2)) k++;
  if (k == 0) return p[0].coefficient;
  if (k == FRICTION_POINTS || p[k].speed == 0) return p[k - 1].coefficient;
  float s0 = p[k - 1].speed * p[k - 1].speed, s1 = p[k].speed * p[k].speed;
  float t = (v2 - s0) / (s1 - s0);
  t = t < 0 ? 0 : t > 1 ? 1 : t;
  return p[k - 1].coefficient + t * (p[k].coefficient - p[k - 1].coefficient);
}

void roll_resist_at(const SurfaceType *type, float v, float *first, float *second) {
  const RollPoint *p = type->roll_points;
  int k = 0;
  while (k < ROLL_POINTS && p[k].speed != 0 && !(p[k].speed > v)) k++;
  if (k == 0 || k == ROLL_POINTS || p[k].speed == 0) {
    const RollPoint *q = &p[k == 0 ? 0 : k - 1];
    *first = q->first;
    *second = q->second;
    return;
  }
  float t = (v - p[k - 1].speed) / (p[k].speed - p[k - 1].speed);
  t = t < 0 ? 0 : t > 1 ? 1 : t;
  *first = p[k - 1].first + t * (p[k].first - p[k - 1].first);
  *second = p[k - 1].second + t * (p[k].second - p[k - 1].second);
}

// ---- roost parameters ----
enum RoostField {
  RF_TEXTURE, RF_SPLASH, RF_COUNT, RF_DIG, RF_SLIP, RF_SLOW_ANGLE, RF_FAST_ANGLE, RF_SLOW_SPEED,
  RF_FAST_SPEED, RF_SIZE, RF_GROW, RF_DRAG, RF_VSCALE, RF_RANDOMIZE, RF_R, RF_G, RF_B, RF_A,
  RF_FADE_R, RF_FADE_G, RF_FADE_B, RF_FADE_A, RF_FIELDS
};
static const char *const roost_names[] = {
    "texture=", "splash=", "count=", "dig=", "slip_threshold=", "slow_angle=", "fast_angle=",
    "slow_speed=", "fast_speed=", "size=", "grow=", "drag=", "vscale=", "randomize=", "r=",
    "g=", "b=", "a=", "fade_r=", "fade_g=", "fade_b=", "fade_a="};
static_assert(sizeof roost_names / sizeof roost_names[0] == RF_FIELDS, "roost parameter names");

// Truncates toward zero and keeps the low 8 bits; values beyond any integer give 0.
static uint8_t low_byte(double v) {
  if (!(v > -9.0e18 && v < 9.0e18)) return 0;
  return uint8_t(int64_t(v) & 0xff);
}

static void roost_set(RoostType *r, int field, const char *text) {
  if (field == RF_TEXTURE) {
    r->texture = texture_load(text);
    return;
  }
  char *end;
  double v = strtod(text, &end);
  if (end == text) {
    v = 0;
    if (field != RF_SPLASH) {
      char name[32];
      snprintf(name, sizeof name, "%s", roost_names[field]);
      name[strlen(name) - 1] = 0;  // without the '='
      show_messagef("tileinfo warning: bad %s\n", name);
    }
  }
  float f = (float)v;
  switch (field) {
    case RF_SPLASH: if (v != 0) r->mode = 2; break;
    case RF_COUNT: r->count = f; break;
    case RF_DIG: r->dig = f; break;
    case RF_SLIP: r->slip_threshold = f; break;
    case RF_SLOW_ANGLE: r->slow_angle = f; break;
    case RF_FAST_ANGLE: r->fast_angle = f; break;
    case RF_SLOW_SPEED: r->slow_speed = f; break;
    case RF_FAST_SPEED: r->fast_speed = f; break;
    case RF_SIZE: r->size = f; break;
    case RF_GROW: r->grow = f; break;
    case RF_DRAG: r->drag = f; break;
    case RF_VSCALE: r->vscale = f; break;
    case RF_RANDOMIZE: r->randomize = f; break;
    case RF_R: case RF_G: case RF_B: case RF_A: r->colour[field - RF_R] = low_byte(v); break;
    default: r->fade[field - RF_FADE_R] = low_byte(v * (1.0 / 128.0)); break;  // per tick
  }
}

void roost_parse(RoostType *r, const char *value) {
  if (r->mode == 0) r->mode = 1;
  const char *p = value;
  char token[LINE_CHARS];
  for (;;) {
    while (*p && strchr(" \f\n\r\t\b", *p)) p++;
    if (!*p) break;
    size_t n = 0;
    while (*p && !strchr(" \f\n\r\t\b", *p)) {
      if (*p == '"') {  // a quoted stretch joins the token, blanks included
        p++;
        while (*p && *p != '"') {
          if (n < sizeof token - 1) token[n++] = *p;
          p++;
        }
        if (*p == '"') p++;
        continue;
      }
      if (n < sizeof token - 1) token[n++] = *p;
      p++;
    }
    token[n] = 0;
    int field = 0;
    while (field < RF_FIELDS && strncmp(token, roost_names[field], strlen(roost_names[field]))) field++;
    if (field == RF_FIELDS) {
      show_messagef("tileinfo warning: unknown roost parameter '%.40s'\n", token);
      continue;
    }
    roost_set(r, field, token + strlen(roost_names[field]));
  }
}

// ---- tileinfo ----
// The tile being described and the state of the reader.
struct TileReader {
  SurfaceType tile;
  int friction_count, roll_count, roost_count;
  char texture_name[LINE_CHARS];
};

static void tile_start(TileReader *r) {
  surface_type_defaults(&r->tile);
  r->friction_count = r->roll_count = r->roost_count = 0;
  r->texture_name[0] = 0;
}

static void base_name_of(const char *name, char *out, size_t size) {
  if (*name == '@') name++;
  const char *slash = strrchr(name, '/');
  const char *base = slash ? slash + 1 : name;
  size_t n = strlen(base);
  if (n > size - 1) n = size - 1;
  memcpy(out, base, n);
  out[n] = 0;
}

// Exchange sort by ascending speed of the first `count` points.
template <typename Point>
static void sort_points(Point *p, int count) {
  for (int i = 0; i < count; i++)
    for (int j = i + 1; j < count; j++)
      if (p[j].speed < p[i].speed) {
        Point swap = p[i];
        p[i] = p[j];
        p[j] = swap;
      }
}

static void tile_add(Terrain *t, TileReader *r) {
  sort_points(r->tile.friction_points, r->friction_count);
  sort_points(r->tile.roll_points, r->roll_count);
  base_name_of(r->texture_name, r->tile.base_name, sizeof r->tile.base_name);
  t->surfaces[t->surface_count++] = r->tile;
}

static void load_surface_texture(Terrain *t, SurfaceType *s, const char *name) {
  if (t->render_method == 1) {
    if (!image_load(name, &s->image, &s->image_width, &s->image_height)) s->image = nullptr;
  } else {
    s->texture = texture_load(name);
  }
}

static const char *const erosion_keys[8] = {
    "erode_depth", "erode_lower", "erode_upper", "erode_displacement",
    "erode_radius", "erode_max_slope", "erode_off_speed", "erode_on_speed"};
static_assert(sizeof(ErosionParams) == 8 * sizeof(float), "erosion values in key order");

static void tileinfo_statement(Terrain *t, TileReader *r, const char *key, const char *value) {
  if (!strcmp(key, "addtile")) {
    tile_add(t, r);
    tile_start(r);
  } else if (!strcmp(key, "texture")) {
    snprintf(r->texture_name, sizeof r->texture_name, "%s", value);
    r->tile.texture = 0;
    r->tile.image = nullptr;
    load_surface_texture(t, &r->tile, value);
  } else if (!strcmp(key, "friction")) {
    float c, speed;
    if (r->friction_count >= FRICTION_POINTS) {
      show_message("tileinfo warning: too many friction points\n");
    } else if (sscanf(value, "%f %f", &c, &speed) != 2) {
      show_message("tileinfo warning: bad friction parameters\n");
    } else {
      if (!(c >= 0)) c = 0;
      if (!(speed > MIN_POINT_SPEED)) speed = MIN_POINT_SPEED;
      r->tile.friction_points[r->friction_count++] = {c, speed};
    }
  } else if (!strcmp(key, "roll_resist")) {
    float a, b, speed;
    if (r->roll_count >= ROLL_POINTS) {
      show_message("tileinfo warning: too many roll_resist points\n");
    } else if (sscanf(value, "%f %f %f", &a, &b, &speed) != 3) {
      show_message("tileinfo warning: bad roll_resist parameters\n");
    } else {
      if (!(a >= 0)) a = 0;
      if (!(b >= 0)) b = 0;
      if (!(speed > MIN_POINT_SPEED)) speed = MIN_POINT_SPEED;
      r->tile.roll_points[r->roll_count++] = {a, b, speed};
    }
  } else if (!strcmp(key, "roost")) {
    if (r->roost_count >= ROOST_TYPES) {
      show_message("tileinfo warning: too many roost types\n");
    } else {
      RoostType *roost = &r->tile.roost[r->roost_count++];
      roost_type_defaults(roost);
      roost->mode = 1;
      roost->texture = texture_load("@roost.png");
      roost_parse(roost, value);
    }
  } else {
    for (int k = 0; k < 8; k++) {
      if (strcmp(key, erosion_keys[k])) continue;
      float v;
      if (sscanf(value, "%f", &v) == 1) ((float *)&r->tile.erosion)[k] = v;
      else show_messagef("tileinfo warning: bad %s\n", erosion_keys[k]);
      return;
    }
    show_messagef("tileinfo warning: Unknown identifier '%.950s'\n", key);
  }
}

int surface_table_read(Terrain *t, DataFile *file) {
  t->surface_count = 0;
  TileReader *r = (TileReader *)calloc(1, sizeof(TileReader));
  if (!r) fatal_out_of_memory();
  tile_start(r);
  char line[LINE_CHARS];
  while (t->surface_count < MAX_SURFACE_TYPES && datafile_gets(file, line, sizeof line)) {
    char *p = line;
    while (*p && strchr(" \t\r\n", *p)) p++;
    if (!*p) continue;
    char *key = p;
    while (*p && !strchr(" \t\r\n", *p)) p++;
    char *value = p;
    if (*p) {
      *p = 0;
      value = p + 1;
      while (*value == ' ' || *value == '\t') value++;
      value[strcspn(value, "\r\n")] = 0;  // trailing blanks stay
    }
    tileinfo_statement(t, r, key, value);
  }
  free(r);
  surface_transition_codes(t);
  return 1;
}

// ---- texturelist (legacy) ----
void texturelist_read(Terrain *t, DataFile *file) {
  t->surface_count = 0;
  char line[LINE_CHARS];
  while (t->surface_count < MAX_SURFACE_TYPES && datafile_gets(file, line, sizeof line)) {
    // The name ends at the line's newline; a last line without one keeps every character.
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[--len] = 0;
    if (len > 0 && line[len - 1] == '\r') line[--len] = 0;
    const char *p = line;
    while (*p == ' ' || *p == '\t' || *p == '\f' || *p == '\v') p++;
    if (!*p) continue;
    float friction = 1.0f, first = 5.0f, second = 15.0f;
    int used = 0;
    const char *name = p;
    if (sscanf(p, "%f %f %f %n", &friction, &first, &second, &used) == 3 && used > 0) {
      name = p + used;
    } else {
      friction = 1.0f, first = 5.0f, second = 15.0f;
    }
    SurfaceType *s = &t->surfaces[t->surface_count++];
    surface_type_defaults(s);
    for (int k = 0; k < FRICTION_POINTS; k++) s->friction_points[k].coefficient = friction;
    for (int k = 0; k < ROLL_POINTS; k++) s->roll_points[k].first = first, s->roll_points[k].second = second;
    s->roost[0].mode = 1;
    s->roost[0].texture = texture_load("@roost.png");
    char texture[LINE_CHARS + 1];
    snprintf(texture, sizeof texture, "@%s", name);
    load_surface_texture(t, s, texture);
    base_name_of(name, s->base_name, sizeof s->base_name);
  }
  surface_transition_codes(t);
}

// ---- transition codes ----
// First type whose base name starts with the `length` characters of `prefix` and has '.'
// right after them; -1 when none.
static int type_with_stem(const Terrain *t, const char *prefix, size_t length) {
  for (int a = 0; a < t->surface_count; a++) {
    const char *b = t->surfaces[a].base_name;
    if (strlen(b) > length && !strncmp(b, prefix, length) && b[length] == '.') return a;
  }
  return -1;
}

void surface_transition_codes(Terrain *t) {
  for (int i = 0; i < t->surface_count; i++) {
    const char *name = t->surfaces[i].base_name;
    const char *dash = strchr(name, '-');
    int a = dash && dash > name ? type_with_stem(t, name, size_t(dash - name)) : -1;
    if (a < 0) {
      t->surfaces[i].transition_code = (i << 16) | (i << 8);
      continue;
    }
    const char *rest = dash + 1;
    if (!strncmp(rest, "alt", 3) && rest[3] >= '0' && rest[3] <= '9') {
      t->surfaces[i].transition_code = (a << 16) | (a << 8);
      continue;
    }
    const char *dash2 = strchr(rest, '-');
    size_t stem = dash2 ? size_t(dash2 - rest) : strlen(rest);
    int b = type_with_stem(t, rest, stem);
    if (b < 0) {
      t->surfaces[i].transition_code = -256;
      continue;
    }
    int mask = 0;
    if (dash2) {
      for (int k = 1; k <= 4; k++) {
        char c = dash2[k];
        if (c != '0' && c != '1') {
          mask = 0;
          break;
        }
        mask = mask << 1 | (c - '0');
      }
    }
    t->surfaces[i].transition_code = (a << 16) | (b << 8) | mask;
  }
}
