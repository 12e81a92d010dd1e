// dvgen: procedural textures: ground surfaces and their blends, sky, trees, banners,
// flaggers, roost, statues, the starting gate, lens flares, the plain colours, and the
// racers' bike, wheel, riding-gear and helmet textures with their normal and specular maps.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/bike_model.h"
#include "tools/dvgen/dvgen.h"

static const double PI = 3.14159265358979323846;

// ---- ground surfaces ----
// Every ground texture tiles with a period of one texture (128 px = one 4 ft tile), so a
// blend tile matches its neighbours along every edge.
constexpr int GROUND = 128;

struct Rgb {
  double r, g, b;
};
static Rgb mix(Rgb a, Rgb b, double t) { return {lerpd(a.r, b.r, t), lerpd(a.g, b.g, t), lerpd(a.b, b.b, t)}; }
static Rgb scale(Rgb a, double s) { return {a.r * s, a.g * s, a.b * s}; }

// Tileable fractal noise over the texture: u, v in [0, 1), `cells` lattice cells across.
static double tnoise(double u, double v, int cells, int octaves, uint32_t seed) {
  return fbm2_tiled(u * cells, v * cells, cells, octaves, seed);
}

// Cellular "pebbles": distance to the nearest of a few jittered points per cell, tiling.
static double pebbles(double u, double v, int cells, uint32_t seed, double *id) {
  double best = 9;
  *id = 0;
  double x = u * cells, y = v * cells;
  int cx = (int)std::floor(x), cy = (int)std::floor(y);
  for (int dy = -1; dy <= 1; dy++)
    for (int dx = -1; dx <= 1; dx++) {
      int gx = cx + dx, gy = cy + dy;
      int wx = ((gx % cells) + cells) % cells, wy = ((gy % cells) + cells) % cells;
      Rng r;
      rng_seed(&r, (uint64_t)seed * 7919 + wx * 131 + wy);
      double px = gx + rng_unit(&r), py = gy + rng_unit(&r);
      double d = std::sqrt((x - px) * (x - px) + (y - py) * (y - py));
      if (d < best) best = d, *id = rng_unit(&r);
    }
  return best;
}

// A surface as colour and relief; shading the relief with a low light gives it depth.
struct Texel {
  Rgb c;
  double h;  // relief, arbitrary units
};

static Texel grass_at(double u, double v) {
  // Only small features: a tile repeats every 4 ft and anything larger shows the grid.
  double big = tnoise(u, v, 4, 2, 11), mid = tnoise(u, v, 8, 3, 12);
  double blades = tnoise(u * 1.0, v * 0.25, 64, 2, 13);  // streaks
  double fine = tnoise(u, v, 64, 1, 14);
  Rgb dark = {0.17, 0.30, 0.09}, light = {0.36, 0.52, 0.18}, dry = {0.52, 0.52, 0.25};
  Rgb c = mix(dark, light, clampd(0.55 + 0.45 * mid + 0.7 * blades, 0, 1));
  c = mix(c, dry, clampd(big * 0.6, 0, 0.2));
  c = scale(c, 0.92 + 0.16 * fine);
  return {c, 0.6 * blades + 0.3 * mid + 0.2 * fine};
}

static Texel loam_at(double u, double v) {
  double mid = tnoise(u, v, 8, 3, 21), fine = tnoise(u, v, 32, 2, 22);
  double id;
  double clod = pebbles(u, v, 10, 23, &id);
  double sid;
  double stone = pebbles(u, v, 24, 24, &sid);
  Rgb base = {0.40, 0.28, 0.18}, dark = {0.26, 0.17, 0.11}, lightc = {0.52, 0.39, 0.27};
  Rgb c = mix(dark, lightc, clampd(0.5 + mid * 0.6 + fine * 0.5, 0, 1));
  c = mix(c, base, 0.4);
  double clod_h = smoothstep(0.15, 0.75, 0.8 - clod) * (0.3 + 0.7 * id);
  c = scale(c, 0.92 + 0.18 * clod_h);
  double st = sid > 0.93 ? 1 - smoothstep(0.13, 0.2, stone) : 0;
  c = mix(c, Rgb{0.46, 0.42, 0.37}, st * 0.5);
  return {c, clod_h * 0.6 + st * 0.5 + 0.3 * fine + 0.4 * mid};
}

static Texel hardpack_at(double u, double v) {
  double mid = tnoise(u, v, 8, 3, 31), fine = tnoise(u, v, 48, 2, 32);
  double id;
  double cell = pebbles(u, v, 8, 33, &id);
  double sid;
  double stone = pebbles(u, v, 20, 34, &sid);
  Rgb a = {0.50, 0.40, 0.29}, b = {0.64, 0.54, 0.41};
  Rgb c = mix(a, b, clampd(0.5 + mid * 0.6 + fine * 0.4, 0, 1));
  double crack = 1 - smoothstep(0.02, 0.07, std::fabs(cell - 0.62 - 0.1 * id));
  double crack_w = crack * clampd(0.3 - mid, 0, 1);
  c = scale(c, 1 - 0.35 * crack_w);
  double st = sid > 0.7 ? 1 - smoothstep(0.12, 0.18, stone) : 0;
  c = mix(c, mix(Rgb{0.62, 0.6, 0.56}, Rgb{0.42, 0.4, 0.38}, sid), st * 0.85);
  return {c, 0.4 * mid + 0.15 * fine - 0.4 * crack_w + 0.4 * st};
}

static Texel sand_at(double u, double v) {
  double mid = tnoise(u, v, 8, 3, 41), fine = tnoise(u, v, 64, 2, 42);
  double ripple = std::sin(2 * PI * (6 * u + 2 * v) + 3.0 * tnoise(u, v, 8, 2, 43));
  Rgb a = {0.74, 0.63, 0.43}, b = {0.88, 0.79, 0.58};
  Rgb c = mix(a, b, clampd(0.5 + mid * 0.5 + 0.1 * ripple, 0, 1));
  c = scale(c, 0.94 + 0.12 * fine);
  return {c, 0.35 * ripple + 0.3 * mid + 0.25 * fine};
}

static Texel mud_at(double u, double v) {
  double mid = tnoise(u, v, 8, 3, 51), fine = tnoise(u, v, 32, 2, 52);
  double puddle = smoothstep(0.2, 0.35, tnoise(u, v, 6, 3, 53));
  Rgb a = {0.24, 0.17, 0.11}, b = {0.36, 0.26, 0.17};
  Rgb c = mix(a, b, clampd(0.5 + mid * 0.6 + 0.4 * fine, 0, 1));
  c = mix(c, Rgb{0.20, 0.16, 0.12}, puddle * 0.5);
  return {c, (1 - puddle) * (0.5 * mid + 0.35 * fine)};
}

