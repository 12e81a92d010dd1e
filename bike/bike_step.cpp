// The racer's physics step: crash rules, back-up and dab, the rider's springs, suspension,
// the stability controller or the arcade control, drivetrain and brakes, steering damping,
// the internal force balance and the dab assist with realignment.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "bike/bike_local.h"
#include "terrain/terrain.h"
#include "track/track.h"

namespace {

const float H = (float)TICK;

int rider_down(const Bike *b) { return b->crash_timer > 0; }
int touching(const WheelContact &w) { return w.depth > 0; }

// Roll rate: the frame's angular velocity about its own z axis (raising the right side).
float roll_rate(dBodyID frame) {
  const dReal *w = dBodyGetAngularVel(frame);
  dVector3 local;
  dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
  return (float)local[2];
}

// Max dab speed, at least 75 ft/s while a knock protects the rider.
float dab_speed(const Bike *b) {
  float l = b->settings.max_dab_speed;
  return b->knock <= -512 ? fmaxf(l, 75) : l;
}

// Pushes the body horizontally toward a target velocity with at most `force` lb.
void hold(dBodyID body, float force, Vec3 target) {
  Vec3 e = body_velocity(body) - target;
  float len2 = v3_len2(e);
  if (len2 < 0.0625f) return;
  float len = sqrtf(len2);
  float k = clampf((len - 0.25f) * 0.8f, 0, 1);
  dBodyAddForce(body, -k * force * e.x / len, 0, -k * force * e.z / len);
}

// A one-axis angular motor on a body against the static world for the next step.
void angular_motor(dBodyID body, Vec3 axis, float velocity, float max_torque) {
  dJointID m = dJointCreateAMotor(physics_world(), physics_contact_group());
  dJointAttach(m, body, 0);
  dJointSetAMotorMode(m, dAMotorUser);
  dJointSetAMotorNumAxes(m, 1);
  dJointSetAMotorAxis(m, 0, 0, axis.x, axis.y, axis.z);
  dJointSetAMotorParam(m, dParamVel, velocity);
  dJointSetAMotorParam(m, dParamFMax, max_torque);
}

// The lean the rider may ask for at speed v: none at standstill, up to the roll limit angle
// by 15 ft/s, then toward a full turn by the max dab speed L.
float lean_allowance(const Bike *b, float v, float l, int power) {
  float limit = b->settings.roll_limit_angle;
  float l2 = l * l;
  if (v <= 15) {
    float t = clampf(v * v / l2, 0, 1);
    return (1 - powf(1 - t, (float)power)) * limit;
  }
  if (l2 <= 225) return 2 * BIKE_PI;
  return limit + (2 * BIKE_PI - limit) * clampf((v * v - 225) / (l2 - 225), 0, 1);
}

float steering_angle(const Bike *b) { return (float)dJointGetHingeAngle(b->joints[STEERING_JOINT]); }

void back_up_mode(Bike *b, const BikeStep *st) {
  dBodyID frame = b->bodies[FRAME_BODY];
  int tick = st->tick;
  float k = (1 - cosf((tick & 127) * 2 * BIKE_PI / 127)) / 2;
  int first = (st->start_tick / 128 + 1) * 128;  // first multiple of 128 after the start
  if (tick < first && (tick & 0x180) != 0) k = 0;
  b->controls.dab = rider_down(b) ? 0 : 1;
  hold(frame, 2000, body_vector(frame, 0, 0, 1) * (4 * k));
  angular_motor(frame, Vec3{0, 1, 0}, -b->controls.steer * k * BIKE_PI / 2, 2000);
}

void dab_when_stopped(Bike *b, float v, float phi) {
  float l = dab_speed(b);
  if (v > l) return;
  if (v > 15) {
    float t = clampf((v - 15) / 15, 0, 1);
    if (fabsf(phi) < t * BIKE_PI / 4) return;
  }
  Controls &c = b->controls;
  if (c.throttle == 0 || c.clutch == 0 || v < 5 || fabsf(phi) > BIKE_PI / 16) {
    c.dab = rider_down(b) ? 0 : fmaxf(c.dab, clampf(1 - v / l, 0, 1));
    if (v < 5 && (c.throttle == 0 || c.clutch == 0) && touching(b->front) &&
        touching(b->rear)) {
      c.front_brake = c.rear_brake = 1;
      hold(b->bodies[FRAME_BODY], 1000, Vec3{0, 0, 0});
    }
  }
}

void stability_controller(Bike *b, const BikeStep *st) {
  const BikeSettings &s = b->settings;
  const BikeModel *m = b->model;
  dBodyID frame = b->bodies[FRAME_BODY], front = b->bodies[FRONT_WHEEL_BODY];
  float tmax = s.max_steering_force, tmin = -tmax;
  float td = s.steering_strength * b->controls.steer * s.direct_steering;
  float axle_rate = (float)dJointGetHingeAngleRate(b->joints[FRONT_AXLE_JOINT]);
  float vf = (m->front_wheel.torus_radius + m->front_wheel.tube_radius) * axle_rate;

  // Lock: full below the full lock speed, restricted above the restricted lock speed,
  // larger on slippery ground.
  float big_v = fmaxf(s.full_lock_speed + 1, s.restricted_lock_speed);
  float k = clampf((1 / fmaxf(vf, 1) - 1 / big_v) / (1 / s.full_lock_speed - 1 / big_v), 0, 1);
  Vec3 fp = body_position(front);
  float mu0 = 1;
  if (st->terrain)
    mu0 = terrain_surface_at(st->terrain, fp.x, fp.z)->friction_points[0].coefficient;
  mu0 = fmaxf(mu0, 0.125f);
  float lock = fminf(s.restricted_lock / mu0, BIKE_PI / 4);
  lock += (BIKE_PI / 4 - lock) * k;

  float beta = front_slip_angle(b);
  if (vf > 1 && st->terrain) {
    float clearance = fp.y - terrain_height(st->terrain, fp.x, fp.z) -
                      m->front_wheel.torus_radius - m->front_wheel.tube_radius;
    if (clearance < 0.5f) {
      float l = lock + (BIKE_PI / 4 - lock) * clampf(2 * clearance, 0, 1);
      float e = 1.125f * l + 0.015f;
      if (beta > l) tmin *= 1.25f * clampf((beta - e) / (l - e), 0, 1) - 0.25f;
      if (beta < -l) tmax *= 1.25f * clampf((beta + e) / (e - l), 0, 1) - 0.25f;
    }
  }

  float phi = roll_angle(frame), wr = roll_rate(frame);
  float v = body_speed(frame);
  float ta;
  if (!touching(b->front) || axle_rate <= BIKE_PI / 4) {
    // In the air or barely rolling: centre the bars, and be ready to damp the landing.
    b->landing_damping = s.land_damping_factor;
    ta = -50 * steering_angle(b);
  } else {
    float ta1 = wr * s.roll_damping * b->landing_damping;
    if (b->landing_damping > 1) {
      if (s.land_damping_falloff <= 0)
        b->landing_damping = 1;
      else
        b->landing_damping = fmaxf(
            1, b->landing_damping - (s.land_damping_factor - 1) * H / s.land_damping_falloff);
    }
    float ta2 = phi * s.leveling;
    if (v < s.slow_damping_speed) {
      float f = s.slow_damping_factor +
                (1 - s.slow_damping_factor) * clampf(v / s.slow_damping_speed, 0, 1);
      ta1 *= f, ta2 *= f;
    }
    if (((wr >= 0 && phi >= 0) || (wr < 0 && phi < 0)) && fabsf(phi) > s.roll_limit_angle)
      ta1 *= (fabsf(phi) - s.roll_limit_angle) * s.roll_limit_factor + 1;
    ta = ta1 + ta2;
    if (s.direct_steering < 1) {
      float big_phi = v <= 0 ? 0 : lean_allowance(b, v, dab_speed(b), 4);
      // The allowance reaches a full turn at speed, so a firm input would ask for a lean
      // past lying flat. Ask at most for the lean the ground under the front wheel can
      // hold in a steady turn (its tangent equal to the grip).
      float most = atanf(mu0);
      float wanted = clampf(-b->controls.steer * big_phi, -most, most);
      float r = (wanted - phi) * 2.5f;
      float cap = r * phi < 0 ? 25 * BIKE_PI / 8 : 5 * BIKE_PI / 4;
      r = clampf(r, -cap, cap);
      float e = clampf(r - wr, -0.125f, 0.125f);
      float ti = s.steering_strength * clampf((wr - (r - e)) * 4, -1, 1);
      td = (td - ti) * s.direct_steering + ti;
    }
  }

  ta = knocked_assist(ta, b->knock);
  float t = clampf((ta + td) * 1.5f, tmin, tmax);
  apply_steering_torque(b, t);

  float a = clampf((vf - 5) / 10, 0, 1);
  float lo = 0.25f * a * lock, hi = (0.625f * a + 0.125f) * lock;
  float delta = steering_angle(b);
  float ti, q;
  if (phi >= 0) {
    ti = clampf((-beta - lo) / (hi - lo), 0, 1);
    q = (delta - BIKE_PI / 12) * 12 / BIKE_PI;
  } else {
    ti = clampf((beta - lo) / (hi - lo), 0, 1);
    q = (delta + BIKE_PI / 12) * (-12 / BIKE_PI);
  }
  b->lock_indicator = fmaxf(clampf(q, 0, 1), ti);
}

void arcade_control(Bike *b) {
  const BikeSettings &s = b->settings;
  dBodyID frame = b->bodies[FRAME_BODY];
  float phi = roll_angle(frame);
  float steer = b->controls.steer;
  float stiff = clampf((s.roll_damping - 40) * 0.025f, 0, 1);
  float target = -steer * BIKE_PI / 4;
  float rate = (1.5f - 0.5f * stiff) * fminf(fabsf(phi - target), 1.0f / 16) * 16;
  if (phi >= target) rate = -rate;
  angular_motor(frame, body_vector(frame, 0, 0, 1), rate, 1000);

  float delta_target = front_slip_angle(b) - 0.5f * steer;
  float c = clampf(delta_target - steering_angle(b), -0.25f, 0.25f);
  float dd = fabsf(c) > 1.0f / 32 ? (fabsf(c) - 1.0f / 32) * 8 * (c > 0 ? 1 : -1) : 0;
  dd -= (float)dJointGetHingeAngleRate(b->joints[STEERING_JOINT]);
  float out = fabsf(dd) > 1.0f / 2400 ? (dd - (dd > 0 ? 1 : -1) / 2400.0f) * 0.5f : 0;
  out = clampf(out, -2.0f / 3, 2.0f / 3);
  apply_steering_torque(b, out * s.steering_strength);

  // Tail damping 20 ft behind the bike keeps it running straight.
  Vec3 p = body_point(frame, 0, 0, 20);
  dVector3 v;
  dBodyGetPointVel(frame, p.x, p.y, p.z, v);
  dBodyAddForceAtPos(frame, -0.25 * v[0], -0.25 * v[1], -0.25 * v[2], p.x, p.y, p.z);
}

void steering_damping(Bike *b) {
  dBodyID front = b->bodies[FRONT_WHEEL_BODY];
  Vec3 w = v3(dBodyGetAngularVel(front));
  Vec3 a = body_vector(front, 1, 0, 0);
  Vec3 t = (a * vec3_dot(w, a) - w) * b->settings.steering_damping;
  dBodyAddTorque(front, t.x, t.y, t.z);
  dBodyAddTorque(b->bodies[FRAME_BODY], -t.x, -t.y, -t.z);
}

// Joint forces between the bike's own bodies cannot push or turn the bike as a whole.
void internal_force_balance(Bike *b) {
  dBodyID frame = b->bodies[FRAME_BODY];
  Vec3 pf = body_position(frame);
  Vec3 force{0, 0, 0}, moment{0, 0, 0};
  for (int i = 0; i < BIKE_JOINT_COUNT; i++) {
    dJointID j = b->joints[i];
    dBodyID b1 = dJointGetBody(j, 0), b2 = dJointGetBody(j, 1);
    if (!b1 || !b2) return;  // the rider is off
    const dJointFeedback &fb = b->joint_feedback[i];
    Vec3 f1 = v3(fb.f1), f2 = v3(fb.f2);
    force = force + f1 + f2;
    moment = moment + vec3_cross(body_position(b1) - pf, f1) + v3(fb.t1) +
             vec3_cross(body_position(b2) - pf, f2) + v3(fb.t2);
  }
  dBodyAddForce(frame, -force.x, -force.y, -force.z);
  dBodyAddTorque(frame, -moment.x, -moment.y, -moment.z);
}

// Where realignment turns the bike: the reference line, else the next timing gate.
int align_target(const Bike *b, const BikeStep *st, Vec3 *out) {
  if (st->has_line_point) {
    *out = st->line_point;
    return 1;
  }
  if (!track_has_timing() || !b->timing) return 0;
  const TimingGate *g = timing_gate(gate_of_crossing(b->timing->next_gate));
  if (!g) return 0;
  *out = Vec3{g->x, g->y, g->z};
  return 1;
}

void dab_assist(Bike *b, const BikeStep *st) {
  if (rider_down(b)) {
    b->dab_extension = fminf(1, b->dab_extension + 8 * H);
    return;
  }
  const Controls &c = b->controls;
  if (c.dab == 0) return;
  dBodyID frame = b->bodies[FRAME_BODY], rider = b->bodies[RIDER_BODY];
  if (!touching(b->front)) {
    Vec3 p, n;
    float depth;
    if (!st->terrain ||
        !sphere_vs_terrain(st->terrain, body_position(rider), b->model->rider_position.y + 1,
                           &p, &n, &depth))
      return;
  }
  float v = body_speed(frame);
  float phi = roll_angle(frame), wr = roll_rate(frame);
  if (v > dab_speed(b)) return;
  if (v > 15 && (!touching(b->front) || !touching(b->rear) || fabsf(phi) < 0.589f)) return;
  b->dab_extension = fminf(1, b->dab_extension + 8 * H);
  if ((b->setup_flags2 & SETUP2_ARCADE) || b->knock > 0) return;

  Vec3 target;
  if ((b->setup_flags & SETUP_AUTO_ALIGN) && c.back_up <= 0.125f && st->race_running &&
      b->timing && !b->timing->finished && b->timing->next_gate > 0 && v < 5 &&
      fabsf(phi) > BIKE_PI / 8 && fabsf(phi) < 1.0995574f && align_target(b, st, &target)) {
    Vec3 pf = body_position(frame);
    Vec3 g = {target.x - pf.x, 0, target.z - pf.z};
    Vec3 back = body_vector(frame, 0, 0, 1);
    back.y = 0;
    if (v3_len2(back) > 1.0f / 1024) {
      back = vec3_normalize(back);
      float o = vec3_dot(g, back);
      float x = g.x * back.z - g.z * back.x;
      float w0 = b->knock < 0 ? BIKE_PI : BIKE_PI / 2;
      float vel = x > 0 ? -w0 : w0;
      float full = b->total_mass * 320;
      if (o >= 0 || fabsf(x) >= -0.25f * o) {
        // Behind or well off the heading: turn on the spot, the wheels lifted a little.
        angular_motor(frame, Vec3{0, 1, 0}, vel, full);
        for (const WheelContact *w : {&b->front, &b->rear})
          if (touching(*w)) dBodyAddForce(w->body, 0, b->total_mass * 32, 0);
        return;
      }
      angular_motor(frame, Vec3{0, 1, 0}, vel, fabsf(x / (0.25f * o)) * full);
    }
  }

  float r = phi >= 0 ? -BIKE_PI / 8 : BIKE_PI / 8;
  if ((b->setup_flags & SETUP_AUTO_DAB) && b->knock < 0) r *= 3;
  if (fabsf(phi) < BIKE_PI / 16) r *= fabsf(phi) * 16 / BIKE_PI;
  float g = 0;
  if (r > 0 && wr < r) g = -400;
  if (r < 0 && wr > r) g = 400;
  if (fabsf(phi) < BIKE_PI / 32) g *= fabsf(phi) * 32 / BIKE_PI;
  if (c.back_up < 0.125f) {
    float allow = v <= 0 ? 0 : lean_allowance(b, v, b->settings.max_dab_speed, 32);
    float j = clampf(((r >= 0 ? -c.steer : c.steer) - 0.5f) * 2, 0, 1);
    float q = clampf((fabsf(phi) - 1.25f * allow) / 0.25f, 0, 1);
    g *= q + j * (1 - q);
    if (v > 5) g *= b->lock_indicator;
  }
  if (g != 0) {
    Vec3 at = body_point(frame, 0, 4, 0);
    if (body_vector(frame, 0, 1, 0).y >= 0.707f) {
      dBodyAddForceAtPos(frame, 0, fabsf(g) / 8, 0, at.x, at.y, at.z);
      dBodyAddRelForceAtRelPos(frame, g, 0, 0, 0, 4, 0);
    } else {
      dBodyAddForceAtPos(frame, 0, fabsf(g), 0, at.x, at.y, at.z);
    }
  }
}

}  // namespace

