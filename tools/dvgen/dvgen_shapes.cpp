// dvgen: the collision shapes (.shp sphere sets) of bike, rider, starting gate and
// trackside statues, and the simple meshes (.jm) of the statues and the gate piece.
#include <cmath>
#include <string>
#include <vector>

#include "tools/dvgen/dvgen.h"

// Contact materials: friction, stiffness (lb/ft) and damping (lb s/ft) of a sphere against
// another sphere (the ground uses its own spring).
struct Material {
  double friction, stiffness, damping;
};
static const Material BIKE_PART = {0.5, 10000.0, 500.0};
static const Material TYRE = {1.0, 25000.0, 2500.0};  // as the tyre torus of the wheels
static const Material RIDER = {0.8, 4000.0, 300.0};
static const Material HAY = {0.9, 3000.0, 400.0};     // soft: a bale gives
static const Material TUFF = {0.7, 8000.0, 600.0};    // hollow plastic block
static const Material STEEL = {0.5, 20000.0, 1000.0}; // starting gate plate

struct Sphere {
  double x, y, z, r;  // ft, in the owning body's coordinates
  Material m;
};

// The skeleton every bike is built on: body positions in the build frame (ground at
// y = 0, front toward -z, +x to the rider's right).
static const double FRAME_POS[3] = {0, 1.98, 3.6};
static const double FORK_UPPER_POS[3] = {0, 2.9, 2.16};
static const double FORK_LOWER_POS[3] = {0, 1.77, 1.59};
static const double SWINGARM_POS[3] = {0, 1.34, 4.99};
static const double RIDER_POS[3] = {0, 4.5, 4.12};
static const double FRONT_AXLE[3] = {0, 1.09, 1.11};
static const double REAR_AXLE[3] = {0, 1.04, 6.0};
static const double SWINGARM_PIVOT[3] = {0, 1.58, 4.17};
static const double FORK_LEG_SPACING = 0.8333333;

// A sphere given in the build frame, stored relative to the body at `body`.
static void add_built(std::vector<Sphere> *s, const double body[3], double x, double y, double z,
                      double r, Material m) {
  s->push_back({x - body[0], y - body[1], z - body[2], r, m});
}
// Both sides of the bike: +x and -x.
static void add_pair(std::vector<Sphere> *s, const double body[3], double x, double y, double z,
                     double r, Material m) {
  add_built(s, body, -x, y, z, r, m);
  add_built(s, body, x, y, z, r, m);
}

static std::string shape_text(const std::vector<Sphere> &s) {
  std::string t = strf("%d\n", (int)s.size());
  for (const Sphere &e : s)
    t += strf("%.4f %.4f %.4f %.4f %.2f %.1f %.1f\n", e.x + 0.0, e.y + 0.0, e.z + 0.0, e.r,
              e.m.friction, e.m.stiffness, e.m.damping);
  return t;
}

// Frame: engine and bash plate, radiator shrouds, tank, seat, subframe and rear fender,
// footpegs and silencer. The lowest point is 0.9 ft above the ground at rest.
static std::vector<Sphere> frame_shape() {
  std::vector<Sphere> s;
  const double *b = FRAME_POS;
  add_built(&s, b, 0, 1.30, 3.45, 0.40, BIKE_PART);   // bash plate, bottom of the engine
  add_built(&s, b, 0, 1.85, 3.25, 0.45, BIKE_PART);   // cylinder and head
  add_built(&s, b, 0, 1.60, 3.90, 0.35, BIKE_PART);   // gearbox behind the crank
  add_pair(&s, b, 0.38, 2.45, 2.80, 0.32, BIKE_PART); // radiator shrouds
  add_built(&s, b, 0, 2.70, 3.15, 0.38, BIKE_PART);   // tank
  add_built(&s, b, 0, 2.90, 3.80, 0.30, BIKE_PART);   // seat front
  add_built(&s, b, 0, 3.00, 4.55, 0.30, BIKE_PART);   // seat rear
  add_built(&s, b, 0, 2.45, 4.60, 0.35, BIKE_PART);   // airbox
  add_built(&s, b, 0, 3.05, 5.35, 0.25, BIKE_PART);   // rear fender
  add_built(&s, b, 0, 3.10, 6.05, 0.20, BIKE_PART);   // fender tip
  add_pair(&s, b, 0.60, 1.42, 4.18, 0.12, BIKE_PART); // footpegs
  add_built(&s, b, 0.42, 2.55, 5.30, 0.20, BIKE_PART);  // silencer, right side
  return s;
}

