// The compact racer state: encoding a simulated racer, posing the seven bodies from a
// state, the per-tick placement of remote racers and the spring pull of touched ones.
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/bike_model.h"
#include "core/core.h"
#include "race/demo.h"
#include "race/race.h"
#include "terrain/terrain.h"

namespace {

constexpr double H = TICK;               // s
constexpr double PI = 3.14159265358979323846;
constexpr double MAX_RPM = 32768;        // rpm, engine speed field
constexpr double RIDER_REACH = 16;       // ft, rider offset field +-
constexpr double DEFAULT_EXTENT = 1024;  // ft, when no terrain is loaded
// Quantisations round down; this fraction of one step absorbs the rounding noise of a
// value that was itself decoded from a state, so decoding and re-encoding is lossless.
constexpr double STEP_SLACK = 1e-2;

// ---- fields ----
uint32_t get_field(const uint8_t *p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}
void put_field(uint8_t *p, int n, uint32_t v) {
  for (int i = 0; i < n; i++) p[i] = (uint8_t)(v >> (8 * i));
}
double field_max(int n) { return n == 1 ? 255.0 : n == 2 ? 65535.0 : 16777215.0; }
double decode_fraction(const uint8_t *p, int n) { return get_field(p, n) / field_max(n); }
// Stores floor(f x (256^n - 1)) with f clamped to [0, 1].
void encode_fraction(uint8_t *p, int n, double f) {
  double m = field_max(n);
  if (!(f > 0)) f = 0;  // NaN too
  if (f > 1) f = 1;
  double v = std::floor(f * m + STEP_SLACK);
  if (v > m) v = m;
  put_field(p, n, (uint32_t)v);
}
double clampd(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// ---- terrain field ----
void field_of_terrain(double *extent, double *base) {
  const Terrain *t = terrain_current();
  *extent = t && t->extent > 0 ? t->extent : DEFAULT_EXTENT;
  *base = t && t->extent > 0 ? t->min_height : 0;
}

// ---- quaternions (w, x, y, z) ----
// Quaternions come straight from the body: only double rounding noise to absorb.
void encode_quat(uint8_t *p, const dReal *q) {
  for (int i = 0; i < 4; i++) {
    double v = std::floor((clampd(q[i], -1, 1) + 1) / 2 * 65535 + 1e-6);
    put_field(p + 2 * i, 2, (uint32_t)(v > 65535 ? 65535 : v));
  }
}
void normalise4(double q[4]) {
  double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (!(n > 1e-12)) {
    q[0] = 1, q[1] = q[2] = q[3] = 0;
    return;
  }
  for (int i = 0; i < 4; i++) q[i] /= n;
}
// The stored components are 2v/65535 - 1. The body takes a unit quaternion, so of the unit
// quaternions inside the stored quantisation cells one near that value is used: it is the
// same orientation within one step, and it encodes back to the same bytes.
void decode_quat(const uint8_t *p, double q[4]) {
  double lo[4], hi[4], n[4];
  // The encoder adds 1e-6 of a step before rounding down: a value from the bottom of the
  // cell up to 1e-5 of a step below its top encodes back to v.
  const double cell = 2 / 65535.0, margin = 1e-5 * cell;
  for (int i = 0; i < 4; i++) {
    uint32_t v = get_field(p + 2 * i, 2);
    q[i] = 2 * (v / 65535.0) - 1;
    // 65535 holds exactly 1 (the encoder clamps to it).
    lo[i] = q[i];
    hi[i] = v == 65535 ? 1.0 : q[i] + cell - margin;
    n[i] = (lo[i] + hi[i]) / 2;
  }
  normalise4(n);
  // |clamp(s n)| grows with s: find the scale where it is 1 by bisection.
  auto norm2 = [&](double scale, double out[4]) {
    double sum = 0;
    for (int i = 0; i < 4; i++) {
      out[i] = clampd(scale * n[i], lo[i], hi[i]);
      sum += out[i] * out[i];
    }
    return sum;
  };
  // Most often the unit vector through the cells' centres lies in the cells already.
  int inside = 1;
  for (int i = 0; i < 4; i++) inside &= n[i] >= lo[i] && n[i] <= hi[i];
  if (inside) {
    memcpy(q, n, sizeof n);
    return;
  }
  // The cells span about 3e-5, so the scale is within 1e-3 of 1 for any state encoded here.
  double a = 1 - 1e-3, b = 1 + 1e-3, tmp[4];
  if (norm2(a, tmp) > 1 || norm2(b, tmp) < 1) {
    a = 0.5, b = 2;
    if (norm2(a, tmp) > 1 || norm2(b, tmp) < 1) {
      normalise4(q);  // no unit quaternion in the cells: not a state this game wrote
      return;
    }
  }
  for (int iter = 0; iter < 48; iter++) {
    double mid = (a + b) / 2;
    if (norm2(mid, tmp) < 1)
      a = mid;
    else
      b = mid;
  }
  norm2(b, q);
  normalise4(q);
}
void quat_mul(double out[4], const double a[4], const double b[4]) {
  double r[4] = {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                 a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                 a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                 a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
  memcpy(out, r, sizeof r);
}
void quat_axis_angle(double out[4], Vec3 axis, double angle) {
  double n = std::sqrt((double)axis.x * axis.x + (double)axis.y * axis.y + (double)axis.z * axis.z);
  if (!(n > 0)) n = 1;
  double s = std::sin(angle / 2) / n;
  out[0] = std::cos(angle / 2), out[1] = axis.x * s, out[2] = axis.y * s, out[3] = axis.z * s;
}
void body_quat(dBodyID b, double q[4]) {
  const dReal *r = dBodyGetQuaternion(b);
  for (int i = 0; i < 4; i++) q[i] = r[i];
}
void set_body_quat(dBodyID b, const double q[4]) {
  dQuaternion d = {q[0], q[1], q[2], q[3]};
  dBodySetQuaternion(b, d);
}
// World point of body-local v.
void rel_point(dBodyID b, double x, double y, double z, double out[3]) {
  dVector3 r;
  dBodyGetRelPointPos(b, x, y, z, r);
  out[0] = r[0], out[1] = r[1], out[2] = r[2];
}
Vec3 sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }

// ---- the decoded state ----
struct Decoded {
  double frame[3];     // ft
  double frame_q[4];
  double steer;        // rad
  double swingarm;     // rad
  double fork;         // ft, <= 0
  double rider[3];     // ft, offset from the frame (39-byte states)
  double rider_q[4];
  int legacy;          // format 4
  double legacy_travel;  // fraction, format 4
  double front, rear;  // rad
  uint8_t gear;
  double engine;       // rad/s
};

void decode_state(const Bike *b, const uint8_t *s, int format, Decoded *d) {
  const BikeModel *m = b->model;
  double extent, base;
  field_of_terrain(&extent, &base);
  d->frame[0] = decode_fraction(s + 0, 3) * extent;
  d->frame[1] = base + decode_fraction(s + 3, 3) * extent;
  d->frame[2] = decode_fraction(s + 6, 3) * extent;
  decode_quat(s + 9, d->frame_q);
  d->steer = decode_fraction(s + 17, 1) * (PI / 2) - PI / 4;
  d->swingarm = m->swingarm_travel * decode_fraction(s + 18, 1) - m->swingarm_travel;
  d->fork = m->fork_travel * decode_fraction(s + 19, 1) - m->fork_travel;
  d->legacy = format == 4;
  const uint8_t *tail;
  if (d->legacy) {
    d->legacy_travel = decode_fraction(s + 20, 1);
    tail = s + 21;
    memcpy(d->rider_q, d->frame_q, sizeof d->rider_q);
    d->rider[0] = d->rider[1] = d->rider[2] = 0;
  } else {
    for (int i = 0; i < 3; i++) d->rider[i] = 2 * RIDER_REACH * decode_fraction(s + 20 + 2 * i, 2) - RIDER_REACH;
    decode_quat(s + 26, d->rider_q);
    d->legacy_travel = 0;
    tail = s + 34;
  }
  // Wheel bytes 0 and 255 are both half a turn; just inside they read back the same.
  auto wheel = [](uint8_t v) {
    return decode_fraction(&v, 1) * 2 * PI - PI + (v == 0 ? 1e-9 : v == 255 ? -1e-9 : 0);
  };
  d->front = wheel(tail[0]);
  d->rear = wheel(tail[1]);
  d->gear = tail[2];
  d->engine = decode_fraction(tail + 3, 2) * MAX_RPM * (2 * PI / 60);
}

// ---- crash state from the gear byte ----
void eject_feet(Bike *b) {
  // The loose rider's feet start below the hips of the current pose, moving with the rider.
  const BikeModel *m = b->model;
  dBodyID rider = b->bodies[RIDER_BODY];
  float leg = m->thigh_length + m->shin_length;
  const Vec3 hips[2] = {m->left_hip, m->right_hip};
  Vec3 *feet[2] = {&b->left_foot, &b->right_foot};
  Vec3 *vels[2] = {&b->left_foot_velocity, &b->right_foot_velocity};
  for (int i = 0; i < 2; i++) {
    dVector3 p, v;
    dBodyGetRelPointPos(rider, hips[i].x, hips[i].y - leg, hips[i].z, p);
    dBodyGetPointVel(rider, p[0], p[1], p[2], v);
    *feet[i] = Vec3{(float)p[0], (float)p[1], (float)p[2]};
    *vels[i] = Vec3{(float)v[0], (float)v[1], (float)v[2]};
  }
}

int lowest_present_gear(const BikeModel *m, int gear) {
  while (gear > 0 && !(m->gear_ratios[gear] > 0)) gear--;
  return gear;
}

// Crash timer of a rider-down gear byte: the smallest timer that encodes back to the same
// four bits (so decoding and re-encoding a crashed state is lossless).
int crash_timer_of(uint8_t g) {
  int n = g >> 4;
  return (n * 127 + 14) / 15 + 1;
}

void apply_gear_byte(Bike *b, uint8_t g) {
  dBodyID rider = b->bodies[RIDER_BODY], frame = b->bodies[FRAME_BODY];
  if ((g & 7) == 7) {
    if (b->crash_timer == 0) eject_feet(b);
    dJointAttach(b->joints[RIDER_JOINT], 0, 0);
    b->controls.throttle = 0;
    b->crash_timer = crash_timer_of(g);
    return;
  }
  if (b->crash_timer > 0) {
    // Re-attach at the seat, then put the rider body back where the state has it.
    dVector3 keep_p;
    dQuaternion keep_q;
    const dReal *p = dBodyGetPosition(rider);
    keep_p[0] = p[0], keep_p[1] = p[1], keep_p[2] = p[2];
    memcpy(keep_q, dBodyGetQuaternion(rider), sizeof keep_q);
    Vec3 seat = sub(b->model->rider_position, b->model->frame_position);
    double at[3];
    rel_point(frame, seat.x, seat.y, seat.z, at);
    dBodySetPosition(rider, at[0], at[1], at[2]);
    dBodySetQuaternion(rider, dBodyGetQuaternion(frame));
    dJointAttach(b->joints[RIDER_JOINT], rider, frame);
    dBodySetPosition(rider, keep_p[0], keep_p[1], keep_p[2]);
    dBodySetQuaternion(rider, keep_q);
  }
  b->crash_timer = 0;
  b->gear = lowest_present_gear(b->model, (g & 7) < 5 ? (g & 7) : 5);
  b->controls.throttle = (float)clampd((g >> 4) / 15.0, 0, 1);
}

// The fixed build fingerprint, read once.
const uint8_t *fingerprint() {
  static uint8_t print[FINGERPRINT_SIZE];
  static int known = 0;
  if (!known) {
    build_fingerprint(print);
    known = 1;
  }
  return print;
}

// Velocity and pose snapshot of the seven bodies.
struct Snapshot {
  double p[BIKE_BODY_COUNT][3];
  double q[BIKE_BODY_COUNT][4];
};
void take_snapshot(const Bike *b, Snapshot *s) {
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    const dReal *p = dBodyGetPosition(b->bodies[i]);
    for (int k = 0; k < 3; k++) s->p[i][k] = p[k];
    body_quat(b->bodies[i], s->q[i]);
  }
}

void shorten(double v[3], double limit) {
  double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (n > limit)
    for (int i = 0; i < 3; i++) v[i] *= limit / n;
}

// Light placement (demo skipping): only the target pose, no velocities.
int g_light_placement = 0;

}  // namespace

