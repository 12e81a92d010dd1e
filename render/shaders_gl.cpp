// The seven GLSL programs (ARB shader objects, fixed-function state as input): lit and
// environment-mapped models with and without normal maps, and the two terrain programs.
// They are built all together or not at all.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/velk.h"
#include "render/glcaps_gl.h"
#include "render/texture.h"

// ---- GLSL sources ----
static const char kVersion[] = "#version 110\n";

// Model vertex stage: optional skinning by up to four of MAX_BONE bones per vertex
// (texture coordinate sets 2 and 3 hold the weights and bone indices; set 1 the tangent).
static const char kModelVertex[] = R"(
uniform int nbones;
uniform vec3 bone_c[10];
uniform vec3 bone_t[10];
uniform mat3 bone_r[10];
varying vec3 normal;
varying vec3 viewer;
#ifdef TANGENT
varying vec3 tangent;
#endif

void add_bone(float w, float index, inout vec3 p, inout vec3 n, inout vec3 t) {
  int b = int(index + 0.5);
  mat3 r = bone_r[b];
  p += w * (r * (gl_Vertex.xyz - bone_c[b]) + bone_t[b]);
  n += w * (r * gl_Normal);
  t += w * (r * gl_MultiTexCoord1.xyz);
}

void transform_vertex() {
  vec3 n = gl_Normal;
  vec3 t = gl_MultiTexCoord1.xyz;
  if (nbones > 0) {
    vec3 p = vec3(0.0);
    n = vec3(0.0);
    t = vec3(0.0);
    vec4 w = gl_MultiTexCoord2;
    vec4 b = gl_MultiTexCoord3;
    add_bone(w.x, b.x, p, n, t);
    add_bone(w.y, b.y, p, n, t);
    add_bone(w.z, b.z, p, n, t);
    add_bone(w.w, b.w, p, n, t);
    viewer = (gl_ModelViewMatrix * vec4(p, 1.0)).xyz;
    gl_Position = gl_ModelViewProjectionMatrix * vec4(p, 1.0);
  } else {
    viewer = (gl_ModelViewMatrix * gl_Vertex).xyz;
    gl_Position = ftransform();
  }
  normal = normalize(gl_NormalMatrix * n);
#ifdef TANGENT
  tangent = gl_NormalMatrix * t;
#endif
  gl_TexCoord[0] = gl_MultiTexCoord0;
}
)";

// Sun light 0 and material, for the lit programs.
static const char kLightVertex[] = R"(
varying vec3 light;
varying vec4 diffuse;
varying vec4 ambient;

void light_vertex() {
  light = normalize(gl_LightSource[0].position.xyz);
  diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;
  ambient = gl_FrontMaterial.ambient * gl_LightSource[0].ambient +
            gl_LightModel.ambient * gl_FrontMaterial.ambient;
  ambient.a = min(ambient.a, 1.0);
}
)";

static const char kLitVertexMain[] = R"(
void main() {
  transform_vertex();
  light_vertex();
}
)";

static const char kEnvVertexMain[] = R"(
void main() {
  transform_vertex();
  gl_FrontColor = gl_Color;
}
)";

// Lighting law and fog, shared by the lit fragment stages.
static const char kLightFragment[] = R"(
uniform sampler2D tex;
varying vec3 viewer;
varying vec3 light;
varying vec4 diffuse;
varying vec4 ambient;

void light_terms(vec3 n, out float ndl, out float rdl) {
  vec3 l = normalize(light);
  ndl = dot(n, l);
  rdl = max(dot(reflect(normalize(viewer), n), l), 0.0);
  if (ndl < 0.0) {
    ndl = 0.0;
    rdl = 0.0;
  }
}

// Exponential fog, e^(-density z) written as a power of two.
vec3 fog(vec3 colour) {
  float z = gl_FragCoord.z / gl_FragCoord.w;
  float f = clamp(exp2(-gl_Fog.density * z * 1.4426950), 0.0, 1.0);
  return mix(gl_Fog.color.rgb, colour, f);
}
)";

