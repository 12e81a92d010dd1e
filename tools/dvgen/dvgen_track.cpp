// dvgen: centreline paths, track features, the graded height field, tiles, shading and
// the racing line shared by the starter tracks.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "terrain/terrain.h"
#include "track/track.h"
#include "tools/dvgen/dvgen_track.h"

static const double PI = 3.14159265358979323846;

// ---- paths ----
int Path::index(double s) const {
  int n = count();
  int k = (int)std::floor(s / PATH_STEP + 0.5);
  if (closed) return ((k % n) + n) % n;
  return k < 0 ? 0 : k >= n ? n - 1 : k;
}

static void path_alloc(Path *p, int n, double hw) {
  p->x.assign(n, 0);
  p->z.assign(n, 0);
  p->dx.assign(n, 0);
  p->dz.assign(n, 0);
  p->curv.assign(n, 0);
  p->hw.assign(n, hw);
  p->bank.assign(n, 0);
  p->turn.assign(n, 0);
  p->grade.assign(n, 0);
  p->feature.assign(n, 0);
  p->surface.assign(n, SURF_LOAM);
  p->cap.assign(n, 1e9);
}

Path path_closed(const std::vector<Corner> &c, double hw) {
  Path p;
  p.closed = true;
  int K = (int)c.size();
  struct Elem {
    bool arc;
    double x0, z0, ux, uz, len;  // straight: start and direction
    double cx, cz, r, theta0;    // arc: centre, radius, heading at its start
    int sign;
  };
  std::vector<Elem> elems;
  std::vector<double> tin_x(K), tin_z(K), tout_x(K), tout_z(K), ux(K), uz(K), delta(K);
  for (int i = 0; i < K; i++) {
    const Corner &a = c[(i + K - 1) % K], &b = c[i], &n = c[(i + 1) % K];
    double ax = b.x - a.x, az = b.z - a.z, al = std::sqrt(ax * ax + az * az);
    double bx = n.x - b.x, bz = n.z - b.z, bl = std::sqrt(bx * bx + bz * bz);
    ax /= al, az /= al, bx /= bl, bz /= bl;
    double cross = ax * bz - az * bx, dot = ax * bx + az * bz;
    delta[i] = std::atan2(cross, dot);  // positive: a right turn
    double t = b.radius * std::tan(std::fabs(delta[i]) / 2);
    ux[i] = ax, uz[i] = az;
    tin_x[i] = b.x - ax * t, tin_z[i] = b.z - az * t;
    tout_x[i] = b.x + bx * t, tout_z[i] = b.z + bz * t;
  }
  double s = 0;
  for (int i = 0; i < K; i++) {
    int j = (i + K - 1) % K;
    Elem st{};
    st.arc = false;
    st.x0 = tout_x[j], st.z0 = tout_z[j];
    double lx = tin_x[i] - st.x0, lz = tin_z[i] - st.z0;
    st.len = std::sqrt(lx * lx + lz * lz);
    if (lx * ux[i] + lz * uz[i] < -1e-6) {
      fprintf(stderr, "dvgen: corners %d and %d overlap\n", j, i);
      exit(1);
    }
    st.ux = ux[i], st.uz = uz[i];
    p.straight_s0.push_back(s);
    p.straight_len.push_back(st.len);
    elems.push_back(st);
    s += st.len;
    Elem ar{};
    ar.arc = true;
    ar.sign = delta[i] > 0 ? 1 : -1;
    ar.r = c[i].radius;
    ar.len = ar.r * std::fabs(delta[i]);
    // Centre on the inside: to the right of the direction for a right turn.
    ar.cx = tin_x[i] + ar.sign * ar.r * -uz[i];
    ar.cz = tin_z[i] + ar.sign * ar.r * ux[i];
    ar.theta0 = std::atan2(uz[i], ux[i]);
    p.arc_s0.push_back(s);
    p.arc_len.push_back(ar.len);
    p.arc_sign.push_back(ar.sign);
    p.arc_kind.push_back(c[i].kind);
    p.arc_radius.push_back(ar.r);
    p.arc_bank.push_back(c[i].bank);
    elems.push_back(ar);
    s += ar.len;
  }
  p.length = s;
  int n = (int)std::floor(s / PATH_STEP);
  path_alloc(&p, n, hw);
  size_t e = 0;
  double e_s0 = 0;
  for (int k = 0; k < n; k++) {
    double sk = k * PATH_STEP;
    while (e + 1 < elems.size() && sk >= e_s0 + elems[e].len) e_s0 += elems[e++].len;
    const Elem &el = elems[e];
    double u = sk - e_s0;
    if (!el.arc) {
      p.x[k] = el.x0 + el.ux * u;
      p.z[k] = el.z0 + el.uz * u;
      p.dx[k] = el.ux;
      p.dz[k] = el.uz;
    } else {
      double th = el.theta0 + el.sign * u / el.r;
      double dx = std::cos(th), dz = std::sin(th);
      p.x[k] = el.cx - el.sign * el.r * -dz;
      p.z[k] = el.cz - el.sign * el.r * dx;
      p.dx[k] = dx;
      p.dz[k] = dz;
      p.curv[k] = el.sign / el.r;
    }
  }
  return p;
}

