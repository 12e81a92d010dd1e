// Wheel-ground contact: the tyre torus against the terrain triangles, the soft contact
// joint with surface friction, and rolling resistance.
#include <cmath>
#include <cstring>

#include "bike/bike_local.h"
#include "terrain/terrain.h"

static Vec3 unit(Vec3 a) { return vec3_normalize(a); }

// The point of the tyre's centre circle nearest to x, or `fallback` when x lies on the axle.
static Vec3 circle_point(Vec3 c, Vec3 a, float radius, Vec3 x, Vec3 fallback) {
  Vec3 u = x - c;
  u = u - a * vec3_dot(u, a);
  float len = vec3_length(u);
  if (len < 1e-6f) return fallback;
  return c + u * (radius / len);
}

// Inside the triangle's three edge planes (each holding an edge and the normal n).
static int inside_edges(const Vec3 t[3], Vec3 n, Vec3 x) {
  for (int k = 0; k < 3; k++) {
    Vec3 edge_out = vec3_cross(t[(k + 1) % 3] - t[k], n);
    if (vec3_dot(x - t[k], edge_out) > 0) return 0;
  }
  return 1;
}

// Squared distance from x to the centre circle (centre c, unit axle a, radius R).
// Inlined: the edge search calls it a few dozen times per triangle.
static inline __attribute__((always_inline)) float circle_dist2(Vec3 c, Vec3 a, float radius,
                                                                Vec3 x) {
  Vec3 d = x - c;
  float h = vec3_dot(d, a);
  float q = v3_len2(d) - h * h;
  float rho = sqrtf(q > 0 ? q : 0);
  return h * h + (rho - radius) * (rho - radius);
}

// Closest approach of the centre circle to the triangle's edges and corners. Returns the
// distance and the two closest points. Each edge is sampled and the best bracket refined by
// golden-section search; edges that cannot come within `reach` are skipped.
static float circle_edges(Vec3 c, Vec3 a, float radius, const Vec3 t[3], float reach,
                          Vec3 *on_triangle) {
  float best = INFINITY;
  for (int k = 0; k < 3; k++) {
    Vec3 p0 = t[k], e = t[(k + 1) % 3] - p0;
    // Quick rejections: both ends on one side of the wheel plane beyond reach, or the whole
    // edge further than reach from every radius of the circle.
    float h0 = vec3_dot(p0 - c, a), h1 = vec3_dot(p0 + e - c, a);
    if ((h0 > reach && h1 > reach) || (h0 < -reach && h1 < -reach)) continue;
    float ee = v3_len2(e);
    float tc = ee > 0 ? clampf(vec3_dot(c - p0, e) / ee, 0, 1) : 0;
    float dmin = vec3_length(p0 + e * tc - c);
    float dmax = fmaxf(vec3_length(p0 - c), vec3_length(p0 + e - c));
    float bound = radius < dmin ? dmin - radius : (radius > dmax ? radius - dmax : 0);
    if (bound >= reach || bound * bound >= best) continue;

    constexpr int SAMPLES = 8;
    int best_i = 0;
    float best_f = INFINITY;
    for (int i = 0; i <= SAMPLES; i++) {
      float f = circle_dist2(c, a, radius, p0 + e * ((float)i / SAMPLES));
      if (f < best_f) best_f = f, best_i = i;
    }
    float lo = fmaxf(0, (best_i - 1) / (float)SAMPLES);
    float hi = fminf(1, (best_i + 1) / (float)SAMPLES);
    const float g = 0.618034f;
    float x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    float f1 = circle_dist2(c, a, radius, p0 + e * x1);
    float f2 = circle_dist2(c, a, radius, p0 + e * x2);
    for (int it = 0; it < 16; it++) {
      if (f1 < f2) {
        hi = x2, x2 = x1, f2 = f1;
        x1 = hi - g * (hi - lo);
        f1 = circle_dist2(c, a, radius, p0 + e * x1);
      } else {
        lo = x1, x1 = x2, f1 = f2;
        x2 = lo + g * (hi - lo);
        f2 = circle_dist2(c, a, radius, p0 + e * x2);
      }
    }
    float tb = f1 < f2 ? x1 : x2, fb = fminf(f1, f2);
    if (best_f < fb) tb = (float)best_i / SAMPLES, fb = best_f;
    if (fb < best) {
      best = fb;
      *on_triangle = p0 + e * tb;
    }
  }
  return sqrtf(best);
}

