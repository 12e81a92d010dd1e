// Collisions: part shapes against the ground, the track's statues and other bikes, as
// sphere sets; wheels keep their torus form. Contacts become one-tick soft contact joints,
// a racer's second and later bike contacts in a tick penalty forces.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "bike/bike_local.h"
#include "render/model.h"
#include "robot/robot.h"
#include "terrain/terrain.h"
#include "track/track.h"

namespace {

struct Sphere {
  Vec3 c;  // ft, world
  float radius, mu, kp, kd;
};

Sphere element(const ShapeSphere &e) {
  return Sphere{Vec3{e.x, e.y, e.z}, e.radius, e.extra[0], e.extra[1], e.extra[2]};
}

Vec3 rotate(const float r[9], Vec3 v) {
  return Vec3{r[0] * v.x + r[1] * v.y + r[2] * v.z, r[3] * v.x + r[4] * v.y + r[5] * v.z,
              r[6] * v.x + r[7] * v.y + r[8] * v.z};
}

// Carries the shape's element centres to world coordinates in its own copy.
void place_shape(Shape *s, Vec3 p, const float r[9]) {
  for (int i = 0; i < s->count; i++) {
    const ShapeSphere &e = s->source->spheres[i];
    Vec3 w = rotate(r, Vec3{e.x, e.y, e.z}) + p;
    s->spheres[i] = e;
    s->spheres[i].x = w.x, s->spheres[i].y = w.y, s->spheres[i].z = w.z;
  }
}

Vec3 point_velocity(dBodyID body, Vec3 p) {
  if (!body) return Vec3{0, 0, 0};
  dVector3 v;
  dBodyGetPointVel(body, p.x, p.y, p.z, v);
  return v3(v);
}

void add_force_at(dBodyID body, Vec3 f, Vec3 p) {
  if (body && dBodyIsEnabled(body)) dBodyAddForceAtPos(body, f.x, f.y, f.z, p.x, p.y, p.z);
}

int sphere_contact(const Sphere &a, dBodyID body_a, const Sphere &b, dBodyID body_b, int mode,
                   ContactGeometry *record) {
  Vec3 d = b.c - a.c;
  float reach = a.radius + b.radius;
  if (reach * reach <= v3_len2(d)) return 0;
  if (!body_a && !body_b) return 1;
  float dist = vec3_length(d);
  float depth = reach - dist;
  Vec3 n = dist > 0 ? d * (1 / dist) : Vec3{0, 1, 0};  // coincident centres: any normal
  Vec3 p = a.c + n * (a.radius - depth / 2);
  if (record) {
    record->point = p;
    record->velocity = point_velocity(body_a, p);
    record->normal = n;
    record->depth = depth;
    memset(&record->feedback, 0, sizeof record->feedback);
  }
  if (mode == COLLIDE_DETECT) return 1;
  float mu = fminf(a.mu, b.mu), kp = fminf(a.kp, b.kp), kd = fminf(a.kd, b.kd);
  if (mode == COLLIDE_JOINT) {
    SoftContact c;
    memset(&c, 0, sizeof c);
    c.point = p, c.normal = n, c.depth = depth;
    c.mu = mu, c.kp = kp, c.kd = kd, c.approx1 = 1;
    soft_contact(&c, body_b, body_a);
  } else {
    Vec3 va = point_velocity(body_a, p), vb = point_velocity(body_b, p);
    float x = clampf(depth * kp + (vec3_dot(va, n) - vec3_dot(vb, n)) * kd, -1000, 1000);
    add_force_at(body_b, n * x, p);
    add_force_at(body_a, n * -x, p);
  }
  return 1;
}

void body_orientation(dBodyID body, float out[9]) {
  const dReal *r = dBodyGetRotation(body);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) out[i * 3 + j] = (float)r[i * 4 + j];
}

const float IDENTITY[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

}  // namespace

// ---- spheres against the ground ----

