// Collision shapes: the .shp reader and the shape registry by name and generation.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "core/common.h"
#include "core/frame.h"
#include "platform/velk.h"
#include "render/model.h"
#include "render/model_local.h"
#include "render/texture.h"

constexpr int MAX_SHAPE_SPHERES = 1 << 20;
constexpr size_t MAX_SHAPE_FILE = size_t(64) << 20;  // bytes

// ---- per session: the shape registry ----
static struct {
  Growable shapes;  // ShapeData *
  int ready;
} s_shapes;

// Reads the next decimal number as %f would; 0 at the end of the text or on garbage.
static int next_float(const char **p, const char *end, float *out) {
  const char *s = *p;
  while (s < end && (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\f' || *s == '\v')) s++;
  char buffer[64];
  size_t n = 0;
  while (s + n < end && n < sizeof buffer - 1 && !strchr(" \t\n\r\f\v", s[n])) {
    buffer[n] = s[n];
    n++;
  }
  buffer[n] = 0;
  char *stop;
  float v = strtof(buffer, &stop);
  if (stop == buffer) return 0;
  *p = s + (stop - buffer);
  *out = v;
  return 1;
}

int shape_parse(const char *text, size_t size, ShapeSphere **spheres, int *count) {
  const char *p = text, *end = text + size;
  float k;
  if (!next_float(&p, end, &k) || !(k >= 0) || k > MAX_SHAPE_SPHERES || k != floorf(k)) return 0;
  int n = (int)k;
  // Each sphere needs at least seven numbers of two bytes; refuse counts the text cannot hold.
  if (size_t(n) * 14 > size + 14) return 0;
  ShapeSphere *out = (ShapeSphere *)calloc(size_t(n ? n : 1), sizeof(ShapeSphere));
  if (!out) fatal_out_of_memory();
  for (int i = 0; i < n; i++) {
    ShapeSphere *s = &out[i];
    float *fields[7] = {&s->x, &s->y, &s->z, &s->radius, &s->extra[0], &s->extra[1], &s->extra[2]};
    for (int f = 0; f < 7; f++)
      if (!next_float(&p, end, fields[f])) {
        free(out);
        return 0;
      }
  }
  *spheres = out;
  *count = n;
  return 1;
}

static float bounding_radius_of(const ShapeSphere *s, int count) {
  float r = 0;
  for (int i = 0; i < count; i++) {
    float d = sqrtf(s[i].x * s[i].x + s[i].y * s[i].y + s[i].z * s[i].z) + s[i].radius;
    if (d > r) r = d;
  }
  return r;
}

static ShapeData *shape_find(const char *name) {
  for (int i = 0; i < s_shapes.shapes.count; i++) {
    ShapeData *d = *(ShapeData **)growable_at(&s_shapes.shapes, i);
    if (!strcmp(d->name, name)) return d;
  }
  for (int i = 0; i < s_shapes.shapes.count; i++) {
    ShapeData *d = *(ShapeData **)growable_at(&s_shapes.shapes, i);
    if (!strcasecmp(d->name, name)) {
      show_messagef("Warning: case mismatch on '%.900s'", name);
      return d;
    }
  }
  return nullptr;
}

Shape *shape_load(const char *name) {
  if (!name || !*name) return nullptr;
  if (!s_shapes.ready) {
    growable_init(&s_shapes.shapes, sizeof(ShapeData *));
    s_shapes.ready = 1;
  }
  ShapeData *d = shape_find(name);
  if (d) {
    if (d->generation != 0) d->generation = texture_generation();
  } else {
    uint8_t *data;
    size_t size;
    if (!data_read_all(name, &data, &size, MAX_SHAPE_FILE)) return nullptr;
    ShapeSphere *spheres;
    int count;
    int ok = shape_parse((const char *)data, size, &spheres, &count);
    free(data);
    if (!ok) return nullptr;
    d = (ShapeData *)calloc(1, sizeof(ShapeData));
    if (!d) fatal_out_of_memory();
    d->name = strdup(name);
    if (!d->name) fatal_out_of_memory();
    d->count = count;
    d->spheres = spheres;
    d->bounding_radius = bounding_radius_of(spheres, count);
    d->generation = texture_generation();
    growable_push(&s_shapes.shapes, &d);
  }
  Shape *copy = (Shape *)calloc(1, sizeof(Shape));
  if (!copy) fatal_out_of_memory();
  copy->source = d;
  copy->count = d->count;
  copy->bounding_radius = d->bounding_radius;
  copy->spheres = (ShapeSphere *)malloc(sizeof(ShapeSphere) * size_t(d->count ? d->count : 1));
  if (!copy->spheres) fatal_out_of_memory();
  memcpy(copy->spheres, d->spheres, sizeof(ShapeSphere) * size_t(d->count));
  return copy;
}

void shape_free(Shape *shape) {
  if (!shape) return;
  free(shape->spheres);
  free(shape);
}

static void shape_data_free(ShapeData *d) {
  free(d->name);
  free(d->spheres);
  free(d);
}

void shape_purge(int debug_level) {
  if (!s_shapes.ready) return;
  int current = texture_generation();
  for (int i = s_shapes.shapes.count - 1; i >= 0; i--) {
    ShapeData *d = *(ShapeData **)growable_at(&s_shapes.shapes, i);
    if (d->generation == 0 || d->generation == current) continue;
    if (debug_level >= 1) show_messagef("deleting shape %.900s", d->name);
    shape_data_free(d);
    ShapeData **items = (ShapeData **)s_shapes.shapes.data;
    memmove(items + i, items + i + 1, sizeof(ShapeData *) * size_t(s_shapes.shapes.count - i - 1));
    s_shapes.shapes.count--;
  }
}

void shape_reset_for_tests() {
  if (s_shapes.ready) {
    for (int i = 0; i < s_shapes.shapes.count; i++) shape_data_free(*(ShapeData **)growable_at(&s_shapes.shapes, i));
    growable_free(&s_shapes.shapes);
  }
  s_shapes = {};
}
