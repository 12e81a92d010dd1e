// Models and collision shapes: the .jm and .shp readers and their registries.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "core/frame.h"
#include "files/files.h"
#include "render/model.h"
#include "render/texture.h"

TEST(ShapeParse, RecordsAndShortFiles) {
  struct Case {
    const char *name;
    std::string text;
    int ok, count;
  } cases[] = {
      {"two spheres", "2\n0 1 2 0.5 7 8 9\n-3 0 4 1 0 0 0\n", 1, 2},
      {"no spheres", "0", 1, 0},
      {"short record", "2\n0 1 2 0.5 7 8 9\n-3 0 4 1 0 0", 0, 0},
      {"garbage", "two", 0, 0},
      {"negative count", "-1 0 0 0 1 0 0 0", 0, 0},
      {"count beyond the text", "1000000000 1 2 3", 0, 0},
      {"empty", "", 0, 0},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    ShapeSphere *spheres = nullptr;
    int count = -1;
    EXPECT_EQ(shape_parse(k.text.data(), k.text.size(), &spheres, &count), k.ok);
    if (k.ok) {
      EXPECT_EQ(count, k.count);
      if (count == 2) {
        EXPECT_FLOAT_EQ(spheres[1].x, -3);
        EXPECT_FLOAT_EQ(spheres[1].radius, 1);
        EXPECT_FLOAT_EQ(spheres[0].extra[2], 9);
      }
      free(spheres);
    } else {
      EXPECT_EQ(count, -1);  // untouched on failure
    }
  }
}

TEST(ShapeLoad, CopiesShareTheLoadedShapeAndArePurgedByGeneration) {
  texture_reset_for_tests();
  model_reset_for_tests();
  message_log_clear();
  char path[64];
  snprintf(path, sizeof path, "/tmp/dvshape_%d.shp", (int)getpid());
  FILE *f = fopen(path, "w");
  fputs("2 0 1 2 0.5 7 8 9 -3 0 4 1 0 0 0", f);
  fclose(f);
  texture_new_generation();
  Shape *a = shape_load(path);
  ASSERT_NE(a, nullptr);
  EXPECT_FLOAT_EQ(a->bounding_radius, 6.0f);  // |(-3, 0, 4)| + 1
  a->spheres[0].x = 100;  // a copy is the object's own
  Shape *b = shape_load(path);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->source, b->source);
  EXPECT_FLOAT_EQ(b->spheres[0].x, 0);
  EXPECT_EQ(shape_load("/tmp/dvshape-none.shp"), nullptr);
  shape_free(a);
  shape_free(b);
  unlink(path);
  // Still registered this generation, gone after a generation that did not use it.
  model_purge();
  Shape *c = shape_load(path);
  ASSERT_NE(c, nullptr);
  shape_free(c);
  texture_new_generation();
  model_purge();
  EXPECT_EQ(shape_load(path), nullptr);
  model_reset_for_tests();
}

// ---- models ----
static bool logged(const char *text) {
  const MessageLog *log = message_log();
  int n = 0;
  for (int i = 0; i < MESSAGE_LOG_LINES; i++)
    if (strstr(log->lines[i], text)) n++;
  return n == 1;
}

TEST(ModelParse, FormsAndBrokenParts) {
  // A triangle in the legacy form: positions, normals, u v; then the vertex indices.
  const std::string tri = "0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 1\n";
  struct Case {
    const char *name;
    std::string text;
    int parts;  // 0: the load fails
  } cases[] = {
      {"legacy", "3 1\n" + tri + "0 1 2\n", 1},
      {"version 1, two parts", "JM1\n32 1 1 0 0 3 1\n" + tri + "0 1 2\n-1 0.5 1 1 1 3 1\n" + tri + "2 1 0\n", 2},
      {"a short second part is dropped", "JM1\n32 1 1 0 0 3 1\n" + tri + "0 1 2\n8 1 1 1 1 3 1\n" + tri + "2 1\n", 1},
      {"a triangle naming a missing vertex", "JM1\n32 1 1 0 0 3 1\n" + tri + "0 1 3\n", 0},
      {"version 3", "JM3\n32 1 1 0 0 3 1\n" + tri + "0 1 2\n", 0},
      {"no part", "JM1\n", 0},
      {"legacy, short", "3 1\n" + tri, 0},
      {"huge counts", "JM1 1 1 1 1 1 2000000000 2000000000 0 0", 0},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    Model *m = model_parse(k.text.data(), k.text.size(), "x.jm");
    if (!k.parts) {
      EXPECT_EQ(m, nullptr);
      continue;
    }
    ASSERT_NE(m, nullptr);
    int parts = 0;
    for (ModelPart *p = m->parts; p; p = p->next) parts++;
    EXPECT_EQ(parts, k.parts);
    ModelPart *p = m->parts;
    EXPECT_FLOAT_EQ(p->texcoords[2 * 2 + 1], 0.0f);  // v = 1 is stored as 0
    // The tangent follows increasing u: +x on this triangle.
    EXPECT_NEAR(p->tangents[0], 1.0f, 1e-5);
    EXPECT_FLOAT_EQ(m->bounding_radius, 1.0f);
    if (parts == 2) {
      EXPECT_TRUE(m->environment_mapped);
      EXPECT_FLOAT_EQ(p->next->colour[3], 0.5f);  // alpha from the header when shininess < 0
      EXPECT_FLOAT_EQ(p->colour[3], 1.0f);
      EXPECT_FLOAT_EQ(p->colour[0], 1.0f);       // header order: shininess alpha red green blue
      EXPECT_FLOAT_EQ(p->colour[1], 0.0f);
    }
    model_free(m);
  }
}