float sphere_triangle(const Vec3 t[3], Vec3 c, float radius, Vec3 *point, Vec3 *normal) {
  Vec3 n = vec3_cross(t[1] - t[0], t[2] - t[0]);
  int outside = 0;
  for (int k = 0; k < 3; k++) {
    Vec3 out = vec3_cross(t[(k + 1) % 3] - t[k], n);
    if (vec3_dot(c - t[k], out) > 0) outside = 1;
  }
  if (outside) {
    for (int k = 0; k < 3; k++) {
      Vec3 e = t[(k + 1) % 3] - t[k];
      float ee = v3_len2(e);
      if (ee <= 0) continue;
      float s = vec3_dot(c - t[k], e) / ee;
      if (s < 0 || s > 1) continue;
      Vec3 d = c - (t[k] + e * s);
      float len = vec3_length(d);
      *normal = len > 0 ? d * (1 / len) : vec3_normalize(n);
      *point = c - *normal * radius;
      return radius - len;
    }
    int best = 0;
    for (int k = 1; k < 3; k++)
      if (v3_len2(c - t[k]) < v3_len2(c - t[best])) best = k;
    Vec3 d = c - t[best];
    float len = vec3_length(d);
    *normal = len > 0 ? d * (1 / len) : vec3_normalize(n);
    *point = c - *normal * radius;
    return radius - len;
  }
  Vec3 nh = vec3_normalize(n);
  float sigma = vec3_dot(c - t[0], nh);
  if (sigma < -radius) {
    // Wholly below the plane: a contact only inside the triangle's vertical prism, pushed
    // out along the triangle's normal.
    for (int k = 0; k < 3; k++) {
      Vec3 vk = vec3_cross(t[(k + 1) % 3] - t[k], Vec3{0, 1, 0});
      if (vec3_dot(c - t[k], vk) > 0) return 0;
    }
  }
  *normal = nh;
  *point = c - nh * radius;
  return radius - sigma;
}

int sphere_vs_terrain(const Terrain *t, Vec3 c, float radius, Vec3 *point, Vec3 *normal,
                      float *depth) {
  float s = t->spacing;
  int i0 = (int)floorf((c.x - radius) / s), i1 = (int)ceilf((c.x + radius) / s);
  int j0 = (int)floorf((c.z - radius) / s), j1 = (int)ceilf((c.z + radius) / s);
  float best = 0;
  Vec3 bp{}, bn{};
  Vec3 tris[2][3];
  for (int j = j0; j < j1; j++)
    for (int i = i0; i < i1; i++) {
      terrain_cell_triangles(t, i, j, tris);
      for (int k = 0; k < 2; k++) {
        Vec3 p, n;
        float d = sphere_triangle(tris[k], c, radius, &p, &n);
        if (d > best) best = d, bp = p, bn = n;
      }
    }
  if (best <= 0) return 0;
  *point = bp;
  *normal = clean_ground_normal(bn);
  *depth = best;
  return 1;
}

// Highest height sample in the cells a sphere at c of radius rho can reach (the triangles
// never rise above their corners).
static float highest_ground(const Terrain *t, Vec3 c, float rho) {
  float s = t->spacing;
  int n = t->samples;
  int i0 = (int)floorf((c.x - rho) / s), i1 = (int)ceilf((c.x + rho) / s);
  int j0 = (int)floorf((c.z - rho) / s), j1 = (int)ceilf((c.z + rho) / s);
  float top = -INFINITY;
  for (int j = j0; j <= j1; j++) {
    int cj = j < 0 ? 0 : (j > n - 1 ? n - 1 : j);
    for (int i = i0; i <= i1; i++) {
      int ci = i < 0 ? 0 : (i > n - 1 ? n - 1 : i);
      float h = t->heights[cj * n + ci];
      if (h > top) top = h;
    }
  }
  return top;
}

