// What the GL driver offers: its strings, version, the optional extensions and their
// entry points, fetched through the platform layer.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/velk.h"
#include "platform/velk_window.h"
#include "render/glcaps_gl.h"

// ---- per context: the capability record and the entry points ----
static struct {
  GlCapabilities caps;
  GlProcs procs;
  char *extensions;  // owned copy of GL_EXTENSIONS
} s_gl;

const GlCapabilities *gl_caps() { return &s_gl.caps; }
const GlProcs *gl_procs() { return &s_gl.procs; }

static void caps_forget() {
  free(s_gl.extensions);
  s_gl = {};
}

void gl_caps_reset() {
  caps_forget();
  shaders_forget();
}

static void copy_string(char *out, size_t size, GLenum which) {
  const char *text = (const char *)glGetString(which);
  snprintf(out, size, "%s", text ? text : "");
}

template <typename T>
static void fetch(T *slot, const char *name) {
  *slot = (T)velk_gl_proc_address(name);
}

#define FETCH(field, name) fetch(&p.field, name)

static void fetch_multitexture(GlProcs &p) {
  FETCH(ActiveTextureARB, "glActiveTextureARB");
  FETCH(ClientActiveTextureARB, "glClientActiveTextureARB");
  FETCH(MultiTexCoord2fARB, "glMultiTexCoord2fARB");
  FETCH(MultiTexCoord2fvARB, "glMultiTexCoord2fvARB");
  FETCH(MultiTexCoord3fARB, "glMultiTexCoord3fARB");
  FETCH(MultiTexCoord3fvARB, "glMultiTexCoord3fvARB");
  FETCH(MultiTexCoord4fARB, "glMultiTexCoord4fARB");
  FETCH(MultiTexCoord4fvARB, "glMultiTexCoord4fvARB");
}

static void fetch_framebuffer_object(GlProcs &p) {
  FETCH(IsRenderbufferEXT, "glIsRenderbufferEXT");
  FETCH(BindRenderbufferEXT, "glBindRenderbufferEXT");
  FETCH(DeleteRenderbuffersEXT, "glDeleteRenderbuffersEXT");
  FETCH(GenRenderbuffersEXT, "glGenRenderbuffersEXT");
  FETCH(RenderbufferStorageEXT, "glRenderbufferStorageEXT");
  FETCH(IsFramebufferEXT, "glIsFramebufferEXT");
  FETCH(BindFramebufferEXT, "glBindFramebufferEXT");
  FETCH(DeleteFramebuffersEXT, "glDeleteFramebuffersEXT");
  FETCH(GenFramebuffersEXT, "glGenFramebuffersEXT");
  FETCH(CheckFramebufferStatusEXT, "glCheckFramebufferStatusEXT");
  FETCH(FramebufferTexture2DEXT, "glFramebufferTexture2DEXT");
  FETCH(FramebufferRenderbufferEXT, "glFramebufferRenderbufferEXT");
  FETCH(GenerateMipmapEXT, "glGenerateMipmapEXT");
}

static void fetch_shader_objects(GlProcs &p) {
  FETCH(DeleteObjectARB, "glDeleteObjectARB");
  FETCH(DetachObjectARB, "glDetachObjectARB");
  FETCH(CreateShaderObjectARB, "glCreateShaderObjectARB");
  FETCH(ShaderSourceARB, "glShaderSourceARB");
  FETCH(CompileShaderARB, "glCompileShaderARB");
  FETCH(CreateProgramObjectARB, "glCreateProgramObjectARB");
  FETCH(AttachObjectARB, "glAttachObjectARB");
  FETCH(LinkProgramARB, "glLinkProgramARB");
  FETCH(UseProgramObjectARB, "glUseProgramObjectARB");
  FETCH(GetObjectParameterivARB, "glGetObjectParameterivARB");
  FETCH(GetInfoLogARB, "glGetInfoLogARB");
  FETCH(GetUniformLocationARB, "glGetUniformLocationARB");
  FETCH(Uniform1iARB, "glUniform1iARB");
  FETCH(Uniform1fARB, "glUniform1fARB");
  FETCH(Uniform3fvARB, "glUniform3fvARB");
  FETCH(Uniform4fvARB, "glUniform4fvARB");
  FETCH(UniformMatrix3fvARB, "glUniformMatrix3fvARB");
  FETCH(UniformMatrix4fvARB, "glUniformMatrix4fvARB");
}

