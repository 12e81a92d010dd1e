// The frame's GL work that the loop needs: fixed state, clearing, reading the frame back.
#include <GL/gl.h>

#include <cstring>
#include <vector>

#include "render/render.h"

#include "core/game.h"
#include "render/glcaps.h"

// The start-up colour, which is also the sky until the scene is drawn.
static const float kClear[4] = {0.196078f, 0.6f, 0.8f, 0.0f};

void render_init_state(bool flat_shading) {
  glClearColor(kClear[0], kClear[1], kClear[2], kClear[3]);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_CULL_FACE);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (flat_shading) glShadeModel(GL_FLAT);
}

void render_view(int, int width, int height) {
  glViewport(0, 0, width, height);
  glClearColor(kClear[0], kClear[1], kClear[2], kClear[3]);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

int render_read_pixels(int width, int height, unsigned char *rgb) {
  if (width <= 0 || height <= 0) return 0;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  if (glGetError() != GL_NO_ERROR) return 0;
  // GL's rows run from the bottom; images run from the top.
  size_t row = (size_t)width * 3;
  std::vector<unsigned char> tmp(row);
  for (int y = 0; y < height / 2; y++) {
    unsigned char *a = rgb + row * y, *b = rgb + row * (height - 1 - y);
    memcpy(tmp.data(), a, row);
    memcpy(a, b, row);
    memcpy(b, tmp.data(), row);
  }
  return 1;
}

void render_finish() { glFinish(); }

// The context has come up: learn what it offers and let textures use it.
static int start_gl() {
  int answered = gl_capabilities();
  if (answered) texture_gl_install();
  return answered;
}

void render_install_game_hooks() {
  GameRenderHooks render{};
  render.gl_capabilities = start_gl;
  render.log_capabilities = gl_log_capabilities;
  render.build_shaders = shaders_build;
  render.init_state = render_init_state;
  render.draw_view = render_view;
  render.read_pixels = render_read_pixels;
  render.finish = render_finish;
  render.stop_gl = texture_gl_remove;
  game_set_render_hooks(&render);
}
