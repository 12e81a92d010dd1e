// Track objects: lighting, billboards, statues, flaggers, cameras and their readers.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/velk.h"
#include "render/model.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "track/track.h"
#include "track/track_local.h"
#include "track/track_objects_local.h"

static TrackObjects g_objects;

TrackObjects *track_objects_state() { return &g_objects; }

static const char *const SKY_KEYS[5] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};
static const char *const SKY_DEFAULTS[5] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm",
                                            "@sky-w.ppm", "@sky-u.ppm"};
static const char SKY_ENV_DEFAULT[] = "@sky-env.ppm";
constexpr float NEAR_PLANE_MIN = 0.0009765625f;  // ft, 2^-10
constexpr float NEAR_PLANE_MAX = 0.875f;         // ft
constexpr float FAR_PLANE_MAX = 1048576.0f;      // ft
constexpr float FACING_HEADING = 3.25f;  // headings from here on are level-of-detail codes
constexpr float TWO_PI = 6.28318530717958647692f;

// ---------------------------------------------------------------------------------------
// Object records
// ---------------------------------------------------------------------------------------

static void lighting_defaults(Lighting *l) {
  Growable flares = l->flares;
  memset(l, 0, sizeof *l);
  l->flares = flares;
  for (int i = 0; i < 3; i++) {
    l->sun_vector[i] = 1;
    l->sun_colour[i] = 1;
    l->ambient[i] = 0.5f;
    l->global_ambient[i] = 0.2f;
    l->fog_colour[i] = 1;
  }
  l->near_plane = 0.25f;
  l->far_plane = 5000.0f;
}

void track_objects_create() {
  TrackObjects *o = &g_objects;
  growable_init(&o->billboards, sizeof(Billboard));
  growable_init(&o->billboard_spare, 2 * sizeof(int));
  growable_init(&o->statues, sizeof(Statue));
  growable_init(&o->flaggers, sizeof(Flagger));
  growable_init(&o->cameras, sizeof(TrackCamera));
  growable_init(&o->lighting.flares, sizeof(Flare));
  for (int i = 0; i < OBJECT_BINS; i++)
    for (int j = 0; j < OBJECT_BINS; j++) {
      growable_init(&o->billboard_bins[i][j], sizeof(int));
      growable_init(&o->statue_bins[i][j], sizeof(int));
    }
  lighting_defaults(&o->lighting);
  o->start.billboard = -1;
  o->start.walk_time = 1.0f;
  o->lap.billboard = -1;
  for (int i = 0; i < MAX_TIMING_GATES; i++) o->gate_camera[i] = -1;
  o->created = 1;
}

void track_objects_free() {
  TrackObjects *o = &g_objects;
  if (!o->created) return;
  growable_free(&o->lighting.flares);
  for (int i = 0; i < OBJECT_BINS; i++)
    for (int j = 0; j < OBJECT_BINS; j++) {
      growable_free(&o->billboard_bins[i][j]);
      growable_free(&o->statue_bins[i][j]);
    }
  for (int i = 0; i < o->statues.count; i++) {
    Statue *s = (Statue *)growable_at(&o->statues, i);
    if (s->shape) shape_free(s->shape);
  }
  growable_free(&o->statues);
  growable_free(&o->billboards);
  growable_free(&o->billboard_spare);
  growable_free(&o->flaggers);
  growable_free(&o->cameras);
  // Keep the session's choices; forget every per-track record.
  TrackSession session = o->session;
  memset(o, 0, sizeof *o);
  o->session = session;
}

// Makes sure the tables exist (readers may run outside a load: tools, tests, fuzzing).
static void ensure_objects() {
  if (!g_objects.created) track_objects_create();
}

float ground_height(float x, float z) {
  const Terrain *t = terrain_current();
  if (!t || !t->heights) return 0;
  return terrain_height(t, x, z);
}

static float ground_extent() {
  const Terrain *t = terrain_current();
  return t && t->heights && t->extent > 0 ? t->extent : 1.0f;
}

static int clamp_bin(float v) {
  if (!(v >= 0)) return 0;  // also NaN
  if (v >= OBJECT_BINS - 1) return OBJECT_BINS - 1;
  return (int)v;
}