// The normal from the normal map through the tangent frame.
static const char kNormalMap[] = R"(
uniform sampler2D nmap;
varying vec3 normal;
varying vec3 tangent;

vec3 mapped_normal() {
  vec3 n = normalize(normal);
  vec3 t = tangent - n * dot(n, tangent);
  float length_t = length(t);
  if (length_t <= 0.0) return n;
  t /= length_t;
  vec3 b = cross(n, t);
  vec3 m = texture2D(nmap, gl_TexCoord[0].st).rgb * 2.0 - 1.0;
  return normalize(t * m.x + b * m.y + n * m.z);
}
)";

static const char kPlainNormal[] = R"(
varying vec3 normal;
vec3 mapped_normal() { return normalize(normal); }
)";

static const char kLitFragmentMain[] = R"(
void main() {
  vec3 n = mapped_normal();
  float ndl, rdl;
  light_terms(n, ndl, rdl);
  vec4 colour = (ambient + diffuse * ndl) * texture2D(tex, gl_TexCoord[0].st);
  colour.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb *
                pow(rdl, gl_FrontMaterial.shininess);
  gl_FragColor = vec4(fog(colour.rgb), colour.a);
}
)";

static const char kSpecFragmentMain[] = R"(
uniform sampler2D smap;
void main() {
  vec3 n = mapped_normal();
  float ndl, rdl;
  light_terms(n, ndl, rdl);
  vec2 uv = gl_TexCoord[0].st;
  vec4 colour = (ambient + diffuse * ndl) * texture2D(tex, uv);
  vec4 s = texture2D(smap, uv);
  float exponent = s.a * 128.0 + 0.125;
  if (exponent >= 127.875) exponent = gl_FrontMaterial.shininess;
  colour.rgb += s.rgb * gl_LightSource[0].specular.rgb * pow(rdl, exponent);
  gl_FragColor = vec4(fog(colour.rgb), colour.a);
}
)";

// Angular environment map centred on straight up, turned by envmat.
static const char kEnvFragmentMain[] = R"(
uniform sampler2D tex;
uniform mat3 envmat;
varying vec3 viewer;

void main() {
  vec3 n = mapped_normal();
  vec3 r = normalize(envmat * reflect(normalize(viewer), n));
  float h = length(r.xz);
  vec2 d = h > 0.0 ? r.xz / h : vec2(0.0);
  vec2 uv = d * (acos(clamp(r.y, -1.0, 1.0)) / 6.2831853) + 0.5;
  gl_FragColor = texture2D(tex, uv) * gl_Color;
}
)";

static const char kTerrainVertex[] = R"(
varying vec3 viewer;
void main() {
  viewer = (gl_ModelViewMatrix * gl_Vertex).xyz;
  light_vertex();
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_Position = ftransform();
}
)";

// The ground: normal (x red, z blue) and light factor (green) from the normal layer,
// specular strength (red) and exponent (green) from the specular layer.
static const char kTerrainFragment[] = R"(
uniform sampler2D nmap;
uniform sampler2D smap;
void main() {
  vec2 uv = gl_TexCoord[0].st;
  vec4 stored = texture2D(nmap, uv);
  float x = stored.r * 2.0 - 1.0;
  float z = stored.b * 2.0 - 1.0;
  float factor = stored.g;
  vec3 n = normalize(gl_NormalMatrix * vec3(x, sqrt(max(1.0 - x * x - z * z, 0.0)), z));
  float ndl, rdl;
  light_terms(n, ndl, rdl);
  vec4 colour = (ambient + diffuse * (ndl * factor)) * texture2D(tex, uv);
  vec4 s = texture2D(smap, uv);
  colour.rgb += s.r * gl_LightSource[0].specular.rgb * pow(rdl, s.g * 128.0 + 0.125) * factor;
  gl_FragColor = vec4(fog(colour.rgb), colour.a);
}
)";

