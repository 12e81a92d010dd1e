// dvgen: trackside objects of the starter tracks: trees, checkpoints, edge statues and
// the track cameras.
#include <cmath>

#include "tools/dvgen/dvgen_track.h"

bool clear_of_tracks(const std::vector<Path> &paths, const Field &f, double x, double z,
                     double margin) {
  if (x < 0 || z < 0 || x > f.extent || z > f.extent) return false;
  int c = (int)(x / f.spacing + 0.5), r = (int)(z / f.spacing + 0.5);
  size_t i = (size_t)r * f.N + c;
  int pi = f.near_path[i];
  if (pi < 0) return true;  // beyond the reach of every track
  const Path &p = paths[pi];
  int k = p.index(f.near_s[i]);
  return std::fabs(f.near_d[i]) - p.hw[k] >= margin;
}

std::vector<Tree> place_trees(const Field &f, uint64_t seed, int max_count,
                              const std::vector<double> &keep_out) {
  std::vector<Tree> trees;
  Rng rng;
  rng_seed(&rng, seed);
  for (int tries = 0; tries < 60000 && (int)trees.size() < max_count; tries++) {
    double x = rng_range(&rng, 30, f.extent - 30), z = rng_range(&rng, 30, f.extent - 30);
    double groves = 0.5 + 0.5 * fbm2(x / 260.0, z / 260.0, 3, (uint32_t)seed + 7);
    double border = std::fmin(std::fmin(x, z), std::fmin(f.extent - x, f.extent - z));
    double density = groves * groves * groves * 1.6 + (border < 160 ? 0.35 : 0.0);
    double pick = rng_unit(&rng), height = rng_range(&rng, 24, 46);
    int kind = (int)(rng_next(&rng) % 3);
    if (pick > density) continue;
    // Well away from every track: the sample's nearest centreline must be out of reach.
    bool ok = true;
    for (int dz = -10; dz <= 10 && ok; dz += 5)
      for (int dx = -10; dx <= 10 && ok; dx += 5) {
        int c = (int)((x + dx) / f.spacing), r = (int)((z + dz) / f.spacing);
        if (c < 0 || r < 0 || c >= f.N || r >= f.N) continue;
        if (f.near_path[(size_t)r * f.N + c] >= 0) ok = false;
      }
    for (size_t k = 0; ok && k + 3 <= keep_out.size(); k += 3) {
      double ex = x - keep_out[k], ez = z - keep_out[k + 1];
      if (ex * ex + ez * ez < keep_out[k + 2] * keep_out[k + 2]) ok = false;
    }
    for (const Tree &t : trees) {
      double ex = x - t.x, ez = z - t.z;
      if (ex * ex + ez * ez < 14 * 14) {
        ok = false;
        break;
      }
    }
    if (!ok) continue;
    trees.push_back({x, z, height, height * 0.32, kind});
  }
  return trees;
}

void lap_gates(const Path &p, const Field &f, double finish_s, double max_gap,
               std::vector<Gate> *gates, std::vector<int> *sequence, std::vector<double> *gate_s) {
  // Gate positions along the lap, starting just after the line.
  std::vector<double> marks;  // s of every turn middle, in lap order from the line
  std::vector<int> learn;
  for (size_t i = 0; i < p.arc_s0.size(); i++) {
    double m = p.arc_s0[i] + p.arc_len[i] / 2;
    double rel = std::fmod(m - finish_s + 2 * p.length, p.length);
    marks.push_back(rel);
  }
  for (size_t i = 1; i < marks.size(); i++)  // insertion sort, few entries
    for (size_t j = i; j > 0 && marks[j - 1] > marks[j]; j--) std::swap(marks[j - 1], marks[j]);
  std::vector<double> all;
  std::vector<int> is_turn;
  double prev = 0;
  marks.push_back(p.length);  // the line again
  for (double m : marks) {
    int fill = (int)std::ceil((m - prev) / max_gap) - 1;
    for (int k = 1; k <= fill; k++) {
      all.push_back(prev + (m - prev) * k / (fill + 1));
      is_turn.push_back(0);
    }
    if (m < p.length) {
      all.push_back(m);
      is_turn.push_back(1);
    }
    prev = m;
  }
  auto make = [&](double s) {
    int k = p.index(s);
    Gate g;
    g.x = p.x[k];
    g.z = p.z[k];
    g.y = f.height(g.x, g.z);
    g.dx = p.dx[k];
    g.dz = p.dz[k];
    g.radius = p.hw[k] + 6;
    return g;
  };
  gates->clear();
  sequence->clear();
  gate_s->clear();
  gates->push_back(make(finish_s));
  gate_s->push_back(std::fmod(finish_s, p.length));
  for (size_t i = 0; i < all.size(); i++) {
    double s = std::fmod(finish_s + all[i], p.length);
    gates->push_back(make(s));
    gate_s->push_back(s);
    int index = (int)gates->size() - 1;
    sequence->push_back(is_turn[i] ? index : index + 100000);
  }
  sequence->push_back(0);
}