const Lighting *track_lighting() {
  ensure_objects();
  return &g_objects.lighting;
}
int billboard_count() { return g_objects.created ? g_objects.billboards.count : 0; }
Billboard *billboard_at(int i) {
  if (i < 0 || i >= billboard_count()) return nullptr;
  return (Billboard *)growable_at(&g_objects.billboards, i);
}
int track_billboard_first() { return g_objects.track_billboard_first; }
int statue_count() { return g_objects.created ? g_objects.statues.count : 0; }
Statue *statue_at(int i) {
  if (i < 0 || i >= statue_count()) return nullptr;
  return (Statue *)growable_at(&g_objects.statues, i);
}
const StartFlagger *start_flagger() {
  ensure_objects();
  return &g_objects.start;
}
const LapBoard *lap_board() {
  ensure_objects();
  return &g_objects.lap;
}
int flagger_count() { return g_objects.created ? g_objects.flaggers.count : 0; }
const Flagger *flagger_at(int i) {
  if (i < 0 || i >= flagger_count()) return nullptr;
  return (const Flagger *)growable_at(&g_objects.flaggers, i);
}
int camera_count() { return g_objects.created ? g_objects.cameras.count : 0; }
const TrackCamera *camera_at(int i) {
  if (i < 0 || i >= camera_count()) return nullptr;
  return (const TrackCamera *)growable_at(&g_objects.cameras, i);
}
int gate_camera(int gate) {
  if (!g_objects.created || gate < 0 || gate >= MAX_TIMING_GATES) return -1;
  return g_objects.gate_camera[gate];
}
uint32_t track_map_texture() { return g_objects.map_texture; }

static const int *bin_list(Growable bins[OBJECT_BINS][OBJECT_BINS], int bx, int bz, int *count) {
  if (!g_objects.created || bx < 0 || bz < 0 || bx >= OBJECT_BINS || bz >= OBJECT_BINS) {
    *count = 0;
    return nullptr;
  }
  Growable *g = &bins[bz][bx];
  *count = g->count;
  return g->count ? (const int *)g->data : nullptr;
}
const int *billboard_bin(int bx, int bz, int *count) {
  return bin_list(g_objects.billboard_bins, bx, bz, count);
}
const int *statue_bin(int bx, int bz, int *count) {
  return bin_list(g_objects.statue_bins, bx, bz, count);
}

// ---------------------------------------------------------------------------------------
// Lighting
// ---------------------------------------------------------------------------------------

static void strip_trailing_space(char *s) {
  size_t n = strlen(s);
  while (n > 0 && (s[n - 1] == ' ' || (s[n - 1] >= '\t' && s[n - 1] <= '\r'))) s[--n] = 0;
}

static int scan_value(const char *value, const char *format, ...) {
  TextCursor c = text_cursor(value, strlen(value));
  va_list args;
  va_start(args, format);
  int n = text_vscan(&c, format, args);
  va_end(args);
  return n;
}

static void finish_lighting(Lighting *l, const int sky_named[6]) {
  if (l->near_plane < NEAR_PLANE_MIN) l->near_plane = NEAR_PLANE_MIN;
  if (l->near_plane > NEAR_PLANE_MAX) l->near_plane = NEAR_PLANE_MAX;
  if (l->far_plane < l->near_plane) l->far_plane = l->near_plane;
  if (l->far_plane > FAR_PLANE_MAX) l->far_plane = FAR_PLANE_MAX;
  Vec3 sun = vec3_normalize(vec3(l->sun_vector[0], l->sun_vector[1], l->sun_vector[2]));
  l->sun_vector[0] = sun.x;
  l->sun_vector[1] = sun.y;
  l->sun_vector[2] = sun.z;
  for (int i = 0; i < 5; i++)
    if (!sky_named[i]) l->sky[i] = texture_load(SKY_DEFAULTS[i]);
  if (!sky_named[5]) l->sky_env = texture_load(SKY_ENV_DEFAULT);
  l->fog_set = 1;  // exponential fog with the density and colour read
}

