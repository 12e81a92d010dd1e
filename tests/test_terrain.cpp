// Terrain: sampling, loading and saving the terrain files, decals.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/frame.h"
#include "files/files.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "terrain/terrain_local.h"

// ---- helpers ----
static bool logged(const char *text) {
  const MessageLog *log = message_log();
  for (int i = 0; i < MESSAGE_LOG_LINES; i++)
    if (strstr(log->lines[i], text)) return true;
  return false;
}

// A terrain record in memory with n = 6 and the given height function; no files.
struct GridTerrain {
  Terrain *t;
  template <typename F>
  GridTerrain(float spacing, F height) {
    t = (Terrain *)calloc(1, sizeof(Terrain));
    t->size_log2 = 6;
    t->samples = (2 << 6) + 1;
    t->spacing = spacing;
    t->extent = (t->samples - 1) * spacing;
    t->tile_size = 2 * spacing;
    t->heights = (float *)calloc(size_t(t->samples) * t->samples, sizeof(float));
    for (int r = 0; r < t->samples; r++)
      for (int c = 0; c < t->samples; c++) t->heights[r * t->samples + c] = height(c * spacing, r * spacing);
  }
  ~GridTerrain() {
    free(t->heights);
    free(t);
  }
  float H(int c, int r) const {
    int last = t->samples - 1;
    c = c < 0 ? 0 : c > last ? last : c;
    r = r < 0 ? 0 : r > last ? last : r;
    return t->heights[r * t->samples + c];
  }
};

static float bumpy(float x, float z) { return 3.0f * sinf(0.05f * x) + 2.0f * cosf(0.07f * z) + 0.01f * x * z / 10; }

// A scratch directory holding one track's files, removed afterwards.
struct TrackDir {
  std::string path;
  TrackDir() {
    char tmpl[] = "/tmp/dvterrain_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TrackDir() { system(("rm -rf " + path).c_str()); }
  std::string file(const char *name) const { return path + "/" + name; }
  void write(const char *name, const std::string &data) const {
    FILE *f = fopen(file(name).c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
  }
  std::string read(const char *name) const {
    std::string out;
    FILE *f = fopen(file(name).c_str(), "rb");
    if (!f) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    fclose(f);
    return out;
  }
  bool exists(const char *name) const { return access(file(name).c_str(), F_OK) == 0; }
};

// Inline heights for n = 6 from a value function v(c, r).
template <typename F>
static std::string inline_hf(float spacing, float lo, float hi, F value) {
  int n = 129;
  char header[128];
  snprintf(header, sizeof header, "6 %f %f %f :", spacing, lo, hi);
  std::string out = header;
  for (int r = 0; r < n; r++)
    for (int c = 0; c < n; c++) {
      uint16_t v = value(c, r);
      out += char(v & 0xff);
      out += char(v >> 8);
    }
  return out;
}

static std::string ppm(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  std::string out = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int i = 0; i < w * h; i++) out += std::string{char(r), char(g), char(b)};
  return out;
}

// The four files a minimal track needs: flat inline heights, shading, texturelist, tilemap.
static void write_minimal_track(const TrackDir &d, int surfaces = 5) {
  d.write("terrain.hf", inline_hf(2.0f, 0.0f, 100.0f, [](int, int) { return 0; }));
  d.write("shading.ppm", ppm(129, 129, 255, 128, 10));
  std::string list;
  for (int i = 0; i < surfaces; i++) list += "0.9 4 12 dirt" + std::to_string(i) + ".png\n";
  d.write("texturelist", list);
  d.write("tilemap", std::string(64 * 64, '\1'));
}

class TerrainFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    terrain_reset_for_tests();
    texture_reset_for_tests();
    message_log_clear();
    t = terrain_current();
  }
  void TearDown() override {
    terrain_reset_for_tests();
    texture_reset_for_tests();
  }
  Terrain *t = nullptr;
  TrackDir dir;
};