// A rider who rams others loses the assists, and past 192 they turn against him.
float knocked_assist(float ta, float knock) {
  if (knock > 192) return -clampf((knock - 192) / 64, 0, 1) * ta;
  if (knock > 0) {
    float cap = 200 * (192 - knock) / 192;
    return clampf(ta, -cap, cap);
  }
  return ta;
}

void physics_step(Bike *b, const BikeStep *st) {
  dBodyID frame = b->bodies[FRAME_BODY];
  float v = body_speed(frame);

  if (!b->lap_spoiled && st->tick - st->start_tick > 256 && v < 5) b->lap_spoiled = 1;
  if (b->knock > -1 && b->knock < 1)
    b->knock = 0;
  else
    b->knock += b->knock > 0 ? -1 : 1;

  check_crash(b, st->tick);
  crashed_rider_step(b);

  Controls saved = b->controls;
  float phi = roll_angle(frame);
  if (b->controls.back_up > 0 && v < 5)
    back_up_mode(b, st);
  else if (b->setup_flags & SETUP_AUTO_DAB)
    dab_when_stopped(b, v, phi);

  // The rider's springs hold a seated rider; a thrown rider has only the tethers.
  if (!rider_down(b)) rider_mount_step(b);
  fork_force(b);
  shock_torque(b);
  if (!(b->setup_flags2 & SETUP2_ARCADE)) {
    if (rider_down(b))
      b->lock_indicator = 0;
    else
      stability_controller(b, st);
  } else if (!rider_down(b)) {
    arcade_control(b);
  }
  if (b->setup_flags & SETUP_AUTO_SHIFT) auto_shift_step(b, st->tick);
  drivetrain_step(b);
  brake_step(b);
  steering_damping(b);
  if (st->tick >= 2 && !rider_down(b)) internal_force_balance(b);
  dab_assist(b, st);

  b->controls.dab = saved.dab;
  b->controls.front_brake = saved.front_brake;
  b->controls.rear_brake = saved.rear_brake;

  crashed_feet_step(b, st->terrain);
  b->rider_velocity[st->tick & 3] = body_velocity(b->bodies[RIDER_BODY]);
}
