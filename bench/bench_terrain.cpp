// Terrain sampling per call against a bare bilinear lookup on the same grid.
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdlib.h>

#include <vector>

#include "core/common.h"
#include "files/files.h"
#include "render/texture.h"
#include "terrain/terrain.h"

namespace {

constexpr int N_LOG2 = 9;  // a track-sized field: 1025 x 1025 samples
constexpr int POINTS = 4096;

struct Field {
  Terrain *t;
  std::vector<float> xs[2], zs[2];  // [0] along a ridden path, [1] scattered over the field
  Field() {
    t = (Terrain *)calloc(1, sizeof(Terrain));
    t->size_log2 = N_LOG2;
    t->samples = (2 << N_LOG2) + 1;
    t->spacing = 2.0f;
    t->extent = (t->samples - 1) * t->spacing;
    t->tile_size = 2 * t->spacing;
    size_t n = size_t(t->samples) * t->samples;
    t->heights = (float *)malloc(n * sizeof(float));
    for (int r = 0; r < t->samples; r++)
      for (int c = 0; c < t->samples; c++)
        t->heights[size_t(r) * t->samples + c] = 20 * sinf(c * 0.01f) * cosf(r * 0.013f);
    Mt19937 mt;
    mt_seed(&mt, 5489);
    // A wheel moves about 0.3 ft per tick at 40 ft/s: a winding path of such steps.
    float x = 700, z = 900, heading = 0;
    for (int i = 0; i < POINTS; i++) {
      heading += ((mt_next(&mt) & 0xffff) / 65536.0f - 0.5f) * 0.2f;
      x += 0.3f * cosf(heading);
      z += 0.3f * sinf(heading);
      xs[0].push_back(x);
      zs[0].push_back(z);
    }
    // The worst case for the caches: points spread over the field, a little beyond it too.
    for (int i = 0; i < POINTS; i++) {
      xs[1].push_back((mt_next(&mt) & 0xffffff) / 16777216.0f * (t->extent + 20) - 10);
      zs[1].push_back((mt_next(&mt) & 0xffffff) / 16777216.0f * (t->extent + 20) - 10);
    }
  }
};

Field &field() {
  static Field f;
  return f;
}

// The baseline: clamp, floor, four samples, two lerps. Not inlined, as terrain_height is
// not: every caller reaches the ground through a call.
__attribute__((noinline)) float bilinear(const Terrain *t, float x, float z) {
  float fx = x / t->spacing, fz = z / t->spacing;
  float last = float(t->samples - 1);
  fx = fx > 0 ? (fx < last ? fx : last) : 0;
  fz = fz > 0 ? (fz < last ? fz : last) : 0;
  int i = (int)fx, j = (int)fz;
  i = i < t->samples - 2 ? i : t->samples - 2;
  j = j < t->samples - 2 ? j : t->samples - 2;
  float u = fx - i, v = fz - j;
  const float *h = t->heights + size_t(j) * t->samples + i;
  float a = h[0] + u * (h[1] - h[0]);
  float b = h[t->samples] + u * (h[t->samples + 1] - h[t->samples]);
  return a + v * (b - a);
}

void BM_bilinear_baseline(benchmark::State &state) {
  Field &f = field();
  const std::vector<float> &xs = f.xs[state.range(0)], &zs = f.zs[state.range(0)];
  int k = 0;
  for (auto _ : state) {
    float h = bilinear(f.t, xs[k], zs[k]);
    benchmark::DoNotOptimize(h);
    k = (k + 1) & (POINTS - 1);
  }
}
BENCHMARK(BM_bilinear_baseline)->ArgName("scattered")->Arg(0)->Arg(1);

void BM_terrain_height(benchmark::State &state) {
  Field &f = field();
  const std::vector<float> &xs = f.xs[state.range(0)], &zs = f.zs[state.range(0)];
  int k = 0;
  for (auto _ : state) {
    float h = terrain_height(f.t, xs[k], zs[k]);
    benchmark::DoNotOptimize(h);
    k = (k + 1) & (POINTS - 1);
  }
}
BENCHMARK(BM_terrain_height)->ArgName("scattered")->Arg(0)->Arg(1);

void BM_terrain_normal(benchmark::State &state) {
  Field &f = field();
  const std::vector<float> &xs = f.xs[state.range(0)], &zs = f.zs[state.range(0)];
  int k = 0;
  for (auto _ : state) {
    Vec3 n;
    terrain_normal(f.t, xs[k], zs[k], &n);
    benchmark::DoNotOptimize(n);
    k = (k + 1) & (POINTS - 1);
  }
}
BENCHMARK(BM_terrain_normal)->ArgName("scattered")->Arg(0)->Arg(1);

// The split distances of the whole field, as the load computes them.
void BM_lod_error_full(benchmark::State &state) {
  Field &f = field();
  Terrain *t = f.t;
  t->node_count = int(((int64_t(1) << (2 * (N_LOG2 + 1))) - 1) / 3);
  t->split_distance = (float *)calloc(size_t(t->node_count), sizeof(float));
  t->split_distance_next = (float *)calloc(size_t(t->node_count), sizeof(float));
  t->lod_tolerance = 0.125f;
  for (auto _ : state) {
    t->lod_level = -1;
    t->lod_done_stamp = -1;
    benchmark::DoNotOptimize(lod_error_update(t, 0x7fffffff));
  }
  free(t->split_distance);
  free(t->split_distance_next);
  t->split_distance = t->split_distance_next = nullptr;
}
BENCHMARK(BM_lod_error_full)->Unit(benchmark::kMillisecond);

// The terrain part of loading the starter track, headless, and the share of it that is
// the split-distance computation.
void BM_load_rabbithill_terrain(benchmark::State &state) {
  setenv("DV_HOME", DV_BINARY_DIR, 1);
  datafile_reset_for_tests();
  Terrain *t = terrain_current();
  for (auto _ : state) {
    // Arg 1: the first load of a session, every surface texture read and decoded.
    if (state.range(0)) texture_reset_for_tests();
    texture_new_generation();
    if (!terrain_load(t, "@rabbithill", 2)) {
      state.SkipWithError("no starter data (build the starter_data target)");
      break;
    }
    texture_purge();
  }
}
BENCHMARK(BM_load_rabbithill_terrain)->ArgName("cold")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_lod_rabbithill(benchmark::State &state) {
  Terrain *t = terrain_current();
  if (!t->heights) {
    state.SkipWithError("no terrain loaded");
    return;
  }
  for (auto _ : state) {
    t->lod_level = -1;
    t->lod_done_stamp = -1;
    benchmark::DoNotOptimize(lod_error_update(t, 0x7fffffff));
  }
}
BENCHMARK(BM_lod_rabbithill)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
