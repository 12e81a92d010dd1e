// dvgen: "Rabbit Hill", the full outdoor motocross track of the starter data set.
//
// A 2048 x 2048 ft field (n = 9, 2 ft spacing). The lap runs clockwise: the start chute
// and its 40-piece gate join the start straight, a wide bermed first turn, a tabletop, a
// flat left, a double, a bermed hairpin, a rhythm section, a bermed left, a step-up on the
// climb to Rabbit Hill, an off-camber turn on its shoulder, a downhill tabletop, a sand
// straight, a water splash, the whoops and a bermed last turn back onto the start straight.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/dvgen/dvgen_track.h"

static const char *const DIR = "rabbithill/";
static const double SUN[3] = {-0.43, 0.72, 0.55};  // toward the sun, before normalising

// Where the start area is levelled.
static const double PAD_X = 620, PAD_Z = 1330;
static const double HILL_X = 1500, HILL_Z = 560;  // Rabbit Hill

static double rabbithill_ground(double x, double z) {
  double h = 20 + 9 * fbm2(x / 650.0, z / 650.0, 4, 1301) + 2.5 * fbm2(x / 120.0, z / 120.0, 3, 1302);
  double hx = x - HILL_X, hz = z - HILL_Z;
  h += 38 * std::exp(-(hx * hx + hz * hz) / (2 * 160.0 * 160.0));
  // The start area is graded flat at the height of its middle.
  double px = x - PAD_X, pz = z - PAD_Z, pd = std::sqrt(px * px + pz * pz);
  double flat = 20 + 9 * fbm2(PAD_X / 650.0, PAD_Z / 650.0, 4, 1301);
  return lerpd(h, flat, 1 - smoothstep(260, 420, pd));
}

static void normalised_sun(double out[3]) {
  double l = std::sqrt(SUN[0] * SUN[0] + SUN[1] * SUN[1] + SUN[2] * SUN[2]);
  for (int i = 0; i < 3; i++) out[i] = SUN[i] / l;
}

static std::string lighting_text() {
  double sun[3];
  normalised_sun(sun);
  std::string t;
  t += strf("sun_vector [ %.4f %.4f %.4f ]\n", sun[0], sun[1], sun[2]);
  t += "sun_color [ 1.0 0.96 0.88 ]\n";
  t += "ambient [ 0.46 0.48 0.54 ]\n";
  t += "global_ambient [ 0.2 0.2 0.22 ]\n";
  t += "near_plane 0.5\n";
  t += "far_plane 6000\n";
  t += "sky_n @sky-n.png\nsky_e @sky-e.png\nsky_s @sky-s.png\nsky_w @sky-w.png\nsky_u @sky-u.png\n";
  t += "sky_env @sky-env.png\n";
  t += "fog [ 0.74 0.81 0.88 ] 0.00035\n";
  t += "dynamic_lighting 1\n";
  // A sun flare: the glow on the sun, rings and discs along the line through the view.
  t += "flare_element [ 0 1 ] [ 1 0.95 0.82 ] 0.32 @flare-glow.png\n";
  t += "flare_element [ 0 0.55 ] [ 0.6 0.7 0.9 ] 0.07 @flare-ring.png\n";
  t += "flare_element [ 0 0.25 ] [ 0.9 0.7 0.4 ] 0.04 @flare-disc.png\n";
  t += "flare_element [ 0 -0.3 ] [ 0.5 0.8 0.6 ] 0.09 @flare-disc.png\n";
  t += "flare_element [ 0 -0.75 ] [ 0.7 0.6 0.9 ] 0.16 @flare-ring.png\n";
  t += strf("flare_vector [ %.4f %.4f %.4f ]\n", sun[0], sun[1], sun[2]);
  return t;
}

