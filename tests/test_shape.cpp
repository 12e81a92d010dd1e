// Collision shapes: the .shp reader and the shape registry.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "core/frame.h"
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