static Texel water_at(double u, double v) {
  double ripple = tnoise(u, v, 8, 3, 61), fine = tnoise(u, v, 32, 2, 62);  // small waves
  Rgb deep = {0.27, 0.27, 0.22}, sky = {0.56, 0.63, 0.66};
  Rgb c = mix(deep, sky, clampd(0.35 + 0.8 * ripple + 0.2 * fine, 0, 0.85));
  return {c, 0.25 * ripple + 0.1 * fine};
}

typedef Texel (*SurfaceFn)(double u, double v);
static const SurfaceFn SURFACE_FN[SURF_KINDS] = {grass_at, loam_at, hardpack_at, sand_at, mud_at,
                                                 water_at};

// Shades the relief of a texel grid with a light from the upper left.
static Img shade_relief(const std::vector<Texel> &t, int size, double strength) {
  Img im = img_make(size, size, 3);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      const Texel &e = t[(size_t)y * size + x];
      double hx = t[(size_t)y * size + (x + 1) % size].h - t[(size_t)y * size + (x + size - 1) % size].h;
      double hy = t[(size_t)((y + 1) % size) * size + x].h - t[(size_t)((y + size - 1) % size) * size + x].h;
      double lit = clampd(1 - strength * (hx + hy), 0.6, 1.4);
      img_set(&im, x, y, e.c.r * lit, e.c.g * lit, e.c.b * lit);
    }
  return im;
}

static std::vector<Texel> surface_texels(int kind) {
  std::vector<Texel> t((size_t)GROUND * GROUND);
  for (int y = 0; y < GROUND; y++)
    for (int x = 0; x < GROUND; x++)
      t[(size_t)y * GROUND + x] = SURFACE_FN[kind]((x + 0.5) / GROUND, (y + 0.5) / GROUND);
  return t;
}

static const double RELIEF[SURF_KINDS] = {0.35, 0.5, 0.45, 0.35, 0.4, 0.2};

// Blend of surface a into b: corner mask bits (x0z0, x1z0, x0z1, x1z1), first the most
// significant; the edge wanders with tiling noise so neighbouring tiles join.
static Img blend_texture(int a, int b, int mask, const std::vector<Texel> &ta, const std::vector<Texel> &tb) {
  double c00 = (mask >> 3) & 1, c10 = (mask >> 2) & 1, c01 = (mask >> 1) & 1, c11 = mask & 1;
  std::vector<Texel> t((size_t)GROUND * GROUND);
  for (int y = 0; y < GROUND; y++)
    for (int x = 0; x < GROUND; x++) {
      double u = (x + 0.5) / GROUND, v = (y + 0.5) / GROUND;
      double su = smoothstep(0, 1, u), sv = smoothstep(0, 1, v);
      double w = lerpd(lerpd(c00, c10, su), lerpd(c01, c11, su), sv);
      double n = tnoise(u, v, 4, 3, 71 + a * 7 + b);
      double e = smoothstep(0.4, 0.6, w + 0.42 * n);
      const Texel &pa = ta[(size_t)y * GROUND + x], &pb = tb[(size_t)y * GROUND + x];
      t[(size_t)y * GROUND + x] = {mix(pa.c, pb.c, e), lerpd(pa.h, pb.h, e)};
    }
  return shade_relief(t, GROUND, lerpd(RELIEF[a], RELIEF[b], 0.5));
}

static int gen_ground() {
  std::vector<Texel> texels[SURF_KINDS];
  for (int k = 0; k < SURF_KINDS; k++) {
    texels[k] = surface_texels(k);
    if (!write_png(strf("%s.png", SURFACE_TEXTURE[k]), shade_relief(texels[k], GROUND, RELIEF[k])))
      return 0;
  }
  for (int p = 0; p < SURFACE_PAIR_COUNT; p++) {
    int a = SURFACE_PAIRS[p].a, b = SURFACE_PAIRS[p].b;
    for (int m = 1; m <= 14; m++) {
      std::string name = strf("%s-%s-%d%d%d%d.png", SURFACE_TEXTURE[a], SURFACE_TEXTURE[b], (m >> 3) & 1,
                              (m >> 2) & 1, (m >> 1) & 1, m & 1);
      if (!write_png(name, blend_texture(a, b, m, texels[a], texels[b]))) return 0;
    }
  }
  return 1;
}

// ---- sky ----
// Each face is a cube face seen from inside: sky-n looks north (-z) with east to the
// right, and so on round; sky-u looks up with north at the top. Clouds lie on one plane
// above the field so they run on across the faces.
static const double SUN_DIR[3] = {-0.43, 0.72, 0.55};

static Rgb sky_colour(double dx, double dy, double dz) {
  double l = std::sqrt(dx * dx + dy * dy + dz * dz);
  dx /= l, dy /= l, dz /= l;
  Rgb zenith = {0.24, 0.45, 0.80}, horizon = {0.74, 0.82, 0.90}, ground = {0.40, 0.50, 0.33};
  Rgb c;
  if (dy >= 0) {
    c = mix(horizon, zenith, std::pow(dy, 0.55));
    // Clouds on a plane: puffy fbm, denser toward the horizon's haze.
    double px = dx / (dy + 0.08) * 0.9, pz = dz / (dy + 0.08) * 0.9;
    double n = fbm2(px * 1.3 + 7, pz * 1.3 + 3, 5, 81);
    double cloud = smoothstep(0.02, 0.35, n) * smoothstep(0.0, 0.12, dy);
    double shade = 0.82 + 0.18 * smoothstep(-0.2, 0.4, fbm2(px * 2.6 + 1, pz * 2.6 + 9, 3, 82));
    c = mix(c, Rgb{0.97 * shade, 0.97 * shade, 0.98 * shade}, cloud * 0.9);
  } else {
    c = mix(horizon, ground, smoothstep(0, 0.2, -dy));
  }
  // Glow around the sun.
  double sl = std::sqrt(SUN_DIR[0] * SUN_DIR[0] + SUN_DIR[1] * SUN_DIR[1] + SUN_DIR[2] * SUN_DIR[2]);
  double cosang = (dx * SUN_DIR[0] + dy * SUN_DIR[1] + dz * SUN_DIR[2]) / sl;
  double glow = std::pow(clampd(cosang, 0, 1), 24) * 0.45 + std::pow(clampd(cosang, 0, 1), 600) * 1.5;
  c = mix(c, Rgb{1, 0.97, 0.88}, clampd(glow, 0, 1));
  return c;
}

