// Models: the .jm mesh reader (parts, bone weights, tangents), the registry by name and
// generation and the level-of-detail variants. Display lists and drawing are the renderer's.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "core/common.h"
#include "core/frame.h"
#include "files/files.h"
#include "platform/velk.h"
#include "render/model.h"
#include "render/model_local.h"
#include "render/texture.h"

constexpr size_t MAX_MODEL_FILE = size_t(64) << 20;  // bytes
constexpr int MAX_BONES = 256;
constexpr float MIN_DETERMINANT = 9.5367431640625e-07f;  // 2^-20

// ---- per session: the model registry ----
static struct {
  Growable models;  // Model *
  int ready;
  int debug_level;
} s_models;

void model_set_debug_level(int debug_level) { s_models.debug_level = debug_level; }

static void *zalloc(size_t count, size_t size) {
  void *p = calloc(count ? count : 1, size);
  if (!p) fatal_out_of_memory();
  return p;
}

static char *copy_string(const char *s) {
  char *p = strdup(s);
  if (!p) fatal_out_of_memory();
  return p;
}

// ---- reading numbers as scanf's %f and %d would ----
struct Cursor {
  const char *p, *end;
};

static void skip_space(Cursor *c) {
  while (c->p < c->end && strchr(" \t\n\r\f\v", *c->p) && *c->p) c->p++;
}

static int read_float(Cursor *c, float *out) {
  skip_space(c);
  char buffer[64];
  size_t n = 0;
  while (c->p + n < c->end && n < sizeof buffer - 1 && c->p[n] && !strchr(" \t\n\r\f\v", c->p[n])) {
    buffer[n] = c->p[n];
    n++;
  }
  buffer[n] = 0;
  char *stop;
  float v = strtof(buffer, &stop);
  if (stop == buffer) return 0;
  c->p += stop - buffer;
  *out = v;
  return 1;
}

static int read_int(Cursor *c, int *out) {
  skip_space(c);
  char buffer[32];
  size_t n = 0;
  while (c->p + n < c->end && n < sizeof buffer - 1 && c->p[n] && !strchr(" \t\n\r\f\v", c->p[n])) {
    buffer[n] = c->p[n];
    n++;
  }
  buffer[n] = 0;
  char *stop;
  long v = strtol(buffer, &stop, 10);
  if (stop == buffer || v < -2147483647L || v > 2147483647L) return 0;
  c->p += stop - buffer;
  *out = (int)v;
  return 1;
}

// ---- parts ----
static void part_free(ModelPart *part) {
  free(part->positions);
  free(part->normals);
  free(part->bind_positions);
  free(part->bind_normals);
  free(part->tangents);
  free(part->texcoords);
  free(part->bone_weights);
  free(part->bone_indices);
  free(part->triangles);
  free(part->name);
  free(part);
}

// Keeps the four largest positive weights of a vertex, normalised; none gives bone 0.
static void keep_four_weights(const float *weights, int bones, float out_w[4], int out_b[4],
                              int *warned, const char *name) {
  for (int k = 0; k < 4; k++) out_w[k] = 0, out_b[k] = 0;
  for (int b = 0; b < bones; b++) {
    if (!(weights[b] > 0)) continue;
    int smallest = 0;
    for (int k = 1; k < 4; k++)
      if (out_w[k] < out_w[smallest]) smallest = k;
    if (out_w[smallest] > 0 && !*warned) {
      show_messagef("Warning: vertex with more than 4 bone influences in '%.900s'", name);
      *warned = 1;
    }
    if (weights[b] > out_w[smallest]) out_w[smallest] = weights[b], out_b[smallest] = b;
  }
  float sum = out_w[0] + out_w[1] + out_w[2] + out_w[3];
  if (sum > 0) {
    for (int k = 0; k < 4; k++) out_w[k] /= sum;
  } else {
    for (int k = 0; k < 4; k++) out_w[k] = 0.25f, out_b[k] = 0;
  }
}

// Tangents: the direction of increasing u on each triangle, summed per vertex.
static void part_tangents(ModelPart *part) {
  int V = part->vertex_count;
  part->tangents = (float *)zalloc(size_t(V) * 3, sizeof(float));
  for (int f = 0; f < part->triangle_count; f++) {
    const int *tri = part->triangles + 3 * f;
    const float *p0 = part->positions + 3 * tri[0], *p1 = part->positions + 3 * tri[1],
                *p2 = part->positions + 3 * tri[2];
    const float *t0 = part->texcoords + 2 * tri[0], *t1 = part->texcoords + 2 * tri[1],
                *t2 = part->texcoords + 2 * tri[2];
    Vec3 e1 = vec3(p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]);
    Vec3 e2 = vec3(p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]);
    float du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1], du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
    float det = du1 * dv2 - du2 * dv1;
    Vec3 tangent;
    if (fabsf(det) < MIN_DETERMINANT) {
      tangent = (vec3_dot(e1, e1) >= vec3_dot(e2, e2) ? e1 : e2) * MIN_DETERMINANT;
    } else {
      // Row of the inverse texture-edge matrix that maps edges to d/du; the sign of the
      // determinant keeps it agreeing with the triangle's winding.
      tangent = (e1 * dv2 - e2 * dv1) * (1.0f / det);
    }
    for (int k = 0; k < 3; k++) {
      float *t = part->tangents + 3 * tri[k];
      t[0] += tangent.x, t[1] += tangent.y, t[2] += tangent.z;
    }
  }
  for (int v = 0; v < V; v++) {
    float *t = part->tangents + 3 * v;
    Vec3 n = vec3_normalize(vec3(t[0], t[1], t[2]));
    t[0] = n.x, t[1] = n.y, t[2] = n.z;
  }
}