// The tyre against one triangle, giving up early (returning 0) once the triangle provably
// cannot give a depth above `beat` (>= 0): the cell walk only needs the deepest triangle.
static float torus_triangle_beat(Vec3 c, Vec3 a, float big_r, float r, const Vec3 t[3],
                                 Vec3 *point, Vec3 *normal, float beat) {
  Vec3 n = vec3_cross(t[1] - t[0], t[2] - t[0]);
  float n_len = vec3_length(n);
  if (n_len <= 0) return 0;
  Vec3 nh = n * (1 / n_len);

  // d: in the wheel plane, pointing against the normal as much as possible.
  Vec3 w = v3_neg(nh);
  w = w - a * vec3_dot(w, a);
  Vec3 d;
  if (v3_len2(w) > 1e-12f) {
    d = unit(w);
  } else {  // wheel lying flat on the plane: every radius is as deep
    Vec3 other = fabsf(a.x) < 0.9f ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    d = unit(vec3_cross(a, other));
  }
  Vec3 p = c + d * big_r;  // near point of the centre circle
  Vec3 q = c - d * big_r;  // far point
  float sp = vec3_dot(p - t[0], nh), sq = vec3_dot(q - t[0], nh);

  float reach = r - beat;  // a contact deeper than `beat` comes closer than this
  if (sp > 0) {
    // Every point of the circle lies at least sp above the plane.
    if (sp >= reach) return 0;
    // 1. Near point above the plane: a face contact when it lies over the triangle.
    if (inside_edges(t, n, p)) {
      float depth = r - sp;
      if (depth <= 0) return 0;
      *normal = nh;
      *point = p - nh * r;
      return depth;
    }
  } else if (sq > 0) {
    // 2. The circle cuts the plane.
    Vec3 x = p + (q - p) * (sp / (sp - sq));
    if (inside_edges(t, n, x)) {
      *normal = nh;
      *point = p - nh * r;
      return r - sp;
    }
    for (int k = 0; k < 3; k++) {
      Vec3 p0 = t[k], p1 = t[(k + 1) % 3];
      float h0 = vec3_dot(p0 - c, a), h1 = vec3_dot(p1 - c, a);
      if ((h0 > 0) == (h1 > 0) || h0 == h1) continue;
      Vec3 e = p1 - p0;
      if (vec3_dot(x - p0, vec3_cross(e, n)) <= 0) continue;  // x not outside this edge
      Vec3 cross = p0 + e * (h0 / (h0 - h1));
      if (v3_len2(cross - c) > big_r * big_r) continue;
      // Across the edge and the axle; an edge along the axle leaves that open, so the
      // normal then points from the crossing toward the wheel centre.
      Vec3 m = vec3_cross(e, a);
      if (v3_len2(m) < 1e-4f * v3_len2(e)) {
        Vec3 e_hat = unit(e);
        m = c - cross;
        m = m - e_hat * vec3_dot(m, e_hat);
        if (v3_len2(m) < 1e-12f) m = nh;
      }
      m = unit(m);
      if (vec3_dot(m, n) < 0) m = v3_neg(m);
      *normal = m;
      *point = circle_point(c, a, big_r, cross, p) - m * r;
      return r - 1.0f / 1048576;  // fixed: a deep wheel is not pulled through
    }
  } else {
    // 3. The whole circle below the plane: push straight up when over the triangle.
    float up = n.y > 0 ? 1.0f : (n.y < 0 ? -1.0f : 0.0f);
    if (up != 0) {
      int over = 1;
      for (int k = 0; k < 3 && over; k++) {
        Vec3 e = t[(k + 1) % 3] - t[k];
        Vec3 out = vec3_cross(e, Vec3{0, up, 0});
        if (vec3_dot(c - t[k], out) > 0) over = 0;
      }
      if (over) {
        *normal = Vec3{0, 1, 0};
        *point = p;
        return 2 * r;
      }
    }
  }

  // 4. Closest approach of the centre circle to the edges and corners.
  Vec3 on_tri = t[0];
  float dist = circle_edges(c, a, big_r, t, reach, &on_tri);
  if (!(dist < reach)) return 0;
  Vec3 on_circle = circle_point(c, a, big_r, on_tri, p);
  Vec3 m = on_circle - on_tri;
  float len = vec3_length(m);
  m = len > 1e-9f ? m * (1 / len) : nh;
  *normal = m;
  *point = on_circle - m * r;
  return r - dist;
}