// ---- sampling ----
TEST(TerrainSampling, DiagonalsAgreeFromBothTriangles) {
  GridTerrain g(2.0f, bumpy);
  const Terrain *t = g.t;
  struct Case { int i, j; float along; } cases[] = {
      {3, 4, 0.25f}, {3, 4, 0.5f}, {4, 4, 0.3f}, {10, 20, 0.9f}, {11, 20, 0.1f}, {0, 0, 0.5f}, {127, 127, 0.7f}};
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::Message() << "cell " << k.i << "," << k.j << " at " << k.along);
    float u = k.along, v = ((k.i + k.j) & 1) ? 1.0f - k.along : k.along;
    float x = (k.i + u) * 2.0f, z = (k.j + v) * 2.0f;
    // The diagonal's height is the mix of its two end samples, whichever triangle is used.
    float expect = ((k.i + k.j) & 1) ? g.H(k.i + 1, k.j) + v * (g.H(k.i, k.j + 1) - g.H(k.i + 1, k.j))
                                     : g.H(k.i, k.j) + u * (g.H(k.i + 1, k.j + 1) - g.H(k.i, k.j));
    EXPECT_NEAR(terrain_height(t, x, z), expect, 1e-4);
    // Just off the diagonal on either side the height is continuous.
    EXPECT_NEAR(terrain_height(t, x + 1e-3f, z), expect, 2e-2);
    EXPECT_NEAR(terrain_height(t, x - 1e-3f, z), expect, 2e-2);
  }
}

TEST(TerrainSampling, OutsideTheFieldContinuesTheBorder) {
  GridTerrain g(2.0f, bumpy);
  const Terrain *t = g.t;
  float e = t->extent;
  struct Case { float x, z, bx, bz; } cases[] = {
      {-5, 31, 0, 31}, {-1e6f, 31, 0, 31}, {e + 7, 17.5f, e, 17.5f}, {40.3f, -3, 40.3f, 0},
      {40.3f, e + 100, 40.3f, e}, {-9, -9, 0, 0}, {e + 3, e + 1e9f, e, e}, {-4, e + 0.5f, 0, e}};
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::Message() << k.x << "," << k.z);
    EXPECT_NEAR(terrain_height(t, k.x, k.z), terrain_height(t, k.bx, k.bz), 1e-4);
    Vec3 n;
    terrain_normal(t, k.x, k.z, &n);
    EXPECT_GT(n.y, 0);
  }
  // Values that are not numbers are sampled somewhere on the field, without a crash.
  float odd[] = {NAN, INFINITY, -INFINITY};
  for (float v : odd) {
    EXPECT_TRUE(isfinite(terrain_height(t, v, 10)));
    EXPECT_TRUE(isfinite(terrain_height(t, 10, v)));
  }
}

TEST(TerrainSampling, NormalMatchesFiniteDifferences) {
  const float s = 2.0f;
  GridTerrain g(s, bumpy);
  const Terrain *t = g.t;
  // Points well inside one triangle of cells of both parities.
  struct Case { float x, z; } cases[] = {{7.3f, 9.1f}, {7.7f, 9.6f}, {9.2f, 9.5f}, {9.8f, 8.3f},
                                         {100.4f, 33.7f}, {201.1f, 250.6f}, {55.5f, 120.2f}};
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::Message() << k.x << "," << k.z);
    const float e = 1e-2f;
    float dhdx = (terrain_height(t, k.x + e, k.z) - terrain_height(t, k.x - e, k.z)) / (2 * e);
    float dhdz = (terrain_height(t, k.x, k.z + e) - terrain_height(t, k.x, k.z - e)) / (2 * e);
    Vec3 n;
    terrain_normal(t, k.x, k.z, &n);
    EXPECT_FLOAT_EQ(n.y, s * s);
    EXPECT_NEAR(n.x, -s * s * dhdx, 2e-2);
    EXPECT_NEAR(n.z, -s * s * dhdz, 2e-2);
  }
}