void demo_set_light_placement(int on) { g_light_placement = on; }

// ---------------------------------------------------------------------------------------
// Integrity marking
// ---------------------------------------------------------------------------------------
// Each state reports one bit of the build fingerprint; which one follows from a hash of
// its other 38 bytes, so a receiver collects the whole fingerprint over a few thousand
// states. A setup value far out of range inverts the bit.
int integrity_index(const CompactRacerState *state) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (int i = 0; i < COMPACT_STATE_BYTES; i++)
    if (i != 19) h = (h ^ state->bytes[i]) * 16777619u;
  return (int)((h ^ (h >> 16)) & (FINGERPRINT_SIZE * 8 - 1));
}

int integrity_bit(const CompactRacerState *state, int setup_out_of_range) {
  int k = integrity_index(state);
  int bit = (fingerprint()[k / 8] >> (7 - k % 8)) & 1;
  return bit ^ (setup_out_of_range ? 1 : 0);
}

int state_setup_flagged(const CompactRacerState *state) {
  return (state->bytes[19] & 1) != integrity_bit(state, 0);
}

// ---------------------------------------------------------------------------------------
// Encoding
// ---------------------------------------------------------------------------------------
void encode_racer_state(const Bike *b, CompactRacerState *out) {
  const BikeModel *m = b->model;
  uint8_t *s = out->bytes;
  double extent, base;
  field_of_terrain(&extent, &base);
  const dReal *p = dBodyGetPosition(b->bodies[FRAME_BODY]);
  encode_fraction(s + 0, 3, clampd(p[0], 0, extent) / extent);
  encode_fraction(s + 3, 3, (clampd(p[1], base, base + extent) - base) / extent);
  encode_fraction(s + 6, 3, clampd(p[2], 0, extent) / extent);
  encode_quat(s + 9, dBodyGetQuaternion(b->bodies[FRAME_BODY]));

  double a = clampd(dJointGetHingeAngle(b->joints[STEERING_JOINT]), -PI / 4, PI / 4);
  encode_fraction(s + 17, 1, (a + PI / 4) * (2 / PI));
  double sw = m->swingarm_travel > 0 ? m->swingarm_travel : 1;
  a = clampd(dJointGetHingeAngle(b->joints[SWINGARM_JOINT]), -sw, 0);
  encode_fraction(s + 18, 1, (a + sw) / sw);
  s[18] |= 1;
  double ft = m->fork_travel > 0 ? m->fork_travel : 1;
  a = clampd(dJointGetSliderPosition(b->joints[FORK_JOINT]), -ft, 0);
  encode_fraction(s + 19, 1, (a + ft) / ft);

  const dReal *r = dBodyGetPosition(b->bodies[RIDER_BODY]);
  for (int i = 0; i < 3; i++)
    encode_fraction(s + 20 + 2 * i, 2,
                    (clampd(r[i] - p[i], -RIDER_REACH, RIDER_REACH) + RIDER_REACH) / (2 * RIDER_REACH));
  encode_quat(s + 26, dBodyGetQuaternion(b->bodies[RIDER_BODY]));

  a = clampd(dJointGetHingeAngle(b->joints[FRONT_AXLE_JOINT]), -PI, PI);
  encode_fraction(s + 34, 1, (a + PI) / (2 * PI));
  a = clampd(dJointGetHingeAngle(b->joints[REAR_AXLE_JOINT]), -PI, PI);
  encode_fraction(s + 35, 1, (a + PI) / (2 * PI));

  uint8_t g;
  if (b->crash_timer > 0) {
    int n = (b->crash_timer * 15 - 15) / 127;
    g = (uint8_t)(7 | (n < 15 ? n : 15) << 4);
  } else {
    int gear = b->gear < 0 ? 0 : (b->gear > 6 ? 6 : b->gear);
    int throttle = (int)std::floor(b->controls.throttle * 15.0 + STEP_SLACK);
    throttle = throttle < 0 ? 0 : (throttle > 15 ? 15 : throttle);
    g = (uint8_t)(gear | (b->dab_extension > 0 ? 8 : 0) | throttle << 4);
  }
  s[36] = g;
  double rpm = clampd(b->engine_speed * (60 / (2 * PI)), 0, MAX_RPM);
  encode_fraction(s + 37, 2, rpm / MAX_RPM);

  s[19] = (uint8_t)((s[19] & ~1) | integrity_bit(out, setup_out_of_range()));
}