Path path_line(double x0, double z0, double x1, double z1, double hw) {
  Path p;
  double lx = x1 - x0, lz = z1 - z0, len = std::sqrt(lx * lx + lz * lz);
  int n = (int)std::floor(len / PATH_STEP) + 1;
  path_alloc(&p, n, hw);
  for (int k = 0; k < n; k++) {
    p.x[k] = x0 + lx / len * k * PATH_STEP;
    p.z[k] = z0 + lz / len * k * PATH_STEP;
    p.dx[k] = lx / len;
    p.dz[k] = lz / len;
  }
  p.length = (n - 1) * PATH_STEP;
  p.straight_s0.push_back(0);
  p.straight_len.push_back(p.length);
  return p;
}

// ---- features ----
void add_profile(Path *p, double s0, const std::vector<ProfilePoint> &pts) {
  double len = pts.back().u;
  for (double u = 0; u <= len; u += PATH_STEP) {
    size_t i = 1;
    while (i + 1 < pts.size() && u > pts[i].u) i++;
    const ProfilePoint &a = pts[i - 1], &b = pts[i];
    double t = b.u > a.u ? clampd((u - a.u) / (b.u - a.u), 0, 1) : 1;
    p->feature[p->index(s0 + u)] += a.h + (b.h - a.h) * t;
  }
}

void add_bumps(Path *p, double s0, int count, double height, double period) {
  for (double u = 0; u <= count * period; u += PATH_STEP)
    p->feature[p->index(s0 + u)] += height * 0.5 * (1 - std::cos(2 * PI * u / period));
}

void set_surface(Path *p, double s0, double s1, SurfaceKind kind) {
  for (double s = s0; s <= s1; s += PATH_STEP) p->surface[p->index(s)] = kind;
}

void set_half_width(Path *p, double s0, double s1, double hw, double taper) {
  for (double s = s0 - taper; s <= s1 + taper; s += PATH_STEP) {
    int k = p->index(s);
    double w = smoothstep(s0 - taper, s0, s) * (1 - smoothstep(s1, s1 + taper, s));
    if (s >= s0 && s <= s1) w = 1;
    double v = lerpd(p->hw[k], hw, w);
    if (hw > p->hw[k] ? v > p->hw[k] : v < p->hw[k]) p->hw[k] = v;
  }
}

void set_speed_cap(Path *p, double s0, double s1, double speed) {
  for (double s = s0; s <= s1; s += PATH_STEP) {
    int k = p->index(s);
    if (speed < p->cap[k]) p->cap[k] = speed;
  }
}

void set_banks(Path *p) {
  const double run = 25;
  for (size_t i = 0; i < p->arc_s0.size(); i++) {
    double a0 = p->arc_s0[i], a1 = a0 + p->arc_len[i];
    double bank = p->arc_kind[i] == TURN_FLAT ? 0 : p->arc_bank[i];
    if (p->arc_kind[i] == TURN_OFF_CAMBER) bank = -std::fabs(bank);
    for (double s = a0 - run; s <= a1 + run; s += PATH_STEP) {
      int k = p->index(s);
      double w = smoothstep(a0 - run, a0, s) * (1 - smoothstep(a1, a1 + run, s));
      if (w > 0.001 && std::fabs(bank * w) >= std::fabs(p->bank[k])) {
        p->bank[k] = bank * w;
        p->turn[k] = p->arc_sign[i];
      }
    }
  }
}

static double face_len(double height, double deg) { return height / std::tan(deg * PI / 180); }

Jump add_tabletop(Path *p, const char *name, double s0, double h, double face_deg, double top,
                  double land_deg) {
  double lf = face_len(h, face_deg), ll = face_len(h, land_deg);
  add_profile(p, s0, {{0, 0}, {lf, h}, {lf + top, h}, {lf + top + ll, 0}});
  return {name, s0 + lf, s0 + lf + top + 0.5 * ll, 0};
}

Jump add_double(Path *p, const char *name, double s0, double h, double face_deg, double gap,
                double land_h, double land_deg) {
  double lf = face_len(h, face_deg), lb = face_len(h, 40), lfront = face_len(land_h, 40);
  double ll = face_len(land_h, land_deg);
  double peak = lf + lb + gap + lfront;
  add_profile(p, s0, {{0, 0}, {lf, h}, {lf + lb, 0}, {lf + lb + gap, 0}, {peak, land_h},
                      {peak + ll, 0}});
  return {name, s0 + lf, s0 + peak + 0.5 * ll, 0};
}

Jump add_step_up(Path *p, const char *name, double s0, double h, double face_deg, double gap,
                 double top_h, double top, double down_deg) {
  double lf = face_len(h, face_deg), pit = 0.35 * h;
  double front = face_len(top_h - pit, 50), ld = face_len(top_h, down_deg);
  add_profile(p, s0, {{0, 0}, {lf, h}, {lf + 3, pit}, {lf + gap - front, pit}, {lf + gap, top_h},
                      {lf + gap + top, top_h}, {lf + gap + top + ld, 0}});
  return {name, s0 + lf, s0 + lf + gap + 14, 0};
}