TEST(TerrainSampling, VertexNormalOnPlaneAndParaboloid) {
  {
    GridTerrain g(2.0f, [](float x, float z) { return 0.3f * x - 0.2f * z + 5; });
    Vec3 expect = vec3_normalize(vec3(-0.3f, 1, 0.2f));
    int samples[][2] = {{1, 1}, {64, 64}, {127, 3}, {50, 100}};
    for (auto &p : samples) {
      SCOPED_TRACE(testing::Message() << "plane at " << p[0] << "," << p[1]);
      Vec3 n;
      terrain_vertex_normal(g.t, p[0], p[1], &n);
      EXPECT_NEAR(n.x, expect.x, 1e-5);
      EXPECT_NEAR(n.y, expect.y, 1e-5);
      EXPECT_NEAR(n.z, expect.z, 1e-5);
    }
  }
  {
    // h = k((x - 128)^2 + (z - 128)^2): the slope at a sample is 2k times its offset.
    const float k = 0.002f;
    GridTerrain g(2.0f, [k](float x, float z) { return k * ((x - 128) * (x - 128) + (z - 128) * (z - 128)); });
    int samples[][2] = {{64, 64}, {70, 64}, {64, 40}, {90, 20}, {30, 100}};
    for (auto &p : samples) {
      SCOPED_TRACE(testing::Message() << "paraboloid at " << p[0] << "," << p[1]);
      float x = p[0] * 2.0f, z = p[1] * 2.0f;
      Vec3 expect = vec3_normalize(vec3(-2 * k * (x - 128), 1, -2 * k * (z - 128)));
      Vec3 n;
      terrain_vertex_normal(g.t, p[0], p[1], &n);
      EXPECT_NEAR(vec3_length(n), 1.0f, 1e-5);
      EXPECT_NEAR(n.x, expect.x, 2e-3);
      EXPECT_NEAR(n.y, expect.y, 2e-3);
      EXPECT_NEAR(n.z, expect.z, 2e-3);
    }
  }
}

// ---- loading ----
TEST_F(TerrainFiles, MinimalTrackLoadsWithInlineHeights) {
  write_minimal_track(dir);
  dir.write("terrain.hf", inline_hf(2.0f, -10.0f, 55.535f, [](int c, int r) { return c * 100 + r; }));
  dir.write("tilemap", std::string(64 * 64 - 1, '\3') + char(200));
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 2), 1);
  EXPECT_EQ(t->samples, 129);
  EXPECT_FLOAT_EQ(t->extent, 256.0f);
  EXPECT_FLOAT_EQ(t->heights[5 * 129 + 7], -10.0f + 705 * 65.535f / 65535.0f);
  EXPECT_EQ(t->surface_count, 5);
  EXPECT_EQ(t->tile_map[0], 3);
  EXPECT_EQ(t->tile_map[64 * 64 - 1], 4);  // 200 with five types is the last type
  EXPECT_EQ(t->shading[0], 127);           // full colours are halved
  EXPECT_EQ(t->shading[1], 64);
  EXPECT_EQ(t->shading[2], 5);
  EXPECT_EQ(t->shadow_density[0], 0);
  EXPECT_FLOAT_EQ(t->surfaces[2].friction_points[0].coefficient, 0.9f);
  EXPECT_FALSE(t->has_decals);
  EXPECT_EQ(lod_error_update(t, 10), 1);  // the load computed the whole tree
}

TEST_F(TerrainFiles, PngHeightsRepeatTheLastRowAndCropColumns) {
  write_minimal_track(dir);
  dir.write("terrain.hf", "6 1.5 0 65535\n");  // no ':' -> terrain.png
  int w = 129 + 5, h = 129 - 3;
  std::vector<uint16_t> grey(size_t(w) * h);
  for (int r = 0; r < h; r++)
    for (int c = 0; c < w; c++) grey[size_t(r) * w + c] = uint16_t(c * 300 + r);
  ASSERT_EQ(png_write_grey16(dir.file("terrain.png").c_str(), grey.data(), w, h), 1);
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 1), 1);
  struct Case { int c, r, pc, pr; } cases[] = {{0, 0, 0, 0}, {128, 0, 128, 0}, {3, 125, 3, 125},
                                               {3, 126, 3, 125}, {128, 128, 128, 125}};
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::Message() << k.c << "," << k.r);
    EXPECT_FLOAT_EQ(t->heights[k.r * 129 + k.c], float(k.pc * 300 + k.pr));
  }
}

TEST_F(TerrainFiles, MissingPngLeavesTheFieldFlatAtLo) {
  write_minimal_track(dir);
  dir.write("terrain.hf", "6 1.5 12.5 40\n");
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 1), 1);
  EXPECT_FLOAT_EQ(terrain_height(t, 50, 50), 12.5f);
}