// ---------------------------------------------------------------------------------------
// Posing
// ---------------------------------------------------------------------------------------
void pose_from_state(Bike *b, const uint8_t *state, int format) {
  const BikeModel *m = b->model;
  Decoded d;
  decode_state(b, state, format, &d);
  dBodyID frame = b->bodies[FRAME_BODY], upper = b->bodies[FORK_UPPER_BODY],
          lower = b->bodies[FORK_LOWER_BODY], swingarm = b->bodies[SWINGARM_BODY],
          rider = b->bodies[RIDER_BODY];
  Vec3 fp = m->frame_position;
  double at[3], q[4], turn[4];

  // 1. Frame.
  dBodySetPosition(frame, d.frame[0], d.frame[1], d.frame[2]);
  set_body_quat(frame, d.frame_q);
  double frame_q[4];
  body_quat(frame, frame_q);

  // 2. Fork upper: turned about the steering axis.
  Vec3 rel = sub(m->fork_upper_position, fp);
  rel_point(frame, rel.x, rel.y, rel.z, at);
  dBodySetPosition(upper, at[0], at[1], at[2]);
  quat_axis_angle(turn, sub(m->fork_upper_position, m->fork_lower_position), d.steer);
  quat_mul(q, frame_q, turn);
  set_body_quat(upper, q);

  // 3. Swingarm: turned about x at the pivot.
  quat_axis_angle(turn, Vec3{1, 0, 0}, d.swingarm);
  Vec3 arm = sub(m->swingarm_position, m->swingarm_pivot);
  double ca = std::cos(d.swingarm), sa = std::sin(d.swingarm);
  Vec3 pivot = sub(m->swingarm_pivot, fp);
  rel_point(frame, pivot.x + arm.x, pivot.y + arm.y * ca - arm.z * sa,
            pivot.z + arm.y * sa + arm.z * ca, at);
  dBodySetPosition(swingarm, at[0], at[1], at[2]);
  quat_mul(q, frame_q, turn);
  set_body_quat(swingarm, q);

  // 4. Fork lower: slid up the leg by -fork.
  Vec3 leg = sub(m->fork_lower_position, m->fork_upper_position);
  double len = vec3_length(leg);
  double ux = len > 0 ? leg.x / len : 0, uy = len > 0 ? leg.y / len : 0, uz = len > 0 ? leg.z / len : 0;
  rel_point(upper, leg.x + d.fork * ux, leg.y + d.fork * uy, leg.z + d.fork * uz, at);
  dBodySetPosition(lower, at[0], at[1], at[2]);
  double upper_q[4];
  body_quat(upper, upper_q);
  set_body_quat(lower, upper_q);

  // 5. Rider.
  if (d.legacy) {
    double travel = m->legacy_rider_travel_min +
                    (m->legacy_rider_travel_max - m->legacy_rider_travel_min) * d.legacy_travel;
    Vec3 axis = m->legacy_rider_axis;
    double an = vec3_length(axis);
    if (!(an > 0)) an = 1;
    Vec3 seat = sub(m->rider_position, fp);
    rel_point(frame, travel * axis.x / an + seat.x, travel * axis.y / an + seat.y,
              travel * axis.z / an + seat.z, at);
    dBodySetPosition(rider, at[0], at[1], at[2]);
    set_body_quat(rider, frame_q);
  } else {
    dBodySetPosition(rider, d.frame[0] + d.rider[0], d.frame[1] + d.rider[1], d.frame[2] + d.rider[2]);
    set_body_quat(rider, d.rider_q);
  }

  // 6. Wheels, turned back by their axle angles.
  double lower_q[4], swing_q[4];
  body_quat(lower, lower_q);
  body_quat(swingarm, swing_q);
  rel = sub(m->front_wheel.position, m->fork_lower_position);
  rel_point(lower, rel.x, rel.y, rel.z, at);
  dBodySetPosition(b->bodies[FRONT_WHEEL_BODY], at[0], at[1], at[2]);
  quat_axis_angle(turn, Vec3{1, 0, 0}, -d.front);
  quat_mul(q, lower_q, turn);
  set_body_quat(b->bodies[FRONT_WHEEL_BODY], q);
  rel = sub(m->rear_wheel.position, m->swingarm_position);
  rel_point(swingarm, rel.x, rel.y, rel.z, at);
  dBodySetPosition(b->bodies[REAR_WHEEL_BODY], at[0], at[1], at[2]);
  quat_axis_angle(turn, Vec3{1, 0, 0}, -d.rear);
  quat_mul(q, swing_q, turn);
  set_body_quat(b->bodies[REAR_WHEEL_BODY], q);

  // 7. Gear, throttle and crash.
  apply_gear_byte(b, d.gear);
  // 8. The loose rider's feet, or the dab extension falling back outside a crash.
  const Terrain *ground = terrain_current();
  crashed_feet_step(b, ground && ground->heights ? ground : nullptr);
  // 9. A rider down or dabbing puts the foot out.
  if ((d.gear & 7) == 7 || (d.gear & 8))
    b->dab_extension = (float)std::fmin(1.0, b->dab_extension + 8 * H);
  // 10.
  b->engine_speed = (float)d.engine;
}

