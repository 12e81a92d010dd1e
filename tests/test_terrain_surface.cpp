// Surface table: tileinfo and texturelist reading, the curve lookups, transition codes.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "core/frame.h"
#include "files/files.h"
#include "render/texture.h"
#include "terrain/terrain.h"

static bool logged(const char *text) {
  const MessageLog *log = message_log();
  for (int i = 0; i < MESSAGE_LOG_LINES; i++)
    if (strstr(log->lines[i], text)) return true;
  return false;
}

static int logged_lines() {
  const MessageLog *log = message_log();
  int n = 0;
  for (int i = 0; i < MESSAGE_LOG_LINES; i++) n += log->lines[i][0] != 0;
  return n;
}

class SurfaceTable : public ::testing::Test {
 protected:
  void SetUp() override {
    texture_reset_for_tests();
    message_log_clear();
    t = (Terrain *)calloc(1, sizeof(Terrain));
    t->render_method = 2;
    snprintf(path, sizeof path, "/tmp/dvsurface_%d", (int)getpid());
  }
  void TearDown() override {
    unlink(path);
    free(t);
    texture_reset_for_tests();
  }
  // Reads `text` as a tileinfo (or a texturelist).
  void read(const std::string &text, bool legacy = false) {
    FILE *f = fopen(path, "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    DataFile *file = datafile_open(path, "rb");
    ASSERT_NE(file, nullptr);
    if (legacy) texturelist_read(t, file);
    else EXPECT_EQ(surface_table_read(t, file), 1);
    datafile_close(file);
  }
  Terrain *t = nullptr;
  char path[64];
};

TEST_F(SurfaceTable, FrictionPointsAreSortedAndInterpolatedInSquaredSpeed) {
  read("friction 0.8 30\nfriction 1.2 5\naddtile\naddtile\n");
  ASSERT_EQ(t->surface_count, 2);
  const SurfaceType *s = &t->surfaces[0];
  EXPECT_FLOAT_EQ(s->friction_points[0].coefficient, 1.2f);
  EXPECT_FLOAT_EQ(s->friction_points[0].speed, 5);
  EXPECT_FLOAT_EQ(s->friction_points[1].coefficient, 0.8f);
  EXPECT_FLOAT_EQ(s->friction_points[1].speed, 30);
  for (int k = 2; k < FRICTION_POINTS; k++) {
    EXPECT_FLOAT_EQ(s->friction_points[k].coefficient, 1.0f);
    EXPECT_EQ(s->friction_points[k].speed, 0);
  }
  struct Case { const SurfaceType *type; float v, expect; } cases[] = {
      {s, 0, 1.2f}, {s, 4, 1.2f}, {s, sqrtf(462.5f), 1.0f}, {s, 30, 0.8f}, {s, 40, 0.8f}, {s, -40, 0.8f},
      {&t->surfaces[1], 0, 1.0f}, {&t->surfaces[1], 17, 1.0f}, {&t->surfaces[1], 1000, 1.0f}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.v);
    EXPECT_NEAR(friction_at(k.type, k.v), k.expect, 1e-5);
  }
}

TEST_F(SurfaceTable, RollingResistanceIsLinearInSpeed) {
  read("roll_resist 2 4 10\nroll_resist 6 8 20\nroll_resist -1 3 -5\naddtile\n");
  const SurfaceType *s = &t->surfaces[0];
  // The negative point becomes (0, 3) at the smallest speed and sorts first.
  EXPECT_FLOAT_EQ(s->roll_points[0].first, 0);
  EXPECT_FLOAT_EQ(s->roll_points[0].speed, 9.5367431640625e-07f);
  struct Case { float v, first, second; } cases[] = {
      {0, 0, 3}, {10, 2, 4}, {15, 4, 6}, {20, 6, 8}, {100, 6, 8}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.v);
    float a, b;
    roll_resist_at(s, k.v, &a, &b);
    EXPECT_NEAR(a, k.first, 1e-5);
    EXPECT_NEAR(b, k.second, 1e-5);
  }
}

TEST_F(SurfaceTable, RoostParameters) {
  struct Case {
    const char *value;
    int mode;
    float count;
    uint8_t colour_a, fade_a, fade_r;
    const char *warning;  // null: none
  } cases[] = {
      {"count=20 \"texture=my roost.png\" splash=1", 2, 20, 255, 254, 0, nullptr},
      {"texture=\"my roost.png\" count=3.5", 1, 3.5f, 255, 254, 0, nullptr},
      {"fade_a=128", 1, 10, 255, 1, 0, nullptr},
      {"fade_a=64 fade_r=-256", 1, 10, 255, 0, 254, nullptr},
      {"a=300.9", 1, 10, 44, 254, 0, nullptr},
      {"count=abc", 1, 0, 255, 254, 0, "tileinfo warning: bad count\n"},
      {"fade_g=x", 1, 10, 255, 254, 0, "tileinfo warning: bad fade_g\n"},
      {"splash=0 colour=3", 1, 10, 255, 254, 0, "tileinfo warning: unknown roost parameter 'colour=3'\n"},
      {"", 1, 10, 255, 254, 0, nullptr},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.value);
    message_log_clear();
    RoostType r;
    roost_type_defaults(&r);
    roost_parse(&r, k.value);
    EXPECT_EQ(r.mode, k.mode);
    EXPECT_FLOAT_EQ(r.count, k.count);
    EXPECT_EQ(r.colour[3], k.colour_a);
    EXPECT_EQ(r.fade[3], k.fade_a);
    EXPECT_EQ(r.fade[0], k.fade_r);
    if (k.warning) EXPECT_TRUE(logged(k.warning));
    else EXPECT_EQ(logged_lines(), 0);
  }
}