static int gen_sky() {
  struct Face {
    const char *name;
    double f[3], r[3], u[3];  // forward, right, up of the face
  };
  const Face faces[] = {
      {"sky-n.png", {0, 0, -1}, {1, 0, 0}, {0, 1, 0}},
      {"sky-e.png", {1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
      {"sky-s.png", {0, 0, 1}, {-1, 0, 0}, {0, 1, 0}},
      {"sky-w.png", {-1, 0, 0}, {0, 0, -1}, {0, 1, 0}},
      {"sky-u.png", {0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
  };
  const int S = 256;
  for (const Face &fc : faces) {
    Img im = img_make(S, S, 3);
    for (int y = 0; y < S; y++)
      for (int x = 0; x < S; x++) {
        double a = 2 * (x + 0.5) / S - 1, b = 1 - 2 * (y + 0.5) / S;
        double d[3];
        for (int k = 0; k < 3; k++) d[k] = fc.f[k] + a * fc.r[k] + b * fc.u[k];
        Rgb c = sky_colour(d[0], d[1], d[2]);
        // A far line of hills and trees on the horizon of the side faces.
        if (fc.f[1] == 0) {
          double az = std::atan2(d[0], -d[2]);
          double hills = 0.06 + 0.06 * fbm2(az * 3.0 + 10, 0.5, 4, 83);
          double trees = hills + 0.012 + 0.012 * fbm2(az * 60, 1.5, 2, 84);
          double elev = d[1] / std::sqrt(d[0] * d[0] + d[2] * d[2]);
          if (elev < 0) {  // the meadows beyond the field, fading into haze
            c = mix(Rgb{0.42, 0.52, 0.40}, Rgb{0.30, 0.42, 0.22}, smoothstep(0, 0.3, -elev));
          } else if (elev < hills) {  // far hills, blue with distance
            c = mix(Rgb{0.40, 0.50, 0.46}, Rgb{0.58, 0.66, 0.70}, smoothstep(0, hills, elev) * 0.6);
          } else if (elev < trees) {  // a tree line on the near hills
            c = Rgb{0.30, 0.40, 0.30};
          }
        }
        img_set(&im, x, y, c.r, c.g, c.b);
      }
    if (!write_png(fc.name, im)) return 0;
  }
  // Environment map for reflections: a sphere map of the same sky over a dim ground.
  const int E = 128;
  Img env = img_make(E, E, 3);
  for (int y = 0; y < E; y++)
    for (int x = 0; x < E; x++) {
      double a = 2 * (x + 0.5) / E - 1, b = 1 - 2 * (y + 0.5) / E;
      double r2 = a * a + b * b;
      Rgb c = {0, 0, 0};
      if (r2 <= 1) {
        double nz = std::sqrt(1 - r2);  // sphere-map normal, reflect the view (0, 0, 1)
        double rx = 2 * nz * a, ry = 2 * nz * b, rz = 2 * nz * nz - 1;
        c = sky_colour(rx, ry, -rz);
      }
      img_set(&env, x, y, c.r, c.g, c.b);
    }
  return write_png("sky-env.png", env);
}

// ---- drawing sprites: antialiased shapes by signed distance ----
struct Canvas {
  Img im;
  double sx, sy;  // pixels per unit
  Canvas(int w, int h, double units_w, double units_h) {
    im = img_make(w, h, 4);
    sx = w / units_w;
    sy = h / units_h;
  }
  // Fills where sdf(x, y) < 0 (units, y up from the bottom) with colour(x, y).
  template <class Sdf, class Col>
  void fill(Sdf sdf, Col col, double alpha = 1.0) {
    double px = 1.0 / std::fmin(sx, sy);
    for (int j = 0; j < im.h; j++)
      for (int i = 0; i < im.w; i++) {
        double x = (i + 0.5) / sx, y = (im.h - j - 0.5) / sy;
        double d = sdf(x, y);
        double cov = clampd(0.5 - d / px, 0, 1);
        if (cov <= 0) continue;
        Rgb c = col(x, y);
        img_blend(&im, i, j, c.r, c.g, c.b, cov * alpha);
      }
  }
};

static double sd_circle(double x, double y, double cx, double cy, double r) {
  return std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) - r;
}
static double sd_capsule(double x, double y, double ax, double ay, double bx, double by, double r) {
  double px = x - ax, py = y - ay, ex = bx - ax, ey = by - ay;
  double t = clampd((px * ex + py * ey) / (ex * ex + ey * ey), 0, 1);
  double dx = px - ex * t, dy = py - ey * t;
  return std::sqrt(dx * dx + dy * dy) - r;
}
static double sd_box(double x, double y, double x0, double y0, double x1, double y1) {
  double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, hx = (x1 - x0) / 2, hy = (y1 - y0) / 2;
  double dx = std::fabs(x - cx) - hx, dy = std::fabs(y - cy) - hy;
  double ox = dx > 0 ? dx : 0, oy = dy > 0 ? dy : 0;
  return std::sqrt(ox * ox + oy * oy) + std::fmin(std::fmax(dx, dy), 0.0);
}

static auto solid(Rgb c) {
  return [c](double, double) { return c; };
}

// ---- a small block font for the banners and boards ----
struct Glyph {
  char ch;
  const char *rows[7];
};
static const Glyph FONT[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."}},
    {'X', {"#...#", ".#.#.", ".#.#.", "..#..", ".#.#.", ".#.#.", "#...#"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'3', {"####.", "....#", "....#", ".###.", "....#", "....#", "####."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
};

// Text in block letters, `h` units tall, its left end at (x, y) (bottom of the letters).
static void draw_text(Canvas *cv, const char *text, double x, double y, double h, Rgb colour) {
  double cell = h / 7.0;
  for (const char *p = text; *p; p++, x += 6 * cell) {
    const Glyph *g = nullptr;
    for (const Glyph &f : FONT)
      if (f.ch == *p) g = &f;
    if (!g) continue;
    for (int r = 0; r < 7; r++)
      for (int c = 0; c < 5; c++) {
        if (g->rows[r][c] != '#') continue;
        double x0 = x + c * cell, y0 = y + (6 - r) * cell;
        cv->fill([&](double px, double py) { return sd_box(px, py, x0 - 0.02 * cell, y0 - 0.02 * cell, x0 + cell * 1.02, y0 + cell * 1.02); },
                 solid(colour));
      }
  }
}
static double text_width(const char *text, double h) { return (6.0 * strlen(text) - 1) * h / 7.0; }

// ---- trees ----
// A broadleaf crown of overlapping leaf clumps lit from the upper left, on a trunk.
static Img tree_broadleaf(uint32_t seed, Rgb leaf, Rgb bark, bool birch) {
  const double W = 0.8, H = 1.0;  // drawn at this aspect
  Canvas cv(256, 256, W, H);
  // Trunk and a few branches.
  Rgb bark_dark = scale(bark, 0.6);
  cv.fill([&](double x, double y) { return sd_capsule(x, y, W / 2, 0.0, W / 2 + 0.01, 0.55, 0.035); },
          [&](double x, double y) {
            double n = noise2(x * 60, y * 12, seed);
            if (birch && noise2(x * 20, y * 40, seed + 1) > 0.45) return bark_dark;
            return scale(bark, 0.85 + 0.25 * n);
          });
  cv.fill([&](double x, double y) { return sd_capsule(x, y, W / 2, 0.35, W / 2 - 0.14, 0.58, 0.016); }, solid(bark));
  cv.fill([&](double x, double y) { return sd_capsule(x, y, W / 2, 0.42, W / 2 + 0.15, 0.62, 0.014); }, solid(bark));
  Rng r;
  rng_seed(&r, seed);
  for (int i = 0; i < 70; i++) {
    double a = rng_unit(&r) * 2 * PI, d = std::sqrt(rng_unit(&r));
    double cx = W / 2 + std::cos(a) * d * 0.27, cy = 0.64 + std::sin(a) * d * 0.27;
    double rad = rng_range(&r, 0.06, 0.11);
    double shade = 0.55 + 0.35 * clampd((cy - 0.45) / 0.5, 0, 1) + 0.2 * clampd((W / 2 - cx) / 0.3, -1, 1);
    shade *= rng_range(&r, 0.85, 1.1);
    uint32_t s2 = seed + 10 + i;
    cv.fill([&](double x, double y) { return sd_circle(x, y, cx, cy, rad) + 0.012 * noise2(x * 90, y * 90, s2); },
            [&](double x, double y) {
              double hl = clampd(((cx - x) + (y - cy)) / rad, -1, 1);  // lit from upper left
              double n = noise2(x * 150, y * 150, s2);
              return scale(leaf, shade * (0.85 + 0.2 * hl + 0.15 * n));
            });
  }
  return cv.im;
}

// A pine: stacked drooping tiers of needles narrowing to the top.
static Img tree_pine(uint32_t seed) {
  const double W = 0.55, H = 1.0;
  Canvas cv(128, 256, W, H);
  Rgb needle = {0.10, 0.24, 0.12};
  cv.fill([&](double x, double y) { return sd_capsule(x, y, W / 2, 0.0, W / 2, 0.3, 0.025); }, solid(Rgb{0.30, 0.20, 0.13}));
  for (int tier = 0; tier < 7; tier++) {
    double y0 = 0.12 + tier * 0.12, half = 0.26 * (1 - tier / 7.5), top = y0 + 0.22;
    uint32_t s2 = seed + tier;
    cv.fill([&](double x, double y) {
              double dx = std::fabs(x - W / 2);
              if (y < y0 - 0.02 || y > top) return 1.0;
              double edge = half * (top - y) / (top - y0) + 0.015 * noise2(x * 80, y * 80, s2);
              double sag = 0.03 * (dx / half) * (dx / half);
              return std::fmax(dx - edge, (y0 + sag) - y);
            },
            [&](double x, double y) {
              double lit = 0.75 + 0.35 * clampd((W / 2 - x) / 0.25, -1, 1) + 0.15 * noise2(x * 120, y * 200, s2);
              return scale(needle, lit * (0.9 + 0.08 * tier));
            });
  }
  return cv.im;
}

// ---- banners ----
static Img banner(int which) {
  Canvas cv(256, 64, 4.0, 1.0);
  static const Rgb BG[4] = {{0.85, 0.1, 0.08}, {0.05, 0.2, 0.6}, {0.98, 0.78, 0.05}, {0.08, 0.08, 0.08}};
  static const Rgb FG[4] = {{1, 1, 1}, {1, 1, 1}, {0.08, 0.08, 0.08}, {0.95, 0.55, 0.05}};
  static const char *const TEXT[4] = {"DIRTVANE", "RABBIT HILL", "MX 450", "GO HARD"};
  cv.fill([](double x, double y) { return sd_box(x, y, 0, 0, 4, 1); }, [&](double, double y) {
    return scale(BG[which], 0.9 + 0.1 * y);
  });
  // Stripes along the edges and a checker band on the first one.
  cv.fill([](double x, double y) { return std::fmin(sd_box(x, y, 0, 0, 4, 0.08), sd_box(x, y, 0, 0.92, 4, 1)); },
          solid(FG[which]));
  if (which == 0)
    cv.fill([](double x, double y) {
              if (x > 0.5) return 1.0;
              int cx = (int)(x / 0.1), cy = (int)(y / 0.1);
              return ((cx + cy) & 1) ? -1.0 : 1.0;
            },
            solid(Rgb{1, 1, 1}));
  double h = 0.5, w = text_width(TEXT[which], h);
  if (w > 3.3) h *= 3.3 / w, w = 3.3;
  draw_text(&cv, TEXT[which], 2.0 - w / 2 + (which == 0 ? 0.2 : 0), 0.5 - h / 2, h, FG[which]);
  return cv.im;
}

// ---- people: the flaggers ----
enum Pose { POSE_STAND, POSE_BOARD_UP, POSE_BOARD_SIDE, POSE_BOARD_DOWN, POSE_WALK, POSE_FLAG_UP,
            POSE_FLAG_DOWN, POSE_CROSSED };
enum FlagKind { FLAG_NONE, FLAG_YELLOW, FLAG_WHITE, FLAG_CHECKER, FLAG_GREEN };

// A marshal in a vest, 6 ft tall in a 0.6 aspect sprite.
static Img person(Pose pose, FlagKind flag, uint32_t seed) {
  const double W = 3.6, H = 6.0;  // ft
  Canvas cv(128, 256, W, H);
  Rgb skin = {0.86, 0.66, 0.52}, pants = {0.16, 0.18, 0.24}, shirt = {0.92, 0.92, 0.9},
      vest = {0.98, 0.45, 0.05}, boot = {0.1, 0.08, 0.07}, cap = {0.1, 0.2, 0.5};
  (void)seed;
  double cx = W / 2;
  // Legs.
  double spread = pose == POSE_WALK ? 0.35 : 0.12;
  cv.fill([&](double x, double y) { return sd_capsule(x, y, cx - 0.18, 2.9, cx - 0.18 - spread, 0.3, 0.2); }, solid(pants));
  cv.fill([&](double x, double y) { return sd_capsule(x, y, cx + 0.18, 2.9, cx + 0.18 + spread, 0.3, 0.2); }, solid(scale(pants, 0.85)));
  cv.fill([&](double x, double y) { return sd_box(x, y, cx - 0.5 - spread, 0, cx - 0.05 - spread, 0.3); }, solid(boot));
  cv.fill([&](double x, double y) { return sd_box(x, y, cx + 0.05 + spread, 0, cx + 0.5 + spread, 0.3); }, solid(boot));
  // Body: shirt with a safety vest.
  cv.fill([&](double x, double y) { return sd_box(x, y, cx - 0.55, 2.7, cx + 0.55, 4.9) - 0.08; }, solid(shirt));
  cv.fill([&](double x, double y) { return sd_box(x, y, cx - 0.5, 2.8, cx + 0.5, 4.7) - 0.05; },
          [&](double, double y) {
            if (std::fabs(y - 3.4) < 0.08 || std::fabs(y - 3.9) < 0.08) return Rgb{0.9, 0.9, 0.85};
            return vest;
          });
  // Head and cap.
  cv.fill([&](double x, double y) { return sd_capsule(x, y, cx, 4.9, cx, 5.1, 0.14); }, solid(skin));
  cv.fill([&](double x, double y) { return sd_circle(x, y, cx, 5.4, 0.36); }, solid(skin));
  cv.fill([&](double x, double y) { return std::fmax(sd_circle(x, y, cx, 5.45, 0.4), 5.5 - y); }, solid(cap));
  cv.fill([&](double x, double y) { return sd_box(x, y, cx - 0.1, 5.5, cx + 0.6, 5.58); }, solid(cap));
  // Arms: hand positions by pose.
  double lsx = cx - 0.6, rsx = cx + 0.6, sy = 4.6;
  double lhx = cx - 0.75, lhy = 3.0, rhx = cx + 0.75, rhy = 3.0;
  if (pose == POSE_BOARD_UP || pose == POSE_BOARD_SIDE) lhx = cx - 0.5, lhy = 5.4, rhx = cx + 0.5, rhy = 5.4;
  if (pose == POSE_BOARD_DOWN) lhx = cx - 0.45, lhy = 3.2, rhx = cx + 0.45, rhy = 3.2;
  if (pose == POSE_FLAG_UP) rhx = cx + 0.85, rhy = 5.0;
  if (pose == POSE_FLAG_DOWN) rhx = cx + 0.9, rhy = 3.3;
  if (pose == POSE_CROSSED) lhx = cx - 0.85, lhy = 5.0, rhx = cx + 0.85, rhy = 5.0;
  if (pose == POSE_WALK) lhx = cx - 0.9, lhy = 3.3, rhx = cx + 0.5, rhy = 3.1;
  cv.fill([&](double x, double y) { return sd_capsule(x, y, lsx, sy, lhx, lhy, 0.13); }, solid(shirt));
  cv.fill([&](double x, double y) { return sd_capsule(x, y, rsx, sy, rhx, rhy, 0.13); }, solid(shirt));
  cv.fill([&](double x, double y) { return sd_circle(x, y, lhx, lhy, 0.13); }, solid(skin));
  cv.fill([&](double x, double y) { return sd_circle(x, y, rhx, rhy, 0.13); }, solid(skin));
  // The start board ("30"): face on, edge on, or lowered.
  if (pose == POSE_BOARD_UP || pose == POSE_BOARD_DOWN) {
    double by = pose == POSE_BOARD_UP ? 4.95 : 2.5;
    cv.fill([&](double x, double y) { return sd_box(x, y, cx - 0.75, by, cx + 0.75, by + 1.0); }, solid(Rgb{0.97, 0.97, 0.95}));
    draw_text(&cv, "30", cx - text_width("30", 0.7) / 2, by + 0.15, 0.7, Rgb{0.05, 0.05, 0.05});
  }
  if (pose == POSE_BOARD_SIDE)
    cv.fill([&](double x, double y) { return sd_box(x, y, cx - 0.05, 4.95, cx + 0.05, 5.95); }, solid(Rgb{0.7, 0.7, 0.68}));
  // Flags on poles.
  auto flag_at = [&](double hx, double hy, double dir, FlagKind kind) {
    double tx = hx + dir * 0.1, ty = hy + 0.85;
    cv.fill([&](double x, double y) { return sd_capsule(x, y, hx, hy - 0.2, tx, ty, 0.04); }, solid(Rgb{0.3, 0.25, 0.2}));
    double fx0 = std::fmin(tx, tx + dir * 0.78), fx1 = std::fmax(tx, tx + dir * 0.78);
    cv.fill([&](double x, double y) {
              double wave = 0.06 * std::sin((x - tx) * 6);
              return sd_box(x, y - wave, fx0, ty - 0.55, fx1, ty);
            },
            [&](double x, double y) {
              if (kind == FLAG_YELLOW) return Rgb{1.0, 0.85, 0.05};
              if (kind == FLAG_WHITE) return Rgb{0.97, 0.97, 0.97};
              if (kind == FLAG_GREEN) return Rgb{0.1, 0.6, 0.2};
              int a = (int)std::floor((x - fx0) / 0.2), b = (int)std::floor((y - ty) / 0.2);
              return ((a + b) & 1) ? Rgb{0.05, 0.05, 0.05} : Rgb{0.97, 0.97, 0.97};
            });
  };
  if (flag != FLAG_NONE) {
    if (pose == POSE_CROSSED) {
      flag_at(lhx, lhy, -1, flag);
      flag_at(rhx, rhy, 1, FLAG_WHITE);
    } else if (pose == POSE_FLAG_DOWN) {
      // Rolled flag hanging down beside the leg.
      cv.fill([&](double x, double y) { return sd_capsule(x, y, rhx, rhy + 0.2, rhx + 0.1, rhy - 1.4, 0.05); },
              solid(flag == FLAG_YELLOW ? Rgb{0.9, 0.75, 0.05} : Rgb{0.9, 0.9, 0.9}));
    } else {
      flag_at(rhx, rhy, 1, flag);
    }
  }
  return cv.im;
}

// ---- roost, statues, gate, flares, colours ----
static Img roost_sprite() {
  Canvas cv(64, 64, 1, 1);
  Rng r;
  rng_seed(&r, 91);
  for (int i = 0; i < 9; i++) {
    double a = rng_unit(&r) * 2 * PI, d = rng_range(&r, 0, 0.18);
    double cx = 0.5 + std::cos(a) * d, cy = 0.5 + std::sin(a) * d, rad = rng_range(&r, 0.08, 0.2);
    cv.fill([&](double x, double y) { return sd_circle(x, y, cx, cy, rad) + 0.03 * noise2(x * 30, y * 30, 92 + i); },
            [&](double x, double y) {
              double lit = 0.8 + 0.2 * clampd(((cx - x) + (y - cy)) / rad, -1, 1);
              return Rgb{lit, lit, lit};
            },
            0.85);
  }
  return cv.im;
}

static Img haybale_texture() {
  Img im = img_make(128, 128, 3);
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) {
      double u = (x + 0.5) / 128, v = (y + 0.5) / 128;
      double straw = tnoise(u * 0.2, v * 1.0, 64, 2, 101);
      double n = tnoise(u, v, 8, 3, 102);
      Rgb c = mix(Rgb{0.62, 0.50, 0.22}, Rgb{0.90, 0.78, 0.42}, clampd(0.5 + 1.2 * straw + 0.5 * n, 0, 1));
      double twine = (std::fabs(u - 0.3) < 0.012 || std::fabs(u - 0.7) < 0.012) ? 1 : 0;
      c = mix(c, Rgb{0.2, 0.35, 0.7}, twine * 0.85);
      img_set(&im, x, y, c.r, c.g, c.b);
    }
  return im;
}

static Img tuffblock_texture() {
  Img im = img_make(128, 128, 3);
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) {
      double u = (x + 0.5) / 128, v = (y + 0.5) / 128;
      double edge = std::fmin(std::fmin(u, 1 - u), std::fmin(v, 1 - v));
      Rgb c = Rgb{0.05, 0.32, 0.78};
      c = scale(c, 0.8 + 0.25 * smoothstep(0, 0.12, edge) + 0.05 * tnoise(u, v, 16, 2, 111));
      // A scuffed white number block in the middle.
      if (std::fabs(u - 0.5) < 0.16 && std::fabs(v - 0.5) < 0.2) c = Rgb{0.92, 0.92, 0.9};
      c = mix(c, Rgb{0.4, 0.3, 0.22}, clampd(tnoise(u, v, 8, 3, 112) - 0.25, 0, 1) * 0.8);  // dirt
      img_set(&im, x, y, c.r, c.g, c.b);
    }
  return im;
}

static Img startgate_texture() {
  Img im = img_make(128, 128, 3);
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) {
      double u = (x + 0.5) / 128, v = (y + 0.5) / 128;
      Rgb c;
      if (v < 0.75) {  // the plate: diamond tread steel with a yellow top edge
        double a = std::fmod(u * 12 + v * 16, 1.0), b = std::fmod(u * 12 - v * 16 + 8, 1.0);
        double tread = (std::fabs(a - 0.5) < 0.08 || std::fabs(b - 0.5) < 0.08) ? 1 : 0;
        c = Rgb{0.55, 0.57, 0.6};
        c = scale(c, 0.9 + 0.15 * tread + 0.05 * tnoise(u, v, 16, 2, 121));
        if (v < 0.09) c = ((int)(u * 8) & 1) ? Rgb{0.95, 0.8, 0.05} : Rgb{0.1, 0.1, 0.1};
      } else {  // the hinge bar
        c = Rgb{0.25, 0.26, 0.28};
        c = scale(c, 0.85 + 0.3 * std::sin((v - 0.75) / 0.25 * PI));
      }
      c = mix(c, Rgb{0.42, 0.32, 0.22}, clampd(tnoise(u, v, 4, 3, 122) - 0.3, 0, 1));
      img_set(&im, x, y, c.r, c.g, c.b);
    }
  return im;
}

static Img flare(int kind) {
  Img im = img_make(64, 64, 3);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      double dx = (x + 0.5) / 32 - 1, dy = (y + 0.5) / 32 - 1, r = std::sqrt(dx * dx + dy * dy);
      double v;
      if (kind == 0) v = std::pow(clampd(1 - r, 0, 1), 2.2) + 0.25 * std::pow(clampd(1 - r, 0, 1), 0.6);
      else if (kind == 1) v = std::exp(-std::pow((r - 0.75) / 0.08, 2)) * 0.8;
      else v = (1 - smoothstep(0.6, 0.75, r)) * 0.55;
      v = clampd(v, 0, 1);
      img_set(&im, x, y, v, v, v);
    }
  return im;
}

// ---- decals: paint on the ground ----
static Img decal_finish() {
  Canvas cv(256, 16, 32.0, 2.0);  // a checkered strip, two rows of 1 ft squares
  cv.fill([](double x, double y) { return sd_box(x, y, 0, 0, 32, 2); }, [](double x, double y) {
    int a = (int)std::floor(x), b = (int)std::floor(y);
    return ((a + b) & 1) ? Rgb{0.08, 0.08, 0.08} : Rgb{0.95, 0.95, 0.92};
  }, 0.85);
  return cv.im;
}

static Img decal_logo() {
  Canvas cv(256, 64, 4.0, 1.0);
  double h = 0.6, w = text_width("RABBIT HILL", h);
  if (w > 3.7) h *= 3.7 / w, w = 3.7;
  draw_text(&cv, "RABBIT HILL", 2.0 - w / 2, 0.5 - h / 2, h, Rgb{0.95, 0.95, 0.9});
  return cv.im;
}

// ---- the racers' textures, with their normal and specular maps ----
// Every texel is a finish (colour, relief, shine); the colour texture, the normal map (from
// the relief) and the specular map (from the shine) are all made from one grid of them, so
// the three always agree.
struct Finish {
  Rgb c;
  double h;          // relief, texels
  Rgb spec;          // specular colour
  double shininess;  // exponent
};
static Rgb grey(double v) { return {v, v, v}; }

// name.png, name_norm.png and name_spec.png from a w x h grid of finishes.
static int write_finishes(const std::string &name, const std::vector<Finish> &f, int w, int h) {
  Img colour = img_make(w, h, 3), normal = img_make(w, h, 3), spec = img_make(w, h, 4);
  auto relief = [&](int x, int y) {
    x = std::min(std::max(x, 0), w - 1), y = std::min(std::max(y, 0), h - 1);
    return f[(size_t)y * w + x].h;
  };
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const Finish &e = f[(size_t)y * w + x];
      img_set(&colour, x, y, e.c.r, e.c.g, e.c.b);
      // Tangent space: x across the image, y up the image, z out of the surface.
      double du = (relief(x + 1, y) - relief(x - 1, y)) / 2, dv = (relief(x, y - 1) - relief(x, y + 1)) / 2;
      double len = std::sqrt(du * du + dv * dv + 1);
      img_set(&normal, x, y, (1 - du / len) / 2, (1 - dv / len) / 2, (1 + 1 / len) / 2);
      // Alpha holds the exponent as a * 128 + 0.125, kept below the value that means "the
      // material's own".
      img_set(&spec, x, y, e.spec.r, e.spec.g, e.spec.b, clampd((e.shininess - 0.125) / 128, 0, 254.0 / 255));
    }
  std::string stem = name.substr(0, name.size() - 4);
  return write_png(name, colour) && write_png(stem + "_norm.png", normal) &&
         write_png(stem + "_spec.png", spec);
}

template <class Fn>
static int draw_finishes(const std::string &name, int size, Fn fn) {
  std::vector<Finish> f((size_t)size * size);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) f[(size_t)y * size + x] = fn((x + 0.5) / size, (y + 0.5) / size);
  return write_finishes(name, f, size, size);
}