int parse_lighting(const char *text, size_t length) {
  ensure_objects();
  Lighting *l = &g_objects.lighting;
  growable_clear(&l->flares);
  lighting_defaults(l);
  Flare flare;
  memset(&flare, 0, sizeof flare);
  int sky_named[6] = {0, 0, 0, 0, 0, 0};
  int ok = 1;
  TextCursor c = text_cursor(text, length);
  char line[1024];
  while (text_line(&c, line, sizeof line)) {
    strip_trailing_space(line);
    char *key = line;
    while (*key == ' ' || *key == '\t') key++;
    if (!*key) continue;
    char *value = key;
    while (*value && *value != ' ' && *value != '\t') value++;
    if (*value) *value++ = 0;
    while (*value == ' ' || *value == '\t') value++;

    float *triple = nullptr;
    if (!strcmp(key, "sun_vector")) triple = l->sun_vector;
    if (!strcmp(key, "sun_color")) triple = l->sun_colour;
    if (!strcmp(key, "ambient")) triple = l->ambient;
    if (!strcmp(key, "global_ambient")) triple = l->global_ambient;
    if (triple) {
      scan_value(value, " [ %f %f %f ] ", &triple[0], &triple[1], &triple[2]);
      continue;
    }
    int sky = -1;
    for (int i = 0; i < 5; i++)
      if (!strcmp(key, SKY_KEYS[i])) sky = i;
    if (!strcmp(key, "sky_env")) sky = 5;
    if (sky >= 0) {
      uint32_t id = texture_load(value);
      if (sky < 5)
        l->sky[sky] = id;
      else
        l->sky_env = id;
      sky_named[sky] = 1;
      continue;
    }
    if (!strcmp(key, "flare_element")) {
      FlareElement e;
      char name[1024];
      if (scan_value(value, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.place[0], &e.place[1],
                     &e.colour[0], &e.colour[1], &e.colour[2], &e.size, name) == 7 &&
          flare.element_count < MAX_FLARE_ELEMENTS) {
        e.texture = texture_load(name);
        flare.elements[flare.element_count++] = e;
      }
      continue;
    }
    if (!strcmp(key, "flare_point") || !strcmp(key, "flare_vector")) {
      float p[3];
      if (scan_value(value, " [ %f %f %f ] ", &p[0], &p[1], &p[2]) == 3) {
        memcpy(flare.position, p, sizeof p);
        flare.kind = !strcmp(key, "flare_vector");
        growable_push(&l->flares, &flare);
        memset(&flare, 0, sizeof flare);
      }
      continue;
    }
    if (!strcmp(key, "fog")) {
      float f[4];
      if (scan_value(value, " [ %f %f %f ] %f ", &f[0], &f[1], &f[2], &f[3]) == 4) {
        memcpy(l->fog_colour, f, 3 * sizeof(float));
        l->fog_density = f[3];
      }
      continue;
    }
    if (!strcmp(key, "dynamic_lighting")) {
      int on = 0;
      if (scan_value(value, "%d", &on) == 1) l->dynamic_lighting = on > 0;
      continue;
    }
    if (!strcmp(key, "near_plane")) {
      scan_value(value, "%f", &l->near_plane);
      continue;
    }
    if (!strcmp(key, "far_plane")) {
      scan_value(value, "%f", &l->far_plane);
      continue;
    }
    track_message("Error reading lighting: Unknown identifier '%.950s'\n", key);
    ok = 0;
    break;
  }
  finish_lighting(l, sky_named);
  return ok;
}

// ---------------------------------------------------------------------------------------
// Billboards
// ---------------------------------------------------------------------------------------

static int hex_digit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// "#rrggbb#name": the colour and the rest of the name; 0 when there is no prefix.
static int colour_prefix(const char *name, uint8_t rgb[3]) {
  if (name[0] != '#') return 0;
  for (int i = 1; i <= 6; i++)
    if (hex_digit(name[i]) < 0) return 0;
  if (name[7] != '#') return 0;
  for (int i = 0; i < 3; i++)
    rgb[i] = (uint8_t)(hex_digit(name[1 + 2 * i]) * 16 + hex_digit(name[2 + 2 * i]));
  return 1;
}

