// Rider control: the control setters, the rider's springs on the frame, the shared
// measurements (roll, slip angle) and the steering torque.
#include <cmath>
#include <cstring>

#include "bike/bike_local.h"

// ---- control setters ----

static int rider_down(const Bike *b) { return b->crash_timer > 0; }

void set_throttle(Bike *b, float v) { b->controls.throttle = rider_down(b) ? 0 : clampf(v, 0, 1); }
void set_clutch(Bike *b, float v) { b->controls.clutch = clampf(v, 0, 1); }
void set_front_brake(Bike *b, float v) { b->controls.front_brake = clampf(v, 0, 1); }
void set_rear_brake(Bike *b, float v) { b->controls.rear_brake = clampf(v, 0, 1); }
void set_steer(Bike *b, float v) { b->controls.steer = clampf(v, -1, 1); }
void set_dab(Bike *b, float v) { b->controls.dab = rider_down(b) ? 0 : clampf(v, 0, 1); }
void set_back_up(Bike *b, float v) { b->controls.back_up = rider_down(b) ? 0 : clampf(v, 0, 1); }
void set_lean(Bike *b, float v) { b->controls.lean = b->crash_timer >= 1 ? 0 : clampf(v, -1, 1); }

// ---- measurements ----

float roll_angle(dBodyID frame) {
  Vec3 u = body_vector(frame, 0, 1, 0);
  Vec3 f = body_vector(frame, 0, 0, -1);
  f.y = 0;
  f = vec3_normalize(f);
  Vec3 right = {-f.z, 0, f.x};
  float c = clampf(vec3_dot(u, right), -1, 1);
  return acosf(c) - BIKE_PI / 2;
}

float front_slip_angle(const Bike *b) {
  const BikeModel *m = b->model;
  Vec3 a = vec3_normalize(m->fork_upper_position - m->fork_lower_position);
  const dReal *v = dBodyGetLinearVel(b->bodies[FRONT_WHEEL_BODY]);
  dVector3 w;
  dBodyVectorFromWorld(b->bodies[FORK_UPPER_BODY], v[0], v[1], v[2], w);
  float y = (float)w[0];
  float f = (float)(w[2] * a.y - w[1] * a.z);
  if (y * y + f * f <= 1) return 0;
  return -atan2f(y, -f);
}

void apply_steering_torque(Bike *b, float torque) {
  const BikeModel *m = b->model;
  Vec3 a = vec3_normalize(m->fork_upper_position - m->fork_lower_position);
  Vec3 axis = body_vector(b->bodies[FRAME_BODY], a.x, a.y, a.z);
  dBodyAddTorque(b->bodies[FRONT_WHEEL_BODY], torque * axis.x, torque * axis.y, torque * axis.z);
  dBodyAddTorque(b->bodies[FRAME_BODY], -torque * axis.x, -torque * axis.y, -torque * axis.z);
}

// ---- the rider's springs ----

void rider_mount_step(Bike *b) {
  const BikeModel *m = b->model;
  const BikeSettings &s = b->settings;
  dBodyID frame = b->bodies[FRAME_BODY], rider = b->bodies[RIDER_BODY];
  float scale = m->rider_mass * 0.2133333f;  // rates are for a 150 lb rider

  Vec3 seat_local = m->rider_position - m->frame_position;
  Vec3 seat = body_point(frame, seat_local.x, seat_local.y, seat_local.z);
  Vec3 rp = body_position(rider);
  Vec3 d = seat - rp;
  Vec3 up = body_vector(frame, 0, 1, 0), back = body_vector(frame, 0, 0, 1);
  float dy = vec3_dot(d, up), dz = vec3_dot(d, back);
  float sit = b->controls.dab;

  float target = clampf(dy * (0.5f + 0.5f * sit) - b->controls.lean, -0.75f, 0.75f);
  float ez = dz - target;
  // Standing the rider rides 0.125 ft above the seat point, sitting 0.375 ft below it.
  float ey = dy + 0.125f - 0.5f * sit;

  SoftContact c;
  memset(&c, 0, sizeof c);
  c.point = rp;
  if (dz >= -0.75f && dz <= 0.75f) {
    c.kp = (s.rider_zspring * 600 + fabsf(ez) * 100) * scale;
    c.kd = 0;
  } else {
    c.kp = c.kd = 2500 * scale;
  }
  if (c.kp > 0) {
    c.normal = ez >= 0 ? back : v3_neg(back);
    c.depth = fabsf(ez);
    soft_contact(&c, rider, frame);
  }

  if (dy >= -0.75f && dy <= 0.5f) {
    c.kp = s.rider_yspring * 400 * scale;
    c.kd = s.rider_ydamping * 100 * scale;
  } else {
    c.kp = c.kd = 2500 * scale;
  }
  if (c.kp + c.kd > 0) {
    c.normal = ey >= 0 ? up : v3_neg(up);
    c.depth = fabsf(ey);
    soft_contact(&c, rider, frame);
  }

  dJointID j = b->joints[RIDER_JOINT];
  dJointSetHinge2Param(j, dParamSuspensionERP, 0);
  dJointSetHinge2Param(j, dParamSuspensionCFM,
                       1.0 / (m->rider_mass * (s.rider_zdamping * 30 + 5) * 0.2133333));
}
