// Level of detail: the split distance of every quadtree node, computed in resumable steps.
#include <math.h>
#include <string.h>

#include "terrain/terrain.h"
#include "terrain/terrain_local.h"

constexpr int WORK_PER_NODE = 10;

// Height of the node's own two-triangle surface at sample (c, r) of the node whose corner
// samples are (c0, r0) and (c0 + m, r0 + m); the diagonal alternates as in terrain_height.
// `inv_m` is 1/m, exact as m is a power of two.
static inline float node_plane(const float *h, int n, int c0, int r0, int m, float inv_m, int odd,
                               int c, int r) {
  float u = float(c - c0) * inv_m, v = float(r - r0) * inv_m;
  int cx, cz, dx, dz;
  float a, b;
  if (odd) {
    if (u + v <= 1.0f) cx = c0, cz = r0, dx = m, dz = m, a = u, b = v;
    else cx = c0 + m, cz = r0 + m, dx = -m, dz = -m, a = 1.0f - u, b = 1.0f - v;
  } else {
    if (v <= u) cx = c0 + m, cz = r0, dx = -m, dz = m, a = 1.0f - u, b = v;
    else cx = c0, cz = r0 + m, dx = m, dz = -m, a = u, b = 1.0f - v;
  }
  float h0 = h[cz * n + cx];
  return h0 + a * (h[cz * n + cx + dx] - h0) + b * (h[(cz + dz) * n + cx] - h0);
}

// Split distance of a finished node from its deviation and, above the finest level, from
// its children and the child-level cells around them (already in `next`).
static float node_split(const Terrain *t, int level, int i, int j, float dev) {
  float r = 0.70710678f * t->extent / float(1 << level);
  float own = dev / t->lod_tolerance + r;
  own *= own;
  if (level == t->size_log2) return own;
  static const int around[8][2] = {{0, -1}, {1, -1}, {2, 0}, {2, 1}, {1, 2}, {0, 2}, {-1, 1}, {-1, 0}};
  const float *next = t->split_distance_next;
  int child = level + 1, side = 1 << child, ci = 2 * i, cj = 2 * j;
  float a = 0;
  for (int k = 0; k < 8; k++) {
    int x = ci + around[k][0], z = cj + around[k][1];
    if (x < 0 || z < 0 || x >= side || z >= side) continue;
    float v = next[lod_node_index(child, x, z)];
    if (v > a) a = v;
  }
  float b = sqrtf(a) + t->extent / float(1 << level) * 3.16227766f * (1025.0f / 2048.0f);
  b *= b;
  float c = 0;
  for (int k = 0; k < 4; k++) {
    float v = next[lod_node_index(child, ci + (k & 1), cj + (k >> 1))];
    if (v > c) c = v;
  }
  float split = own;
  if (b > split) split = b;
  if (c > split) split = c;
  return split;
}

int lod_error_update(Terrain *t, int budget) {
  if (!t->heights) return 1;
  if (t->lod_level < 0) {
    if (t->lod_done_stamp == t->change_count) return 1;
    t->lod_level = t->size_log2;  // finest level first
    t->lod_node = 0;
    t->lod_row = 0;
    t->lod_partial = 0;
    t->lod_pass_stamp = t->change_count;
  }
  const float *h = t->heights;
  int n = t->samples;
  long work = 0;
  while (t->lod_level >= 0) {
    int level = t->lod_level, side = 1 << level, m = (n - 1) >> level;
    float inv_m = 1.0f / float(m);
    while (t->lod_node < side * side) {
      int i = t->lod_node % side, j = t->lod_node / side;
      int c0 = i * m, r0 = j * m, odd = (i + j) & 1;
      float dev = t->lod_partial;
      while (t->lod_row <= m) {
        int r = r0 + t->lod_row;
        const float *row = h + size_t(r) * n;
        for (int c = c0; c <= c0 + m; c++) {
          float d = fabsf(row[c] - node_plane(h, n, c0, r0, m, inv_m, odd, c, r));
          if (d > dev) dev = d;
        }
        t->lod_row++;
        work += m + 1;
        if (work >= budget && t->lod_row <= m) {
          t->lod_partial = dev;
          return 0;
        }
      }
      t->split_distance_next[lod_node_index(level, i, j)] = node_split(t, level, i, j, dev);
      t->lod_node++;
      t->lod_row = 0;
      t->lod_partial = 0;
      work += WORK_PER_NODE;
      if (work >= budget && !(level == 0 && t->lod_node == side * side)) return 0;
    }
    t->lod_level--;
    t->lod_node = 0;
  }
  float *swap = t->split_distance;
  t->split_distance = t->split_distance_next;
  t->split_distance_next = swap;
  t->lod_done_stamp = t->lod_pass_stamp;
  t->lod_level = -1;
  return t->lod_done_stamp == t->change_count;
}