// Fork upper: triple clamps, bars with the grips, number plate and front fender.
static std::vector<Sphere> fork_upper_shape() {
  std::vector<Sphere> s;
  const double *b = FORK_UPPER_POS;
  const double grip_x = 1.097, grip_y = 2.9 + 1.145, grip_z = 2.16 + 0.753;
  add_pair(&s, b, grip_x, grip_y, grip_z, 0.15, BIKE_PART);  // grips
  add_pair(&s, b, 0.55, grip_y - 0.05, grip_z - 0.05, 0.15, BIKE_PART);  // bar
  add_built(&s, b, 0, 3.45, 2.50, 0.28, BIKE_PART);    // bar clamp and top clamp
  add_pair(&s, b, FORK_LEG_SPACING / 2, 2.90, 2.16, 0.16, BIKE_PART);  // fork tubes at the clamp
  add_pair(&s, b, FORK_LEG_SPACING / 2, 2.55, 1.95, 0.15, BIKE_PART);  // lower clamp
  add_built(&s, b, 0, 3.10, 1.85, 0.30, BIKE_PART);    // number plate
  add_built(&s, b, 0, 2.55, 1.05, 0.25, BIKE_PART);    // front fender over the tyre
  add_built(&s, b, 0, 2.50, 0.45, 0.20, BIKE_PART);    // fender tip
  return s;
}

// Fork lower: the two sliders down to the axle.
static std::vector<Sphere> fork_lower_shape() {
  std::vector<Sphere> s;
  const double *b = FORK_LOWER_POS;
  const double top[3] = {0, 2.25, 1.88};  // top of the sliders
  for (int k = 0; k < 4; k++) {
    double t = k / 3.0;
    double y = top[1] + (FRONT_AXLE[1] - top[1]) * t;
    double z = top[2] + (FRONT_AXLE[2] - top[2]) * t;
    add_pair(&s, b, FORK_LEG_SPACING / 2, y, z, k == 3 ? 0.16 : 0.13, BIKE_PART);
  }
  return s;
}

// Swingarm: two arms from the pivot to the axle, outside the tyre, and the chain guide.
static std::vector<Sphere> swingarm_shape() {
  std::vector<Sphere> s;
  const double *b = SWINGARM_POS;
  for (int k = 0; k < 4; k++) {
    double t = (k + 0.5) / 4.0;
    double y = SWINGARM_PIVOT[1] + (REAR_AXLE[1] - SWINGARM_PIVOT[1]) * t;
    double z = SWINGARM_PIVOT[2] + (REAR_AXLE[2] - SWINGARM_PIVOT[2]) * t;
    add_pair(&s, b, 0.42, y, z, 0.13, BIKE_PART);
  }
  add_pair(&s, b, 0.42, REAR_AXLE[1], REAR_AXLE[2], 0.12, BIKE_PART);  // axle blocks
  add_built(&s, b, 0, 1.50, 4.45, 0.18, BIKE_PART);  // cross member behind the pivot
  return s;
}

// A wheel as the other side sees it: 16 spheres of the tyre section on the torus circle
// (axle along x) and the hub filling the middle.
static std::vector<Sphere> wheel_shape(double torus_radius, double tube_radius) {
  // cos and sin of k x 22.5 degrees, written out so every machine gets the same digits.
  static const double C[16] = {1, 0.9238795, 0.7071068, 0.3826834, 0, -0.3826834, -0.7071068,
                               -0.9238795, -1, -0.9238795, -0.7071068, -0.3826834, 0, 0.3826834,
                               0.7071068, 0.9238795};
  std::vector<Sphere> s;
  for (int k = 0; k < 16; k++)
    s.push_back({0, torus_radius * C[k], torus_radius * C[(k + 4) % 16], tube_radius, TYRE});
  s.push_back({0, 0, 0, torus_radius - tube_radius, TYRE});
  return s;
}

// Rider in the riding position: helmet, shoulders, chest, back, hips, arms out to the
// grips and legs down to the pegs (rider body coordinates).
static std::vector<Sphere> rider_shape() {
  std::vector<Sphere> s;
  auto add = [&](double x, double y, double z, double r) { s.push_back({x, y, z, r, RIDER}); };
  auto pair = [&](double x, double y, double z, double r) {
    add(-x, y, z, r);
    add(x, y, z, r);
  };
  add(0, 0.78, -0.80, 0.45);          // helmet around the eye point
  pair(0.556, 0.58, -0.655, 0.28);    // shoulders
  add(0, 0.30, -0.40, 0.45);          // chest
  add(0, -0.10, 0.10, 0.45);          // belly and back
  add(0, -0.45, 0.55, 0.40);          // seat of the pants
  pair(0.269, -0.571, 0.671, 0.30);   // hips
  // Arms: shoulder to elbow (out and down), elbow to the grip (fork upper grip carried
  // into rider coordinates: (1.097, -0.455, -1.207)).
  pair(0.85, 0.25, -0.75, 0.20);      // upper arm
  pair(1.05, 0.00, -0.95, 0.18);      // elbow
  pair(1.08, -0.25, -1.10, 0.16);     // forearm
  // Legs: hip to knee (forward), knee to the peg ((0.6, -3.077, 0.064) here).
  pair(0.42, -1.05, -0.05, 0.28);     // thigh
  pair(0.55, -1.50, -0.35, 0.22);     // knee
  pair(0.58, -2.25, -0.15, 0.20);     // shin
  pair(0.60, -2.85, 0.00, 0.20);      // boot on the peg
  return s;
}

