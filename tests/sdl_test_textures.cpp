// Textures on a real context (offscreen, Mesa llvmpipe): the texture manager's GL side,
// number plates, and a racer's plate and maps made as GL textures.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <vector>

#include "bike/bike_local.h"
#include "platform/velk.h"
#include "platform/velk_window.h"
#include "render/glcaps.h"
#include "render/render.h"
#include "render/texture.h"
#include "tests/test_support.h"

namespace {

struct GlTextures : ::testing::Test {
  VelkWindow *window = nullptr;
  void SetUp() override {
    test_support::use_test_home("gltex");
    velk_reset_for_tests();
    texture_reset_for_tests();
    window = velk_gl_open("Dirtvane", 64, 64, 32, 0, 24, 0, 0);
    ASSERT_TRUE(window);
    ASSERT_EQ(gl_capabilities(), 1);
    texture_gl_install();
  }
  void TearDown() override {
    texture_gl_remove();
    texture_reset_for_tests();
    shaders_free();
    gl_caps_reset();
    velk_gl_close(window);
  }
};

GLint level_size(uint32_t id, int level, GLenum what) {
  GLint v = -1;
  glBindTexture(GL_TEXTURE_2D, id);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, what, &v);
  return v;
}

TEST_F(GlTextures, NumberPlateIsAClampedMipmappedTextureOfItsImage) {
  const uint8_t fg[3] = {255, 255, 0}, bg[3] = {0, 0, 255};
  uint32_t id = number_plate_texture("42", 128, 128, fg, bg);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(glIsTexture(id));
  EXPECT_EQ(level_size(id, 0, GL_TEXTURE_WIDTH), 128);
  EXPECT_EQ(level_size(id, 7, GL_TEXTURE_WIDTH), 1);  // the whole chain down to 1 x 1
  GLint wrap = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
  EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE);
  Image want;
  ASSERT_EQ(number_plate_image("42", 128, 128, fg, bg, &want), 1);
  std::vector<uint8_t> got(128 * 128 * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, got.data());
  EXPECT_TRUE(got == std::vector<uint8_t>(want.pixels, want.pixels + got.size()));
  image_free(&want);
  texture_delete(id);
  EXPECT_FALSE(glIsTexture(id));
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(GlTextures, RacerOnTheShaderPathGetsGlMapsAndAPlateItsFreeDeletes) {
  if (!gl_caps()->vertex_shader || !shaders_build()) GTEST_SKIP() << "no shaders on this driver";
  EXPECT_EQ(texture_shader_path(), 1);
  dInitODE2(0);
  physics_world_create();
  Bike *b = build_racer("crf450(2013)", 0, "7", nullptr, nullptr, nullptr, nullptr);
  for (int g = 0; g < 4; g++) {
    SCOPED_TRACE(g);
    EXPECT_TRUE(glIsTexture(b->normal_maps[g]));  // the starter data has them all
    EXPECT_TRUE(glIsTexture(b->specular_maps[g]));
  }
  uint32_t plate = b->number_texture;
  EXPECT_TRUE(glIsTexture(plate));
  free_racer(b);
  EXPECT_FALSE(glIsTexture(plate));
  physics_world_destroy();
  dCloseODE();
  shaders_free();
  EXPECT_EQ(texture_shader_path(), 0);
}

}  // namespace