int shape_vs_terrain(Shape *shape, dBodyID body, Vec3 position, const float r[9],
                     const Terrain *terrain) {
  // A part whose bounding sphere clears every ground sample under it cannot touch.
  float rho = shape->bounding_radius;
  float top = highest_ground(terrain, position, rho);
  if (position.y - rho > top) return 0;
  place_shape(shape, position, r);
  int touched = 0;
  for (int i = 0; i < shape->count; i++) {
    const ShapeSphere &e = shape->spheres[i];
    Vec3 centre = {e.x, e.y, e.z}, p, n;
    float depth;
    // Clear of the highest ground under the whole shape, or else under the element itself.
    if (centre.y - e.radius > top) continue;
    if (centre.y - e.radius > highest_ground(terrain, centre, e.radius)) continue;
    if (!sphere_vs_terrain(terrain, centre, e.radius, &p, &n, &depth)) continue;
    touched = 1;
    if (!body) continue;
    // The ground's own spring, whatever the element's stiffness against other spheres.
    SoftContact c;
    memset(&c, 0, sizeof c);
    c.point = p, c.normal = n, c.depth = depth;
    c.mu = e.extra[0], c.kp = 2500, c.kd = 250, c.approx1 = 1;
    soft_contact(&c, body, 0);
  }
  return touched;
}

// ---- shapes against shapes and wheels ----

int shape_vs_shape(Shape *a, dBodyID body_a, Vec3 pa, const float ra[9], Shape *b,
                   dBodyID body_b, Vec3 pb, const float rb[9], int mode) {
  float reach = a->bounding_radius + b->bounding_radius;
  if (v3_len2(pb - pa) >= reach * reach) return 0;
  place_shape(a, pa, ra);
  place_shape(b, pb, rb);
  int touched = 0;
  for (int i = 0; i < a->count; i++) {
    // An element clear of B's bounding sphere can touch none of B's elements.
    Sphere ea = element(a->spheres[i]);
    float near = ea.radius + b->bounding_radius + 1e-3f;  // a hair over, for rounding
    if (v3_len2(ea.c - pb) >= near * near) continue;
    for (int j = 0; j < b->count; j++)
      touched |= sphere_contact(ea, body_a, element(b->spheres[j]), body_b, mode, nullptr);
  }
  return touched;
}