static const char kTerrainNormalsVertex[] = R"(
void main() {
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_TexCoord[1] = gl_TextureMatrix[1] * gl_Vertex;
  gl_Position = ftransform();
}
)";

// A tile's normal turned onto the ground under it, stored as the normal layer expects.
static const char kTerrainNormalsFragment[] = R"(
uniform sampler2D tex;
uniform sampler2D base;
void main() {
  vec4 t = texture2D(tex, gl_TexCoord[0].st);
  vec3 s = t.rgb * 2.0 - 1.0;
  vec3 tile = vec3(-s.r, s.b, s.g);  // stored x (negated), z, y
  // The tile's s axis on screen gives its turn on the ground.
  vec2 ds = vec2(dFdx(gl_TexCoord[0].s), dFdy(gl_TexCoord[0].s));
  float dl = length(ds);
  vec2 dir = dl > 0.0 ? ds / dl : vec2(1.0, 0.0);
  vec3 turned = vec3(tile.x * dir.x - tile.z * dir.y, tile.y, tile.x * dir.y + tile.z * dir.x);
  vec4 b = texture2D(base, gl_TexCoord[1].st);
  float bx = b.r * 2.0 - 1.0;
  float bz = b.b * 2.0 - 1.0;
  vec3 up = vec3(bx, sqrt(max(1.0 - bx * bx - bz * bz, 0.0)), bz);
  vec3 xa = vec3(1.0, 0.0, 0.0) - up * up.x;
  float xl = length(xa);
  xa = xl > 0.0 ? xa / xl : vec3(1.0, 0.0, 0.0);
  vec3 za = cross(xa, up);
  vec3 n = normalize(xa * turned.x + up * turned.y + za * turned.z);
  float h = length(n.xz);
  const float limit = 126.0 / 128.0;
  if (h > limit) n = vec3(n.x, 0.0, n.z) * (limit / h);
  gl_FragColor = vec4((n.x + 1.0) * 0.5, b.g, (n.z + 1.0) * 0.5, t.a);
}
)";

struct ProgramSource {
  const char *name;
  std::string vertex, fragment;
};

static ProgramSource program_source(int slot) {
  std::string v = kVersion, f = kVersion;
  const std::string tangent = "#define TANGENT\n";
  switch (slot) {
    case SHADER_LIT:
      return {"lit", v + kModelVertex + kLightVertex + kLitVertexMain,
              f + kLightFragment + kPlainNormal + kLitFragmentMain};
    case SHADER_ENV:
      return {"env", v + kModelVertex + kEnvVertexMain, f + kPlainNormal + kEnvFragmentMain};
    case SHADER_NORM_LIT:
      return {"norm_lit", v + tangent + kModelVertex + kLightVertex + kLitVertexMain,
              f + kLightFragment + kNormalMap + kLitFragmentMain};
    case SHADER_NORM_ENV:
      return {"norm_env", v + tangent + kModelVertex + kEnvVertexMain,
              f + kNormalMap + kEnvFragmentMain};
    case SHADER_NORM_SPEC_LIT:
      return {"norm_spec_lit", v + tangent + kModelVertex + kLightVertex + kLitVertexMain,
              f + kLightFragment + kNormalMap + kSpecFragmentMain};
    case SHADER_TERRAIN_NORMALS:
      return {"terrain_normals", v + kTerrainNormalsVertex, f + kTerrainNormalsFragment};
    case SHADER_TERRAIN:
      return {"terrain", v + kLightVertex + kTerrainVertex, f + kLightFragment + kTerrainFragment};
    default: return {nullptr, "", ""};
  }
}

// ---- per context: the shader table ----
struct ShaderProgram {
  GLhandleARB program, vertex, fragment;
  GLint nbones, bone_c, bone_t, bone_r, envmat;  // uniform locations, -1 when absent
};