TEST_F(TerrainFiles, BadHeaderIsRefused) {
  const char *headers[] = {"", "abc", "6 2.0 0", "5 2.0 0 1 :", "-1 2.0 0 1", "40 2.0 0 1",
                           "2147483647 2 0 1", "6 0 0 1", "6 -2 0 1", "6 nan 0 1", "6 2 inf 1"};
  for (const char *header : headers) {
    SCOPED_TRACE(header);
    write_minimal_track(dir);
    dir.write("terrain.hf", header);
    message_log_clear();
    EXPECT_EQ(terrain_load(t, dir.path.c_str(), 1), 0);
    EXPECT_TRUE(logged("Bad height field parameters"));
    EXPECT_TRUE(logged("Error reading heights"));
    EXPECT_EQ(t->heights, nullptr);
  }
}

TEST_F(TerrainFiles, MissingOrBadFilesFailTheLoad) {
  struct Case {
    const char *file;
    std::string data;  // empty: the file is removed
    const char *message;
  } cases[] = {
      {"terrain.hf", "", "terrain.hf'"},
      {"shading.ppm", "", "shading.ppm'"},
      {"shading.ppm", "P6\n129 129\n255\nshort", "Error reading shading"},
      {"shading.ppm", ppm(128, 129, 1, 2, 3), "Bad shading dimensions (128x129)"},
      {"shadows.pgm", "P5 129 129 255\n", "Error reading shadows"},
      {"shadows.pgm", "P2 2 2 255 1 2 3 4", "Bad shadow dimensions (2x2)"},
      {"texturelist", "", "texturelist'"},
      {"texturelist", "\n  \n", "No surface types"},
      {"tilemap", "", "tilemap'"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.message);
    TrackDir d;
    write_minimal_track(d);
    if (k.data.empty()) unlink(d.file(k.file).c_str());
    else d.write(k.file, k.data);
    message_log_clear();
    EXPECT_EQ(terrain_load(t, d.path.c_str(), 1), 0);
    if (strstr(k.message, "shadow dim") == nullptr) {
      EXPECT_TRUE(logged(k.message));
    }
    EXPECT_EQ(t->heights, nullptr);
  }
}

TEST_F(TerrainFiles, ShadowsAreStoredInverted) {
  write_minimal_track(dir);
  std::string pgm = "P5\n# made by hand\n129 129\n255\n";
  for (int i = 0; i < 129 * 129; i++) pgm += char(i % 129 == 0 ? 255 : 55);
  dir.write("shadows.pgm", pgm);
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 1), 1);
  EXPECT_EQ(t->shadow_density[0], 0);
  EXPECT_EQ(t->shadow_density[1], 200);
}

TEST_F(TerrainFiles, ShadingIsHalvedOnLoadAndDoubledOnSave) {
  write_minimal_track(dir);
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 1), 1);
  ASSERT_EQ(terrain_save(t), 1);
  std::string full = dir.read("shading.ppm"), halved = dir.read("shadingx2.ppm");
  std::string header = "P6\n129 129\n255\n";
  ASSERT_EQ(full.size(), header.size() + 129 * 129 * 3);
  EXPECT_EQ(full.substr(0, header.size()), header);
  EXPECT_EQ(uint8_t(full[header.size()]), 254);
  EXPECT_EQ(uint8_t(full[header.size() + 1]), 128);
  EXPECT_EQ(uint8_t(halved[header.size()]), 127);
  EXPECT_EQ(dir.read("tilemap"), std::string(64 * 64, '\1'));
  // shadingx2.ppm is preferred at the next load and stored as read.
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 1), 1);
  EXPECT_EQ(t->shading[0], 127);
  EXPECT_EQ(t->shading[1], 64);
}

TEST_F(TerrainFiles, SavedFieldsLoadBackTheSame) {
  struct Case { const char *name; float lo, hi; int bumpy; } cases[] = {
      {"flat", 7.0f, 7.0f, 0}, {"bumpy", -20.0f, 80.0f, 1}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    TrackDir d;
    write_minimal_track(d);
    d.write("terrain.hf", inline_hf(2.0f, k.lo, k.hi, [&](int c, int r) { return k.bumpy ? (c * 509 + r * 97) % 65536 : 0; }));
    ASSERT_EQ(terrain_load(t, d.path.c_str(), 1), 1);
    std::vector<float> before(t->heights, t->heights + 129 * 129);
    ASSERT_EQ(terrain_save(t), 1);
    EXPECT_TRUE(d.exists("terrain.png"));
    EXPECT_FALSE(d.exists("decals"));
    ASSERT_EQ(terrain_load(t, d.path.c_str(), 1), 1);
    float tolerance = (k.hi - k.lo) / 65535.0f;
    for (int i = 0; i < 129 * 129; i += 37) EXPECT_NEAR(t->heights[i], before[i], tolerance) << i;
  }
}

