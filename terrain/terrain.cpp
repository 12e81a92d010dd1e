// Terrain: loading and saving a track's ground, sampling heights and normals, decals.
#include "terrain/terrain.h"

#include <math.h>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/frame.h"
#include "files/files.h"
#include "platform/velk.h"
#include "render/texture.h"
#include "terrain/terrain_local.h"

// ---- per process: settings, hooks and the one terrain record ----
static struct {
  int debug_level;
  float ground_detail;
  TerrainRenderHooks hooks;
  int has_hooks;
} s_config = {0, 1.0f, {}, 0};

static Terrain *s_terrain;

Terrain *terrain_current() {
  if (!s_terrain) {
    s_terrain = (Terrain *)calloc(1, sizeof(Terrain));
    if (!s_terrain) fatal_out_of_memory();
  }
  return s_terrain;
}

void terrain_set_options(int debug_level, float ground_detail) {
  s_config.debug_level = debug_level;
  s_config.ground_detail = ground_detail > 0 ? ground_detail : 1.0f;
}

int terrain_debug_level() { return s_config.debug_level; }

void terrain_set_render_hooks(const TerrainRenderHooks *hooks) {
  if (hooks) s_config.hooks = *hooks;
  s_config.has_hooks = hooks != nullptr;
}

void terrain_mark_dirty(Terrain *t, int c0, int r0, int c1, int r1) {
  if (s_config.has_hooks && s_config.hooks.mark_dirty) s_config.hooks.mark_dirty(t, c0, r0, c1, r1);
}

static void *zalloc(size_t size) {
  void *p = calloc(size ? size : 1, 1);
  if (!p) fatal_out_of_memory();
  return p;
}

// ---- sampling ----
static inline int clamp_index(int i, int n) { return i < 0 ? 0 : i > n ? n : i; }

// v limited to lo ... hi; not-a-number gives lo.
static inline float clamp_coordinate(float v, float lo, float hi) {
#if defined(__SSE2__)
  return _mm_cvtss_f32(_mm_min_ss(_mm_max_ss(_mm_set_ss(v), _mm_set_ss(lo)), _mm_set_ss(hi)));
#else
  v = v > lo ? v : lo;
  return v < hi ? v : hi;
#endif
}

// The cell under (x, z): its first corner (i, j), the offsets u, v inside it and its four
// corner heights. Outside the field the point is moved onto the border, which gives the
// border heights the clamped indices would (within rounding), keeps the conversions defined
// (NaN included) and lets the four corners be read without further tests.
struct CellUnder {
  int i, j;
  float u, v;
  float h00, h10, h01, h11;  // heights at (i, j), (i+1, j), (i, j+1), (i+1, j+1)
};

static inline void cell_under(const Terrain *t, float x, float z, CellUnder *out) {
  const int n = t->samples;
  const float top = (float)(n - 1);
  float fx = clamp_coordinate(x / t->spacing, 0.0f, top);
  float fz = clamp_coordinate(z / t->spacing, 0.0f, top);
  int i = (int)fx, j = (int)fz;
  i = i < n - 2 ? i : n - 2;  // the far border lies at u or v = 1 of the last cell
  j = j < n - 2 ? j : n - 2;
  out->i = i;
  out->j = j;
  out->u = fx - (float)i;
  out->v = fz - (float)j;
  const float *p = t->heights + (size_t)j * n + i;
  out->h00 = p[0];
  out->h10 = p[1];
  out->h01 = p[n];
  out->h11 = p[n + 1];
}

// Cells alternate their diagonals, the same triangles the renderer draws: odd cells (i + j)
// join (i+1, j) and (i, j+1), even ones (i, j) and (i+1, j+1). Each triangle is a corner
// plus weights a (along x) and b (along z) toward its two neighbours.
float terrain_height(const Terrain *t, float x, float z) {
  CellUnder c;
  cell_under(t, x, z, &c);
  float u = c.u, v = c.v;
  if ((c.i + c.j) & 1) {
    if (u + v <= 1.0f) return c.h00 + u * (c.h10 - c.h00) + v * (c.h01 - c.h00);
    return c.h11 + (1.0f - u) * (c.h01 - c.h11) + (1.0f - v) * (c.h10 - c.h11);
  }
  if (v <= u) return c.h10 + (1.0f - u) * (c.h00 - c.h10) + v * (c.h11 - c.h10);
  return c.h01 + u * (c.h11 - c.h01) + (1.0f - v) * (c.h00 - c.h01);
}