static struct {
  ShaderProgram slots[SHADER_SLOTS];
  int current;        // -1: the fixed pipeline
  uint32_t switches;
  bool ready;
  const char *test_vertex[SHADER_SLOTS], *test_fragment[SHADER_SLOTS];
} s_shaders = {{}, SHADER_FIXED, 0, false, {}, {}};

static const char *const kNames[SHADER_SLOTS] = {
    nullptr, "lit", "env", "norm_lit", "norm_env", "norm_spec_lit", "terrain_normals", "terrain",
};

const char *shader_name(int slot) {
  return slot > 0 && slot < SHADER_SLOTS ? kNames[slot] : nullptr;
}

void shaders_forget() {
  for (ShaderProgram &p : s_shaders.slots) p = ShaderProgram{};
  s_shaders.current = SHADER_FIXED;
  s_shaders.ready = false;
  texture_set_shader_path(0);
}

void shaders_set_sources_for_tests(int slot, const char *vertex, const char *fragment) {
  if (slot <= 0 || slot >= SHADER_SLOTS) return;
  s_shaders.test_vertex[slot] = vertex;
  s_shaders.test_fragment[slot] = fragment;
}

int shaders_ready() { return s_shaders.ready ? 1 : 0; }
int shader_current() { return s_shaders.current; }
uint32_t shader_switch_count() { return s_shaders.switches; }

// Logs a non-empty info log as "<what> for <program>:\n<log>\n".
static void log_info(const GlProcs &gl, GLhandleARB object, const char *what, const char *name) {
  GLint length = 0;
  gl.GetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
  if (length <= 1) return;
  char *text = (char *)malloc((size_t)length + 1);
  if (!text) fatal_out_of_memory();
  GLsizei got = 0;
  gl.GetInfoLogARB(object, length, &got, text);
  text[got < length ? got : length] = 0;
  if (text[0]) velk_log("%s for %s:\n%s\n", what, name, text);
  free(text);
}

static GLhandleARB compile(const GlProcs &gl, GLenum kind, const std::string &source,
                           const char *what, const char *name, bool *ok) {
  GLhandleARB shader = gl.CreateShaderObjectARB(kind);
  const GLcharARB *text = source.c_str();
  gl.ShaderSourceARB(shader, 1, &text, nullptr);
  gl.CompileShaderARB(shader);
  log_info(gl, shader, what, name);
  GLint status = 0;
  gl.GetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &status);
  *ok = shader != 0 && status != 0;
  return shader;
}

void shaders_free() {
  const GlProcs &gl = *gl_procs();
  for (ShaderProgram &p : s_shaders.slots) {
    if (!gl.DeleteObjectARB) break;
    if (p.program) {
      if (p.vertex) gl.DetachObjectARB(p.program, p.vertex);
      if (p.fragment) gl.DetachObjectARB(p.program, p.fragment);
      gl.DeleteObjectARB(p.program);
    }
    if (p.vertex) gl.DeleteObjectARB(p.vertex);
    if (p.fragment) gl.DeleteObjectARB(p.fragment);
  }
  if (s_shaders.ready && gl.UseProgramObjectARB) gl.UseProgramObjectARB(0);
  shaders_forget();
}

static void set_sampler(const GlProcs &gl, GLhandleARB program, const char *name, int unit) {
  GLint at = gl.GetUniformLocationARB(program, name);
  if (at >= 0) gl.Uniform1iARB(at, unit);
}