// ---- the field ----
float Field::height(double x, double z) const {
  double fx = x / spacing, fz = z / spacing;
  int i = (int)std::floor(fx), j = (int)std::floor(fz);
  double u = fx - i, v = fz - j;
  auto H = [&](int c, int r) {
    c = c < 0 ? 0 : c >= N ? N - 1 : c;
    r = r < 0 ? 0 : r >= N ? N - 1 : r;
    return (double)h[(size_t)r * N + c];
  };
  int cc, cr, xc, xr, zc, zr;
  double a, b;
  if ((i + j) & 1) {
    if (u + v <= 1) {
      cc = i, cr = j, xc = i + 1, xr = j, zc = i, zr = j + 1, a = u, b = v;
    } else {
      cc = i + 1, cr = j + 1, xc = i, xr = j + 1, zc = i + 1, zr = j, a = 1 - u, b = 1 - v;
    }
  } else if (v <= u) {
    cc = i + 1, cr = j, xc = i, xr = j, zc = i + 1, zr = j + 1, a = 1 - u, b = v;
  } else {
    cc = i, cr = j + 1, xc = i + 1, xr = j + 1, zc = i, zr = j, a = u, b = 1 - v;
  }
  double hc = H(cc, cr);
  return (float)(hc + a * (H(xc, xr) - hc) + b * (H(zc, zr) - hc));
}

// Box filter of half width `w` points along a path (wrapping when closed).
static std::vector<double> box_filter(const std::vector<double> &v, int w, bool closed) {
  int n = (int)v.size();
  std::vector<double> out(n);
  for (int k = 0; k < n; k++) {
    double sum = 0;
    int cnt = 0;
    for (int d = -w; d <= w; d++) {
      int i = k + d;
      if (closed) i = ((i % n) + n) % n;
      else if (i < 0 || i >= n) continue;
      sum += v[i];
      cnt++;
    }
    out[k] = sum / cnt;
  }
  return out;
}

struct Cross {
  double ad, o, hw, bank, grade, feature;
  int turn, surface;
};

static Cross cross_at(const Path &p, double s, double d) {
  int n = p.count();
  double fk = s / PATH_STEP;
  int k0 = (int)std::floor(fk);
  double t = fk - k0;
  int k1 = k0 + 1;
  if (p.closed) {
    k0 = ((k0 % n) + n) % n;
    k1 = ((k1 % n) + n) % n;
  } else {
    k0 = k0 < 0 ? 0 : k0 >= n ? n - 1 : k0;
    k1 = k1 < 0 ? 0 : k1 >= n ? n - 1 : k1;
  }
  Cross c;
  c.ad = std::fabs(d);
  c.hw = lerpd(p.hw[k0], p.hw[k1], t);
  c.bank = lerpd(p.bank[k0], p.bank[k1], t);
  c.grade = lerpd(p.grade[k0], p.grade[k1], t);
  c.feature = lerpd(p.feature[k0], p.feature[k1], t);
  int kn = t < 0.5 ? k0 : k1;
  c.turn = p.turn[kn];
  c.surface = p.surface[kn];
  c.o = -c.turn * d;  // toward the outside of the turn
  return c;
}

// The graded track surface across the path at lateral offset d.
static double track_surface(const Cross &c) {
  double cw = 1 - smoothstep(c.hw - 1, c.hw + 8, c.ad);  // jump sides slope down
  double b = 0;
  if (c.turn != 0 && c.bank > 0) {  // berm: flat inside, rising ever steeper outside
    double o = clampd(c.o, -c.hw, c.hw + 3);
    if (o <= c.hw) b = c.bank * (o + c.hw) * (o + c.hw) / (4 * c.hw);
    else b = c.bank * c.hw + 2 * c.bank * (o - c.hw);
  } else if (c.turn != 0 && c.bank < 0) {  // off-camber: falling away outside
    b = c.bank * clampd(c.o, -c.hw - 3, c.hw + 3);
  }
  return c.grade + c.feature * cw + b;
}

void field_build(Field *f, int n, double spacing, std::vector<Path> *paths, NaturalGround ground,
                 double window) {
  f->n = n;
  f->spacing = spacing;
  f->size = 1 << n;
  f->N = 2 * f->size + 1;
  f->extent = (f->N - 1) * spacing;
  int N = f->N;
  size_t count = (size_t)N * N;
  // Grade each path and round its features' edges a little.
  for (Path &p : *paths) {
    std::vector<double> g(p.count());
    for (int k = 0; k < p.count(); k++) g[k] = ground(p.x[k], p.z[k]);
    int w = (int)(window / PATH_STEP / 2);
    p.grade = box_filter(box_filter(g, w, p.closed), w, p.closed);
    p.feature = box_filter(p.feature, 1, p.closed);
  }
  // Nearest centreline point of every sample within reach of a track.
  std::vector<float> best(count, 1e30f);
  std::vector<int> near_k(count, -1);
  f->near_path.assign(count, -1);
  f->near_s.assign(count, 0);
  f->near_d.assign(count, 0);
  for (int pi = 0; pi < (int)paths->size(); pi++) {
    const Path &p = (*paths)[pi];
    for (int k = 0; k < p.count(); k++) {
      double reach = p.hw[k] + 20;
      int c0 = (int)std::floor((p.x[k] - reach) / spacing), c1 = (int)std::ceil((p.x[k] + reach) / spacing);
      int r0 = (int)std::floor((p.z[k] - reach) / spacing), r1 = (int)std::ceil((p.z[k] + reach) / spacing);
      c0 = c0 < 0 ? 0 : c0, r0 = r0 < 0 ? 0 : r0;
      c1 = c1 >= N ? N - 1 : c1, r1 = r1 >= N ? N - 1 : r1;
      for (int r = r0; r <= r1; r++) {
        for (int c = c0; c <= c1; c++) {
          double ex = c * spacing - p.x[k], ez = r * spacing - p.z[k];
          float d2 = (float)(ex * ex + ez * ez);
          size_t i = (size_t)r * N + c;
          if (d2 < reach * reach && d2 < best[i]) {
            best[i] = d2;
            f->near_path[i] = pi;
            near_k[i] = k;
          }
        }
      }
    }
  }
  f->h.assign(count, 0);
  for (int r = 0; r < N; r++) {
    for (int c = 0; c < N; c++) {
      size_t i = (size_t)r * N + c;
      double x = c * spacing, z = r * spacing;
      double base = ground(x, z);
      if (f->near_path[i] < 0) {
        f->h[i] = (float)base;
        continue;
      }
      const Path &p = (*paths)[f->near_path[i]];
      int k = near_k[i];
      // Project onto the centreline between k and its neighbours.
      double ex = x - p.x[k], ez = z - p.z[k];
      double u = ex * p.dx[k] + ez * p.dz[k];
      double d = ex * -p.dz[k] + ez * p.dx[k];
      double s = k * PATH_STEP + clampd(u, -PATH_STEP, PATH_STEP);
      if (!p.closed && ((k == 0 && u < 0) || (k == p.count() - 1 && u > 0))) {
        d = (d < 0 ? -1 : 1) * std::sqrt(d * d + u * u);  // round end of an open path
        s = k * PATH_STEP;
      }
      if (p.closed && s < 0) s += p.count() * PATH_STEP;
      f->near_s[i] = (float)s;
      f->near_d[i] = (float)d;
      Cross cr = cross_at(p, s, d);
      double w = 1 - smoothstep(cr.hw + 2, cr.hw + 18, cr.ad);
      f->h[i] = (float)(base + (track_surface(cr) - base) * w);
    }
  }
}