TEST_F(SurfaceTable, QuotedRoostTextureIsLoadedByItsName) {
  char name[96];
  snprintf(name, sizeof name, "/tmp/dv roost %d.ppm", (int)getpid());
  FILE *f = fopen(name, "wb");
  fputs("P3 1 1 255 10 20 30\n", f);
  fclose(f);
  read(std::string("roost count=20 \"texture=") + name + "\" splash=1\naddtile\n");
  unlink(name);
  const RoostType *r = &t->surfaces[0].roost[0];
  EXPECT_EQ(r->mode, 2);
  EXPECT_FLOAT_EQ(r->count, 20);
  ASSERT_NE(r->texture, 0u);
  EXPECT_STREQ(texture_name(r->texture), name);
  EXPECT_EQ(t->surfaces[0].roost[1].mode, 0);
}

TEST_F(SurfaceTable, WarningsKeepReading) {
  std::string text = "  \t\nfrobnicate 3\nfriction 1\nroll_resist 1 2\nerode_depth x\nerode_radius 7\n";
  for (int i = 0; i < 9; i++) text += "friction 1 " + std::to_string(i + 1) + "\n";
  for (int i = 0; i < 9; i++) text += "roll_resist 1 1 " + std::to_string(i + 1) + "\n";
  for (int i = 0; i < 5; i++) text += "roost count=1\n";
  text += "addtile\nerode_depth 9\n";  // describes a tile that is never added
  read(text);
  ASSERT_EQ(t->surface_count, 1);
  const char *warnings[] = {"tileinfo warning: Unknown identifier 'frobnicate'\n",
                            "tileinfo warning: bad friction parameters\n",
                            "tileinfo warning: bad roll_resist parameters\n",
                            "tileinfo warning: bad erode_depth\n",
                            "tileinfo warning: too many friction points\n",
                            "tileinfo warning: too many roll_resist points\n",
                            "tileinfo warning: too many roost types\n"};
  for (const char *w : warnings) EXPECT_TRUE(logged(w)) << w;
  EXPECT_EQ(logged_lines(), 7);
  EXPECT_FLOAT_EQ(t->surfaces[0].erosion.erode_depth, 1.0f);
  EXPECT_FLOAT_EQ(t->surfaces[0].erosion.erode_radius, 7.0f);
  EXPECT_FLOAT_EQ(t->surfaces[0].friction_points[7].speed, 8);
  EXPECT_EQ(t->surfaces[0].roost[3].mode, 1);
}

TEST_F(SurfaceTable, ThreeHundredTilesGiveTheFullTable) {
  std::string text;
  for (int i = 0; i < 300; i++) text += "erode_lower " + std::to_string(i) + "\naddtile\n";
  read(text);
  EXPECT_EQ(t->surface_count, MAX_SURFACE_TYPES);
  EXPECT_FLOAT_EQ(t->surfaces[255].erosion.erode_lower, 255);
}

TEST_F(SurfaceTable, TransitionCodes) {
  read("texture @dirt.png\naddtile\ntexture @tex/grass.png\naddtile\n"
       "texture @dirt-grass-0110.png\naddtile\ntexture @dirt-alt1.png\naddtile\n"
       "texture @dirt-mud-0110.png\naddtile\ntexture @dirt-grass-01x0.png\naddtile\n"
       "texture @-grass-0110.png\naddtile\ntexture @sand-dirt-1111.png\naddtile\n");
  ASSERT_EQ(t->surface_count, 8);
  EXPECT_STREQ(t->surfaces[1].base_name, "grass.png");
  int32_t expect[] = {0 << 16 | 0 << 8,      1 << 16 | 1 << 8, 0 << 16 | 1 << 8 | 6, 0 << 16 | 0 << 8,
                      -256,                  0 << 16 | 1 << 8, 6 << 16 | 6 << 8,     7 << 16 | 7 << 8};
  for (int i = 0; i < 8; i++) EXPECT_EQ(t->surfaces[i].transition_code, expect[i]) << t->surfaces[i].base_name;
}

TEST_F(SurfaceTable, TexturelistLines) {
  read("0.5 3 9 dirt.png\n\n   \ngrass.png\n0.7 2 bad.png\r\n  sand.png", true);
  ASSERT_EQ(t->surface_count, 4);
  struct Case { const char *base; float friction, first, second; } cases[] = {
      {"dirt.png", 0.5f, 3, 9}, {"grass.png", 1, 5, 15}, {"0.7 2 bad.png", 1, 5, 15}, {"sand.png", 1, 5, 15}};
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(cases[i].base);
    const SurfaceType *s = &t->surfaces[i];
    EXPECT_STREQ(s->base_name, cases[i].base);  // the last line keeps its last character
    EXPECT_FLOAT_EQ(friction_at(s, 50), cases[i].friction);
    float a, b;
    roll_resist_at(s, 50, &a, &b);
    EXPECT_FLOAT_EQ(a, cases[i].first);
    EXPECT_FLOAT_EQ(b, cases[i].second);
    EXPECT_EQ(s->roost[0].mode, 1);
    EXPECT_EQ(s->roost[1].mode, 0);
    EXPECT_FLOAT_EQ(s->erosion.erode_on_speed, 15);
  }
}