// Starting gate piece in its object coordinates: the hinge runs along x at the origin on
// the ground; the plate lies forward (-z) on the ground when dropped and stands up on its
// hinge when raised. 3.3 ft wide (pieces stand 3.5 ft apart), 1.8 ft long.
static std::vector<Sphere> startgate_shape() {
  std::vector<Sphere> s;
  static const double xs[4] = {-1.2, -0.4, 0.4, 1.2};
  static const double zs[3] = {-0.3, -0.95, -1.6};
  for (double z : zs)
    for (double x : xs) s.push_back({x, 0.05, z, 0.25, STEEL});
  return s;
}

// A rectangular straw bale, 4 x 2 x 2 ft, its length along the object's x axis.
static std::vector<Sphere> haybale_shape() {
  std::vector<Sphere> s;
  for (int k = -1; k <= 1; k++) s.push_back({k * 1.0, 1.0, 0, 1.0, HAY});
  return s;
}

// A tuff block, 3 x 1.5 x 1.5 ft, along the object's x axis.
static std::vector<Sphere> tuffblock_shape() {
  std::vector<Sphere> s;
  for (int k = -1; k <= 1; k++) s.push_back({k * 0.75, 0.75, 0, 0.75, TUFF});
  return s;
}

int gen_shapes() {
  struct Entry {
    const char *file;
    std::vector<Sphere> spheres;
  };
  // The seven fixed shapes first, in the order the start-up digests them.
  Entry entries[] = {
      {"generic_frame.shp", frame_shape()},
      {"generic_fork_upper.shp", fork_upper_shape()},
      {"generic_fork_lower.shp", fork_lower_shape()},
      {"generic_swingarm.shp", swingarm_shape()},
      {"front_wheel.shp", wheel_shape(0.8333333, 0.3333333)},
      {"rear_wheel.shp", wheel_shape(0.75, 0.3333333)},
      {"generic_rider.shp", rider_shape()},
      {"startgate.shp", startgate_shape()},
      {"haybale.shp", haybale_shape()},
      {"tuffblock.shp", tuffblock_shape()},
  };
  for (const Entry &e : entries)
    if (!out_write_text(e.file, shape_text(e.spheres))) return 0;
  return 1;
}

// ---- meshes: legacy .jm form ("V F", V x (position, normal, u v), F x 3 indices) ----
struct Mesh {
  std::vector<double> v;  // 8 per vertex
  std::vector<int> f;     // 3 per triangle
};

// An axis-aligned box from (x0, y0, z0) to (x1, y1, z1); each face maps the texture
// rectangle (u0, v0)-(u1, v1).
static void mesh_box(Mesh *m, double x0, double y0, double z0, double x1, double y1, double z1,
                     double u0, double v0, double u1, double v1) {
  struct Face {
    double n[3];
    double c[4][3];
  };
  const Face faces[6] = {
      {{0, 0, 1}, {{x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}}},
      {{0, 0, -1}, {{x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}}},
      {{1, 0, 0}, {{x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}}},
      {{-1, 0, 0}, {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}}},
      {{0, 1, 0}, {{x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, {x0, y1, z0}}},
      {{0, -1, 0}, {{x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}}},
  };
  const double uv[4][2] = {{u0, v1}, {u1, v1}, {u1, v0}, {u0, v0}};
  for (const Face &f : faces) {
    int base = (int)(m->v.size() / 8);
    for (int k = 0; k < 4; k++) {
      const double *c = f.c[k];
      double vals[8] = {c[0], c[1], c[2], f.n[0], f.n[1], f.n[2], uv[k][0], uv[k][1]};
      m->v.insert(m->v.end(), vals, vals + 8);
    }
    int tri[6] = {base, base + 1, base + 2, base, base + 2, base + 3};
    m->f.insert(m->f.end(), tri, tri + 6);
  }
}

static std::string mesh_text(const Mesh &m) {
  std::string t = strf("%d %d\n", (int)(m.v.size() / 8), (int)(m.f.size() / 3));
  for (size_t i = 0; i < m.v.size(); i += 8)
    t += strf("%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", m.v[i] + 0.0, m.v[i + 1] + 0.0,
              m.v[i + 2] + 0.0, m.v[i + 3] + 0.0, m.v[i + 4] + 0.0, m.v[i + 5] + 0.0, m.v[i + 6],
              m.v[i + 7]);
  for (size_t i = 0; i < m.f.size(); i += 3)
    t += strf("%d %d %d\n", m.f[i], m.f[i + 1], m.f[i + 2]);
  return t;
}

int gen_models() {
  Mesh bale, block, gate;
  mesh_box(&bale, -2, 0, -1, 2, 2, 1, 0, 0, 1, 1);
  mesh_box(&block, -1.5, 0, -0.75, 1.5, 1.5, 0.75, 0, 0, 1, 1);
  // The gate plate (top half of its texture) and the hinge bar (bottom strip).
  mesh_box(&gate, -1.65, 0, -1.8, 1.65, 0.08, 0, 0, 0, 1, 0.75);
  mesh_box(&gate, -1.75, 0, -0.1, 1.75, 0.2, 0.1, 0, 0.75, 1, 1);
  return out_write_text("haybale.jm", mesh_text(bale)) &&
         out_write_text("tuffblock.jm", mesh_text(block)) &&
         out_write_text("startgate.jm", mesh_text(gate));
}