int solve_jumps(const Path &p, std::vector<Jump> *jumps) {
  int ok = 1;
  for (Jump &j : *jumps) {
    auto T = [&](double s) { return centre_height(p, p.index(s)); };
    double th = std::atan((T(j.lip_s) - T(j.lip_s - 4)) / 4);
    double D = j.land_s - j.lip_s, drop = T(j.lip_s) - T(j.land_s);
    double den = 2 * std::cos(th) * std::cos(th) * (D * std::tan(th) + drop);
    if (den <= 0) {
      fprintf(stderr, "dvgen: jump %s can't reach its landing\n", j.name.c_str());
      ok = 0;
      continue;
    }
    j.speed = std::sqrt(GRAVITY * D * D / den);
    double k = GRAVITY / (2 * j.speed * j.speed * std::cos(th) * std::cos(th));
    for (double u = 2; u < D - 2; u += 1) {
      double y = u * std::tan(th) - k * u * u;
      double ground = T(j.lip_s + u) - T(j.lip_s);
      if (y < ground + 0.25) {
        fprintf(stderr, "dvgen: jump %s: flight at %.0f ft is %.2f ft over the ground\n",
                j.name.c_str(), u, y - ground);
        ok = 0;
        break;
      }
    }
  }
  return ok;
}

// ---- surfaces ----
const char *const SURFACE_TEXTURE[SURF_KINDS] = {"grass", "loam", "hardpack", "sand", "mud",
                                                 "water"};
const SurfacePair SURFACE_PAIRS[] = {{SURF_LOAM, SURF_GRASS},     {SURF_HARDPACK, SURF_LOAM},
                                     {SURF_SAND, SURF_LOAM},      {SURF_MUD, SURF_LOAM},
                                     {SURF_WATER, SURF_MUD}};
const int SURFACE_PAIR_COUNT = sizeof SURFACE_PAIRS / sizeof SURFACE_PAIRS[0];

// What each surface is made of: friction (coefficient at 1, 30, 80 ft/s), rolling
// resistance (lb, at rest and fully compressed, at 1 and 60 ft/s), roost and erosion.
struct SurfacePhysics {
  double friction[3];
  double roll[2][2];
  const char *roost;   // parameters of the roost line(s), '|' between two lines
  double erode_depth, erode_lower;
};
static const SurfacePhysics PHYSICS[SURF_KINDS] = {
    {{0.95, 0.80, 0.70}, {{6, 18}, {8, 22}},
     "count=4 dig=0.5 size=0.2 grow=3 r=70 g=105 b=40 fade_a=300", 0.5, 80},
    {{1.25, 1.10, 1.00}, {{5, 15}, {7, 20}},
     "count=12 dig=1 size=0.25 r=115 g=85 b=58 fade_a=250", 1.0, 50},
    {{1.15, 1.05, 0.95}, {{3, 10}, {5, 14}},
     "count=6 dig=0.6 size=0.2 r=150 g=122 b=92 fade_a=300", 0.4, 120},
    {{0.90, 0.80, 0.75}, {{25, 70}, {35, 90}},
     "count=20 dig=1.5 size=0.3 grow=6 r=205 g=180 b=130 fade_a=220", 1.6, 30},
    {{0.70, 0.60, 0.55}, {{18, 45}, {25, 60}},
     "count=10 dig=1.2 size=0.3 r=78 g=58 b=40 fade_a=200", 1.3, 40},
    {{0.60, 0.50, 0.45}, {{30, 80}, {45, 110}},
     "splash=1 count=25 size=0.4 grow=8 vscale=1.5 r=175 g=185 b=180 a=200 fade_a=400"
     "|count=6 dig=0.8 size=0.3 r=78 g=58 b=40 fade_a=200",
     0.8, 40},
};
static const double FRICTION_SPEEDS[3] = {1, 30, 80};
static const double ROLL_SPEEDS[2] = {1, 60};