// ---- decals ----
TEST_F(TerrainFiles, DecalsStopAtTheFirstMalformedLine) {
  write_minimal_track(dir);
  dir.write("mark.ppm", ppm(4, 4, 200, 0, 0));
  std::string mark = dir.file("mark.ppm");
  dir.write("decals", "[ 10 20 ] 0 4 1 " + mark + "\n[30 40] 0.5 8 2 " + mark +
                          "\n[ 50 x ] 0 1 1 " + mark + "\n[ 60 70 ] 0 1 1 " + mark + "\n");
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 2), 1);
  ASSERT_TRUE(t->has_decals);
  ASSERT_EQ(t->decals.count, 2);
  const Decal *d = (const Decal *)growable_at(&t->decals, 1);
  EXPECT_FLOAT_EQ(d->x, 30);
  EXPECT_FLOAT_EQ(d->aspect, 2);
  EXPECT_NE(d->texture, 0u);
  // Saving writes them back.
  ASSERT_EQ(terrain_save(t), 1);
  std::string saved = dir.read("decals");
  EXPECT_NE(saved.find("[10.000000 20.000000] 0.000000 4.000000 1.000000 " + mark + "\n"), std::string::npos);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 2);
}

TEST_F(TerrainFiles, DecalsWithoutImageAreDropped) {
  write_minimal_track(dir);
  dir.write("decals", "[ 10 20 ] 0 4 1 /nonexistent/mark.png\n");
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 1), 1);
  EXPECT_TRUE(t->has_decals);
  EXPECT_EQ(t->decals.count, 0);
}

TEST_F(TerrainFiles, DecalQueryMergesBins) {
  write_minimal_track(dir);
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 2), 1);  // extent 256: bins of 32 ft
  struct { float x, z, size; } decals[] = {{16, 16, 4}, {40, 16, 4}, {31, 31, 8}, {200, 200, 2}, {16, 100, 2}};
  for (auto &p : decals) {
    Decal d = {};
    d.x = p.x, d.z = p.z, d.size = p.size, d.aspect = 1, d.texture = 1;
    d.sin_angle = 0, d.cos_angle = 1;
    terrain_decal_add(t, &d);
  }
  struct Case { float x0, z0, x1, z1; std::vector<int> expect; } cases[] = {
      {1, 1, 2, 2, {0, 2}},              // one bin: its own list
      {1, 1, 40, 2, {0, 1, 2}},          // two bins in a row
      {1, 1, 40, 40, {0, 1, 2}},         // 2 x 2 bins, decal 2 in all four once
      {0, 0, 255, 255, {0, 1, 2, 3, 4}}, // every bin
      {100, 100, 120, 120, {}},          // nothing there
      {-50, 90, 10, 110, {4}},           // clamped bounds
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::Message() << k.x0 << "," << k.z0 << "-" << k.x1 << "," << k.z1);
    int count;
    const int *list = terrain_decal_query(t, k.x0, k.z0, k.x1, k.z1, &count);
    EXPECT_EQ(std::vector<int>(list, list + count), k.expect);
  }
}

// ---- level of detail ----
TEST(TerrainLod, InterruptedPassesGiveTheSameSplitDistances) {
  GridTerrain g(2.0f, bumpy);
  Terrain *t = g.t;
  t->node_count = lod_node_count(6);
  t->lod_tolerance = 0.125f;
  t->lod_level = -1;
  t->lod_done_stamp = -1;
  std::vector<float> whole, pieces;
  for (int budget : {0x7fffffff, 100}) {
    SCOPED_TRACE(budget);
    t->split_distance = (float *)calloc(size_t(t->node_count), sizeof(float));
    t->split_distance_next = (float *)calloc(size_t(t->node_count), sizeof(float));
    t->lod_done_stamp = -1;
    int calls = 1;
    while (!lod_error_update(t, budget)) calls++;
    if (budget == 100) EXPECT_GT(calls, 100);
    else EXPECT_EQ(calls, 1);
    (budget == 100 ? pieces : whole).assign(t->split_distance, t->split_distance + t->node_count);
    EXPECT_EQ(lod_error_update(t, budget), 1);  // up to date: nothing to do
    free(t->split_distance);
    free(t->split_distance_next);
  }
  EXPECT_EQ(whole, pieces);
  // Every node splits at least where its children do.
  for (int level = 0; level < 6; level++)
    for (int j = 0; j < (1 << level); j++)
      for (int i = 0; i < (1 << level); i++)
        for (int k = 0; k < 4; k++)
          EXPECT_GE(whole[lod_node_index(level, i, j)], whole[lod_node_index(level + 1, 2 * i + (k & 1), 2 * j + (k >> 1))]);
  t->split_distance = t->split_distance_next = nullptr;
}