int wheel_vs_shape(Shape *s, dBodyID body, Vec3 position, const float r[9], WheelContact *w,
                   int mode) {
  Vec3 c = body_position(w->body);
  float big_r = w->torus_radius, tube = w->tube_radius;
  float reach = big_r + tube + s->bounding_radius;
  if (v3_len2(c - position) >= reach * reach) return 0;
  Vec3 a = body_point(w->body, w->axle.x, w->axle.y, w->axle.z) - c;
  place_shape(s, position, r);
  static const Vec3 trials[7] = {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 0, 1},
                                 {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
  int touched = 0;
  ContactGeometry best;
  memset(&best, 0, sizeof best);
  for (int i = 0; i < s->count; i++) {
    Sphere e = element(s->spheres[i]);
    Vec3 u = e.c - c;
    u = u - a * vec3_dot(u, a);
    if (v3_len2(u) < big_r * 1e-6f) {  // on the axle line: any radius will do
      for (const Vec3 &trial : trials) {
        Vec3 v = trial * big_r;
        v = v - a * vec3_dot(v, a);
        if (v3_len2(v) >= big_r * 1e-6f) {
          u = v;
          break;
        }
      }
    }
    Vec3 q = c + u * (big_r / vec3_length(u));
    Sphere tyre{q, tube, 1, 25000, 2500};
    ContactGeometry rec;
    if (!sphere_contact(tyre, w->body, e, body, mode, &rec)) continue;
    touched = 1;
    if (rec.depth > best.depth) best = rec;
  }
  if (best.depth > 0 && w->depth == 0) {
    w->point = best.point;
    w->point_velocity = point_velocity(w->body, best.point);
    w->normal = best.normal;
    w->depth = best.depth;
    memset(&w->feedback, 0, sizeof w->feedback);
  }
  return touched;
}

int parts_vs_shape(Bike *b, Shape *x, dBodyID body, Vec3 position, const float r[9], int mode,
                   int front_detect) {
  int front_mode = front_detect ? COLLIDE_DETECT : mode;
  int bits = 0;
  if (wheel_vs_shape(x, body, position, r, &b->front, front_mode)) bits |= PART_FRONT_WHEEL;
  if (wheel_vs_shape(x, body, position, r, &b->rear, mode)) bits |= PART_REAR_WHEEL;
  static const struct {
    int body, bit, front_end;
  } parts[] = {{FRAME_BODY, PART_FRAME, 0},
               {FORK_UPPER_BODY, PART_FORK_UPPER, 1},
               {FORK_LOWER_BODY, PART_FORK_LOWER, 1},
               {SWINGARM_BODY, PART_SWINGARM, 0},
               {RIDER_BODY, PART_RIDER, 0}};
  for (const auto &part : parts) {
    Shape *own = b->shapes[part.body];
    if (!own) continue;
    dBodyID ob = b->bodies[part.body];
    float orient[9];
    body_orientation(ob, orient);
    if (shape_vs_shape(own, ob, body_position(ob), orient, x, body, position, r,
                       part.front_end ? front_mode : mode))
      bits |= part.bit;
  }
  return bits;
}

// ---- the passes ----

int terrain_contact_pass(Bike *b, const Terrain *terrain) {
  float grip = 1;
  if (b->setup_flags2 & SETUP2_ARCADE) grip = arcade_grip(roll_angle(b->bodies[FRAME_BODY]));
  int any = wheel_ground_contact(terrain, &b->front, grip);
  any |= wheel_ground_contact(terrain, &b->rear, grip);
  static const int order[5] = {FRAME_BODY, FORK_UPPER_BODY, FORK_LOWER_BODY, SWINGARM_BODY,
                               RIDER_BODY};
  int touched[BIKE_BODY_COUNT] = {0};
  for (int k = 0; k < 5; k++) {
    int i = order[k];
    if (!b->shapes[i]) continue;
    float orient[9];
    body_orientation(b->bodies[i], orient);
    touched[i] = shape_vs_terrain(b->shapes[i], b->bodies[i], body_position(b->bodies[i]),
                                  orient, terrain);
    any |= touched[i];
  }
  dBodyID rider = b->bodies[RIDER_BODY];
  if (touched[RIDER_BODY] && body_vector(rider, 0, 1, 0).y < 0 &&
      v3_len2(body_velocity(rider)) > 25 && b->crash_timer == 0 && b->knock >= 0)
    start_crash(b);
  if (touched[FORK_UPPER_BODY] || touched[FORK_LOWER_BODY] || touched[SWINGARM_BODY] ||
      touched[RIDER_BODY])
    b->lap_spoiled = 1;
  return any;
}

// Statue bin of a coordinate.
static int statue_bin_of(float v, float extent) {
  int k = (int)floorf(8 * (v / extent - 0.125f) * 4 / 3);
  return k < 0 ? 0 : (k > 7 ? 7 : k);
}

// A sphere about the frame that holds every part a bike contact can test: each part's
// shape and, for the wheels, the tyre torus. Taken as the furthest part plus the largest
// part, a little more than the tightest sphere for one square root.
static float bike_reach(const Bike *b, Vec3 centre) {
  float far2 = 0, part = 0;
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    float size = b->shapes[i] ? b->shapes[i]->bounding_radius : 0;
    const WheelContact *w =
        i == FRONT_WHEEL_BODY ? &b->front : (i == REAR_WHEEL_BODY ? &b->rear : nullptr);
    if (w && w->torus_radius + w->tube_radius > size) size = w->torus_radius + w->tube_radius;
    if (size <= 0) continue;
    if (size > part) part = size;
    float d2 = v3_len2(body_position(b->bodies[i]) - centre);
    if (d2 > far2) far2 = d2;
  }
  return std::sqrt(far2) + part;
}