static void fetch_vertex_attributes(GlProcs &p) {
  FETCH(VertexAttribPointerARB, "glVertexAttribPointerARB");
  FETCH(EnableVertexAttribArrayARB, "glEnableVertexAttribArrayARB");
  FETCH(DisableVertexAttribArrayARB, "glDisableVertexAttribArrayARB");
  FETCH(BindAttribLocationARB, "glBindAttribLocationARB");
  FETCH(GetAttribLocationARB, "glGetAttribLocationARB");
  FETCH(VertexAttrib4fARB, "glVertexAttrib4fARB");
}
#undef FETCH

// Every entry point of a group present, or the group counts as missing.
template <typename... T>
static bool all_present(T... procs) {
  return ((procs != nullptr) && ...);
}

int gl_capabilities() {
  caps_forget();
  GlCapabilities &c = s_gl.caps;
  GlProcs &p = s_gl.procs;
  copy_string(c.vendor, sizeof c.vendor, GL_VENDOR);
  copy_string(c.renderer, sizeof c.renderer, GL_RENDERER);
  copy_string(c.version, sizeof c.version, GL_VERSION);
  const char *ext = (const char *)glGetString(GL_EXTENSIONS);
  s_gl.extensions = strdup(ext ? ext : "");
  if (!s_gl.extensions) fatal_out_of_memory();
  c.extensions = s_gl.extensions;
  if (sscanf(c.version, "%d.%d", &c.major, &c.minor) != 2) c.major = c.minor = 0;

  c.generate_mipmap = gl_extension_present(c.extensions, "GL_SGIS_generate_mipmap");
  c.framebuffer_object = gl_extension_present(c.extensions, "GL_EXT_framebuffer_object");
  c.multitexture = gl_extension_present(c.extensions, "GL_ARB_multitexture");
  c.vertex_shader = gl_extension_present(c.extensions, "GL_ARB_vertex_shader");
  c.fragment_shader = gl_extension_present(c.extensions, "GL_ARB_fragment_shader");
  bool shader_objects = gl_extension_present(c.extensions, "GL_ARB_shader_objects");

  c.texture_units = 1;
  if (c.multitexture) {
    fetch_multitexture(p);
    GLint units = 1;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    c.texture_units = units;
    if (!all_present(p.ActiveTextureARB, p.ClientActiveTextureARB, p.MultiTexCoord2fARB)) {
      velk_log("GL_ARB_multitexture entry points missing\n");
      c.multitexture = false;
    }
  }
  velk_log("%d texture units\n", c.texture_units);
  if (c.framebuffer_object) {
    fetch_framebuffer_object(p);
    if (!all_present(p.BindFramebufferEXT, p.GenFramebuffersEXT, p.DeleteFramebuffersEXT,
                     p.FramebufferTexture2DEXT, p.CheckFramebufferStatusEXT)) {
      velk_log("GL_EXT_framebuffer_object entry points missing\n");
      c.framebuffer_object = false;
    }
  }
  if (c.vertex_shader || c.fragment_shader) {
    if (shader_objects || c.vertex_shader) fetch_shader_objects(p);
    if (c.vertex_shader) fetch_vertex_attributes(p);
    if (!all_present(p.CreateShaderObjectARB, p.ShaderSourceARB, p.CompileShaderARB,
                     p.CreateProgramObjectARB, p.AttachObjectARB, p.LinkProgramARB,
                     p.UseProgramObjectARB, p.GetObjectParameterivARB, p.GetInfoLogARB,
                     p.DeleteObjectARB, p.DetachObjectARB, p.GetUniformLocationARB,
                     p.Uniform1iARB, p.Uniform3fvARB, p.UniformMatrix3fvARB)) {
      velk_log("GL_ARB_shader_objects entry points missing\n");
      c.vertex_shader = c.fragment_shader = false;
    }
  }
  return c.vendor[0] || c.version[0] ? 1 : 0;
}

void gl_log_capabilities() {
  const GlCapabilities &c = s_gl.caps;
  velk_log("GL_VENDOR: %s\n", c.vendor);
  velk_log("GL_RENDERER: %s\n", c.renderer);
  velk_log("GL_VERSION: %s\n", c.version);
  velk_log("GL_EXTENSIONS: %s\n", c.extensions ? c.extensions : "");
}
