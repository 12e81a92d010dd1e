// GL capabilities and the shader programs on a real context (offscreen, Mesa llvmpipe).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/velk.h"
#include "platform/velk_window.h"
#include "render/glcaps_gl.h"

namespace {

struct GlCapsTest : ::testing::Test {
  VelkWindow *window = nullptr;
  std::string log_path;
  void SetUp() override {
    velk_reset_for_tests();
    log_path = "/tmp/dv_glcaps_" + std::to_string(getpid()) + ".txt";
    std::string request = "VELK_LOGFILE=" + log_path;
    velk_log("%s", request.c_str());
    window = velk_gl_open("Dirtvane", 64, 64, 32, 0, 24, 0, 0);
    ASSERT_TRUE(window);
    ASSERT_EQ(gl_capabilities(), 1);
  }
  void TearDown() override {
    shaders_free();
    gl_caps_reset();
    velk_gl_close(window);
    velk_log(nullptr);
    remove(log_path.c_str());
  }
  std::string log_text() {
    std::ifstream in(log_path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

TEST(GlExtensions, WholeWordsOnly) {
  struct Case {
    const char *extensions, *name;
    bool present;
  } cases[] = {
      {"GL_ARB_multitexture", "GL_ARB_multitexture", true},
      {"GL_A GL_ARB_multitexture GL_B", "GL_ARB_multitexture", true},
      {"GL_ARB_multitexture_plus", "GL_ARB_multitexture", false},
      {"XGL_ARB_multitexture", "GL_ARB_multitexture", false},
      {"GL_ARB_multitexture_plus GL_ARB_multitexture", "GL_ARB_multitexture", true},
      {"", "GL_ARB_multitexture", false},
      {nullptr, "GL_ARB_multitexture", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.extensions ? c.extensions : "(null)");
    EXPECT_EQ(gl_extension_present(c.extensions, c.name), c.present);
  }
}

TEST_F(GlCapsTest, CapabilitiesAreReadAndLogged) {
  const GlCapabilities &c = *gl_caps();
  EXPECT_STRNE(c.vendor, "");
  EXPECT_STRNE(c.renderer, "");
  EXPECT_GE(c.major, 2) << c.version;  // a compatibility context, not a 1.x-only one
  EXPECT_TRUE(c.multitexture);
  EXPECT_TRUE(c.framebuffer_object);
  EXPECT_TRUE(c.vertex_shader);
  EXPECT_TRUE(c.fragment_shader);
  EXPECT_GE(c.texture_units, 2);
  const GlProcs &gl = *gl_procs();
  EXPECT_TRUE(gl.ActiveTextureARB);
  EXPECT_TRUE(gl.GenFramebuffersEXT);
  EXPECT_TRUE(gl.CreateShaderObjectARB);
  EXPECT_TRUE(gl.VertexAttribPointerARB);
  gl_log_capabilities();
  std::string text = log_text();
  EXPECT_NE(text.find("texture units\n"), std::string::npos);
  EXPECT_NE(text.find(std::string("GL_VENDOR: ") + c.vendor + "\n"), std::string::npos);
  EXPECT_NE(text.find(std::string("GL_RENDERER: ") + c.renderer + "\n"), std::string::npos);
  EXPECT_NE(text.find(std::string("GL_VERSION: ") + c.version + "\n"), std::string::npos);
  EXPECT_NE(text.find("GL_EXTENSIONS: "), std::string::npos);
}

TEST_F(GlCapsTest, EveryProgramCompilesAndLinks) {
  ASSERT_EQ(shaders_build(), 1) << log_text();
  EXPECT_EQ(shaders_ready(), 1);
  EXPECT_EQ(shader_current(), SHADER_FIXED);
  const GlProcs &gl = *gl_procs();
  for (int slot = SHADER_LIT; slot < SHADER_SLOTS; slot++) {
    SCOPED_TRACE(shader_name(slot));
    uint32_t before = shader_switch_count();
    shader_use(slot);
    EXPECT_EQ(shader_current(), slot);
    EXPECT_EQ(shader_switch_count(), before + 1);
    shader_use(slot);  // the current slot: no switch, no count
    EXPECT_EQ(shader_switch_count(), before + 1);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  }
  // Skinning and environment uniforms are accepted.
  shader_use(SHADER_LIT);
  float centres[2][3] = {{0, 0, 0}, {1, 0, 0}}, positions[2][3] = {{0, 1, 0}, {1, 1, 0}};
  float rotations[2][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
  shader_set_bones(2, centres, positions, rotations);
  float envmat[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  shader_set_envmat(envmat);
  EXPECT_EQ(shader_current(), SHADER_LIT);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  // Draw one lit, fogged triangle through the program.
  glEnable(GL_FOG);
  glBegin(GL_TRIANGLES);
  glNormal3f(0, 0, 1);
  glVertex3f(-1, -1, 0);
  glVertex3f(1, -1, 0);
  glVertex3f(0, 1, 0);
  glEnd();
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  shader_use(SHADER_FIXED);
  GLint program = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  EXPECT_EQ(program, 0);
  (void)gl;
}

TEST_F(GlCapsTest, ARejectedProgramLeavesAllOff) {
  // A terrain program the driver cannot compile: all seven go, with the log message.
  shaders_set_sources_for_tests(SHADER_TERRAIN, nullptr, "#version 110\nvoid main() { oops }\n");
  EXPECT_EQ(shaders_build(), 0);
  shaders_set_sources_for_tests(SHADER_TERRAIN, nullptr, nullptr);
  EXPECT_EQ(shaders_ready(), 0);
  uint32_t before = shader_switch_count();
  shader_use(SHADER_LIT);
  EXPECT_EQ(shader_current(), SHADER_FIXED);
  EXPECT_EQ(shader_switch_count(), before);
  GLint program = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  EXPECT_EQ(program, 0);
  EXPECT_NE(log_text().find("fragment shader status for terrain:\n"), std::string::npos);
  // And they build again with the game's own sources.
  EXPECT_EQ(shaders_build(), 1);
}

TEST_F(GlCapsTest, WithoutShaderExtensionsNothingIsBuilt) {
  gl_caps_reset();  // as if the driver had offered nothing
  EXPECT_EQ(shaders_build(), 0);
  EXPECT_EQ(shaders_ready(), 0);
}

}  // namespace