float torus_triangle(Vec3 c, Vec3 a, float big_r, float r, const Vec3 t[3], Vec3 *point,
                     Vec3 *normal) {
  return torus_triangle_beat(c, a, big_r, r, t, point, normal, 0);
}

// ---- the cell walk ----

static Vec3 grid_vertex(const Terrain *t, int i, int j) {
  int n = t->samples;
  int ci = i < 0 ? 0 : (i > n - 1 ? n - 1 : i);
  int cj = j < 0 ? 0 : (j > n - 1 ? n - 1 : j);
  return Vec3{i * t->spacing, t->heights[cj * n + ci], j * t->spacing};
}

struct GroundHit {
  float depth;
  Vec3 point, normal;
};

// The two triangles of cell (i, j), upward facing, split as the height sampling splits it.
void terrain_cell_triangles(const Terrain *t, int i, int j, Vec3 tris[2][3]) {
  Vec3 v00 = grid_vertex(t, i, j), v10 = grid_vertex(t, i + 1, j);
  Vec3 v01 = grid_vertex(t, i, j + 1), v11 = grid_vertex(t, i + 1, j + 1);
  if (((i + j) & 1) == 0) {
    tris[0][0] = v00, tris[0][1] = v01, tris[0][2] = v11;
    tris[1][0] = v11, tris[1][1] = v10, tris[1][2] = v00;
  } else {
    tris[0][0] = v00, tris[0][1] = v01, tris[0][2] = v10;
    tris[1][0] = v11, tris[1][1] = v10, tris[1][2] = v01;
  }
}

static int ground_search(const Terrain *t, const WheelContact *w, GroundHit *hit) {
  dBodyID body = w->body;
  Vec3 c = body_position(body);
  Vec3 a = body_point(body, w->axle.x, w->axle.y, w->axle.z) - c;
  float big_r = w->torus_radius, r = w->tube_radius;
  float reach = big_r + r;
  float s = t->spacing;
  int i0 = (int)floorf((c.x - reach) / s), i1 = (int)ceilf((c.x + reach) / s);
  int j0 = (int)floorf((c.z - reach) / s), j1 = (int)ceilf((c.z + reach) / s);
  Vec3 tris[2][3], point, normal;

  // The cell under the wheel usually holds the deepest contact; its depth (a hair less,
  // so that equal depths are still found) lets the walk skip triangles that cannot beat it.
  // The walk itself keeps the visiting order and the strictly-deeper rule.
  float beat = 0;
  int ci = (int)floorf(c.x / s), cj = (int)floorf(c.z / s);
  if (ci >= i0 && ci < i1 && cj >= j0 && cj < j1) {
    terrain_cell_triangles(t, ci, cj, tris);
    for (int k = 0; k < 2; k++)
      beat = fmaxf(beat, torus_triangle_beat(c, a, big_r, r, tris[k], &point, &normal, 0));
    beat *= 0.999f;
  }

  hit->depth = 0;
  for (int j = j0; j < j1; j++) {
    for (int i = i0; i < i1; i++) {
      terrain_cell_triangles(t, i, j, tris);
      for (int k = 0; k < 2; k++) {
        float depth = torus_triangle_beat(c, a, big_r, r, tris[k], &point, &normal, beat);
        if (depth > hit->depth) {
          hit->depth = depth;
          hit->point = point;
          hit->normal = normal;
        }
      }
    }
  }
  if (hit->depth <= 0) return 0;
  hit->normal = clean_ground_normal(hit->normal);
  return 1;
}