// ---------------------------------------------------------------------------------------
// Placement
// ---------------------------------------------------------------------------------------
Vec3 rotation_rate(const double a[4], const double b[4]) {
  // r = b * conj(a): the rotation that turns a into b.
  double ca[4] = {a[0], -a[1], -a[2], -a[3]}, r[4];
  quat_mul(r, b, ca);
  if (r[0] < 0)
    for (int i = 0; i < 4; i++) r[i] = -r[i];
  double s = std::sqrt(r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
  if (!(s > 0)) return Vec3{0, 0, 0};
  double angle = 2 * std::atan2(s, r[0]);
  double k = angle / s / H;
  return Vec3{(float)(r[1] * k), (float)(r[2] * k), (float)(r[3] * k)};
}

static void lift_out_of_ground(Bike *b) {
  const Terrain *t = terrain_current();
  if (!t || !t->heights) return;
  double p[3];
  rel_point(b->bodies[REAR_WHEEL_BODY], 0, 0, 0, p);
  dVector3 down;
  dBodyVectorToWorld(b->bodies[FRAME_BODY], 0, -b->model->rear_wheel.torus_radius, 0, down);
  for (int i = 0; i < 3; i++) p[i] += down[i];
  double g = terrain_height(t, (float)p[0], (float)p[2]);
  if (g > p[1]) translate_racer(b, 0, (float)(g - p[1]), 0);
}

void place_remote_racer(Bike *b, const uint8_t *target, const uint8_t *older,
                        const uint8_t *newer, int ticks, int format) {
  // 1. A solid racer that touched the local bike is pulled, not placed.
  if (b->presence != 0 && b->interpolation_marker != -1 && format != 4) {
    follow_state(b, target, older, newer, ticks, session_clock()->tick);
    return;
  }
  if (!g_light_placement) {
    // 2, 3. Velocities from the older to the newer state.
    Snapshot before;
    pose_from_state(b, older, format);
    take_snapshot(b, &before);
    pose_from_state(b, newer, format);
    double n = ticks < 2 ? 1 : ticks;
    for (int i = 0; i < BIKE_BODY_COUNT; i++) {
      dBodyID body = b->bodies[i];
      const dReal *p = dBodyGetPosition(body);
      dBodySetLinearVel(body, (p[0] - before.p[i][0]) / (n * H), (p[1] - before.p[i][1]) / (n * H),
                        (p[2] - before.p[i][2]) / (n * H));
      double q[4];
      body_quat(body, q);
      Vec3 w = rotation_rate(before.q[i], q);
      dBodySetAngularVel(body, w.x / n, w.y / n, w.z / n);
    }
  }
  // 4. The pose of the tick; 5. out of the ground.
  pose_from_state(b, target, format);
  lift_out_of_ground(b);
}

void follow_gains(float presence, int marker, int32_t tick, float *k, float *c) {
  double I = clampd((0.667 - presence) * 2.994012, 0, 1);
  double T = marker <= 0 ? 1 : clampd((tick - marker - 32) / 32.0, 0, 1);
  double J = clampd((I - 0.5) * 2.6666667, 0, 1);
  double G = T + J * (1 - T);
  *k = (float)(G * (49600 * I + 400));
  *c = (float)(-100 * G);
}

void follow_state(Bike *b, const uint8_t *target, const uint8_t *older, const uint8_t *newer,
                  int ticks, int32_t tick) {
  const BikeModel *m = b->model;
  float kf, cf;
  follow_gains(b->presence, b->interpolation_marker, tick, &kf, &cf);
  double k = kf, c = cf;
  Decoded t, o, nw;
  decode_state(b, target, 5, &t);
  decode_state(b, older, 5, &o);
  decode_state(b, newer, 5, &nw);
  double n = ticks < 2 ? 1 : ticks;
  dBodyID frame = b->bodies[FRAME_BODY];
  const dReal *p = dBodyGetPosition(frame), *v = dBodyGetLinearVel(frame),
              *w = dBodyGetAngularVel(frame);
  double f1[3], f2[3], t1[3], t2[3];
  for (int i = 0; i < 3; i++) {
    double vt = (nw.frame[i] - o.frame[i]) / (n * H);
    f1[i] = k * (t.frame[i] - p[i]);
    f2[i] = c * (v[i] - vt);
    t2[i] = c * w[i];
  }
  double q[4];
  body_quat(frame, q);
  Vec3 rate = rotation_rate(q, t.frame_q);
  t1[0] = k * H * rate.x, t1[1] = k * H * rate.y, t1[2] = k * H * rate.z;
  shorten(f1, 1000), shorten(f2, 500), shorten(t1, 1000), shorten(t2, 500);
  dBodyAddForce(frame, f1[0] + f2[0], f1[1] + f2[1], f1[2] + f2[2]);
  dBodyAddTorque(frame, t1[0] + t2[0], t1[1] + t2[1], t1[2] + t2[2]);

  // 4. Steering toward the state's angle.
  double angle = dJointGetHingeAngle(b->joints[STEERING_JOINT]);
  double rate_s = dJointGetHingeAngleRate(b->joints[STEERING_JOINT]);
  b->controls.steer = (float)clampd((t.steer - angle - rate_s) / 4, -1, 1);
  // 5. Gear byte; the dab flag is the dab control.
  apply_gear_byte(b, t.gear);
  int down = (t.gear & 7) == 7;
  b->controls.dab = down ? 0.0f : ((t.gear & 8) ? 1.0f : 0.0f);
  // 6. Lean from where the rider sits on the target frame.
  if (down) {
    b->controls.lean = 0;
  } else {
    dMatrix3 r;
    dQuaternion tq = {t.frame_q[0], t.frame_q[1], t.frame_q[2], t.frame_q[3]};
    dQtoR(tq, r);
    // Columns of r are the frame's axes; D = r^T x offset.
    double dy = r[1] * t.rider[0] + r[5] * t.rider[1] + r[9] * t.rider[2];
    double dz = r[2] * t.rider[0] + r[6] * t.rider[1] + r[10] * t.rider[2];
    Vec3 base = sub(m->rider_position, m->frame_position);
    b->controls.lean = (float)clampd((base.y - dy) * (0.5 + 0.5 * b->controls.dab) - (base.z - dz), -1, 1);
  }
  // 7.
  b->engine_speed = (float)t.engine;
}