static Finish plastic(Rgb c) { return {c, 0, grey(0.45), 40}; }
static Finish metal(Rgb c, double h) { return {c, h, scale(c, 0.9), 64}; }

// Colours of a make's bikes, chosen by the start of the texture's name (the first match).
struct BikeScheme {
  const char *prefix;
  Rgb plastic, accent, frame;
  Rgb plate, digits;  // number plate background and numbers
};
static const BikeScheme BIKE_SCHEMES[] = {
    {"yz250f_se", {0.93, 0.93, 0.92}, {0.05, 0.2, 0.7}, {0.2, 0.3, 0.6}, {0.05, 0.2, 0.7}, {1, 1, 1}},
    {"cr", {0.8, 0.06, 0.05}, {0.95, 0.95, 0.95}, {0.75, 0.76, 0.78}, {1, 1, 1}, {0, 0, 0}},
    {"kx", {0.3, 0.72, 0.1}, {0.05, 0.05, 0.05}, {0.12, 0.4, 0.1}, {0, 0, 0}, {1, 1, 1}},
    {"rm", {0.95, 0.8, 0.05}, {0.1, 0.15, 0.5}, {0.75, 0.76, 0.78}, {0.95, 0.8, 0.05}, {0, 0, 0}},
    {"yz", {0.05, 0.2, 0.75}, {0.95, 0.95, 0.95}, {0.2, 0.25, 0.5}, {0.05, 0.2, 0.75}, {1, 1, 1}},
    {"", {0.95, 0.4, 0.02}, {0.05, 0.05, 0.05}, {0.9, 0.35, 0.05}, {1, 1, 1}, {0, 0, 0}},
};