int surface_type_count(const SurfaceTable &t) { return (int)(t.kinds.size() + 14 * t.pairs.size()); }

static int kind_type(const SurfaceTable &t, int kind) {
  for (size_t i = 0; i < t.kinds.size(); i++)
    if (t.kinds[i] == kind) return (int)i;
  return -1;
}

static std::string mask_text(int m) {
  return strf("%d%d%d%d", (m >> 3) & 1, (m >> 2) & 1, (m >> 1) & 1, m & 1);
}

static void tile_text(std::string *out, int a, int b, int nb) {
  // A blend of a and b with nb of its four corners b; physics blend by that share.
  double w = nb / 4.0;
  const SurfacePhysics &pa = PHYSICS[a], &pb = PHYSICS[b];
  for (int i = 0; i < 3; i++)
    *out += strf("friction %.3f %g\n", lerpd(pa.friction[i], pb.friction[i], w), FRICTION_SPEEDS[i]);
  for (int i = 0; i < 2; i++)
    *out += strf("roll_resist %.2f %.2f %g\n", lerpd(pa.roll[i][0], pb.roll[i][0], w),
                 lerpd(pa.roll[i][1], pb.roll[i][1], w), ROLL_SPEEDS[i]);
  const SurfacePhysics &pr = nb > 2 ? pb : pa;
  std::string roost = pr.roost;
  size_t start = 0;
  while (start <= roost.size()) {
    size_t bar = roost.find('|', start);
    if (bar == std::string::npos) bar = roost.size();
    *out += "roost " + roost.substr(start, bar - start) + "\n";
    start = bar + 1;
  }
  *out += strf("erode_depth %.2f\n", lerpd(pa.erode_depth, pb.erode_depth, w));
  *out += strf("erode_lower %.1f\n", lerpd(pa.erode_lower, pb.erode_lower, w));
  *out += "addtile\n";
}

std::string tileinfo_text(const SurfaceTable &t) {
  std::string out;
  for (int k : t.kinds) {
    out += strf("texture @%s.png\n", SURFACE_TEXTURE[k]);
    tile_text(&out, k, k, 0);
  }
  for (int pi : t.pairs) {
    const SurfacePair &p = SURFACE_PAIRS[pi];
    for (int m = 1; m <= 14; m++) {
      int nb = ((m >> 3) & 1) + ((m >> 2) & 1) + ((m >> 1) & 1) + (m & 1);
      out += strf("texture @%s-%s-%s.png\n", SURFACE_TEXTURE[p.a], SURFACE_TEXTURE[p.b],
                  mask_text(m).c_str());
      tile_text(&out, p.a, p.b, nb);
    }
  }
  return out;
}

std::string texturelist_text(const SurfaceTable &t) {
  std::string out;
  for (int k : t.kinds)
    out += strf("%.3f %.2f %.2f %s.png\n", PHYSICS[k].friction[1], PHYSICS[k].roll[0][0],
                PHYSICS[k].roll[0][1], SURFACE_TEXTURE[k]);
  for (int pi : t.pairs) {
    const SurfacePair &p = SURFACE_PAIRS[pi];
    for (int m = 1; m <= 14; m++) {
      int nb = ((m >> 3) & 1) + ((m >> 2) & 1) + ((m >> 1) & 1) + (m & 1);
      double w = nb / 4.0;
      out += strf("%.3f %.2f %.2f %s-%s-%s.png\n",
                  lerpd(PHYSICS[p.a].friction[1], PHYSICS[p.b].friction[1], w),
                  lerpd(PHYSICS[p.a].roll[0][0], PHYSICS[p.b].roll[0][0], w),
                  lerpd(PHYSICS[p.a].roll[0][1], PHYSICS[p.b].roll[0][1], w),
                  SURFACE_TEXTURE[p.a], SURFACE_TEXTURE[p.b], mask_text(m).c_str());
    }
  }
  return out;
}

int surface_tile_type(const SurfaceTable &t, const int corner[4]) {
  int a = corner[0], b = -1;
  for (int i = 1; i < 4; i++) {
    if (corner[i] == a || corner[i] == b) continue;
    if (b < 0) b = corner[i];
    else b = -2;  // three kinds
  }
  if (b == -1) {
    int ti = kind_type(t, a);
    return ti >= 0 ? ti : 0;
  }
  if (b >= 0) {
    for (size_t j = 0; j < t.pairs.size(); j++) {
      const SurfacePair &p = SURFACE_PAIRS[t.pairs[j]];
      if (!((p.a == a && p.b == b) || (p.a == b && p.b == a))) continue;
      int m = 0;
      for (int i = 0; i < 4; i++) m = (m << 1) | (corner[i] == p.b);
      if (m == 0) return kind_type(t, p.a);
      if (m == 15) return kind_type(t, p.b);
      return (int)(t.kinds.size() + 14 * j + m - 1);
    }
  }
  // No blend for these kinds: the most frequent corner wins.
  int best = corner[0], best_n = 0;
  for (int i = 0; i < 4; i++) {
    int cnt = 0;
    for (int j = 0; j < 4; j++) cnt += corner[j] == corner[i];
    if (cnt > best_n) best = corner[i], best_n = cnt;
  }
  int ti = kind_type(t, best);
  return ti >= 0 ? ti : 0;
}