Vec3 clean_ground_normal(Vec3 n) {
  if (n.y < 0) {
    if (n.x * n.x + n.z * n.z >= 1.0f / 1024)
      n.y = 0;
    else
      n = Vec3{0, 1, 0};
  }
  return vec3_normalize(n);
}

float arcade_grip(float roll) { return 1 - 0.375f * fminf(1, 4 * fabsf(roll) / BIKE_PI); }

int wheel_ground_probe(const Terrain *t, const WheelContact *w, Vec3 *point, Vec3 *normal,
                       float *depth) {
  GroundHit hit;
  if (!ground_search(t, w, &hit)) return 0;
  *point = hit.point;
  *normal = hit.normal;
  *depth = hit.depth;
  return 1;
}

void tyre_stiffness(float depth, float tube_radius, float *kp, float *kd) {
  float m = fminf(1, depth / tube_radius);
  float m3 = m * m * m;
  *kp = 24000 * m3 + 1000;  // lb/ft
  *kd = 2300 * m3 + 200;    // lb*s/ft
}

int wheel_ground_contact(const Terrain *t, WheelContact *w, float grip) {
  GroundHit hit;
  if (!ground_search(t, w, &hit)) {
    w->depth = 0;
    return 0;
  }
  dBodyID body = w->body;
  dVector3 pv;
  dBodyGetPointVel(body, hit.point.x, hit.point.y, hit.point.z, pv);
  Vec3 v = v3(pv);
  w->point = hit.point;
  w->point_velocity = v;
  w->normal = hit.normal;
  w->depth = hit.depth;

  const SurfaceType *surface = terrain_surface_at(t, hit.point.x, hit.point.z);
  SoftContact sc;
  memset(&sc, 0, sizeof sc);
  sc.point = hit.point;
  sc.normal = hit.normal;
  sc.depth = hit.depth;
  sc.mu = friction_at(surface, vec3_length(v)) * grip;
  tyre_stiffness(hit.depth, w->tube_radius, &sc.kp, &sc.kd);
  sc.approx1 = 1;
  Vec3 f = vec3_cross(hit.normal, v);
  if (v3_len2(f) < 1.0f / 1024) {
    Vec3 axle = body_vector(body, w->axle.x, w->axle.y, w->axle.z);
    f = vec3_cross(hit.normal, axle);
  }
  float f_len = vec3_length(f);
  if (f_len > 0) {
    sc.has_fdir = 1;
    sc.fdir = f * (1 / f_len);
  }
  dJointID j = soft_contact(&sc, body, 0);
  dJointSetFeedback(j, &w->feedback);

  // Rolling resistance against the wheel's motion over the ground; fades out near standstill.
  Vec3 u = body_velocity(body);
  u = u - hit.normal * vec3_dot(u, hit.normal);
  float speed = vec3_length(u);
  float first, second;
  roll_resist_at(surface, speed, &first, &second);
  float m = fminf(1, hit.depth / w->tube_radius);
  float resist = first + (second - first) * m;  // lb
  if (speed > 1) u = u * (1 / speed);
  dBodyAddForce(body, -resist * u.x, -resist * u.y, -resist * u.z);
  return 1;
}