// A bike's texture: plastics with a decal band and panel bolts (top half), frame tubes over
// the engine's fins, the seat cover's gripper ribs, and the two plate backgrounds.
static Finish bike_at(double u, double v, const BikeScheme &s, double tilt, uint32_t seed) {
  const double texels = 256;
  if (v < 0.5) {
    Finish f = plastic(scale(s.plastic, 0.97 + 0.03 * tnoise(u, v, 8, 2, seed)));
    double band = std::fabs((u - 0.5) - (v - 0.25) * tilt);
    if (band < 0.06) f.c = s.accent, f.h = 0.4;  // the decal's edge shows in the relief
    if (std::min(std::fabs(u - 0.5), std::fabs(v - 0.25)) * texels < 1.5) f.c = scale(f.c, 0.5), f.h = -1.5;
    static const double BOLTS[][2] = {{0.1, 0.1}, {0.9, 0.1}, {0.1, 0.4}, {0.9, 0.4}, {0.4, 0.1}, {0.6, 0.4}};
    for (const auto &b : BOLTS) {
      double d = std::hypot(u - b[0], v - b[1]) * texels;
      if (d < 4) f = metal(grey(0.7), std::sqrt(16 - d * d) * 0.5);
    }
    return f;
  }
  if (u < 0.5) {
    static const double TUBES[] = {0.56, 0.66, 0.8, 0.92};
    const double radius = 0.035;
    for (double c : TUBES) {
      double t = std::fabs(v - c) / radius;
      if (t < 1) {
        double round = std::sqrt(1 - t * t);
        return metal(scale(s.frame, 0.75 + 0.25 * round + 0.05 * tnoise(u * 0.1, v, 64, 1, seed + 1)),
                     round * radius * texels * 0.5);
      }
    }
    return {grey(0.25), 1.5 * std::sin(2 * PI * v * 40), grey(0.3), 16};
  }
  if (v < 0.75) {
    double rib = std::fabs(std::sin(PI * (u + v) * 24)) * std::fabs(std::sin(PI * (u - v) * 24));
    return {grey(0.05 + 0.03 * rib), 0.8 * rib, grey(0.08), 6};
  }
  double pu = std::fmod(u - 0.5, 0.25), pv = v - 0.75;
  double edge = std::min(std::min(pu, 0.25 - pu), std::min(pv, 0.25 - pv)) * texels;
  Finish f = plastic(s.plate);
  if (edge < 3) f.h = 1, f.c = scale(s.plate, 0.85);
  return f;
}