int shaders_build() {
  const GlCapabilities &caps = *gl_caps();
  const GlProcs &gl = *gl_procs();
  if (!caps.vertex_shader || !caps.fragment_shader) return 0;
  shaders_free();
  for (int slot = 1; slot < SHADER_SLOTS; slot++) {
    ProgramSource src = program_source(slot);
    if (s_shaders.test_vertex[slot]) src.vertex = s_shaders.test_vertex[slot];
    if (s_shaders.test_fragment[slot]) src.fragment = s_shaders.test_fragment[slot];
    ShaderProgram &p = s_shaders.slots[slot];
    bool ok = false;
    p.vertex = compile(gl, GL_VERTEX_SHADER_ARB, src.vertex, "vertex shader status", src.name, &ok);
    if (ok)
      p.fragment = compile(gl, GL_FRAGMENT_SHADER_ARB, src.fragment, "fragment shader status",
                           src.name, &ok);
    if (ok) {
      p.program = gl.CreateProgramObjectARB();
      gl.AttachObjectARB(p.program, p.vertex);
      gl.AttachObjectARB(p.program, p.fragment);
      gl.LinkProgramARB(p.program);
      log_info(gl, p.program, "link status", src.name);
      GLint status = 0;
      gl.GetObjectParameterivARB(p.program, GL_OBJECT_LINK_STATUS_ARB, &status);
      ok = p.program != 0 && status != 0;
    }
    if (!ok) {  // all or nothing: the fixed pipeline stays
      shaders_free();
      gl.UseProgramObjectARB(0);
      return 0;
    }
    p.nbones = gl.GetUniformLocationARB(p.program, "nbones");
    p.bone_c = gl.GetUniformLocationARB(p.program, "bone_c");
    p.bone_t = gl.GetUniformLocationARB(p.program, "bone_t");
    p.bone_r = gl.GetUniformLocationARB(p.program, "bone_r");
    p.envmat = gl.GetUniformLocationARB(p.program, "envmat");
  }
  for (int slot = 1; slot < SHADER_SLOTS; slot++) {
    GLhandleARB program = s_shaders.slots[slot].program;
    gl.UseProgramObjectARB(program);
    set_sampler(gl, program, "tex", 0);
    set_sampler(gl, program, slot == SHADER_TERRAIN_NORMALS ? "base" : "nmap", 1);
    set_sampler(gl, program, "smap", 2);
  }
  gl.UseProgramObjectARB(0);
  s_shaders.current = SHADER_FIXED;
  s_shaders.ready = true;
  texture_set_shader_path(1);  // models now load their normal and specular maps
  return 1;
}

void shader_use(int slot) {
  if (slot < SHADER_FIXED || slot >= SHADER_SLOTS || slot == s_shaders.current) return;
  if (!s_shaders.ready) return;  // only the fixed pipeline exists
  gl_procs()->UseProgramObjectARB(slot > 0 ? s_shaders.slots[slot].program : 0);
  s_shaders.current = slot;
  s_shaders.switches++;
}

void shader_set_envmat(const float m[9]) {
  if (!s_shaders.ready) return;
  const GlProcs &gl = *gl_procs();
  for (int slot : {SHADER_ENV, SHADER_NORM_ENV}) {
    const ShaderProgram &p = s_shaders.slots[slot];
    if (p.envmat < 0) continue;
    gl.UseProgramObjectARB(p.program);
    gl.UniformMatrix3fvARB(p.envmat, 1, GL_TRUE, m);
  }
  int current = s_shaders.current;
  gl.UseProgramObjectARB(current > 0 ? s_shaders.slots[current].program : 0);
}

void shader_set_bones(int count, const float (*centres)[3], const float (*positions)[3],
                      const float (*rotations)[9]) {
  int current = s_shaders.current;
  if (!s_shaders.ready || current <= 0) return;
  const GlProcs &gl = *gl_procs();
  const ShaderProgram &p = s_shaders.slots[current];
  if (count > MAX_BONE) count = MAX_BONE;
  if (count < 0) count = 0;
  if (p.nbones >= 0) gl.Uniform1iARB(p.nbones, count);
  if (count == 0) return;
  if (p.bone_c >= 0) gl.Uniform3fvARB(p.bone_c, count, &centres[0][0]);
  if (p.bone_t >= 0) gl.Uniform3fvARB(p.bone_t, count, &positions[0][0]);
  if (p.bone_r >= 0) gl.UniformMatrix3fvARB(p.bone_r, count, GL_TRUE, &rotations[0][0]);
}
