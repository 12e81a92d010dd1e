// Terrain internals shared by the loader, the surface table and the level-of-detail code.
#pragma once
#include <cstdint>

#include "terrain/terrain.h"

int terrain_debug_level();
// Tells the renderer (when there is one) that samples (c0, r0)-(c1, r1) changed.
void terrain_mark_dirty(Terrain *t, int c0, int r0, int c1, int r1);

// Quadtree nodes of a field with 2^n tiles per side: levels 0 ... n.
inline int lod_node_count(int n) { return int(((int64_t(1) << (2 * (n + 1))) - 1) / 3); }
// Index of node (i, j) of level `level` in every per-node array.
inline int lod_node_index(int level, int i, int j) {
  return int(((int64_t(1) << (2 * level)) - 1) / 3) + (j << level) + i;
}

// A normal component as a byte of the normal map: trunc(127 v), limited, plus 128.
inline uint8_t normal_byte(float v) {
  int b = (int)(127.0f * v);
  b = b < -127 ? -127 : b > 127 ? 127 : b;
  return uint8_t(b + 128);
}
