// The GL extension entry points fetched by gl_capabilities (null when the extension is
// missing). For the renderer's _gl.cpp files only.
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>

#include "render/glcaps.h"

struct GlProcs {
  // GL_ARB_multitexture
  PFNGLACTIVETEXTUREARBPROC ActiveTextureARB;
  PFNGLCLIENTACTIVETEXTUREARBPROC ClientActiveTextureARB;
  PFNGLMULTITEXCOORD2FARBPROC MultiTexCoord2fARB;
  PFNGLMULTITEXCOORD2FVARBPROC MultiTexCoord2fvARB;
  PFNGLMULTITEXCOORD3FARBPROC MultiTexCoord3fARB;
  PFNGLMULTITEXCOORD3FVARBPROC MultiTexCoord3fvARB;
  PFNGLMULTITEXCOORD4FARBPROC MultiTexCoord4fARB;
  PFNGLMULTITEXCOORD4FVARBPROC MultiTexCoord4fvARB;
  // GL_EXT_framebuffer_object
  PFNGLISRENDERBUFFEREXTPROC IsRenderbufferEXT;
  PFNGLBINDRENDERBUFFEREXTPROC BindRenderbufferEXT;
  PFNGLDELETERENDERBUFFERSEXTPROC DeleteRenderbuffersEXT;
  PFNGLGENRENDERBUFFERSEXTPROC GenRenderbuffersEXT;
  PFNGLRENDERBUFFERSTORAGEEXTPROC RenderbufferStorageEXT;
  PFNGLISFRAMEBUFFEREXTPROC IsFramebufferEXT;
  PFNGLBINDFRAMEBUFFEREXTPROC BindFramebufferEXT;
  PFNGLDELETEFRAMEBUFFERSEXTPROC DeleteFramebuffersEXT;
  PFNGLGENFRAMEBUFFERSEXTPROC GenFramebuffersEXT;
  PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC CheckFramebufferStatusEXT;
  PFNGLFRAMEBUFFERTEXTURE2DEXTPROC FramebufferTexture2DEXT;
  PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC FramebufferRenderbufferEXT;
  PFNGLGENERATEMIPMAPEXTPROC GenerateMipmapEXT;
  // GL_ARB_shader_objects (with the vertex and fragment shader extensions)
  PFNGLDELETEOBJECTARBPROC DeleteObjectARB;
  PFNGLDETACHOBJECTARBPROC DetachObjectARB;
  PFNGLCREATESHADEROBJECTARBPROC CreateShaderObjectARB;
  PFNGLSHADERSOURCEARBPROC ShaderSourceARB;
  PFNGLCOMPILESHADERARBPROC CompileShaderARB;
  PFNGLCREATEPROGRAMOBJECTARBPROC CreateProgramObjectARB;
  PFNGLATTACHOBJECTARBPROC AttachObjectARB;
  PFNGLLINKPROGRAMARBPROC LinkProgramARB;
  PFNGLUSEPROGRAMOBJECTARBPROC UseProgramObjectARB;
  PFNGLGETOBJECTPARAMETERIVARBPROC GetObjectParameterivARB;
  PFNGLGETINFOLOGARBPROC GetInfoLogARB;
  PFNGLGETUNIFORMLOCATIONARBPROC GetUniformLocationARB;
  PFNGLUNIFORM1IARBPROC Uniform1iARB;
  PFNGLUNIFORM1FARBPROC Uniform1fARB;
  PFNGLUNIFORM3FVARBPROC Uniform3fvARB;
  PFNGLUNIFORM4FVARBPROC Uniform4fvARB;
  PFNGLUNIFORMMATRIX3FVARBPROC UniformMatrix3fvARB;
  PFNGLUNIFORMMATRIX4FVARBPROC UniformMatrix4fvARB;
  // GL_ARB_vertex_shader: generic vertex attributes
  PFNGLVERTEXATTRIBPOINTERARBPROC VertexAttribPointerARB;
  PFNGLENABLEVERTEXATTRIBARRAYARBPROC EnableVertexAttribArrayARB;
  PFNGLDISABLEVERTEXATTRIBARRAYARBPROC DisableVertexAttribArrayARB;
  PFNGLBINDATTRIBLOCATIONARBPROC BindAttribLocationARB;
  PFNGLGETATTRIBLOCATIONARBPROC GetAttribLocationARB;
  PFNGLVERTEXATTRIB4FARBPROC VertexAttrib4fARB;
};

// The entry points of the current context (all null before gl_capabilities).
const GlProcs *gl_procs();

// Forgets the shader table without GL calls (for a context that is gone).
void shaders_forget();
// Test support: replaces a program's GLSL sources (null restores the game's own).
void shaders_set_sources_for_tests(int slot, const char *vertex, const char *fragment);