// Tyre tread of staggered knobs (top half), the rim with its spokes and the machined hub.
static Finish wheels_at(double u, double v) {
  if (v < 0.5) {
    double cu = u * 8 + (std::fmod(v * 8, 2) < 1 ? 0 : 0.5), cv = v * 8;
    double ku = std::fabs(std::fmod(cu, 1) - 0.5), kv = std::fabs(std::fmod(cv, 1) - 0.5);
    bool knob = ku < 0.3 && kv < 0.3;
    return {grey(knob ? 0.1 : 0.06), knob ? 2.0 : 0, grey(0.08), 8};
  }
  if (u < 0.5) {
    double across = std::sin(PI * (v - 0.5) * 2);  // the rim's rounded section
    Finish f = metal(grey(0.2 + 0.1 * across), across * 3);
    if (std::fabs(std::fmod(u * 16, 1) - 0.5) < 0.08) f = metal(grey(0.8), 0.5);  // spokes
    return f;
  }
  double r = std::hypot(u - 0.75, v - 0.75) * 4;
  return metal(grey(0.72 + 0.08 * std::sin(r * 40)), 0.4 * std::sin(r * 40));
}

// Riding gear: the jersey with white sleeve panels, pants with leather knee panels, boots
// with metal buckles.
static Finish gear_at(double u, double v) {
  double weave = 0.25 * std::sin(u * 128 * PI) * std::sin(v * 128 * PI);
  if (v < 0.5) {
    Rgb c = std::fabs(u - 0.5) > 0.3 ? grey(0.92) : Rgb{0.1, 0.2, 0.6};
    if (std::fabs(v - 0.2) < 0.03) c = Rgb{0.95, 0.4, 0.02};
    return {scale(c, 0.95 + 0.05 * weave), weave, grey(0.05), 4};
  }
  if (u < 0.5) {
    bool knee = std::fabs(u - 0.25) < 0.12 && std::fabs(v - 0.72) < 0.1;
    if (knee) return {grey(0.12), 1 + 0.3 * std::sin(v * 200), grey(0.2), 12};
    return {scale(grey(0.85), 0.95 + 0.05 * weave), weave, grey(0.05), 4};
  }
  if (std::fmod(v * 8, 1) < 0.15 && std::fabs(u - 0.75) < 0.12) return metal(grey(0.8), 1.2);
  return {grey(0.1), 0.3 * tnoise(u, v, 16, 2, 401), grey(0.15), 10};
}

