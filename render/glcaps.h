// GL capabilities and shader programs: what the driver offers (asked once, right after the
// context exists) and the seven GLSL programs. Free of GL headers so that headless code
// can ask about features; the typed entry points are in render/glcaps_gl.h.
#pragma once
#include <cstdint>
#include <cstring>

struct GlCapabilities {
  // The GL strings ("" when the driver gives none); kept for the log, the settings
  // screen and renderer workarounds. `extensions` is owned by this module.
  char vendor[256], renderer[256], version[256];
  const char *extensions;
  int major, minor;        // "%d.%d" of the version string; 0.0 when unreadable
  bool generate_mipmap;    // GL_SGIS_generate_mipmap
  bool framebuffer_object; // GL_EXT_framebuffer_object
  bool multitexture;       // GL_ARB_multitexture
  bool vertex_shader;      // GL_ARB_vertex_shader
  bool fragment_shader;    // GL_ARB_fragment_shader
  int texture_units;       // GL_MAX_TEXTURE_UNITS (1 without multitexture)
};

// Reads the strings, flags and entry points of the current context. 1 when there was a
// context to ask (the strings could be read), else 0 and every flag off.
int gl_capabilities();
// The record filled by gl_capabilities (all zero before).
const GlCapabilities *gl_caps();
// Logs "GL_VENDOR: %s\n", "GL_RENDERER: %s\n", "GL_VERSION: %s\n", "GL_EXTENSIONS: %s\n".
void gl_log_capabilities();
// Test support: forget the capabilities and the shader table (no GL calls).
void gl_caps_reset();

// Whether `name` occurs in `extensions` as a whole word (bounded by the start, the end or
// blanks): a longer name that merely begins with it does not count.
inline bool gl_extension_present(const char *extensions, const char *name) {
  if (!extensions || !name || !*name) return false;
  size_t n = strlen(name);
  for (const char *p = extensions; (p = strstr(p, name)) != nullptr; p++) {
    bool starts = p == extensions || p[-1] == ' ';
    bool ends = p[n] == 0 || p[n] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

// ---- shader programs ----
enum ShaderSlot {
  SHADER_FIXED = -1,  // the fixed pipeline (slot 0 is the fixed pipeline too)
  SHADER_LIT = 1,
  SHADER_ENV,
  SHADER_NORM_LIT,
  SHADER_NORM_ENV,
  SHADER_NORM_SPEC_LIT,
  SHADER_TERRAIN_NORMALS,
  SHADER_TERRAIN,
  SHADER_SLOTS  // 8: slot 0 unused
};
constexpr int MAX_BONE = 10;

// Compiles and links the seven programs. 1 when all did; 0 otherwise (logged), leaving
// none built: the game stays on the fixed pipeline. Needs both shader extensions.
int shaders_build();
// 1 after a successful shaders_build.
int shaders_ready();
// The program name of a slot ("lit", ...), or null.
const char *shader_name(int slot);
// Switches to a slot (-1..7); the current slot costs nothing and is not counted.
void shader_use(int slot);
int shader_current();
// Program switches made so far (the render statistics count them per frame).
uint32_t shader_switch_count();
// `envmat` of the environment programs (slots 2 and 4), row-major 3 x 3; the current
// program stays in place.
void shader_set_envmat(const float m[9]);
// The bones of the current program: count (0 = no skinning) and per bone its centre,
// position and rotation (row-major 3 x 3). At most MAX_BONE are used.
void shader_set_bones(int count, const float (*centres)[3], const float (*positions)[3],
                      const float (*rotations)[9]);
// Deletes every program (the context must be current). Nothing happens when none exists.
void shaders_free();