void field_tiles(Field *f, const std::vector<Path> &paths, const SurfaceTable &table) {
  int S = f->size, N = f->N;
  std::vector<int> kind((size_t)(S + 1) * (S + 1), SURF_GRASS);
  for (int j = 0; j <= S; j++) {
    for (int i = 0; i <= S; i++) {
      size_t si = (size_t)(2 * j) * N + 2 * i;
      int pi = f->near_path[si];
      if (pi < 0) continue;
      Cross c = cross_at(paths[pi], f->near_s[si], f->near_d[si]);
      int k = SURF_GRASS;
      if (c.ad <= c.hw + 4.5) k = SURF_LOAM;  // a band at least a tile wide: grass
                                              // never meets sand or hardpack
      if (c.ad <= c.hw - 0.5) {
        k = c.surface;
        if (k == SURF_WATER && c.ad > c.hw - 5) k = SURF_MUD;
      }
      if (kind_type(table, k) < 0) k = SURF_LOAM;
      kind[(size_t)j * (S + 1) + i] = k;
    }
  }
  f->tiles.assign((size_t)S * S, 0);
  for (int j = 0; j < S; j++) {
    for (int i = 0; i < S; i++) {
      int c[4] = {kind[(size_t)j * (S + 1) + i], kind[(size_t)j * (S + 1) + i + 1],
                  kind[(size_t)(j + 1) * (S + 1) + i], kind[(size_t)(j + 1) * (S + 1) + i + 1]};
      f->tiles[(size_t)j * S + i] = (uint8_t)surface_tile_type(table, c);
    }
  }
}

// ---- shading ----
void field_shade(Field *f, const double sun[3], const std::vector<double> &trees) {
  int N = f->N;
  double s = f->spacing;
  size_t count = (size_t)N * N;
  float top = f->h[0];
  for (float v : f->h) top = v > top ? v : top;
  double hl = std::sqrt(sun[0] * sun[0] + sun[2] * sun[2]);
  double sx = sun[0] / hl, sz = sun[2] / hl, rise = sun[1] / hl;  // per ft toward the sun
  std::vector<float> lit(count, 1.0f);
  for (int r = 0; r < N; r++) {
    for (int c = 0; c < N; c++) {
      double x = c * s, z = r * s, y = f->h[(size_t)r * N + c] + 0.05;
      for (double t = s; ; t += s) {
        double ray = y + t * rise;
        if (ray > top) break;
        double px = x + sx * t, pz = z + sz * t;
        if (px < 0 || pz < 0 || px > f->extent || pz > f->extent) break;
        if (f->height(px, pz) > ray) {
          lit[(size_t)r * N + c] = 0;
          break;
        }
      }
    }
  }
  // Tree shadows: soft disks thrown away from the sun.
  for (size_t t = 0; t + 4 <= trees.size(); t += 4) {
    double tx = trees[t] - sx * trees[t + 3] * 0.5 / rise, tz = trees[t + 1] - sz * trees[t + 3] * 0.5 / rise;
    double rad = trees[t + 2];
    int c0 = (int)((tx - rad) / s), c1 = (int)((tx + rad) / s) + 1;
    int r0 = (int)((tz - rad) / s), r1 = (int)((tz + rad) / s) + 1;
    for (int r = r0 < 0 ? 0 : r0; r <= r1 && r < N; r++) {
      for (int c = c0 < 0 ? 0 : c0; c <= c1 && c < N; c++) {
        double dx = c * s - tx, dz = r * s - tz, d = std::sqrt(dx * dx + dz * dz);
        double shade = 1 - 0.6 * (1 - smoothstep(rad * 0.6, rad, d));
        float &l = lit[(size_t)r * N + c];
        if (shade < l) l = (float)shade;
      }
    }
  }
  // Soften the shadow edges with a 3 x 3 blur.
  std::vector<float> soft(count);
  for (int r = 0; r < N; r++) {
    for (int c = 0; c < N; c++) {
      double sum = 0;
      int n = 0;
      for (int dr = -1; dr <= 1; dr++)
        for (int dc = -1; dc <= 1; dc++) {
          int rr = r + dr, cc = c + dc;
          if (rr < 0 || cc < 0 || rr >= N || cc >= N) continue;
          sum += lit[(size_t)rr * N + cc];
          n++;
        }
      soft[(size_t)r * N + c] = (float)(sum / n);
    }
  }
  f->shading.assign(count * 3, 0);
  f->shadows.assign(count, 255);
  for (int r = 0; r < N; r++) {
    for (int c = 0; c < N; c++) {
      size_t i = (size_t)r * N + c;
      auto H = [&](int cc, int rr) {
        cc = cc < 0 ? 0 : cc >= N ? N - 1 : cc;
        rr = rr < 0 ? 0 : rr >= N ? N - 1 : rr;
        return (double)f->h[(size_t)rr * N + cc];
      };
      double nx = -(H(c + 1, r) - H(c - 1, r)) / (2 * s), nz = -(H(c, r + 1) - H(c, r - 1)) / (2 * s);
      double nl = std::sqrt(nx * nx + 1 + nz * nz);
      double ndl = (nx * sun[0] + sun[1] + nz * sun[2]) / nl;
      double direct = (ndl > 0 ? ndl : 0) * soft[i];
      // Sky light falls off on steep faces; the sun is slightly warm.
      double sky = 0.42 + 0.18 / nl;
      double rgb[3] = {sky * 0.96 + direct * 0.62, sky * 0.98 + direct * 0.58, sky * 1.04 + direct * 0.50};
      for (int k = 0; k < 3; k++) f->shading[i * 3 + k] = (uint8_t)clampd(std::floor(rgb[k] * 128 + 0.5), 0, 255);
      f->shadows[i] = (uint8_t)clampd(std::floor(soft[i] * 255 + 0.5), 0, 255);
    }
  }
}

