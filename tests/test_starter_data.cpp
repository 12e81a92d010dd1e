// The starter data set that tools/dvgen writes into the build directory: the digests kept
// in core/data_digests.h, identical bytes from two runs, the shapes against the bike's
// skeleton, and both tracks through the game's own loaders.
#include <gtest/gtest.h>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/data_digests.h"
#include "core/frame.h"
#include "files/files.h"
#include "render/model.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "track/track.h"

static std::string hex_of(Sha1 *s) {
  uint8_t d[20];
  sha1_final(s, d);
  char hex[41];
  sha1_hex(d, hex);
  return hex;
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}
static void remove_tree(const std::string &dir) {
  nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

// Every module that reads the data set starts clean, with the build directory as the game
// data and an empty home directory (so a player's own files can't stand in for ours).
class StarterData : public ::testing::Test {
 protected:
  std::string home;
  void SetUp() override {
    char tmpl[] = "/tmp/dv_starter_home_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home = tmpl;
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("DV_HOME", DV_BINARY_DIR, 1);
    datafile_reset_for_tests();
    texture_reset_for_tests();
    texture_set_options(0, 1, 0);  // a texture the tracks name but the set lacks is reported
    model_reset_for_tests();
    terrain_reset_for_tests();
    track_reset();
    message_log_clear();
  }
  void TearDown() override {
    track_reset();
    terrain_reset_for_tests();
    datafile_reset_for_tests();
    remove_tree(home);
  }
};

// ---- the digests start-up checks ----
TEST_F(StarterData, GameDataDigestIsTheMarkerArchives) {
  // As find_game_data: the file itself, first 1 MiB, 256 bytes at a time.
  FILE *f = fopen(DV_BINARY_DIR "/zzzz.saf", "rb");
  ASSERT_NE(f, nullptr) << "the build did not generate zzzz.saf";
  Sha1 s;
  sha1_init(&s);
  uint8_t block[256];
  size_t total = 0, n;
  while (total < 1048576 && (n = fread(block, 1, sizeof block, f)) > 0) {
    if (total + n > 1048576) n = 1048576 - total;
    sha1_update(&s, block, n);
    total += n;
  }
  fclose(f);
  EXPECT_EQ(hex_of(&s), GAME_DATA_DIGEST) << "update GAME_DATA_DIGEST in core/data_digests.h";
}

TEST_F(StarterData, FixedFilesDigestIsTheSevenShapes) {
  // As check_fixed_files: through the data-file layer, 1024-byte blocks, in this order.
  static const char *const FILES[] = {"@generic_frame.shp", "@generic_fork_upper.shp",
                                      "@generic_fork_lower.shp", "@generic_swingarm.shp",
                                      "@front_wheel.shp", "@rear_wheel.shp", "@generic_rider.shp"};
  Sha1 s;
  sha1_init(&s);
  for (const char *name : FILES) {
    DataFile *f = datafile_open(name, "rb");
    ASSERT_NE(f, nullptr) << name;
    uint8_t block[1024];
    size_t n;
    while ((n = datafile_read(f, block, sizeof block)) > 0) sha1_update(&s, block, n);
    datafile_close(f);
  }
  EXPECT_EQ(hex_of(&s), FIXED_FILES_DIGEST) << "update FIXED_FILES_DIGEST in core/data_digests.h";
}

// ---- determinism ----
static void digest_tree(const std::string &root, const std::string &rel,
                        std::map<std::string, std::string> *out) {
  std::string dir = root + "/" + rel;
  std::vector<std::string> names;
  if (FILE *p = popen(("ls -A '" + dir + "'").c_str(), "r")) {
    char line[1024];
    while (fgets(line, sizeof line, p)) {
      line[strcspn(line, "\n")] = 0;
      names.push_back(line);
    }
    pclose(p);
  }
  for (const std::string &name : names) {
    std::string r = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    if (stat((root + "/" + r).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      digest_tree(root, r, out);
      continue;
    }
    FILE *f = fopen((root + "/" + r).c_str(), "rb");
    if (!f) continue;
    Sha1 s;
    sha1_init(&s);
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) sha1_update(&s, buf, n);
    fclose(f);
    (*out)[r] = hex_of(&s);
  }
}

TEST(StarterDataRuns, TwoRunsWriteIdenticalBytes) {
  std::map<std::string, std::string> runs[2];
  for (auto &digests : runs) {
    char tmpl[] = "/tmp/dv_starter_run_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string cmd = std::string("'" DV_BINARY_DIR "/dvgen' '") + tmpl + "' > /dev/null";
    ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
    digest_tree(tmpl, "", &digests);
    remove_tree(tmpl);
  }
  ASSERT_GT(runs[0].size(), 100u);
  EXPECT_EQ(runs[0].size(), runs[1].size());
  for (const auto &[name, digest] : runs[0]) {
    SCOPED_TRACE(name);
    auto other = runs[1].find(name);
    ASSERT_NE(other, runs[1].end());
    EXPECT_EQ(digest, other->second);
  }
  // The build directory holds the same set (the build reran dvgen when it changed), plus
  // the learnt lines the build copies in beside it.
  std::map<std::string, std::string> built;
  digest_tree(DV_BINARY_DIR, "rabbithill", &built);
  for (const auto &[name, digest] : built) {
    SCOPED_TRACE(name);
    if (name.find("/lines_") != std::string::npos) continue;
    auto fresh = runs[0].find(name);
    ASSERT_NE(fresh, runs[0].end());
    EXPECT_EQ(digest, fresh->second);
  }
}

// ---- shapes against the skeleton ----
TEST_F(StarterData, ShapesFitTheBikeSkeleton) {
  // Body build positions (ft) of the skeleton every bike model shares, and how close to the
  // ground (y = 0) each part may come standing at rest; the tyre spheres may touch it.
  struct Case {
    const char *name;
    float body[3];
    float lowest;   // ft, lowest allowed sphere bottom at rest
    float reach;    // ft, bounding radius at most
  };
  static const Case CASES[] = {
      {"@generic_frame.shp", {0, 1.98f, 3.6f}, 0.5f, 3.0f},
      {"@generic_fork_upper.shp", {0, 2.9f, 2.16f}, 1.5f, 2.5f},
      {"@generic_fork_lower.shp", {0, 1.77f, 1.59f}, 0.7f, 1.5f},
      {"@generic_swingarm.shp", {0, 1.34f, 4.99f}, 0.7f, 1.5f},
      {"@front_wheel.shp", {0, 1.09f, 1.11f}, -0.1f, 1.17f},
      {"@rear_wheel.shp", {0, 1.04f, 6.0f}, -0.1f, 1.09f},
      {"@generic_rider.shp", {0, 4.5f, 4.12f}, 1.0f, 3.5f},
  };
  for (const Case &c : CASES) {
    SCOPED_TRACE(c.name);
    Shape *s = shape_load(c.name);
    ASSERT_NE(s, nullptr);
    ASSERT_GT(s->count, 0);
    EXPECT_LE(s->bounding_radius, c.reach);
    for (int i = 0; i < s->count; i++) {
      const ShapeSphere &e = s->spheres[i];
      EXPECT_GT(e.radius, 0.05f);
      EXPECT_GE(c.body[1] + e.y - e.radius, c.lowest) << "sphere " << i;
      for (float v : e.extra) EXPECT_GT(v, 0.0f) << "friction, stiffness and damping";
    }
    shape_free(s);
  }
  // The rider's hands reach the grips and the boots the pegs (within a sphere's radius).
  Shape *rider = shape_load("@generic_rider.shp");
  ASSERT_NE(rider, nullptr);
  const float targets[][3] = {{1.097f, -0.455f, -1.207f}, {-1.097f, -0.455f, -1.207f},
                              {0.6f, -3.077f, 0.064f}, {-0.6f, -3.077f, 0.064f}};
  for (const auto &t : targets) {
    float best = 1e9f;
    for (int i = 0; i < rider->count; i++) {
      const ShapeSphere &e = rider->spheres[i];
      float d = std::sqrt((e.x - t[0]) * (e.x - t[0]) + (e.y - t[1]) * (e.y - t[1]) +
                          (e.z - t[2]) * (e.z - t[2])) - e.radius;
      best = std::fmin(best, d);
    }
    EXPECT_LT(best, 0.35f) << t[0] << " " << t[1] << " " << t[2];
  }
  shape_free(rider);
}

// ---- the tracks through the game's loaders ----
static int visible_messages() {
  const MessageLog *log = message_log();
  int n = 0;
  for (int i = 0; i < MESSAGE_LOG_LINES; i++) n += log->lines[i][0] != 0;
  return n;
}

static void expect_message_free(const char *what) {
  const MessageLog *log = message_log();
  for (int i = 0; i < MESSAGE_LOG_LINES; i++)
    EXPECT_EQ(log->lines[i][0], 0) << what << " said: " << log->lines[i];
}

TEST_F(StarterData, RabbitHillLoadsWithItsGateTimingAndCameras) {
  char desc[128];
  ASSERT_TRUE(read_track_desc("rabbithill", desc, sizeof desc));
  EXPECT_STREQ(desc, "Rabbit Hill");
  track_select("rabbithill", nullptr);
  ASSERT_EQ(track_load(), 1);
  expect_message_free("loading rabbithill");
  const Terrain *t = terrain_current();
  EXPECT_EQ(t->size_log2, 9);
  EXPECT_FLOAT_EQ(t->extent, 2048.0f);
  EXPECT_EQ(t->surface_count, 6 + 5 * 14);
  ASSERT_TRUE(t->has_decals);
  EXPECT_EQ(t->decals.count, 2);  // the finish line and the name by the first turn
  // No cliffs anywhere: neighbouring samples differ by less than 2.8 ft (54 degrees at
  // 2 ft spacing); the steepest ground is a jump's face or a table's side.
  float steepest = 0;
  int n = t->samples;
  for (int r = 0; r + 1 < n; r++)
    for (int c = 0; c + 1 < n; c++) {
      float h = t->heights[r * n + c];
      steepest = std::fmax(steepest, std::fabs(t->heights[r * n + c + 1] - h));
      steepest = std::fmax(steepest, std::fabs(t->heights[(r + 1) * n + c] - h));
    }
  EXPECT_LT(steepest, 2.8f);

  // Timing: the lap sequence covers every stretch; consecutive gates are close.
  ASSERT_TRUE(track_has_timing());
  int F = first_lap_gates(), N = normal_lap_gates();
  EXPECT_EQ(F, N);
  double lap = 0, longest = 0;
  for (int i = 0; i < N; i++) {
    const TimingGate *a = timing_gate(gate_of_crossing(F + i));
    const TimingGate *b = timing_gate(gate_of_crossing(F + (i + 1) % N));
    double d = std::hypot(b->x - a->x, b->z - a->z);
    lap += d;
    longest = std::fmax(longest, d);
    EXPECT_GE(gate_camera(gate_of_crossing(F + i)), 0) << "gate without a camera";
  }
  EXPECT_LE(longest, 150.0);
  EXPECT_GE(lap, 2500.0);  // the gates cut the corners a little: the lap is longer
  EXPECT_LE(lap, 5000.0);
  EXPECT_EQ(gate_of_crossing(F - 1), 0);  // the line ends the lap

  // The starting gate: 40 pieces, side by side 3-4 ft apart, on the start straight,
  // facing the first turn (the riders behind them look toward the first gates).
  ASSERT_EQ(start_gate_count(), 40);
  const TimingGate *line = timing_gate(0);
  for (int i = 0; i < 40; i++) {
    const StartGatePiece *p = start_gate_piece(i);
    float fx = -std::sin(p->angle), fz = -std::cos(p->angle);  // the riders' forward
    EXPECT_GT(fx * (line->x - p->x) + fz * (line->z - p->z), 100.0f) << "piece " << i;
    EXPECT_NEAR(p->y, terrain_height(t, p->x, p->z), 0.05f);
    if (i > 0) {
      const StartGatePiece *q = start_gate_piece(i - 1);
      float gap = std::hypot(p->x - q->x, p->z - q->z);
      EXPECT_GE(gap, 3.0f);
      EXPECT_LE(gap, 4.0f);
    }
  }
  EXPECT_GT(statue_count(), 40 + 100);  // the gate pieces, bales and blocks
  EXPECT_GT(billboard_count(), ROOST_BILLBOARDS + 200);
  EXPECT_GT(camera_count(), 8);
  ASSERT_NE(start_flagger(), nullptr);
  EXPECT_GE(flagger_count(), 4);
  EXPECT_GT(track_lighting()->fog_density, 0.0f);
  EXPECT_EQ(track_lighting()->flares.count, 1);
  EXPECT_EQ(visible_messages(), 0);
}

TEST_F(StarterData, PracticeComesFromItsArchiveInEveryStorageForm) {
  // Stored the other ways: in practice.saf, gzip, scrambled and both, heights in a PNG,
  // the legacy texturelist.
  std::map<std::string, int> names;
  for (const char *const *n = data_names(); *n; n++) names[*n] = 1;
  for (const char *name : {"practice/terrain.hf.gz", "practice/terrain.png",
                           "practice/shadingx2.ppm.gz.scram", "practice/tilemap.scram",
                           "practice/texturelist", "practice/timing_gates.gz"})
    EXPECT_TRUE(names.count(name)) << name;
  EXPECT_FALSE(names.count("practice/tileinfo"));
  DataFile *hf = datafile_open("@practice/terrain.hf", "rb");
  ASSERT_NE(hf, nullptr);
  int n;
  float s, lo, hi;
  ASSERT_EQ(datafile_scanf(hf, "%d %f %f %f ", &n, &s, &lo, &hi), 4);
  EXPECT_NE(datafile_getc(hf), ':');  // no inline heights: they come from terrain.png
  datafile_close(hf);

  track_select("practice", nullptr);
  ASSERT_EQ(track_load(), 1);
  expect_message_free("loading practice");
  const Terrain *t = terrain_current();
  EXPECT_EQ(t->size_log2, 7);
  EXPECT_EQ(t->surface_count, 2 + 14);
  EXPECT_GT(t->max_height, t->min_height);  // the heights did come from the PNG
  ASSERT_TRUE(track_has_timing());
  EXPECT_EQ(timing_gate_count(), 4);
  EXPECT_EQ(start_gate_count(), 8);
  EXPECT_GT(billboard_count(), ROOST_BILLBOARDS);
}

// ---- the racing line: every jump can be cleared at the speed the line gives ----
struct LinePoint {
  double s, x, y, z, speed;
  int flag;
};

static std::vector<LinePoint> read_racing_line(const char *name, const char *track) {
  std::vector<LinePoint> out;
  DataFile *f = datafile_open(name, "rb");
  if (!f) return out;
  char buf[256];
  bool in = false;
  while (datafile_gets(f, buf, sizeof buf)) {
    if (buf[0] == '#') continue;
    char id[64];
    if (!strncmp(buf, "racing_line ", 12)) {
      in = sscanf(buf, "racing_line %63s", id) == 1 && !strcmp(id, track);
      continue;
    }
    LinePoint p;
    if (in && sscanf(buf, "%lf %lf %lf %lf %lf %d", &p.s, &p.x, &p.y, &p.z, &p.speed, &p.flag) == 6)
      out.push_back(p);
  }
  datafile_close(f);
  return out;
}

// Flies every jump of a track's line over the loaded ground at the line's take-off speed.
static void check_racing_line(const char *track, size_t min_points, int expected_jumps) {
  SCOPED_TRACE(track);
  track_select(track, nullptr);
  ASSERT_EQ(track_load(), 1);
  const Terrain *t = terrain_current();
  std::string name = std::string("@") + track + "/racing_line";
  std::vector<LinePoint> line = read_racing_line(name.c_str(), track);
  ASSERT_GT(line.size(), min_points);
  int jumps = 0;
  for (size_t i = 0; i < line.size(); i++) {
    const LinePoint &p = line[i];
    EXPECT_GT(p.speed, 15.0);
    EXPECT_LE(p.speed, 90.0);
    EXPECT_NEAR(p.y, terrain_height(t, p.x, p.z), 0.1);
    if (p.flag != 1) continue;
    // A take-off: launch along the ground's slope just before the lip and fly.
    size_t land = i + 1;
    while (land < line.size() && line[land].flag != 2) land++;
    ASSERT_LT(land, line.size());
    jumps++;
    double dx = p.x - line[i - 1].x, dz = p.z - line[i - 1].z, run = std::hypot(dx, dz);
    double back_x = p.x - dx / run * 4, back_z = p.z - dz / run * 4;
    double slope = (terrain_height(t, p.x, p.z) - terrain_height(t, back_x, back_z)) / 4;
    double th = std::atan(slope), v = p.speed;
    double vx = v * std::cos(th), vy = v * std::sin(th);
    // Step the flight along the line until it comes down on the ground.
    double gx = (line[land].x - p.x), gz = (line[land].z - p.z), D = std::hypot(gx, gz);
    double landed_at = -1;
    for (double u = 3; u < D * 1.6; u += 0.5) {
      double tt = u / vx, y = p.y + vy * tt - 16.0 * tt * tt;
      double g = terrain_height(t, p.x + gx / D * u, p.z + gz / D * u);
      if (y < g) {
        landed_at = u;
        break;
      }
    }
    SCOPED_TRACE("jump at s = " + std::to_string(p.s));
    EXPECT_GT(landed_at, D * 0.8) << "comes down short of the landing";
    EXPECT_LT(landed_at, D * 1.4) << "overshoots the landing";
  }
  EXPECT_EQ(jumps, expected_jumps);
  // Nothing stands on the line: every bale and block is clear of it by its own size.
  for (int i = start_gate_count(); i < statue_count(); i++) {
    const Statue *st = statue_at(i);
    ASSERT_NE(st->shape, nullptr) << "statue " << i;
    double closest = 1e9;
    for (const LinePoint &p : line) closest = std::fmin(closest, std::hypot(p.x - st->x, p.z - st->z));
    EXPECT_GT(closest, st->shape->bounding_radius + 2.0) << "statue " << i;
  }
}

TEST_F(StarterData, RacingLinesClearEveryJumpOnTheLoadedGround) {
  check_racing_line("rabbithill", 500, 4);
  track_reset();
  check_racing_line("practice", 150, 1);
}