std::string edge_statues_text(const std::vector<Path> &paths, int pi, const Field &f) {
  const Path &p = paths[pi];
  std::string out;
  auto place = [&](double s, double d, const char *what, double margin) {
    int k = p.index(s);
    double x = p.x[k] + -p.dz[k] * d, z = p.z[k] + p.dx[k] * d;
    if (!clear_of_tracks(paths, f, x, z, margin)) return;
    int c = (int)(x / f.spacing + 0.5), r = (int)(z / f.spacing + 0.5);
    if (f.near_path[(size_t)r * f.N + c] != pi) return;  // beside another track
    double heading = std::atan2(-p.dz[k], p.dx[k]);
    out += strf("[%.2f 0 %.2f] %.4f @%s.jm @%s.png @%s.shp\n", x, z, heading, what, what, what);
  };
  for (size_t i = 0; i < p.arc_s0.size(); i++) {
    double a0 = p.arc_s0[i] - 10, a1 = p.arc_s0[i] + p.arc_len[i] + 10;
    double r = p.arc_radius[i];
    int sign = p.arc_sign[i];
    double hw = p.hw[p.index(p.arc_s0[i] + p.arc_len[i] / 2)];
    double out_d = hw + 6.5, in_d = hw + 2.5;
    // Bales end to end along the outside, blocks spaced along the inside.
    double step_out = 4.6 * r / (r + out_d), step_in = 9.0 * r / std::fmax(r - in_d, 10.0);
    for (double s = a0; s <= a1; s += step_out) place(s, -sign * out_d, "haybale", 4.5);
    for (double s = a0 + 4; s <= a1 - 4; s += step_in) place(s, sign * in_d, "tuffblock", 1.5);
  }
  return out;
}

std::string cameras_text(const std::vector<Path> &paths, int pi, const Field &f,
                         const std::vector<double> &gate_s, double every) {
  const Path &p = paths[pi];
  int count = (int)std::ceil(p.length / every);
  std::vector<double> cam_s;
  std::vector<double> cam_x, cam_z;
  for (int i = 0; i < count; i++) {
    double s = (i + 0.5) * p.length / count;
    int k = p.index(s);
    // Beside the track, on whichever side is clear, a little back from the edge.
    static const double OFFSETS[] = {-40, 40, -60, 60, -85, 85};
    for (double off : OFFSETS) {
      double d = off < 0 ? off - p.hw[k] : off + p.hw[k];
      double x = p.x[k] + -p.dz[k] * d, z = p.z[k] + p.dx[k] * d;
      if (!clear_of_tracks(paths, f, x, z, 25)) continue;
      cam_s.push_back(s);
      cam_x.push_back(x);
      cam_z.push_back(z);
      break;
    }
  }
  std::string out;
  for (size_t c = 0; c < cam_s.size(); c++) {
    std::string cue;
    for (size_t g = 0; g < gate_s.size(); g++) {
      size_t best = 0;
      double best_d = 1e30;
      for (size_t k = 0; k < cam_s.size(); k++) {
        double d = std::fabs(gate_s[g] - cam_s[k]);
        d = std::fmin(d, p.length - d);
        if (d < best_d) best_d = d, best = k;
      }
      if (best == c) cue += strf(" %d", (int)g);
    }
    if (!cue.empty()) out += "gate" + cue + "\n";
    out += "fov 55\nautofovsize 30\n";
    out += strf("addcamera %.2f %.2f %.2f\n", cam_x[c], 16.0, cam_z[c]);
  }
  return out;
}