static void bin_billboard(int index, float x, float z) {
  float extent = ground_extent();
  int bx = clamp_bin(std::floor(OBJECT_BINS * x / extent));
  int bz = clamp_bin(std::floor(OBJECT_BINS * z / extent));
  growable_push(&g_objects.billboard_bins[bz][bx], &index);
}

int create_billboard(float x, float height, float z, float size, float aspect,
                     const char *texture) {
  ensure_objects();
  Billboard b;
  memset(&b, 0, sizeof b);
  b.colour[0] = b.colour[1] = b.colour[2] = b.colour[3] = 255;
  const char *name = texture ? texture : "";
  if (colour_prefix(name, b.colour)) name += 8;
  b.texture = name[0] ? texture_load(name) : 0;
  b.x = x;
  b.z = z;
  b.height = height;
  b.y = ground_height(x, z) + height;
  b.size = size;
  b.aspect = aspect;
  int spare[2] = {0, 0};
  growable_push(&g_objects.billboard_spare, spare);
  growable_push(&g_objects.billboards, &b);
  int index = g_objects.billboards.count - 1;
  bin_billboard(index, x, z);
  return index;
}

// Track files start at their first record; blank space before it is allowed.
static void skip_leading_space(TextCursor *c) {
  while (c->p < c->end && (*c->p == ' ' || (*c->p >= '\t' && *c->p <= '\r'))) c->p++;
}

int parse_billboards(const char *text, size_t length) {
  ensure_objects();
  TextCursor c = text_cursor(text, length);
  skip_leading_space(&c);
  int added = 0;
  float x, h, z, size, aspect;
  char name[1024];
  while (text_scan(&c, "[ %f %f %f ] %f %f %1023s ", &x, &h, &z, &size, &aspect, name) == 6) {
    create_billboard(x, h, z, size, aspect, name);
    added++;
  }
  return added;
}

// ---------------------------------------------------------------------------------------
// Statues
// ---------------------------------------------------------------------------------------

void object_orientation(float out[9], float x, float z, float heading) {
  if (heading >= FACING_HEADING) {
    static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    memcpy(out, identity, sizeof identity);
    return;
  }
  Vec3 forward = vec3(std::cos(heading), 0, -std::sin(heading));
  Vec3 up = vec3(0, 1, 0);
  if (heading > -TWO_PI) {
    float h0 = ground_height(x, z);
    float hx = ground_height(x + 1, z);
    float hz = ground_height(x, z + 1);
    // Normal of the plane through the three samples one foot apart.
    up = vec3_normalize(vec3(h0 - hx, 1, h0 - hz));
  }
  Vec3 side = vec3_normalize(vec3_cross(up, forward));
  forward = vec3_cross(side, up);
  // Columns: the object's x axis along its heading, y up, z completing a right-handed frame
  // (on level ground this is the rotation by the heading about y).
  Vec3 zaxis = vec3_cross(forward, up);
  const Vec3 columns[3] = {forward, up, zaxis};
  for (int col = 0; col < 3; col++) {
    out[0 * 3 + col] = columns[col].x;
    out[1 * 3 + col] = columns[col].y;
    out[2 * 3 + col] = columns[col].z;
  }
}

static int is_none(const char *name) { return !name || !name[0] || !strcmp(name, "null"); }

// `name` with its ending replaced for a companion texture ("_norm", "_spec"), variant
// 0..2 of ".seq", ".png", ".ppm". A "-repeat" name keeps its repeat flag.
void companion_texture_name(char *out, size_t size, const char *name, const char *kind,
                            int variant) {
  static const char *const exts[3] = {".seq", ".png", ".ppm"};
  const char *slash = strrchr(name, '/');
  const char *base = slash ? slash + 1 : name;
  const char *dash = strrchr(base, '-');
  if (dash && !strncmp(dash, "-repeat.", 8)) {
    snprintf(out, size, "%.*s%s-repeat%s", (int)(dash - name), name, kind, exts[variant]);
    return;
  }
  const char *dot = strrchr(base, '.');
  int keep = dot ? (int)(dot - name) : (int)strlen(name);
  snprintf(out, size, "%.*s%s%s", keep, name, kind, exts[variant]);
}