// ---- racing line ----
void racing_line_build(const Path &p, const Field &f, const std::vector<Jump> &jumps,
                       double max_speed, RacingLine *line) {
  int n = p.count();
  std::vector<double> off(n, 0), cap(n, max_speed);
  for (size_t i = 0; i < p.arc_s0.size(); i++) {
    double a0 = p.arc_s0[i], a1 = a0 + p.arc_len[i];
    // Berms are ridden high, flat and off-camber turns on the inside.
    double o = p.arc_kind[i] == TURN_BERM ? 0.35 : -0.45;
    // Cornering grip with a margin below the tyres' limit: a berm holds the bike up.
    double mu = p.arc_kind[i] == TURN_BERM ? 0.9 : p.arc_kind[i] == TURN_FLAT ? 0.6 : 0.45;
    for (double s = a0 - 40; s <= a1 + 40; s += PATH_STEP) {
      int k = p.index(s);
      double w = smoothstep(a0 - 40, a0, s) * (1 - smoothstep(a1, a1 + 40, s));
      off[k] = -p.arc_sign[i] * o * p.hw[k] * w;
      if (s >= a0 && s <= a1) {
        double r = p.arc_radius[i] + o * p.hw[k];
        double v = std::sqrt(mu * GRAVITY * r);
        if (v < cap[k]) cap[k] = v;
      }
    }
  }
  static const double SURFACE_CAP[SURF_KINDS] = {60, 1e9, 1e9, 48, 38, 28};
  for (int k = 0; k < n; k++) {
    cap[k] = std::fmin(cap[k], std::fmin(p.cap[k], SURFACE_CAP[p.surface[k]]));
  }
  line->flag.assign(n, 0);
  for (const Jump &j : jumps) {
    for (double s = j.lip_s - 12; s <= j.lip_s; s += PATH_STEP) {
      int k = p.index(s);
      cap[k] = std::fmin(cap[k], j.speed);
    }
    for (double s = j.lip_s; s <= j.land_s; s += PATH_STEP) {
      int k = p.index(s);
      cap[k] = std::fmin(cap[k], j.speed * 1.05);
    }
    line->flag[p.index(j.lip_s)] = 1;
    line->flag[p.index(j.land_s)] = 2;
  }
  // Speeds: as fast as the caps allow, accelerating and braking like a 450 on dirt.
  std::vector<double> v = cap;
  int laps = p.closed ? 3 : 1;
  for (int pass = 0; pass < laps; pass++) {
    for (int k = 1; k <= n; k++) {  // forward: acceleration falls with speed
      int a = k - 1, b = k % n;
      if (!p.closed && k == n) break;
      double acc = 15.0 * (1 - v[a] / 110.0);
      double reach = std::sqrt(v[a] * v[a] + 2 * (acc > 1 ? acc : 1) * PATH_STEP);
      if (v[b] > reach) v[b] = reach;
    }
    for (int k = n - 1; k >= 0; k--) {  // backward: braking
      int a = k, b = (k + 1) % n;
      if (!p.closed && k == n - 1) continue;
      double reach = std::sqrt(v[b] * v[b] + 2 * 18.0 * PATH_STEP);
      if (v[a] > reach) v[a] = reach;
    }
  }
  if (!p.closed) v[0] = 0;  // from the gate
  line->x.resize(n);
  line->z.resize(n);
  line->y.resize(n);
  line->speed = v;
  for (int k = 0; k < n; k++) {
    line->x[k] = p.x[k] + -p.dz[k] * off[k];
    line->z[k] = p.z[k] + p.dx[k] * off[k];
    line->y[k] = f.height(line->x[k], line->z[k]);
  }
}

std::string racing_line_text(const Path &p, const RacingLine &line, const char *track,
                             int every) {
  std::string t;
  t += "# Racing line of the track: the designed line and target speeds, for the tools.\n";
  t += "# Not read by the game. Lines starting with '#' are comments. Then\n";
  t += "#   racing_line <track> <points> <length ft> <closed 0/1>\n";
  t += "# and one point per line, in riding order:\n";
  t += "#   <s ft along the line> <x ft> <y ft> <z ft> <speed ft/s> <flag>\n";
  t += "# flag: 0 riding, 1 jump take-off (the speed is the one that clears it), 2 landing.\n";
  t += "# A file may hold several lines one after the other: the lap, then <track>-start\n";
  t += "# from the back of the start pad, behind the gate, to where the chute joins the lap.\n";
  int count = 0;
  for (int k = 0; k < p.count(); k++)
    if (k % every == 0 || line.flag[k]) count++;
  t += strf("racing_line %s %d %.1f %d\n", track, count, p.length, p.closed ? 1 : 0);
  for (int k = 0; k < p.count(); k++) {
    if (k % every != 0 && !line.flag[k]) continue;
    t += strf("%.1f %.2f %.2f %.2f %.1f %d\n", k * PATH_STEP, line.x[k], line.y[k], line.z[k],
              line.speed[k], line.flag[k]);
  }
  return t;
}