// The helmet: a glossy shell with stripes and vents, the goggle lens and its strap.
static Finish helmet_at(double u, double v) {
  if (v < 0.7) {
    Finish f = {grey(0.95), 0, grey(0.9), 90};
    if (std::fabs(u - 0.5) < 0.06 || std::fabs(std::fabs(u - 0.5) - 0.15) < 0.02) f.c = {0.1, 0.2, 0.6};
    if (v < 0.2 && std::fabs(std::fmod(u * 10, 1) - 0.5) < 0.1) f.h = -1.5, f.c = grey(0.2);  // vents
    return f;
  }
  if (u < 0.6) return {grey(0.04), 0, grey(1), 120};  // goggle lens
  return {Rgb{0.95, 0.4, 0.02}, 0.3 * std::sin(v * 128 * PI), grey(0.05), 4};  // strap
}

static uint32_t name_hash(const char *s) {
  uint32_t h = 2166136261u;
  for (; *s; s++) h = (h ^ (uint8_t)*s) * 16777619u;
  return h;
}

// The default textures of every bike in the model table, with their plate colours in an
// .info beside each, and the shared wheel, riding-gear and helmet textures.
static int gen_racer_textures() {
  const BikeModel *rows = bike_model_table();
  std::vector<std::string> done;
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) {
    std::string name = rows[r].bike_texture + 1;  // without the '@'
    if (std::find(done.begin(), done.end(), name) != done.end()) continue;
    done.push_back(name);
    const BikeScheme *s = BIKE_SCHEMES;
    while (strncmp(name.c_str(), s->prefix, strlen(s->prefix))) s++;
    uint32_t seed = name_hash(name.c_str());
    double tilt = 0.6 + (seed % 64) / 64.0;
    if (!draw_finishes(name, 256, [&](double u, double v) { return bike_at(u, v, *s, tilt, seed % 1000); }))
      return 0;
    std::string info = strf("[numberbackground:%g,%g,%g][numberforeground:%g,%g,%g]\n", s->plate.r,
                            s->plate.g, s->plate.b, s->digits.r, s->digits.g, s->digits.b);
    if (!out_write_text(name + ".info", info)) return 0;
  }
  return draw_finishes("wheels.png", 128, wheels_at) && draw_finishes("rider_body.png", 128, gear_at) &&
         draw_finishes("rider_head.png", 128, helmet_at);
}