TEST(ModelParse, BoneWeightsKeepTheFourLargest) {
  message_log_clear();
  std::string text = "JM2 6 rig\n32 1 1 1 1 2 0\n";
  text += "0 0 0 0 1 0 0 0  0.1 0.4 0.05 0.2 0.2 0.05\n";
  text += "1 0 0 0 1 0 1 0  0 0 0 0 0 0\n";
  Model *m = model_parse(text.data(), text.size(), "rider.jm");
  ASSERT_NE(m, nullptr);
  ModelPart *p = m->parts;
  EXPECT_EQ(p->bone_count, 6);
  float sum = 0, w[6] = {};
  for (int k = 0; k < 4; k++) {
    sum += p->bone_weights[k];
    w[p->bone_indices[k]] += p->bone_weights[k];
  }
  EXPECT_NEAR(sum, 1.0f, 1e-6);
  EXPECT_NEAR(w[1], 0.4f / 0.9f, 1e-6);
  EXPECT_NEAR(w[0], 0.1f / 0.9f, 1e-6);
  EXPECT_EQ(w[2], 0.0f);
  EXPECT_EQ(w[5], 0.0f);
  EXPECT_TRUE(logged("Warning: vertex with more than 4 bone influences in 'rider.jm'"));
  for (int k = 0; k < 4; k++) {  // no weight at all: a quarter on bone 0 four times
    EXPECT_FLOAT_EQ(p->bone_weights[4 + k], 0.25f);
    EXPECT_EQ(p->bone_indices[4 + k], 0);
  }
  EXPECT_FLOAT_EQ(p->bind_positions[3], 1.0f);
  model_free(m);
}

TEST(ModelLoad, LevelOfDetailVariantsFromTheDataNames) {
  char dir[] = "/tmp/dvmodel_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string tri = "3 1\n0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 1\n0 1 2\n";
  for (const char *n : {"rock.jm", "rock_lod6.jm", "rock_lod7.jm"}) {
    FILE *f = fopen((std::string(dir) + "/" + n).c_str(), "w");
    fputs(tri.c_str(), f);
    fclose(f);
  }
  std::string home = std::string(dir) + "/home";
  setenv("DV_HOME", dir, 1);
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  datafile_reset_for_tests();
  texture_reset_for_tests();
  model_reset_for_tests();
  message_log_clear();
  Model *m = model_load("@rock.jm");
  ASSERT_NE(m, nullptr);
  ASSERT_NE(m->lod_next, nullptr);
  EXPECT_FLOAT_EQ(m->lod_next->lod_distance, 64);
  ASSERT_NE(m->lod_next->lod_next, nullptr);
  EXPECT_FLOAT_EQ(m->lod_next->lod_next->lod_distance, 128);
  EXPECT_EQ(m->lod_next->lod_next->lod_next, nullptr);
  EXPECT_EQ(model_load("@rock.jm"), m);
  EXPECT_EQ(model_load("@ROCK.jm"), m);
  EXPECT_TRUE(logged("Warning: case mismatch on '@ROCK.jm'"));
  EXPECT_EQ(model_load("@none.jm"), nullptr);
  model_reset_for_tests();
  datafile_reset_for_tests();
  unsetenv("XDG_DATA_HOME");
  system((std::string("rm -rf ") + dir).c_str());
}

TEST(ModelLoad, StarterModelsAndShapesLoad) {
  setenv("DV_HOME", DV_BINARY_DIR, 1);
  datafile_reset_for_tests();
  texture_reset_for_tests();
  model_reset_for_tests();
  message_log_clear();
  for (const char *name : {"@haybale", "@tuffblock", "@startgate"}) {
    SCOPED_TRACE(name);
    Model *m = model_load((std::string(name) + ".jm").c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_GT(m->bounding_radius, 0);
    Shape *s = shape_load((std::string(name) + ".shp").c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_GT(s->count, 0);
    shape_free(s);
  }
  const MessageLog *log = message_log();
  EXPECT_STREQ(log->lines[0], "");
  model_reset_for_tests();
  datafile_reset_for_tests();
}