// Reads V vertices and F triangles into a new part; null when a number is missing, a
// count is impossible or a triangle names a vertex the part does not have.
static ModelPart *part_read(Cursor *c, int V, int F, int bones, const char *name) {
  size_t left = size_t(c->end - c->p);
  // Every number takes at least two bytes: refuse counts the text cannot hold.
  if (V <= 0 || F < 0 || size_t(V) * (8 + size_t(bones)) > left / 2 + 1 || size_t(F) * 3 > left / 2 + 1)
    return nullptr;
  ModelPart *part = (ModelPart *)zalloc(1, sizeof(ModelPart));
  part->vertex_count = V;
  part->triangle_count = F;
  part->bone_count = bones;
  part->positions = (float *)zalloc(size_t(V) * 3, sizeof(float));
  part->normals = (float *)zalloc(size_t(V) * 3, sizeof(float));
  part->texcoords = (float *)zalloc(size_t(V) * 2, sizeof(float));
  part->triangles = (int *)zalloc(size_t(F) * 3, sizeof(int));
  part->name = copy_string(name);
  float *weights = nullptr;
  if (bones > 0) {
    part->bone_weights = (float *)zalloc(size_t(V) * 4, sizeof(float));
    part->bone_indices = (int *)zalloc(size_t(V) * 4, sizeof(int));
    weights = (float *)zalloc(size_t(bones), sizeof(float));
  }
  int ok = 1, warned = 0;
  for (int v = 0; v < V && ok; v++) {
    float *p = part->positions + 3 * v, *n = part->normals + 3 * v, *t = part->texcoords + 2 * v;
    ok = read_float(c, &p[0]) && read_float(c, &p[1]) && read_float(c, &p[2]) && read_float(c, &n[0]) &&
         read_float(c, &n[1]) && read_float(c, &n[2]) && read_float(c, &t[0]) && read_float(c, &t[1]);
    t[1] = 1.0f - t[1];
    for (int b = 0; b < bones && ok; b++) ok = read_float(c, &weights[b]);
    if (ok && bones > 0)
      keep_four_weights(weights, bones, part->bone_weights + 4 * v, part->bone_indices + 4 * v, &warned, name);
  }
  for (int i = 0; i < F * 3 && ok; i++) {
    ok = read_int(c, &part->triangles[i]);
    if (ok && (part->triangles[i] < 0 || part->triangles[i] >= V)) ok = 0;
  }
  free(weights);
  if (!ok) {
    part_free(part);
    return nullptr;
  }
  if (bones > 0) {
    part->bind_positions = (float *)zalloc(size_t(V) * 3, sizeof(float));
    part->bind_normals = (float *)zalloc(size_t(V) * 3, sizeof(float));
    memcpy(part->bind_positions, part->positions, sizeof(float) * 3 * size_t(V));
    memcpy(part->bind_normals, part->normals, sizeof(float) * 3 * size_t(V));
  }
  part_tangents(part);
  return part;
}

void model_free(Model *m) {
  while (m) {
    Model *next = m->lod_next;
    for (ModelPart *p = m->parts; p;) {
      ModelPart *after = p->next;
      part_free(p);
      p = after;
    }
    free(m->name);
    free(m);
    m = next;
  }
}

