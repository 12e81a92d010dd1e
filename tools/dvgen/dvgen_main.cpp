// dvgen: writes the whole starter data set into a data directory ("dvgen <directory>").
// Everything is made from code with fixed seeds and integer-hashed noise, so two runs give
// the same bytes. What it writes:
//   zzzz.saf                  the marker archive (fixed text; its digest is GAME_DATA_DIGEST)
//   *.shp                     collision shapes: the seven fixed bike and rider shapes (their
//                             digest is FIXED_FILES_DIGEST), the gate piece, bale and block
//   *.jm                      meshes of the gate piece, bale and block
//   *.png, startgate.ppm      surfaces and their blends, sky, trees, banners, flaggers,
//                             roost, statues, lens flares, colors/white.png; the racers'
//                             bike (with .info plate colours), wheel, riding-gear and helmet
//                             textures with their _norm and _spec maps
//   rabbithill/               the full track, stored plain with inline heights
//   practice.saf              the small track: terrain.png heights, texturelist, members
//                             plain, .gz, .scram and .gz.scram
//   dvgen.list                sizes and names of everything above (the build's stamp)
#include <ftw.h>
#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/files.h"
#include "render/texture.h"
#include "tools/dvgen/dvgen.h"

// ---- output ----
static GenOutput g_output;

GenOutput *gen_output() { return &g_output; }

std::string out_path(const std::string &name) { return g_output.root + name; }

static int make_parents(const std::string &path) {
  for (size_t i = 1; i < path.size(); i++) {
    if (path[i] != '/') continue;
    std::string dir = path.substr(0, i);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return 0;
  }
  return 1;
}

void out_record(const std::string &name) {
  struct stat st;
  size_t size = 0;
  if (stat(out_path(name).c_str(), &st) == 0) size = (size_t)st.st_size;
  for (size_t i = 0; i < g_output.files.size(); i++) {
    if (g_output.files[i] == name) {
      g_output.sizes[i] = size;
      return;
    }
  }
  g_output.files.push_back(name);
  g_output.sizes.push_back(size);
}

int out_write(const std::string &name, const void *data, size_t size) {
  std::string path = out_path(name);
  if (!make_parents(path)) return 0;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "dvgen: can't write %s\n", path.c_str());
    return 0;
  }
  int ok = fwrite(data, 1, size, f) == size;
  ok = (fclose(f) == 0) && ok;
  if (ok) out_record(name);
  return ok;
}

int out_write_text(const std::string &name, const std::string &text) {
  return out_write(name, text.data(), text.size());
}

int read_file(const std::string &path, std::vector<uint8_t> *out) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return 0;
  out->clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  fclose(f);
  return 1;
}

std::string strf(const char *format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < (int)sizeof small) return std::string(small, n > 0 ? n : 0);
  std::string big(n + 1, '\0');
  va_start(args, format);
  vsnprintf(&big[0], big.size(), format, args);
  va_end(args);
  big.resize(n);
  return big;
}

// ---- random numbers and noise (integer hashing only, so every machine agrees) ----
void rng_seed(Rng *r, uint64_t seed) { r->state = seed * 0x9E3779B97F4A7C15ull + 1; }

uint32_t rng_next(Rng *r) {  // PCG-style step, xorshift output
  r->state = r->state * 6364136223846793005ull + 1442695040888963407ull;
  uint64_t x = r->state;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  return (uint32_t)(x >> 16);
}

double rng_unit(Rng *r) { return rng_next(r) / 4294967296.0; }
double rng_range(Rng *r, double lo, double hi) { return lo + (hi - lo) * rng_unit(r); }

static uint32_t hash3(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = seed * 0x27d4eb2du ^ (uint32_t)x * 0x85ebca6bu ^ (uint32_t)y * 0xc2b2ae35u;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return h;
}

static double lattice(int32_t x, int32_t y, uint32_t seed) {
  return hash3(x, y, seed) / 2147483648.0 - 1.0;  // [-1, 1)
}

static double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