int gen_textures() {
  if (!gen_ground() || !gen_sky() || !gen_racer_textures()) return 0;
  Img white = img_make(8, 8, 3);
  std::fill(white.px.begin(), white.px.end(), 255);
  if (!write_png("colors/white.png", white)) return 0;
  if (!write_png("tree-oak.png", tree_broadleaf(201, Rgb{0.22, 0.38, 0.12}, Rgb{0.33, 0.24, 0.16}, false)) ||
      !write_png("tree-birch.png", tree_broadleaf(202, Rgb{0.36, 0.50, 0.16}, Rgb{0.88, 0.86, 0.8}, true)) ||
      !write_png("tree-pine.png", tree_pine(203)))
    return 0;
  for (int b = 0; b < 4; b++)
    if (!write_png(strf("banner-%d.png", b + 1), banner(b))) return 0;
  struct Sprite {
    const char *name;
    Pose pose;
    FlagKind flag;
  };
  static const Sprite SPRITES[] = {
      {"flagger-start-1.png", POSE_BOARD_UP, FLAG_NONE},   // the 30-second board held up
      {"flagger-start-2.png", POSE_BOARD_SIDE, FLAG_NONE}, // turned edge on: the gate drops
      {"flagger-start-3.png", POSE_BOARD_DOWN, FLAG_NONE},
      {"flagger-start-4.png", POSE_WALK, FLAG_NONE},       // walking off the start straight
      {"flagger-start-5.png", POSE_STAND, FLAG_NONE},
      {"lapboard-1.png", POSE_STAND, FLAG_NONE},
      {"lapboard-2.png", POSE_CROSSED, FLAG_GREEN},         // halfway: crossed flags
      {"lapboard-3.png", POSE_FLAG_UP, FLAG_WHITE},         // last lap
      {"lapboard-4.png", POSE_FLAG_UP, FLAG_CHECKER},       // finish
      {"flagger-1.png", POSE_FLAG_DOWN, FLAG_YELLOW},       // watching, flag rolled
      {"flagger-2.png", POSE_FLAG_UP, FLAG_YELLOW},         // waving the yellow flag
  };
  for (const Sprite &s : SPRITES)
    if (!write_png(s.name, person(s.pose, s.flag, 301))) return 0;
  if (!write_png("decal-finish.png", decal_finish()) || !write_png("decal-logo.png", decal_logo()))
    return 0;
  return write_png("roost.png", roost_sprite()) && write_png("haybale.png", haybale_texture()) &&
         write_png("tuffblock.png", tuffblock_texture()) && write_ppm("startgate.ppm", startgate_texture()) &&
         write_png("flare-glow.png", flare(0)) && write_png("flare-ring.png", flare(1)) &&
         write_png("flare-disc.png", flare(2));
}
