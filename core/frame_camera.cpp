// Camera helpers of the frame loop: the smoothed ground height that keeps cameras above
// bumps without jitter.
#include <cmath>

#include "core/frame.h"
#include "terrain/terrain.h"

float smoothed_ground_height(const Terrain *t, float x, float z, float r) {
  float s = t->spacing;
  int last = t->samples - 1;
  auto clamp_index = [last](int i) { return i < 0 ? 0 : i > last ? last : i; };
  int c0 = (int)std::floor((x - r) / s), c1 = (int)std::ceil((x + r) / s);
  int r0 = (int)std::floor((z - r) / s), r1 = (int)std::ceil((z + r) / s);
  double sum = 0, weights = 0;
  for (int j = r0; j <= r1; j++) {
    for (int i = c0; i <= c1; i++) {
      float dx = i * s - x, dz = j * s - z;
      float d = std::sqrt(dx * dx + dz * dz);
      float w = d < r ? 1.0f : d < r + s ? (r + s - d) / s : 0.0f;
      if (w <= 0) continue;
      sum += w * t->heights[clamp_index(j) * t->samples + clamp_index(i)];
      weights += w;
    }
  }
  if (weights <= 0) return t->heights[clamp_index(r0) * t->samples + clamp_index(c0)];
  return (float)(sum / weights);
}
