// The starter data set's tracks: their terrain parts load headless without a warning.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "core/frame.h"
#include "files/files.h"
#include "render/model.h"
#include "render/texture.h"
#include "terrain/terrain.h"

TEST(TerrainStarter, BothTracksLoadWithoutWarnings) {
  setenv("DV_HOME", DV_BINARY_DIR, 1);
  datafile_reset_for_tests();
  terrain_reset_for_tests();
  texture_reset_for_tests();
  // Debug level 1 makes a texture that cannot be opened show itself.
  terrain_set_options(1, 1.0f);
  texture_set_options(0, 1, 1);
  for (const char *track : {"@rabbithill", "@practice"}) {
    SCOPED_TRACE(track);
    message_log_clear();
    texture_new_generation();
    Terrain *t = terrain_current();
    ASSERT_EQ(terrain_load(t, track, 2), 1);
    const MessageLog *log = message_log();
    for (int i = 0; i < MESSAGE_LOG_LINES; i++) EXPECT_STREQ(log->lines[i], "");
    EXPECT_GE(t->size_log2, 6);
    EXPECT_GT(t->surface_count, 0);
    for (int i = 0; i < t->surface_count; i++) EXPECT_NE(t->surfaces[i].texture, 0u) << i;
    int size = 1 << t->size_log2;
    for (int i = 0; i < size * size; i++) ASSERT_LT(t->tile_map[i], t->surface_count);
    EXPECT_GT(t->max_height, t->min_height);
    float middle = terrain_height(t, t->extent / 2, t->extent / 2);
    EXPECT_GE(middle, t->min_height - 1e-3f);
    EXPECT_LE(middle, t->max_height + 1e-3f);
    texture_purge();
    model_purge();
  }
  terrain_reset_for_tests();
  texture_reset_for_tests();
}