TEST(TerrainLod, FlatFieldSplitsByDistanceAloneAndDeformationStartsAPass) {
  GridTerrain g(2.0f, [](float, float) { return 3.0f; });
  Terrain *t = g.t;
  t->node_count = lod_node_count(6);
  t->lod_tolerance = 0.125f;
  t->lod_level = -1;
  t->lod_done_stamp = -1;
  t->split_distance = (float *)calloc(size_t(t->node_count), sizeof(float));
  t->split_distance_next = (float *)calloc(size_t(t->node_count), sizeof(float));
  ASSERT_EQ(lod_error_update(t, 0x7fffffff), 1);
  float r = 0.70710678f * t->extent / 64;  // a finest node's half diagonal
  EXPECT_FLOAT_EQ(t->split_distance[lod_node_index(6, 5, 9)], r * r);
  // One level up the neighbours' reach decides: (sqrt(a) + extent/2^L sqrt(10) 1025/2048)^2.
  float b = r + t->extent / 32 * 3.16227766f * (1025.0f / 2048.0f);
  EXPECT_NEAR(t->split_distance[lod_node_index(5, 7, 7)], b * b, 1e-2);
  // A bump raises the split distance of the nodes over it after the next pass.
  float before = t->split_distance[lod_node_index(6, 10, 10)];
  t->heights[21 * t->samples + 21] += 1.0f;
  t->change_count++;
  EXPECT_EQ(lod_error_update(t, 50), 0);
  while (!lod_error_update(t, 50)) {
  }
  float own = 1.0f / 0.125f + r;
  EXPECT_FLOAT_EQ(t->split_distance[lod_node_index(6, 10, 10)], own * own);
  EXPECT_GT(t->split_distance[lod_node_index(6, 10, 10)], before);
  free(t->split_distance);
  free(t->split_distance_next);
  t->split_distance = t->split_distance_next = nullptr;
}

// ---- the renderer's hooks ----
static int shaders_method(Terrain *t, int requested) {
  t->normal_mapped = requested != 1;
  return requested;
}
static int s_created;
static void count_create(Terrain *) { s_created++; }

TEST_F(TerrainFiles, NormalMappedLoadsFillTheNormalShadowMap) {
  write_minimal_track(dir);
  // A slope along x: h = 0.5 x on the 2 ft grid, and a shadow on sample 1.
  dir.write("terrain.hf", inline_hf(2.0f, 0.0f, 128.0f, [](int c, int) { return c * 512; }));
  std::string pgm = "P5 129 129 255\n";
  for (int i = 0; i < 129 * 129; i++) pgm += char(i == 1 ? 55 : 255);
  dir.write("shadows.pgm", pgm);
  TerrainRenderHooks hooks = {shaders_method, count_create, nullptr, nullptr};
  terrain_set_render_hooks(&hooks);
  s_created = 0;
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 3), 1);
  EXPECT_EQ(s_created, 1);
  ASSERT_NE(t->normal_shadow_map, nullptr);
  Vec3 n = vec3_normalize(vec3(-0.5f, 1, 0));
  const uint8_t *p = t->normal_shadow_map + (10 * 129 + 10) * 3;
  EXPECT_EQ(p[0], uint8_t(int(127 * n.x) + 128));
  EXPECT_EQ(p[1], 255);
  EXPECT_EQ(p[2], 128);
  EXPECT_EQ(t->normal_shadow_map[1 * 3 + 1], 55);
  terrain_set_render_hooks(nullptr);
  ASSERT_EQ(terrain_load(t, dir.path.c_str(), 3), 1);
  EXPECT_EQ(t->normal_shadow_map, nullptr);  // headless: no shaders
}