// (P1 - P0) x (P2 - P0) with P1 the x-neighbour and P2 the z-neighbour, turned to point up:
// (-s^2 dh/dx, s^2, -s^2 dh/dz) of the triangle under the point.
void terrain_normal(const Terrain *t, float x, float z, Vec3 *out) {
  CellUnder c;
  cell_under(t, x, z, &c);
  float s = t->spacing;
  float dx, dz;  // height change toward the x- and z-neighbour, and their directions
  float sx, sz;
  if ((c.i + c.j) & 1) {
    if (c.u + c.v <= 1.0f) dx = c.h10 - c.h00, dz = c.h01 - c.h00, sx = 1, sz = 1;
    else dx = c.h01 - c.h11, dz = c.h10 - c.h11, sx = -1, sz = -1;
  } else {
    if (c.v <= c.u) dx = c.h00 - c.h10, dz = c.h11 - c.h10, sx = -1, sz = 1;
    else dx = c.h11 - c.h01, dz = c.h00 - c.h01, sx = 1, sz = -1;
  }
  out->x = -(dx * s) * sx;
  out->y = s * s;
  out->z = -(dz * s) * sz;
}

void terrain_vertex_normal(const Terrain *t, int column, int row, Vec3 *out) {
  static const int ring[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
  int last = t->samples - 1, n = t->samples;
  float s = t->spacing;
  float hc = t->heights[clamp_index(row, last) * n + clamp_index(column, last)];
  Vec3 e[8];
  for (int k = 0; k < 8; k++) {
    int c = column + ring[k][0], r = row + ring[k][1];
    float h = t->heights[clamp_index(r, last) * n + clamp_index(c, last)];
    e[k] = vec3((float)ring[k][0] * s, h - hc, (float)ring[k][1] * s);
  }
  Vec3 sum = {0, 0, 0};
  for (int k = 0; k < 8; k++) sum = sum + vec3_normalize(vec3_cross(e[(k + 1) & 7], e[k]));
  *out = vec3_normalize(sum);
}

int terrain_tile_at(const Terrain *t, float x, float z) {
  int size = 1 << t->size_log2;
  float fx = x / t->tile_size, fz = z / t->tile_size;
  fx = fx > -1.0f ? fx : -1.0f;
  fx = fx < (float)size ? fx : (float)size;
  fz = fz > -1.0f ? fz : -1.0f;
  fz = fz < (float)size ? fz : (float)size;
  int tx = clamp_index((int)floorf(fx), size - 1), tz = clamp_index((int)floorf(fz), size - 1);
  return t->tile_map[tz * size + tx];
}

const SurfaceType *terrain_surface_at(const Terrain *t, float x, float z) {
  return &t->surfaces[terrain_tile_at(t, x, z)];
}

// ---- decals ----
static int bin_of(const Terrain *t, float w) {
  float f = floorf(8.0f * w / t->extent);
  return f < 0 ? 0 : f > 7 ? 7 : (int)f;
}

static void decal_bounds(const Decal *d, float *hx, float *hz) {
  float half = d->size * 0.5f, half_long = d->aspect * d->size * 0.5f;
  *hx = fabsf(d->sin_angle * half) + fabsf(d->cos_angle * half_long);
  *hz = fabsf(d->cos_angle * half) + fabsf(d->sin_angle * half_long);
}

static void decal_lists_create(Terrain *t) {
  if (t->has_decals) return;
  growable_init(&t->decals, sizeof(Decal));
  for (int j = 0; j < DECAL_BINS; j++)
    for (int i = 0; i < DECAL_BINS; i++) growable_init(&t->decal_bins[j][i], sizeof(int));
  growable_init(&t->decal_merge[0], sizeof(int));
  growable_init(&t->decal_merge[1], sizeof(int));
  t->has_decals = 1;
}

// Enters decal `index` into every bin it touches, keeping each bin ascending.
static void decal_enter(Terrain *t, int index) {
  const Decal *d = (const Decal *)growable_at(&t->decals, index);
  float hx, hz;
  decal_bounds(d, &hx, &hz);
  int i0 = bin_of(t, d->x - hx), i1 = bin_of(t, d->x + hx);
  int j0 = bin_of(t, d->z - hz), j1 = bin_of(t, d->z + hz);
  for (int j = j0; j <= j1; j++) {
    for (int i = i0; i <= i1; i++) {
      Growable *bin = &t->decal_bins[j][i];
      int at = bin->count;
      while (at > 0 && *(int *)growable_at(bin, at - 1) >= index) at--;
      if (at < bin->count && *(int *)growable_at(bin, at) == index) continue;
      growable_push(bin, nullptr);
      int *items = (int *)bin->data;
      memmove(items + at + 1, items + at, sizeof(int) * size_t(bin->count - 1 - at));
      items[at] = index;
    }
  }
  float s = t->spacing;
  terrain_mark_dirty(t, (int)floorf((d->x - hx) / s), (int)floorf((d->z - hz) / s),
                     (int)ceilf((d->x + hx) / s), (int)ceilf((d->z + hz) / s));
}

void terrain_decal_add(Terrain *t, const Decal *decal) {
  decal_lists_create(t);
  growable_push(&t->decals, decal);
  decal_enter(t, t->decals.count - 1);
}

const int *terrain_decal_query(Terrain *t, float x0, float z0, float x1, float z1, int *count) {
  *count = 0;
  if (!t->has_decals) return nullptr;
  int i0 = bin_of(t, x0), i1 = bin_of(t, x1), j0 = bin_of(t, z0), j1 = bin_of(t, z1);
  if (i0 > i1) { int k = i0; i0 = i1; i1 = k; }
  if (j0 > j1) { int k = j0; j0 = j1; j1 = k; }
  if (i0 == i1 && j0 == j1) {
    Growable *bin = &t->decal_bins[j0][i0];
    *count = bin->count;
    return bin->count ? (const int *)bin->data : nullptr;
  }
  // Sorted union of the bins, merged into the two scratch lists alternately.
  int current = 0;
  growable_clear(&t->decal_merge[0]);
  for (int j = j0; j <= j1; j++) {
    for (int i = i0; i <= i1; i++) {
      Growable *bin = &t->decal_bins[j][i];
      Growable *from = &t->decal_merge[current], *to = &t->decal_merge[current ^ 1];
      growable_clear(to);
      const int *a = (const int *)from->data, *b = (const int *)bin->data;
      int na = from->count, nb = bin->count, ia = 0, ib = 0;
      while (ia < na || ib < nb) {
        int v;
        if (ib >= nb || (ia < na && a[ia] < b[ib])) v = a[ia++];
        else if (ia >= na || b[ib] < a[ia]) v = b[ib++];
        else v = a[ia++], ib++;
        growable_push(to, &v);
      }
      current ^= 1;
    }
  }
  Growable *result = &t->decal_merge[current];
  *count = result->count;
  return result->count ? (const int *)result->data : nullptr;
}

// Reads the decals file: records until the first that does not give all six items.
static void decals_read(Terrain *t, DataFile *file) {
  decal_lists_create(t);
  char name[1024];
  for (;;) {
    Decal d;
    memset(&d, 0, sizeof d);
    if (datafile_scanf(file, "[ %f %f ] %f %f %f %1023s ", &d.x, &d.z, &d.angle, &d.size, &d.aspect,
                       name) != 6)
      break;
    snprintf(d.name, sizeof d.name, "%.255s", name);
    if (t->render_method == 1) {
      if (!image_load(name, &d.image, &d.image_width, &d.image_height)) d.image = nullptr;
    } else {
      d.texture = texture_load(name);
      if (t->normal_mapped) {
        static const char *layers[2][2] = {{"_tnorm.png", "_tnorm.ppm"}, {"_tspec.png", "_tspec.ppm"}};
        for (int k = 0; k < 2; k++) {
          uint32_t id = 0;
          for (int e = 0; e < 2 && !id; e++) {
            char other[1100];
            snprintf(other, sizeof other, "%s", name);
            char *dot = strrchr(other, '.');
            char *slash = strrchr(other, '/');
            if (dot && (!slash || dot > slash)) *dot = 0;
            strncat(other, layers[k][e], sizeof other - strlen(other) - 1);
            id = texture_load(other);
          }
          if (k == 0) d.normal_texture = id;
          else d.specular_texture = id;
        }
      }
    }
    if (!d.image && !d.texture) continue;
    d.sin_angle = sinf(d.angle);
    d.cos_angle = cosf(d.angle);
    growable_push(&t->decals, &d);
  }
  for (int j = 0; j < DECAL_BINS; j++)
    for (int i = 0; i < DECAL_BINS; i++) growable_clear(&t->decal_bins[j][i]);
  for (int k = 0; k < t->decals.count; k++) decal_enter(t, k);
}

// ---- files ----
DataFile *open_track_file(const char *directory, const char *name, const char *mode, int required) {
  char path[1100];
  snprintf(path, sizeof path, "%s/%s", directory, name);
  DataFile *file = datafile_open(path, mode);
  if (!file && required) show_messagef("Can't open '%.950s'", path);
  return file;
}

void terrain_unload(Terrain *t) {
  if (s_config.has_hooks && s_config.hooks.release) s_config.hooks.release(t);
  free(t->heights);
  free(t->split_distance);
  free(t->split_distance_next);
  free(t->shading);
  free(t->normal_shadow_map);
  free(t->shadow_density);
  free(t->tile_map);
  free(t->dirty_nodes);
  free(t->dirty_low_detail);
  free(t->low_detail_textures);
  free(t->block_slots);
  free(t->block_textures);
  free(t->scratch_image);
  if (t->has_decals) {
    growable_free(&t->decals);
    for (int j = 0; j < DECAL_BINS; j++)
      for (int i = 0; i < DECAL_BINS; i++) growable_free(&t->decal_bins[j][i]);
    growable_free(&t->decal_merge[0]);
    growable_free(&t->decal_merge[1]);
  }
  // Surface textures and images belong to the registries, which purge them by generation.
  memset(t, 0, sizeof *t);
  t->window_origin[0] = t->window_origin[1] = -1000000;
  t->camera_column = t->camera_row = -1000000;
  t->ground_texture_size = 128;
  t->lod_level = -1;
}

static int load_fail(Terrain *t, DataFile *file) {
  datafile_close(file);
  terrain_unload(t);
  return 0;
}

// Reads the heights that follow the header: inline after ':' or from terrain.png.
static void heights_read(Terrain *t, DataFile *hf, const char *directory, float lo, float hi) {
  int n = t->samples;
  size_t count = size_t(n) * n;
  uint16_t *values = (uint16_t *)zalloc(count * sizeof(uint16_t));
  int c = datafile_getc(hf);
  if (c == ':') {
    uint8_t *bytes = (uint8_t *)malloc(count * 2);
    if (!bytes) fatal_out_of_memory();
    size_t got = datafile_read(hf, bytes, count * 2);
    memset(bytes + got, 0xff, count * 2 - got);  // a short block reads as end-of-file bytes
    for (size_t i = 0; i < count; i++) values[i] = uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    free(bytes);
  } else {
    char path[1100];
    snprintf(path, sizeof path, "%s/terrain.png", directory);
    uint8_t *data;
    size_t size;
    uint16_t *grey;
    int w, h;
    if (data_read_all(path, &data, &size, size_t(1) << 30)) {
      if (image_decode_png_grey16(data, size, &grey, &w, &h)) {
        for (int r = 0; r < n; r++) {
          const uint16_t *row = grey + size_t(r < h ? r : h - 1) * w;
          for (int col = 0; col < n; col++) values[size_t(r) * n + col] = row[col < w ? col : w - 1];
        }
        free(grey);
      }
      free(data);
    }
  }
  // The digest covers every sample's two bytes, low byte first, in sample order.
  uint8_t *pairs = (uint8_t *)malloc(count * 2);
  if (!pairs) fatal_out_of_memory();
  float range = hi - lo;
  for (size_t i = 0; i < count; i++) {
    pairs[2 * i] = uint8_t(values[i]);
    pairs[2 * i + 1] = uint8_t(values[i] >> 8);
    t->heights[i] = lo + (float)values[i] * range / 65535.0f;
  }
  Sha1 sha;
  sha1_init(&sha);
  sha1_update(&sha, pairs, count * 2);
  free(pairs);
  sha1_final(&sha, t->height_digest);
  if (s_config.debug_level >= 2) {
    char hex[41];
    sha1_hex(t->height_digest, hex);
    velk_log("%s\n", hex);
  }
  free(values);
}

// Shading from shadingx2.ppm (stored as read) or shading.ppm (halved). 1 or 0.
static int shading_read(Terrain *t, const char *directory) {
  int halve = 0;
  DataFile *file = open_track_file(directory, "shadingx2.ppm", "rb", 0);
  if (!file) {
    file = open_track_file(directory, "shading.ppm", "rb", 1);
    if (!file) return 0;
    halve = 1;
  }
  uint8_t *data;
  size_t size;
  Image image = {};
  int ok = datafile_read_all(file, &data, &size, size_t(1) << 30);
  datafile_close(file);
  if (ok) {
    ok = image_decode(data, size, &image) && image.channels >= 3;
    if (!ok && image.pixels) image_free(&image);
    free(data);
  }
  if (!ok) {
    show_message("Error reading shading");
    return 0;
  }
  if (image.width != t->samples || image.height != t->samples) {
    show_messagef("Bad shading dimensions (%dx%d)", image.width, image.height);
    image_free(&image);
    return 0;
  }
  size_t count = size_t(t->samples) * t->samples;
  t->shading = (uint8_t *)zalloc(count * 3);
  for (size_t i = 0; i < count; i++)
    for (int c = 0; c < 3; c++) {
      uint8_t v = image.pixels[i * image.channels + c];
      t->shading[i * 3 + c] = halve ? uint8_t(v >> 1) : v;
    }
  image_free(&image);
  return 1;
}

// Shadows from shadows.pgm, stored inverted; all lit without the file. 1 or 0.
static int shadows_read(Terrain *t, const char *directory) {
  size_t count = size_t(t->samples) * t->samples;
  t->shadow_density = (uint8_t *)zalloc(count);
  DataFile *file = open_track_file(directory, "shadows.pgm", "rb", 0);
  if (!file) return 1;
  uint8_t *data;
  size_t size;
  Image image = {};
  int ok = datafile_read_all(file, &data, &size, size_t(1) << 30);
  datafile_close(file);
  if (ok) {
    ok = image_decode_pgm(data, size, &image);
    free(data);
  }
  if (!ok) {
    show_message("Error reading shadows");
    return 0;
  }
  if (image.width != t->samples || image.height != t->samples) {
    velk_log("Bad shadow dimensions (%dx%d)\n", image.width, image.height);
    image_free(&image);
    return 0;
  }
  for (size_t i = 0; i < count; i++) t->shadow_density[i] = uint8_t(255 - image.pixels[i]);
  image_free(&image);
  return 1;
}

static int tilemap_read(Terrain *t, const char *directory) {
  DataFile *file = open_track_file(directory, "tilemap", "rb", 1);
  if (!file) return 0;
  size_t count = size_t(1) << (2 * t->size_log2);
  t->tile_map = (uint8_t *)zalloc(count);
  datafile_read(file, t->tile_map, count);  // a short map leaves surface 0
  datafile_close(file);
  uint8_t last = uint8_t(t->surface_count - 1);
  for (size_t i = 0; i < count; i++)
    if (t->tile_map[i] >= t->surface_count) t->tile_map[i] = last;
  return 1;
}

static void normal_shadow_map_fill(Terrain *t) {
  int n = t->samples;
  t->normal_shadow_map = (uint8_t *)zalloc(size_t(n) * n * 3);
  for (int r = 0; r < n; r++)
    for (int c = 0; c < n; c++) {
      Vec3 v;
      terrain_vertex_normal(t, c, r, &v);
      size_t i = size_t(r) * n + c;
      t->normal_shadow_map[i * 3] = normal_byte(v.x);
      t->normal_shadow_map[i * 3 + 1] = uint8_t(255 - t->shadow_density[i]);
      t->normal_shadow_map[i * 3 + 2] = normal_byte(v.z);
    }
}

int terrain_load(Terrain *t, const char *directory, int render_method) {
  terrain_unload(t);
  snprintf(t->directory, sizeof t->directory, "%s", directory);
  DataFile *hf = open_track_file(directory, "terrain.hf", "rb", 1);
  if (!hf) return load_fail(t, nullptr);
  int n;
  float s, lo, hi;
  int items = datafile_scanf(hf, "%d %f %f %f ", &n, &s, &lo, &hi);
  // Fields below 64 x 64 tiles, fields whose sample count overflows memory or 32-bit
  // indices, and spacings that are not positive are refused like unreadable headers.
  if (items != 4 || n < MIN_SIZE_LOG2 || n > MAX_SIZE_LOG2 || !(s > 0) || !isfinite(s) ||
      !isfinite(lo) || !isfinite(hi)) {
    show_message("Bad height field parameters");
    show_message("Error reading heights");
    return load_fail(t, hf);
  }
  t->size_log2 = n;
  t->samples = (2 << n) + 1;
  t->spacing = s;
  t->extent = (float)(t->samples - 1) * s;
  t->tile_size = 2 * s;
  t->min_height = lo;
  t->max_height = hi;
  t->lod_tolerance = 0.125f / s_config.ground_detail;
  size_t count = size_t(t->samples) * t->samples;
  t->node_count = lod_node_count(n);
  t->dirty_nodes = (uint8_t *)zalloc(size_t(t->node_count + 7) / 8);
  t->heights = (float *)zalloc(count * sizeof(float));
  heights_read(t, hf, directory, lo, hi);
  t->split_distance = (float *)zalloc(size_t(t->node_count) * sizeof(float));
  t->split_distance_next = (float *)zalloc(size_t(t->node_count) * sizeof(float));
  t->lod_done_stamp = -1;
  lod_error_update(t, 0x7fffffff);
  datafile_close(hf);

  static const char *method_lines[4] = {
      "Something went wrong setting up terrain texture rendering!",
      "Terrain texture rendering with TexSubImage",
      "Terrain texture rendering with CopyTexSubImage",
      "Terrain texture rendering with framebuffer objects"};
  if (s_config.has_hooks && s_config.hooks.choose_method) {
    t->render_method = s_config.hooks.choose_method(t, render_method);
  } else {
    t->render_method = render_method;
    t->normal_mapped = 0;
  }
  velk_log("%s\n", method_lines[t->render_method >= 1 && t->render_method <= 3 ? t->render_method : 0]);

  if (!shading_read(t, directory)) return load_fail(t, nullptr);
  if (!shadows_read(t, directory)) return load_fail(t, nullptr);
  if (s_config.debug_level >= 1)
    velk_log("%lu bytes texture memory used before ground tiles loaded\n", texture_memory());
  DataFile *table = open_track_file(directory, "tileinfo", "rb", 0);
  if (table) {
    surface_table_read(t, table);
  } else {
    table = open_track_file(directory, "texturelist", "rb", 1);
    if (!table) return load_fail(t, nullptr);
    texturelist_read(t, table);
  }
  datafile_close(table);
  if (t->surface_count == 0) {
    // Every tile would name a type that holds no data.
    show_message("No surface types in 'tileinfo' or 'texturelist'");
    return load_fail(t, nullptr);
  }
  if (s_config.debug_level >= 1)
    velk_log("%lu bytes texture memory used after ground tiles loaded\n", texture_memory());
  if (!tilemap_read(t, directory)) return load_fail(t, nullptr);
  if (t->normal_mapped) normal_shadow_map_fill(t);

  int blocks = 1 << (2 * (n - MIN_SIZE_LOG2));
  t->block_slots = (int *)zalloc(sizeof(int) * size_t(blocks));
  for (int i = 0; i < blocks; i++) t->block_slots[i] = -1;
  if (t->render_method != 1) {
    // Low-detail squares of 384 samples with 64 of overlap on each side.
    t->low_detail_count = ((t->samples - 1) / 128 + 2) / 3;
    if (s_config.debug_level >= 1)
      velk_log("%dx%d low detail textures needed for %dx%d field\n", t->low_detail_count,
               t->low_detail_count, t->samples, t->samples);
  }
  if (s_config.has_hooks && s_config.hooks.create_textures) s_config.hooks.create_textures(t);
  if (t->render_method != 1 && s_config.debug_level >= 1)
    velk_log("%lu bytes texture memory used after low detail ground textures\n", texture_memory());

  DataFile *decals = open_track_file(directory, "decals", "rb", 0);
  if (decals) {
    decals_read(t, decals);
    datafile_close(decals);
  }
  return 1;
}

// ---- saving ----
static DataFile *save_open(const Terrain *t, const char *file) {
  char path[1100];
  snprintf(path, sizeof path, "%s/%s", t->directory, file);
  DataFile *f = datafile_open(path, "wb");
  if (!f) show_messagef("Can't open '%s'", file);
  return f;
}

static int write_ppm(const Terrain *t, const char *file, int doubled) {
  DataFile *f = save_open(t, file);
  if (!f) return 0;
  int n = t->samples;
  datafile_printf(f, "P6\n%d %d\n255\n", n, n);
  size_t count = size_t(n) * n * 3;
  uint8_t *out = (uint8_t *)malloc(count);
  if (!out) fatal_out_of_memory();
  for (size_t i = 0; i < count; i++) {
    int v = doubled ? t->shading[i] * 2 : t->shading[i];
    out[i] = uint8_t(v > 255 ? 255 : v);
  }
  size_t wrote = datafile_write(f, out, count);
  free(out);
  datafile_close(f);
  return wrote == count;
}

int terrain_save(Terrain *t) {
  if (!t->heights) return 0;
  int n = t->samples;
  size_t count = size_t(n) * n;
  float lo = t->heights[0], hi = t->heights[0];
  for (size_t i = 1; i < count; i++) {
    if (t->heights[i] < lo) lo = t->heights[i];
    if (t->heights[i] > hi) hi = t->heights[i];
  }
  t->min_height = lo;
  t->max_height = hi;
  DataFile *f = save_open(t, "terrain.hf");
  if (!f) return 0;
  datafile_printf(f, "%d %f %f %f\n", t->size_log2, t->spacing, lo, hi);
  datafile_close(f);

  uint16_t *values = (uint16_t *)malloc(count * sizeof(uint16_t));
  if (!values) fatal_out_of_memory();
  for (size_t i = 0; i < count; i++)
    values[i] = hi > lo ? uint16_t((t->heights[i] - lo) / (hi - lo) * 65535.0f + 0.5f) : 0;
  char path[1100];
  snprintf(path, sizeof path, "%s/terrain.png", t->directory);
  int ok = png_write_grey16(path, values, n, n);
  free(values);
  if (!ok) {
    show_message("Can't open 'terrain.png'");
    return 0;
  }
  if (!write_ppm(t, "shading.ppm", 1)) return 0;
  if (!write_ppm(t, "shadingx2.ppm", 0)) return 0;
  f = save_open(t, "tilemap");
  if (!f) return 0;
  size_t tiles = size_t(1) << (2 * t->size_log2);
  ok = datafile_write(f, t->tile_map, tiles) == tiles;
  datafile_close(f);
  if (!ok) return 0;
  if (t->has_decals) {
    f = save_open(t, "decals");
    if (!f) return 0;
    for (int k = 0; k < t->decals.count; k++) {
      const Decal *d = (const Decal *)growable_at(&t->decals, k);
      const char *name = d->texture ? texture_name(d->texture) : image_name(d->image);
      datafile_printf(f, "[%f %f] %f %f %f %s\n", d->x, d->z, d->angle, d->size, d->aspect,
                      name ? name : d->name);
    }
    datafile_close(f);
  }
  return 1;
}

void terrain_reset_for_tests() {
  if (s_terrain) {
    terrain_unload(s_terrain);
    free(s_terrain);
    s_terrain = nullptr;
  }
  s_config = {0, 1.0f, {}, 0};
}