static uint32_t companion_texture(const char *texture, const char *model, const char *kind) {
  char name[1100];
  for (int v = 0; v < 3; v++) {
    companion_texture_name(name, sizeof name, texture, kind, v);
    uint32_t id = texture_load(name);
    if (id) return id;
  }
  for (int v = 0; v < 3; v++) {
    const char *slash = strrchr(model, '/');
    const char *base = slash ? slash + 1 : model;
    const char *dot = strrchr(base, '.');
    int keep = dot ? (int)(dot - model) : (int)strlen(model);
    static const char *const exts[3] = {".seq", ".png", ".ppm"};
    snprintf(name, sizeof name, "%.*s%s%s", keep, model, kind, exts[v]);
    uint32_t id = texture_load(name);
    if (id) return id;
  }
  return 0;
}

int create_statue(float x, float height, float z, float heading, const char *model,
                  const char *texture, const char *shape) {
  ensure_objects();
  Statue s;
  memset(&s, 0, sizeof s);
  s.special = heading >= FACING_HEADING ? std::pow(2.0f, heading) : 0;
  if (!is_none(model)) s.model = model_load(model);
  if (!is_none(model) && !is_none(texture)) {
    s.texture = texture_load(texture);
    if (g_objects.session.model_normal_maps) {
      s.normal_texture = companion_texture(texture, model, "_norm");
      s.specular_texture = companion_texture(texture, model, "_spec");
    }
  }
  if (!is_none(shape)) {
    s.shape = shape_load(shape);
    if (!s.shape) track_message("Warning: missing shape file %.900s", shape);
  }
  s.x = x;
  s.z = z;
  s.height = height;
  s.heading = heading;
  s.y = ground_height(x, z) + height;
  object_orientation(s.orientation, x, z, heading);
  growable_push(&g_objects.statues, &s);
  return g_objects.statues.count - 1;
}

// The piece's y is where the object stands, not a height above the ground.
int create_start_gate_object(float x, float y, float z, float angle, const char *model,
                             const char *texture, const char *shape) {
  return create_statue(x, y - ground_height(x, z), z, angle, model, texture, shape);
}

int parse_statues(const char *text, size_t length) {
  ensure_objects();
  TextCursor c = text_cursor(text, length);
  skip_leading_space(&c);
  int added = 0;
  float x, h, z, heading;
  char model[1024], texture[1024], shape[1024];
  while (text_scan(&c, "[ %f %f %f ] %f %1023s %1023s %1023s ", &x, &h, &z, &heading, model,
                   texture, shape) == 7) {
    create_statue(x, h, z, heading, model, texture, shape);
    added++;
  }
  return added;
}

// The bins span the middle three quarters of the field.
static int statue_bin_of(float v, float extent) {
  float u = (v / extent - 0.125f) * (4.0f / 3.0f);
  return clamp_bin(std::floor(OBJECT_BINS * u));
}

void bin_statues() {
  ensure_objects();
  for (int i = 0; i < OBJECT_BINS; i++)
    for (int j = 0; j < OBJECT_BINS; j++) growable_clear(&g_objects.statue_bins[i][j]);
  float extent = ground_extent();
  for (int i = 0; i < g_objects.statues.count; i++) {
    const Statue *s = (const Statue *)growable_at(&g_objects.statues, i);
    if (!s->shape) continue;
    float r = s->shape->bounding_radius;
    int x0 = statue_bin_of(s->x - r, extent), x1 = statue_bin_of(s->x + r, extent);
    int z0 = statue_bin_of(s->z - r, extent), z1 = statue_bin_of(s->z + r, extent);
    for (int bz = z0; bz <= z1; bz++)
      for (int bx = x0; bx <= x1; bx++) growable_push(&g_objects.statue_bins[bz][bx], &i);
  }
}

// ---------------------------------------------------------------------------------------
// Flaggers
// ---------------------------------------------------------------------------------------