int gen_rabbithill() {
  // ---- the lap: corners of the polygon, filleted ----
  std::vector<Corner> corners = {
      {600, 1000, 100, TURN_BERM, 0.30},       // 0: turn 1, wide for the field
      {1000, 1000, 50, TURN_FLAT, 0},          // 1: flat left
      {1000, 600, 45, TURN_BERM, 0.36},        // 2: hairpin, first half
      {1090, 600, 45, TURN_BERM, 0.36},        // 3: hairpin, second half
      {1090, 900, 50, TURN_FLAT, 0},           // 4: left after the rhythm section
      {1350, 900, 60, TURN_BERM, 0.30},        // 5: bermed left to the climb
      {1350, 450, 70, TURN_OFF_CAMBER, 0.10},  // 6: off-camber on the hill's shoulder
      {1650, 450, 70, TURN_BERM, 0.25},        // 7: over the top
      {1650, 1150, 70, TURN_BERM, 0.30},       // 8: bottom of the descent, into the sand
      {1300, 1150, 60, TURN_FLAT, 0},          // 9: left to the splash
      {1300, 1380, 60, TURN_BERM, 0.30},       // 10: right onto the whoops straight
      {600, 1380, 80, TURN_FLAT, 0},           // 11: last turn, flat where it meets the chute
  };
  std::vector<Path> paths;
  paths.reserve(2);  // `lap` and `chute` below refer into it
  paths.push_back(path_closed(corners, 11));
  Path &lap = paths[0];
  auto S = [&](int straight, double offset) { return lap.straight_s0[straight] + offset; };
  // Start straight and first turn wide for 40 riders, narrowing after the turn.
  double t1_end = lap.arc_s0[0] + lap.arc_len[0];
  set_half_width(&lap, -30, t1_end, 20, 45);
  set_surface(&lap, -40, lap.arc_s0[0], SURF_HARDPACK);
  set_banks(&lap);

  std::vector<Jump> jumps;
  jumps.push_back(add_tabletop(&lap, "first tabletop", S(1, 80), 5.0, 24, 50, 18));
  jumps.push_back(add_double(&lap, "double", S(2, 100), 6.0, 27, 22, 6.0, 20));
  add_bumps(&lap, S(4, 40), 5, 3.0, 20);  // rhythm section: rollers
  set_speed_cap(&lap, S(4, 30), S(4, 145), 38);
  jumps.push_back(add_step_up(&lap, "step-up", S(6, 110), 4.5, 28, 20, 7.0, 25, 10));
  jumps.push_back(add_tabletop(&lap, "downhill tabletop", S(8, 150), 5.0, 22, 45, 16));
  set_surface(&lap, S(9, -25), S(9, 245), SURF_SAND);
  // Water splash: a muddy dip with standing water in its bottom.
  add_profile(&lap, S(10, 25), {{0, 0}, {10, -0.5}, {25, -1.3}, {40, -0.5}, {50, 0}});
  set_surface(&lap, S(10, 10), S(10, 90), SURF_MUD);
  set_surface(&lap, S(10, 32), S(10, 68), SURF_WATER);
  add_bumps(&lap, S(11, 80), 10, 2.0, 12);  // whoops
  set_speed_cap(&lap, S(11, 70), S(11, 205), 50);

  // ---- the start chute: the gate pad behind the start straight ----
  paths.push_back(path_line(600, 1560, 600, 1300, 20));
  Path &chute = paths[1];
  for (int k = 0; k < chute.count(); k++) {
    double s = k * PATH_STEP;
    chute.hw[k] = lerpd(72, 20, smoothstep(70, 215, s));
    chute.surface[k] = SURF_HARDPACK;
  }

  Field f;
  field_build(&f, 9, 2.0, &paths, rabbithill_ground, 160);
  if (!solve_jumps(paths[0], &jumps)) return 0;
  for (const Jump &j : jumps) printf("dvgen: %s: %.1f ft/s at the lip\n", j.name.c_str(), j.speed);

  SurfaceTable table;
  table.kinds = {SURF_GRASS, SURF_LOAM, SURF_HARDPACK, SURF_SAND, SURF_MUD, SURF_WATER};
  for (int i = 0; i < SURFACE_PAIR_COUNT; i++) table.pairs.push_back(i);
  field_tiles(&f, paths, table);

  // ---- gates and the starting gate ----
  std::vector<Gate> gates;
  std::vector<int> sequence;
  std::vector<double> gate_s;
  lap_gates(paths[0], f, 60, 140, &gates, &sequence, &gate_s);
  std::vector<GatePiece> pieces;
  const double gate_z = 1500;  // 60 ft up the chute, facing north up the start straight
  for (int k = 0; k < 40; k++) {
    double x = 600 + (k - 19.5) * 3.5;
    pieces.push_back({x, f.height(x, gate_z), gate_z, 0});
  }

  // ---- objects ----
  double sun[3];
  normalised_sun(sun);
  std::vector<double> keep_out;  // cameras' spots are chosen later; keep the pad clear
  keep_out.insert(keep_out.end(), {PAD_X, PAD_Z + 150, 130.0});
  std::vector<Tree> trees = place_trees(f, 4242, 420, keep_out);
  std::vector<double> shadows;
  for (const Tree &t : trees) shadows.insert(shadows.end(), {t.x, t.z, t.radius, t.height});
  field_shade(&f, sun, shadows);

  std::string billboards;
  static const char *const TREE[3] = {"tree-oak.png", "tree-pine.png", "tree-birch.png"};
  for (const Tree &t : trees)
    billboards += strf("[%.2f 0 %.2f] %.2f %.2f @%s\n", t.x, t.z, t.height,
                       t.kind == 1 ? 0.55 : 0.8, TREE[t.kind]);
  // Banners along the fast straights, outside the track.
  const int banner_straights[] = {0, 1, 8, 11};
  int banner = 0;
  for (int st : banner_straights) {
    for (double u = 20; u < lap.straight_len[st] - 20; u += 70) {
      int k = lap.index(S(st, u));
      double d = -(lap.hw[k] + 7);  // the left side: outside of the clockwise lap
      double x = lap.x[k] + -lap.dz[k] * d, z = lap.z[k] + lap.dx[k] * d;
      if (!clear_of_tracks(paths, f, x, z, 5)) continue;
      billboards += strf("[%.2f 0.6 %.2f] 3.0 4.0 @banner-%d.png\n", x, z, banner % 4 + 1);
      banner++;
    }
  }

  std::string statues = edge_statues_text(paths, 0, f);

  // Flaggers: the starter beside the gate, the lap board at the line, one at each jump.
  std::string flaggers;
  flaggers += strf("[ %.2f 0 %.2f ] [ %.2f 0 %.2f ] 6.0 0.6 2.0\n", 600 + 76.0, gate_z - 8,
                   600 + 90.0, gate_z - 8);
  flaggers += "@flagger-start-1.png @flagger-start-2.png @flagger-start-3.png "
              "@flagger-start-4.png @flagger-start-5.png\n";
  {
    int k = lap.index(60);
    double d = lap.hw[k] + 8;
    flaggers += strf("[ %.2f 0 %.2f ] 6.0 0.6\n", lap.x[k] + -lap.dz[k] * d, lap.z[k] + lap.dx[k] * d);
    flaggers += "@lapboard-1.png @lapboard-2.png @lapboard-3.png @lapboard-4.png\n";
  }
  for (const Jump &j : jumps) {
    int k = lap.index(j.land_s);
    double d = -(lap.hw[k] + 9);
    double x = lap.x[k] + -lap.dz[k] * d, z = lap.z[k] + lap.dx[k] * d;
    int cue[4] = {-1, -1, -1, -1}, n = 0;
    for (size_t g = 0; g < gate_s.size() && n < 4; g++)
      if (gate_s[g] >= j.lip_s - 160 && gate_s[g] <= j.land_s + 40) cue[n++] = (int)g;
    flaggers += strf("[ %.2f 0 %.2f ] 6.0 0.6 %d %d %d %d @flagger-1.png @flagger-2.png\n", x, z,
                     cue[0], cue[1], cue[2], cue[3]);
  }

  std::string cameras = cameras_text(paths, 0, f, gate_s, 330);

  // ---- racing line ----
  RacingLine line;
  racing_line_build(paths[0], f, jumps, 88, &line);
  for (const Jump &j : jumps) {
    double v = line.speed[lap.index(j.lip_s)];
    if (v < j.speed * 0.97) {
      fprintf(stderr, "dvgen: the line reaches %s at %.1f ft/s, it needs %.1f\n", j.name.c_str(), v,
              j.speed);
      return 0;
    }
  }
  RacingLine start_line;
  racing_line_build(paths[1], f, {}, 88, &start_line);

  if (const char *preview = getenv("DVGEN_PREVIEW")) {  // a look at the design, not data
    // Full field at 2 ft per pixel, or the start area at 4 pixels per foot with
    // DVGEN_PREVIEW_START set.
    bool start = getenv("DVGEN_PREVIEW_START") != nullptr;
    double x0 = start ? 480 : 0, z0 = start ? 1180 : 0, ppf = start ? 2.0 : 0.5;
    int w = start ? 560 : 1024, h = start ? 800 : 1024;
    Img im = img_make(w, h, 3);
    static const double COLOUR[SURF_KINDS][3] = {{0.35, 0.55, 0.2}, {0.5, 0.36, 0.22}, {0.62, 0.52, 0.4},
                                                 {0.85, 0.75, 0.5}, {0.3, 0.22, 0.15}, {0.3, 0.45, 0.6}};
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        double wx = x0 + x / ppf, wz = z0 + y / ppf;
        int tx = (int)(wx / 4), tz = (int)(wz / 4);
        if (tx < 0 || tz < 0 || tx >= f.size || tz >= f.size) continue;
        int t = f.tiles[(size_t)tz * f.size + tx];
        int kind = t < (int)table.kinds.size() ? table.kinds[t] : -1;
        size_t i = (size_t)(int)(wz / 2 + 0.5) * f.N + (int)(wx / 2 + 0.5);
        double l = f.shading[i * 3 + 1] / 128.0, m = kind >= 0 ? 1.0 : 0.8;
        const double *c = kind >= 0 ? COLOUR[kind] : COLOUR[0];
        img_set(&im, x, y, c[0] * l * m, c[1] * l * m, c[2] * l * m);
      }
    auto dot = [&](double wx, double wz, double r, double cr, double cg, double cb) {
      double px = (wx - x0) * ppf, pz = (wz - z0) * ppf, rp = std::fmax(r * ppf, 0.6);
      for (int y = (int)(pz - rp); y <= (int)(pz + rp); y++)
        for (int x = (int)(px - rp); x <= (int)(px + rp); x++)
          if ((x - px) * (x - px) + (y - pz) * (y - pz) <= rp * rp) img_set(&im, x, y, cr, cg, cb);
    };
    for (int k = 0; k < lap.count(); k++) {
      double v = line.speed[k] / 88.0;
      dot(line.x[k], line.z[k], 0.3, v, 0, 1 - v);
    }
    for (const Gate &g : gates)
      for (double a = -g.radius; a <= g.radius; a += 0.5) dot(g.x - g.dz * a, g.z + g.dx * a, 0.3, 1, 1, 0);
    for (const Tree &t : trees) dot(t.x, t.z, 3, 0, 0.25, 0);
    for (const GatePiece &g : pieces) dot(g.x, g.z - 1, 1.0, 1, 1, 1);
    const char *line_at = statues.c_str();
    double sx, sz, hd;
    char name[64];
    int used;
    while (sscanf(line_at, "[%lf 0 %lf] %lf %63s%n", &sx, &sz, &hd, name, &used) == 4) {
      bool bale = strstr(name, "haybale") != nullptr;
      dot(sx, sz, bale ? 1.5 : 0.9, bale ? 0.95 : 0.1, bale ? 0.85 : 0.3, bale ? 0.3 : 0.9);
      line_at = strchr(line_at + used, '\n');
      if (!line_at) break;
      line_at++;
    }
    write_png_file(preview, im);
  }

  // ---- files ----
  std::string stage = gen_output()->root + ".dvgen-stage/rabbithill";
  // Painted on the ground: the finish line across the start straight and the track's name
  // on the grass inside the first turn, facing the riders on the gate.
  std::vector<GroundDecal> decals;
  {
    int k = lap.index(60);
    decals.push_back({lap.x[k], lap.z[k], 0, 2 * lap.hw[k], 0.06, "@decal-finish.png"});
    decals.push_back({720, 1150, 0, 60, 0.25, "@decal-logo.png"});
  }
  // shadingx2.ppm, tilemap and decals from the terrain module
  if (!field_save_decals(f, stage, decals)) return 0;
  std::vector<uint8_t> bytes;
  for (const char *name : {"shadingx2.ppm", "tilemap", "decals"}) {
    if (!read_file(stage + "/" + name, &bytes)) return 0;
    if (!out_write(std::string(DIR) + name, bytes.data(), bytes.size())) return 0;
  }
  std::string timing = timing_gates_text(pieces, gates, sequence, sequence);
  if (timing.empty()) return 0;
  std::string lap_text = racing_line_text(paths[0], line, "rabbithill", 5);
  std::string start_text = racing_line_text(paths[1], start_line, "rabbithill-start", 5);
  return out_write_text(std::string(DIR) + "terrain.hf", terrain_hf_inline(f)) &&
         write_pgm(std::string(DIR) + "shadows.pgm", f.N, f.N, f.shadows.data()) &&
         out_write_text(std::string(DIR) + "tileinfo", tileinfo_text(table)) &&
         out_write_text(std::string(DIR) + "desc", "Rabbit Hill\n") &&
         out_write_text(std::string(DIR) + "lighting", lighting_text()) &&
         out_write_text(std::string(DIR) + "timing_gates", timing) &&
         out_write_text(std::string(DIR) + "billboards", billboards) &&
         out_write_text(std::string(DIR) + "statues", statues) &&
         out_write_text(std::string(DIR) + "flaggers", flaggers) &&
         out_write_text(std::string(DIR) + "cameras", cameras) &&
         write_png(std::string(DIR) + "map.png", field_map(f, paths, 256)) &&
         out_write_text(std::string(DIR) + "racing_line", lap_text + start_text);
}
