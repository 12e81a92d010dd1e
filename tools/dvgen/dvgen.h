// dvgen: the generator of the starter data set (tracks, surfaces, shapes, textures,
// marker archive). Internal header shared by the generator's files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- output: every file goes through here so the run can list and size what it made ----
struct GenOutput {
  std::string root;                 // data directory written into, with a trailing '/'
  std::vector<std::string> files;   // relative names written, in order
  std::vector<size_t> sizes;        // bytes of each
};
GenOutput *gen_output();

// Writes `size` bytes as root + `name` (parents created). 1 or 0.
int out_write(const std::string &name, const void *data, size_t size);
int out_write_text(const std::string &name, const std::string &text);
// Records a file some project writer created under the root (for the listing).
void out_record(const std::string &name);
std::string out_path(const std::string &name);
// Reads a whole real file; 1 or 0.
int read_file(const std::string &path, std::vector<uint8_t> *out);

// ---- small deterministic helpers ----
struct Rng {
  uint64_t state;
};
void rng_seed(Rng *r, uint64_t seed);
uint32_t rng_next(Rng *r);
double rng_unit(Rng *r);                   // [0, 1)
double rng_range(Rng *r, double lo, double hi);

// Value noise on an integer lattice, hashed from (ix, iy, seed); smooth (quintic) between.
double noise2(double x, double y, uint32_t seed);
// Tileable variant: the lattice wraps every `period` cells.
double noise2_tiled(double x, double y, int period, uint32_t seed);
// Fractal sums of octaves, roughly in [-1, 1].
double fbm2(double x, double y, int octaves, uint32_t seed);
double fbm2_tiled(double x, double y, int period, int octaves, uint32_t seed);

double clampd(double v, double lo, double hi);
double smoothstep(double e0, double e1, double x);
double lerpd(double a, double b, double t);

// printf into a std::string (the C locale's "%f" is what every reader scans).
std::string strf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// ---- images ----
struct Img {
  int w = 0, h = 0, ch = 3;   // channels 3 (RGB) or 4 (RGBA)
  std::vector<uint8_t> px;    // rows top to bottom
};
Img img_make(int w, int h, int channels);
void img_set(Img *im, int x, int y, double r, double g, double b, double a = 1.0);  // 0..1
// Composites a colour with coverage `a` over the pixel (straight alpha).
void img_blend(Img *im, int x, int y, double r, double g, double b, double a);

// Writers of the image files (PNG through the project's writer when it has one).
int write_png(const std::string &name, const Img &im);
int write_png_file(const std::string &path, const Img &im);  // a real path, not recorded
int write_ppm(const std::string &name, const Img &im);  // P6
int write_pgm(const std::string &name, int w, int h, const uint8_t *grey);  // P5

// ---- the parts of the data set ----
int gen_shapes();      // the .shp collision shapes (bike, rider, gate, statues)
int gen_models();      // simple .jm meshes of the trackside statues and the gate piece
int gen_textures();    // surfaces, sky, sprites, roost, colours, statue and gate textures
int gen_rabbithill();  // the full motocross track
int gen_practice();    // the small track packed into practice.saf
int gen_marker();      // zzzz.saf

// The surface kinds of the starter tracks and the texture names they use.
enum SurfaceKind { SURF_GRASS, SURF_LOAM, SURF_HARDPACK, SURF_SAND, SURF_MUD, SURF_WATER,
                   SURF_KINDS };
extern const char *const SURFACE_TEXTURE[SURF_KINDS];  // base names: "grass" ...
// The blends between surfaces that have transition textures: kind a into kind b.
struct SurfacePair {
  SurfaceKind a, b;
};
extern const SurfacePair SURFACE_PAIRS[];
extern const int SURFACE_PAIR_COUNT;