// ---- files ----
std::string timing_gates_text(const std::vector<GatePiece> &pieces, const std::vector<Gate> &gates,
                              const std::vector<int> &first, const std::vector<int> &normal) {
  // The layout is read back by the track module and written again by its own writer, so
  // the file is exactly what the game writes and reads.
  std::string t;
  if (!pieces.empty()) {
    t += "startinggate:\n";
    for (const GatePiece &g : pieces) t += strf("[%f %f %f] %f\n", g.x, g.y, g.z, g.angle);
  }
  t += "checkpoints:\n";
  for (const Gate &g : gates)
    t += strf("%f [%f %f %f] [%f %f %f]\n", g.radius, g.x, g.y, g.z, g.dx, 0.0, g.dz);
  t += "firstlap:\n";
  for (int e : first) t += strf("%d ", e);
  t += "\nnormallap:\n";
  for (int e : normal) t += strf("%d ", e);
  t += "\n";
  if (!parse_timing_gates(t.data(), t.size())) {
    fprintf(stderr, "dvgen: the track module finds no timing in the gates\n");
    return std::string();
  }
  size_t need = format_timing_gates(nullptr, 0);
  std::string out(need + 1, '\0');
  format_timing_gates(&out[0], need + 1);
  out.resize(need);
  track_reset();
  return out;
}

int field_save(const Field &f, const std::string &dir) { return field_save_decals(f, dir, {}); }

int field_save_decals(const Field &f, const std::string &dir, const std::vector<GroundDecal> &decals) {
  Terrain *t = (Terrain *)calloc(1, sizeof(Terrain));
  if (!t) return 0;
  size_t count = (size_t)f.N * f.N;
  t->size_log2 = f.n;
  t->samples = f.N;
  t->spacing = (float)f.spacing;
  t->extent = (float)f.extent;
  t->tile_size = (float)(2 * f.spacing);
  t->heights = (float *)malloc(count * sizeof(float));
  t->shading = (uint8_t *)malloc(count * 3);
  t->tile_map = (uint8_t *)malloc(f.tiles.size());
  memcpy(t->heights, f.h.data(), count * sizeof(float));
  memcpy(t->shading, f.shading.data(), count * 3);
  memcpy(t->tile_map, f.tiles.data(), f.tiles.size());
  snprintf(t->directory, sizeof t->directory, "%s", dir.c_str());
  for (const GroundDecal &g : decals) {
    Decal d;
    memset(&d, 0, sizeof d);
    d.x = (float)g.x;
    d.z = (float)g.z;
    d.angle = (float)g.angle;
    d.size = (float)g.size;
    d.aspect = (float)g.aspect;
    d.sin_angle = (float)std::sin(g.angle);
    d.cos_angle = (float)std::cos(g.angle);
    snprintf(d.name, sizeof d.name, "%s", g.texture.c_str());
    terrain_decal_add(t, &d);
  }
  int ok = terrain_save(t);
  terrain_unload(t);
  free(t);
  return ok;
}

std::string terrain_hf_inline(const Field &f) {
  // The same quantisation as the terrain module's saving: lo..hi over 0..65535.
  float lo = f.h[0], hi = f.h[0];
  for (float v : f.h) lo = v < lo ? v : lo, hi = v > hi ? v : hi;
  std::string t = strf("%d %f %f %f\n:", f.n, f.spacing, lo, hi);
  size_t at = t.size();
  t.resize(at + f.h.size() * 2);
  for (size_t i = 0; i < f.h.size(); i++) {
    uint16_t v = hi > lo ? (uint16_t)((f.h[i] - lo) / (hi - lo) * 65535.0f + 0.5f) : 0;
    t[at + 2 * i] = (char)(v & 255);
    t[at + 2 * i + 1] = (char)(v >> 8);
  }
  return t;
}

Img field_map(const Field &f, const std::vector<Path> &paths, int size) {
  Img im = img_make(size, size, 4);
  int N = f.N;
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) {
      // Four samples per pixel for smooth edges.
      double cover = 0, edge = 0;
      for (int sy = 0; sy < 2; sy++) {
        for (int sx = 0; sx < 2; sx++) {
          double wx = (x + 0.25 + 0.5 * sx) * f.extent / size, wz = (y + 0.25 + 0.5 * sy) * f.extent / size;
          int c = (int)(wx / f.spacing + 0.5), r = (int)(wz / f.spacing + 0.5);
          if (c >= N || r >= N) continue;
          size_t i = (size_t)r * N + c;
          if (f.near_path[i] < 0) continue;
          Cross cr = cross_at(paths[f.near_path[i]], f.near_s[i], f.near_d[i]);
          double px = f.extent / size;  // ft per pixel
          if (cr.ad <= cr.hw) cover += 0.25;
          else if (cr.ad <= cr.hw + 1.5 * px) edge += 0.25;
        }
      }
      if (cover + edge <= 0) continue;
      double a = cover + edge;
      double l = cover / a;
      img_set(&im, x, y, 0.15 + 0.8 * l, 0.12 + 0.75 * l, 0.1 + 0.65 * l, a * 0.9);
    }
  }
  return im;
}