Model *model_parse(const char *text, size_t size, const char *name) {
  Cursor c = {text, text + size};
  ModelPart *first = nullptr, **tail = &first;
  skip_space(&c);
  if (size_t(c.end - c.p) >= 2 && c.p[0] == 'J' && c.p[1] == 'M') {
    c.p += 2;
    int version, bones = 0;
    if (!read_int(&c, &version) || (version != 1 && version != 2)) return nullptr;
    if (version == 2) {
      if (!read_int(&c, &bones) || bones < 0 || bones > MAX_BONES) return nullptr;
      skip_space(&c);
      while (c.p < c.end && !strchr(" \t\n\r\f\v", *c.p)) c.p++;  // the rig's name, unused
    }
    for (;;) {
      float shininess, alpha, r, g, b;
      int V, F;
      if (!read_float(&c, &shininess) || !read_float(&c, &alpha) || !read_float(&c, &r) ||
          !read_float(&c, &g) || !read_float(&c, &b) || !read_int(&c, &V) || !read_int(&c, &F))
        break;
      ModelPart *part = part_read(&c, V, F, bones, name);
      if (!part) break;  // the model ends at the previous part
      part->shininess = shininess;
      part->environment_mapped = shininess == -1.0f;
      part->colour[0] = r, part->colour[1] = g, part->colour[2] = b;
      part->colour[3] = shininess >= 0 ? 1.0f : alpha;
      *tail = part;
      tail = &part->next;
    }
  } else {
    int V, F;
    if (read_int(&c, &V) && read_int(&c, &F)) {
      first = part_read(&c, V, F, 0, name);
      if (first) {
        first->shininess = 32;
        for (int k = 0; k < 4; k++) first->colour[k] = 1.0f;
      }
    }
  }
  if (!first) return nullptr;
  Model *m = (Model *)zalloc(1, sizeof(Model));
  m->name = copy_string(name);
  m->parts = first;
  for (ModelPart *p = first; p; p = p->next) {
    if (p->environment_mapped) m->environment_mapped = 1;
    for (int v = 0; v < p->vertex_count; v++) {
      const float *q = p->positions + 3 * v;
      float d = sqrtf(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
      if (d > m->bounding_radius) m->bounding_radius = d;
    }
  }
  return m;
}

static Model *model_read(const char *name) {
  uint8_t *data;
  size_t size;
  if (!data_read_all(name, &data, &size, MAX_MODEL_FILE)) return nullptr;
  Model *m = model_parse((const char *)data, size, name);
  free(data);
  return m;
}

// Adds the "_lod<k>" variants of an '@' name found among the data names, sorted by their
// switch distance 2^k: rock.jm takes rock_lod6.jm and rock_lod7.jm.gz.
static void add_lod_variants(Model *m, const char *name) {
  const char *dot = strrchr(name + 1, '.');
  if (!dot) return;
  std::string stem(name + 1, size_t(dot - name - 1));
  const char *const *names = data_names();
  for (int i = 0; names && names[i]; i++) {
    const char *n = names[i];
    if (strncasecmp(n, stem.c_str(), stem.size()) || strncmp(n + stem.size(), "_lod", 4)) continue;
    const char *digits = n + stem.size() + 4;
    char *rest;
    long k = strtol(digits, &rest, 10);
    if (rest == digits || k < 0 || k > 30) continue;
    std::string variant = std::string("@") + n;
    if (variant.size() > 3 && !strcmp(variant.c_str() + variant.size() - 3, ".gz"))
      variant.resize(variant.size() - 3);
    Model *v = model_read(variant.c_str());
    if (!v) continue;
    v->lod_distance = float(1L << k);
    v->generation = m->generation;
    Model **at = &m->lod_next;
    while (*at && (*at)->lod_distance <= v->lod_distance) at = &(*at)->lod_next;
    v->lod_next = *at;
    *at = v;
  }
}

Model *model_load(const char *name) {
  if (!name || !*name) return nullptr;
  if (!s_models.ready) {
    growable_init(&s_models.models, sizeof(Model *));
    s_models.ready = 1;
  }
  Model *found = nullptr;
  for (int i = 0; i < s_models.models.count && !found; i++) {
    Model *m = *(Model **)growable_at(&s_models.models, i);
    if (!strcmp(m->name, name)) found = m;
  }
  for (int i = 0; i < s_models.models.count && !found; i++) {
    Model *m = *(Model **)growable_at(&s_models.models, i);
    if (!strcasecmp(m->name, name)) {
      show_messagef("Warning: case mismatch on '%.900s'", name);
      found = m;
    }
  }
  if (found) {
    if (found->generation != 0)
      for (Model *m = found; m; m = m->lod_next) m->generation = texture_generation();
    return found;
  }
  Model *m = model_read(name);
  if (!m) return nullptr;
  m->generation = texture_generation();
  if (name[0] == '@') add_lod_variants(m, name);
  growable_push(&s_models.models, &m);
  return m;
}

void model_purge() {
  if (s_models.ready) {
    int current = texture_generation();
    for (int i = s_models.models.count - 1; i >= 0; i--) {
      Model *m = *(Model **)growable_at(&s_models.models, i);
      if (m->generation == 0 || m->generation == current) continue;
      if (s_models.debug_level >= 1) show_messagef("deleting model %.900s", m->name);
      model_free(m);
      Model **items = (Model **)s_models.models.data;
      memmove(items + i, items + i + 1, sizeof(Model *) * size_t(s_models.models.count - i - 1));
      s_models.models.count--;
    }
  }
  shape_purge(s_models.debug_level);
}

void model_reset_for_tests() {
  if (s_models.ready) {
    for (int i = 0; i < s_models.models.count; i++) model_free(*(Model **)growable_at(&s_models.models, i));
    growable_free(&s_models.models);
  }
  s_models = {};
  shape_reset_for_tests();
}