int object_contact_pass(Bike *b, const Terrain *terrain, int tick) {
  int any = terrain_contact_pass(b, terrain);
  Vec3 p = body_position(b->bodies[FRAME_BODY]);
  float extent = terrain->extent;
  int c0 = statue_bin_of(p.x - 6, extent), c1 = statue_bin_of(p.x + 6, extent);
  int r0 = statue_bin_of(p.z - 6, extent), r1 = statue_bin_of(p.z + 6, extent);
  // The union of the bins' ascending lists, each statue once; the storage is kept from
  // tick to tick (the simulation thread only).
  static std::vector<int> list;
  list.clear();
  for (int r = r0; r <= r1; r++)
    for (int c = c0; c <= c1; c++) {
      int count = 0;
      const int *bin = statue_bin(c, r, &count);
      for (int k = 0; k < count; k++) list.push_back(bin[k]);
    }
  if (c0 != c1 || r0 != r1) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
  float reach = bike_reach(b, p);
  for (int index : list) {
    Statue *s = statue_at(index);
    if (!s || !s->shape) continue;
    // The bins are wide: most of their statues are out of the bike's reach.
    Vec3 d = Vec3{s->x, s->y, s->z} - p;
    float near = reach + s->shape->bounding_radius + 1e-3f;  // a hair over, for rounding
    if (v3_len2(d) >= near * near) continue;
    const float *orient = s->special != 0 ? IDENTITY : s->orientation;
    int bits = parts_vs_shape(b, s->shape, nullptr, Vec3{s->x, s->y, s->z}, orient,
                              COLLIDE_JOINT, 0);
    if ((bits & PART_RIDER) && b->crash_timer == 0 &&
        v3_len2(body_velocity(b->bodies[RIDER_BODY])) > 400 && b->knock >= 0)
      start_crash(b);
    if (bits) {
      s->touch_tick = tick;
      any = 1;
    }
  }
  return any;
}

float bike_contact_reach(const Bike *b) {
  return bike_reach(b, body_position(b->bodies[FRAME_BODY]));
}

int bike_contact_pass(Bike *a, Bike *b, int remote, int tick) {
  // Two bikes whose reach spheres are apart cannot touch anywhere: the common case.
  Vec3 ca = body_position(a->bodies[FRAME_BODY]), cb = body_position(b->bodies[FRAME_BODY]);
  float apart = bike_reach(a, ca) + bike_reach(b, cb) + 1e-3f;  // a hair over, for rounding
  if (v3_len2(cb - ca) >= apart * apart) return 0;
  int mode = (a->last_bike_contact_tick == tick || b->last_bike_contact_tick == tick)
                 ? COLLIDE_PENALTY
                 : COLLIDE_JOINT;
  static const struct {
    int body, bit, remote_detect;
  } parts[] = {{FRONT_WHEEL_BODY, PART_FRONT_WHEEL, 0}, {REAR_WHEEL_BODY, PART_REAR_WHEEL, 1},
               {FRAME_BODY, PART_FRAME, 1},             {FORK_UPPER_BODY, PART_FORK_UPPER, 0},
               {FORK_LOWER_BODY, PART_FORK_LOWER, 0},   {SWINGARM_BODY, PART_SWINGARM, 1},
               {RIDER_BODY, PART_RIDER, 1}};
  int bits_a = 0, bits_b = 0;
  for (const auto &part : parts) {
    Shape *shape = a->shapes[part.body];
    if (!shape) continue;
    dBodyID body = a->bodies[part.body];
    float orient[9];
    body_orientation(body, orient);
    int r = parts_vs_shape(b, shape, body, body_position(body), orient, mode,
                           remote && part.remote_detect);
    bits_b |= r;
    if (r) bits_a |= part.bit;
  }
  if (!bits_b) return 0;

  const int front_end = PART_FRONT_WHEEL | PART_FORK_LOWER;
  float va = body_speed(a->bodies[FRAME_BODY]), vb = body_speed(b->bodies[FRAME_BODY]);
  if ((bits_a & front_end) && (bits_b & front_end)) {
    // Head-on: both riders asked for it.
    if (va >= 10) a->knock = fmaxf(a->knock, 192);
    if (vb >= 10) b->knock = fmaxf(b->knock, 192);
  } else if ((bits_a & front_end) && b->crash_timer == 0 && vb >= 5) {
    if (va >= 10) a->knock = fmaxf(a->knock, 256);
    if (b->knock < 0) b->knock = fminf(b->knock, -640);
  } else if ((bits_b & front_end) && a->crash_timer == 0 && va >= 5) {
    if (vb >= 10) b->knock = fmaxf(b->knock, 256);
    if (a->knock < 0) a->knock = fminf(a->knock, -640);
  }
  for (Bike *r : {a, b}) {
    r->last_bike_contact_tick = tick;
    clear_riding_lines(r->slot);  // pushed off whatever line it was riding
    if (r->interpolation_marker == -1) r->interpolation_marker = tick;
  }
  return bits_b;
}