static double noise_at(double x, double y, int period, uint32_t seed) {
  double fx = std::floor(x), fy = std::floor(y);
  int32_t ix = (int32_t)fx, iy = (int32_t)fy;
  double u = fade(x - fx), v = fade(y - fy);
  int32_t x0 = ix, x1 = ix + 1, y0 = iy, y1 = iy + 1;
  if (period > 0) {
    x0 = ((x0 % period) + period) % period;
    x1 = ((x1 % period) + period) % period;
    y0 = ((y0 % period) + period) % period;
    y1 = ((y1 % period) + period) % period;
  }
  double a = lattice(x0, y0, seed), b = lattice(x1, y0, seed);
  double c = lattice(x0, y1, seed), d = lattice(x1, y1, seed);
  return lerpd(lerpd(a, b, u), lerpd(c, d, u), v);
}

double noise2(double x, double y, uint32_t seed) { return noise_at(x, y, 0, seed); }
double noise2_tiled(double x, double y, int period, uint32_t seed) {
  return noise_at(x, y, period, seed);
}

double fbm2(double x, double y, int octaves, uint32_t seed) {
  double sum = 0, amp = 0.5, norm = 0;
  for (int o = 0; o < octaves; o++) {
    sum += amp * noise2(x, y, seed + o * 101);
    norm += amp;
    x *= 2;
    y *= 2;
    amp *= 0.5;
  }
  return sum / norm;
}

double fbm2_tiled(double x, double y, int period, int octaves, uint32_t seed) {
  double sum = 0, amp = 0.5, norm = 0;
  for (int o = 0; o < octaves; o++) {
    sum += amp * noise2_tiled(x, y, period, seed + o * 101);
    norm += amp;
    x *= 2;
    y *= 2;
    period *= 2;
    amp *= 0.5;
  }
  return sum / norm;
}

double clampd(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }
double smoothstep(double e0, double e1, double x) {
  double t = clampd((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}
double lerpd(double a, double b, double t) { return a + (b - a) * t; }

// ---- images ----
Img img_make(int w, int h, int channels) {
  Img im;
  im.w = w;
  im.h = h;
  im.ch = channels;
  im.px.assign((size_t)w * h * channels, 0);
  return im;
}

static uint8_t to_byte(double v) { return (uint8_t)clampd(std::floor(v * 255.0 + 0.5), 0, 255); }

void img_set(Img *im, int x, int y, double r, double g, double b, double a) {
  if (x < 0 || y < 0 || x >= im->w || y >= im->h) return;
  uint8_t *p = &im->px[((size_t)y * im->w + x) * im->ch];
  p[0] = to_byte(r);
  p[1] = to_byte(g);
  p[2] = to_byte(b);
  if (im->ch == 4) p[3] = to_byte(a);
}

void img_blend(Img *im, int x, int y, double r, double g, double b, double a) {
  if (x < 0 || y < 0 || x >= im->w || y >= im->h || a <= 0) return;
  uint8_t *p = &im->px[((size_t)y * im->w + x) * im->ch];
  double da = im->ch == 4 ? p[3] / 255.0 : 1.0;
  double oa = a + da * (1 - a);
  auto mix = [&](uint8_t dst, double src) {
    if (oa <= 0) return 0.0;
    return (src * a + dst / 255.0 * da * (1 - a)) / oa;
  };
  double nr = mix(p[0], r), ng = mix(p[1], g), nb = mix(p[2], b);
  p[0] = to_byte(nr);
  p[1] = to_byte(ng);
  p[2] = to_byte(nb);
  if (im->ch == 4) p[3] = to_byte(oa);
}

// PNG writer of the generator, for RGBA images (the project's writers cover 16-bit grey
// and RGB only). Compression level and filters are fixed; no time chunk is written.
static int png_write_rgba_file(const std::string &path, const Img &im) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return 0;
  }
  png_init_io(png, f);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, im.w, im.h, 8, im.ch == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < im.h; y++)
    png_write_row(png, (png_const_bytep)&im.px[(size_t)y * im.w * im.ch]);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return fclose(f) == 0;
}