int parse_flaggers(const char *text, size_t length) {
  ensure_objects();
  TextCursor c = text_cursor(text, length);
  float from[3], to[3], size, aspect, walk;
  char names[5][1024];
  if (text_scan(&c, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &from[0], &from[1], &from[2], &to[0],
                &to[1], &to[2], &size, &aspect, &walk) != 9)
    return 0;
  for (int i = 0; i < 5; i++)
    if (text_scan(&c, " %1023s ", names[i]) != 1) return 0;
  StartFlagger *start = &g_objects.start;
  start->billboard = create_billboard(from[0], from[1], from[2], size, aspect, names[0]);
  start->textures[0] = billboard_at(start->billboard)->texture;
  for (int i = 1; i < 5; i++) start->textures[i] = texture_load(names[i]);
  memcpy(start->from, from, sizeof from);
  memcpy(start->to, to, sizeof to);
  start->walk_time = walk;

  float p[3];
  if (text_scan(&c, " [ %f %f %f ] %f %f ", &p[0], &p[1], &p[2], &size, &aspect) != 5) return 1;
  for (int i = 0; i < 4; i++)
    if (text_scan(&c, " %1023s ", names[i]) != 1) return 1;
  LapBoard *lap = &g_objects.lap;
  lap->billboard = create_billboard(p[0], p[1], p[2], size, aspect, names[0]);
  lap->textures[0] = billboard_at(lap->billboard)->texture;
  for (int i = 1; i < 4; i++) lap->textures[i] = texture_load(names[i]);

  int gates[4];
  int gate_count = timing_gate_count();
  for (;;) {
    if (text_scan(&c, " [ %f %f %f ] %f %f %d %d %d %d", &p[0], &p[1], &p[2], &size, &aspect,
                  &gates[0], &gates[1], &gates[2], &gates[3]) != 9)
      break;
    if (text_scan(&c, " %1023s ", names[0]) != 1 || text_scan(&c, " %1023s ", names[1]) != 1)
      break;
    Flagger f;
    f.billboard = create_billboard(p[0], p[1], p[2], size, aspect, names[0]);
    f.textures[0] = billboard_at(f.billboard)->texture;
    f.textures[1] = texture_load(names[1]);
    for (int i = 0; i < 4; i++) {
      int g = gates[i];
      if (g > gate_count - 1) g = gate_count - 1;
      if (g < -1) g = -1;
      f.gates[i] = g;
    }
    growable_push(&g_objects.flaggers, &f);
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// Cameras
// ---------------------------------------------------------------------------------------

int parse_cameras(const char *text, size_t length) {
  ensure_objects();
  TextCursor c = text_cursor(text, length);
  char line[1024];
  float fov = 90, autofov = 0;
  while (text_line(&c, line, sizeof line)) {
    TextCursor lc = text_cursor(line, strlen(line));
    float x, y, z, v;
    if (text_scan(&lc, "addcamera %f %f %f", &x, &y, &z) == 3) {
      TrackCamera cam;
      memset(&cam, 0, sizeof cam);
      cam.x = x;
      cam.y = ground_height(x, z) + y;
      cam.z = z;
      cam.fov = fov;
      cam.autofov_size = autofov;
      growable_push(&g_objects.cameras, &cam);
      fov = 90;
      autofov = 0;
      continue;
    }
    lc = text_cursor(line, strlen(line));
    if (text_scan(&lc, "fov %f", &v) == 1) {
      fov = std::fabs(v);
      continue;
    }
    lc = text_cursor(line, strlen(line));
    if (text_scan(&lc, "autofovsize %f", &v) == 1) {
      autofov = std::fabs(v);
      continue;
    }
    const char *p = line;
    while (*p == ' ' || *p == '\t') p++;
    if (!strncmp(p, "gate", 4) && (p[4] == 0 || p[4] == ' ' || (p[4] >= '\t' && p[4] <= '\r'))) {
      lc = text_cursor(p + 4, strlen(p + 4));
      int n;
      while (text_scan(&lc, "%d", &n) == 1 && n >= 0 && n < MAX_TIMING_GATES)
        g_objects.gate_camera[n] = g_objects.cameras.count;
    }
  }
  if (g_objects.session.debug_level >= 1) velk_log("%d cameras found\n", g_objects.cameras.count);
  return g_objects.cameras.count;
}
