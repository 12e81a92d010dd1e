// The texture manager's GL side: uploads with wrap, filters, border colour and optional
// compression, deletes, and the level replacement of animated textures.
#include <GL/gl.h>
#include <GL/glext.h>

#include "render/glcaps.h"
#include "render/render.h"
#include "render/texture.h"

// The most frequent colour along the four edges of an RGB level, counted in 8 x 8 x 8 bins:
// the colour a clamped texture fades into.
static void edge_colour(const uint8_t *pixels, int width, int height, float out[4]) {
  int counts[512] = {};
  auto count = [&](int x, int y) {
    const uint8_t *p = pixels + ((size_t)y * width + x) * 3;
    counts[(p[0] * 7 / 255) * 64 + (p[1] * 7 / 255) * 8 + p[2] * 7 / 255]++;
  };
  for (int x = 0; x < width; x++) count(x, 0), count(x, height - 1);
  for (int y = 0; y < height; y++) count(0, y), count(width - 1, y);
  int best = 0;
  for (int bin = 1; bin < 512; bin++)
    if (counts[bin] > counts[best]) best = bin;
  out[0] = (best / 64) / 7.0f;
  out[1] = (best / 8 % 8) / 7.0f;
  out[2] = (best % 8) / 7.0f;
  out[3] = 1;
}

static bool compression_available() {
  const GlCapabilities *caps = gl_caps();
  return caps->major > 1 && gl_extension_present(caps->extensions, "GL_ARB_texture_compression");
}

static uint32_t gl_upload(const uint8_t *pixels, int width, int height, int channels, int flags,
                          unsigned long *memory) {
  GLuint id = 0;
  glGenTextures(1, &id);
  glBindTexture(GL_TEXTURE_2D, id);
  bool mipmapped = !(flags & TEXTURE_SINGLE_LEVEL);
  for (int k = 0; k < 32 && glGetError() != GL_NO_ERROR; k++) {  // clear stale errors
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, flags & TEXTURE_REPEAT_X ? GL_REPEAT : GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, flags & TEXTURE_REPEAT_Y ? GL_REPEAT : GL_CLAMP_TO_EDGE);
  if (glGetError() != GL_NO_ERROR) {
    // No clamp to edge: plain clamp blends in the border, so sample without filtering.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, flags & TEXTURE_REPEAT_X ? GL_REPEAT : GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, flags & TEXTURE_REPEAT_Y ? GL_REPEAT : GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
  } else {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_LINEAR_MIPMAP_NEAREST : GL_LINEAR);
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  float border[4] = {1, 1, 1, 0};  // RGBA textures: transparent white
  if (channels == 3) edge_colour(pixels, width, height, border);
  glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);

  bool compress = (flags & TEXTURE_COMPRESS) && compression_available();
  GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
  GLint internal = compress ? (channels == 4 ? GL_COMPRESSED_RGBA_ARB : GL_COMPRESSED_RGB_ARB)
                            : (GLint)format;
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const uint8_t *level = pixels;
  for (int l = 0, w = width, h = height;; l++) {
    glTexImage2D(GL_TEXTURE_2D, l, internal, w, h, 0, format, GL_UNSIGNED_BYTE, level);
    GLint compressed = 0, size = 0;
    if (compress) glGetTexLevelParameteriv(GL_TEXTURE_2D, l, GL_TEXTURE_COMPRESSED_ARB, &compressed);
    if (compressed) glGetTexLevelParameteriv(GL_TEXTURE_2D, l, GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB, &size);
    *memory += compressed ? (unsigned long)size : (unsigned long)w * h * channels;
    if (!mipmapped || (w == 1 && h == 1)) break;
    level += (size_t)w * h * channels;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  if (!mipmapped) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  return id;
}

static void gl_destroy(uint32_t id) {
  GLuint name = id;
  glDeleteTextures(1, &name);
}

static void gl_replace(uint32_t id, const uint8_t *pixels, int width, int height, int channels) {
  glBindTexture(GL_TEXTURE_2D, id);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
  const uint8_t *level = pixels;
  for (int l = 0, w = width, h = height;; l++) {
    glTexSubImage2D(GL_TEXTURE_2D, l, 0, 0, w, h, format, GL_UNSIGNED_BYTE, level);
    if (w == 1 && h == 1) break;
    level += (size_t)w * h * channels;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
}

void texture_gl_install() {
  static const TextureGlHooks hooks = {gl_upload, gl_destroy, gl_replace};
  texture_set_gl_hooks(&hooks);
}

void texture_gl_remove() { texture_set_gl_hooks(nullptr); }