int write_png_file(const std::string &path, const Img &im) {
  return im.ch == 3 ? png_write_rgb(path.c_str(), im.px.data(), im.w, im.h)
                    : png_write_rgba_file(path, im);
}

int write_png(const std::string &name, const Img &im) {
  std::string path = out_path(name);
  if (!make_parents(path)) return 0;
  // RGB through the project's writer; RGBA (sprites) through the generator's own.
  if (!write_png_file(path, im)) {
    fprintf(stderr, "dvgen: can't write %s\n", path.c_str());
    return 0;
  }
  out_record(name);
  return 1;
}

int write_ppm(const std::string &name, const Img &im) {
  std::string data = strf("P6\n%d %d\n255\n", im.w, im.h);
  for (size_t i = 0; i < (size_t)im.w * im.h; i++)
    data.append((const char *)&im.px[i * im.ch], 3);
  return out_write(name, data.data(), data.size());
}

int write_pgm(const std::string &name, int w, int h, const uint8_t *grey) {
  std::string data = strf("P5\n%d %d\n255\n", w, h);
  data.append((const char *)grey, (size_t)w * h);
  return out_write(name, data.data(), data.size());
}

// ---- the marker archive ----
// zzzz.saf identifies the data set: its bytes are fixed text (no compressed members), so
// its digest does not depend on the zlib of the machine that generated it.
int gen_marker() {
  static const char readme[] =
      "Dirtvane starter data set\n"
      "Generated by dvgen from the game's own sources: tracks rabbithill and practice,\n"
      "surfaces, collision shapes, textures and this marker.\n";
  static const char version[] = "starter 1\n";
  PackMember members[2] = {{"dirtvane/readme.txt", readme, sizeof readme - 1},
                           {"dirtvane/version", version, sizeof version - 1}};
  std::string path = out_path("zzzz.saf");
  if (!pack_write_archive(path.c_str(), members, 2)) return 0;
  out_record("zzzz.saf");
  return 1;
}

// ---- main ----
static int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return remove(path);
}

// Removes the staging directory the project's writers wrote into.
static void remove_stage(const std::string &stage) {
  nftw(stage.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: dvgen <data directory>\n");
    return 2;
  }
  g_output.root = argv[1];
  if (g_output.root.empty() || g_output.root.back() != '/') g_output.root += '/';
  if (!make_parents(g_output.root)) {
    fprintf(stderr, "dvgen: can't create %s\n", g_output.root.c_str());
    return 1;
  }
  // The project's writers write '@' names into the home directory: point it at a
  // staging directory inside the output, and the game data at the output itself.
  std::string stage = g_output.root + ".dvgen-stage";
  setenv("XDG_DATA_HOME", stage.c_str(), 1);
  setenv("DV_HOME", g_output.root.c_str(), 1);
  remove_stage(stage);

  struct Step {
    const char *name;
    int (*run)();
  };
  static const Step steps[] = {
      {"marker", gen_marker},       {"shapes", gen_shapes},       {"models", gen_models},
      {"textures", gen_textures},   {"rabbithill", gen_rabbithill}, {"practice", gen_practice},
  };
  for (const Step &s : steps) {
    if (!s.run()) {
      fprintf(stderr, "dvgen: %s failed\n", s.name);
      return 1;
    }
  }
  remove_stage(stage);
  size_t total = 0, rabbit = 0, practice = 0;
  for (size_t i = 0; i < g_output.files.size(); i++) {
    total += g_output.sizes[i];
    if (g_output.files[i].rfind("rabbithill/", 0) == 0) rabbit += g_output.sizes[i];
    if (g_output.files[i].rfind("practice", 0) == 0) practice += g_output.sizes[i];
  }
  printf("dvgen: %zu files, %zu bytes (rabbithill %zu, practice %zu)\n", g_output.files.size(),
         total, rabbit, practice);
  // The list of what was made, for the build's stamp and the determinism test.
  std::string list;
  for (size_t i = 0; i < g_output.files.size(); i++)
    list += strf("%zu %s\n", g_output.sizes[i], g_output.files[i].c_str());
  if (!out_write_text("dvgen.list", list)) return 1;
  return 0;
}
