// Crashes and recovery: when the rider leaves the bike, the loose rider's tethers, the
// recovery count and the return to the seat, and the loose rider's feet.
#include <cmath>
#include <cstring>

#include "bike/bike_local.h"
#include "terrain/terrain.h"

// ---- per session: extra ticks down per crash, set by the race server ----
static struct {
  int penalty_ticks[CRASH_PENALTY_SLOTS];
} s_crash;

void set_crash_penalty_ticks(const int ticks[CRASH_PENALTY_SLOTS]) {
  if (ticks)
    memcpy(s_crash.penalty_ticks, ticks, sizeof s_crash.penalty_ticks);
  else
    memset(s_crash.penalty_ticks, 0, sizeof s_crash.penalty_ticks);
}

void check_crash(Bike *b, int tick) {
  if (b->crash_timer != 0 || b->knock < 0) return;
  dBodyID rider = b->bodies[RIDER_BODY], frame = b->bodies[FRAME_BODY];
  Vec3 rp = body_position(rider), rv = body_velocity(rider);
  dVector3 fv;
  dBodyGetPointVel(frame, rp.x, rp.y, rp.z, fv);
  Vec3 rel = rv - v3(fv);
  if (v3_len2(rel) > 961) {  // 31 ft/s off the seat
    start_crash(b);
    return;
  }
  // The rider's mean acceleration over the last four ticks, gravity removed.
  Vec3 old = b->rider_velocity[tick & 3];
  Vec3 a = (rv - old) * (0.25f * 128) + Vec3{0, 32, 0};
  if (v3_len2(a) > 1893376) start_crash(b);  // 43 g
}

// Where the loose rider's feet are: below the hips by the leg's length, in the rider's pose.
static Vec3 foot_point(const Bike *b, Vec3 hip) {
  const BikeModel *m = b->model;
  float leg = (m->thigh_length + m->shin_length) * 0.9f;
  return body_point(b->bodies[RIDER_BODY], hip.x, hip.y - leg, hip.z);
}

void start_crash(Bike *b) {
  dJointAttach(b->joints[RIDER_JOINT], 0, 0);
  dBodyID rider = b->bodies[RIDER_BODY];
  dVector3 v;
  b->left_foot = foot_point(b, b->model->left_hip);
  b->right_foot = foot_point(b, b->model->right_hip);
  dBodyGetPointVel(rider, b->left_foot.x, b->left_foot.y, b->left_foot.z, v);
  b->left_foot_velocity = v3(v);
  dBodyGetPointVel(rider, b->right_foot.x, b->right_foot.y, b->right_foot.z, v);
  b->right_foot_velocity = v3(v);
  int slot = b->crash_count < CRASH_PENALTY_SLOTS - 1 ? b->crash_count : CRASH_PENALTY_SLOTS - 1;
  b->crash_timer = s_crash.penalty_ticks[slot] + 512;
  b->crash_count++;
  // The rider no longer holds the controls.
  b->controls.throttle = b->controls.dab = b->controls.back_up = b->controls.lean = 0;
}

// A one-sided spring of 5000 lb/ft with 500 lb*s/ft damping that only pulls when the two
// points are further apart than `length`.
static void tether(dBodyID a, Vec3 pa_local, dBodyID b, Vec3 pb_local, float length) {
  Vec3 pa = body_point(a, pa_local.x, pa_local.y, pa_local.z);
  Vec3 pb = body_point(b, pb_local.x, pb_local.y, pb_local.z);
  Vec3 d = pb - pa;
  float len = vec3_length(d);
  if (len <= length) return;
  SoftContact c;
  memset(&c, 0, sizeof c);
  c.point = pa;
  c.normal = d * (1 / len);
  c.depth = len - length;
  c.kp = 5000, c.kd = 500;
  soft_contact(&c, a, b);
}

float return_tether_length(int timer) { return 5 * clampf((timer - 128) / 384.0f, 0, 1); }

void crashed_rider_step(Bike *b) {
  if (b->crash_timer <= 0) return;
  const BikeModel *m = b->model;
  dBodyID rider = b->bodies[RIDER_BODY], frame = b->bodies[FRAME_BODY];
  dBodyID fork = b->bodies[FORK_UPPER_BODY];
  if (body_speed(rider) >= 2) {
    float arm = (m->upper_arm_length + m->forearm_length) * 0.875f;
    tether(rider, m->left_shoulder, fork, m->left_grip, arm);
    tether(rider, m->right_shoulder, fork, m->right_grip, arm);
    if (b->crash_timer > 511)
      tether(rider, Vec3{0, m->right_hip.y, m->right_hip.z}, fork,
             Vec3{0, m->right_grip.y, m->right_grip.z + 10}, 8);
    if (b->shapes[RIDER_BODY]) {
      // The thrown rider bounces off the bike.
      float rr[9], fr[9], ur[9];
      const dReal *r;
      r = dBodyGetRotation(rider);
      for (int i = 0; i < 9; i++) rr[i] = (float)r[(i / 3) * 4 + i % 3];
      r = dBodyGetRotation(frame);
      for (int i = 0; i < 9; i++) fr[i] = (float)r[(i / 3) * 4 + i % 3];
      r = dBodyGetRotation(fork);
      for (int i = 0; i < 9; i++) ur[i] = (float)r[(i / 3) * 4 + i % 3];
      if (b->shapes[FRAME_BODY])
        shape_vs_shape(b->shapes[RIDER_BODY], rider, body_position(rider), rr,
                       b->shapes[FRAME_BODY], frame, body_position(frame), fr, COLLIDE_JOINT);
      if (b->shapes[FORK_UPPER_BODY])
        shape_vs_shape(b->shapes[RIDER_BODY], rider, body_position(rider), rr,
                       b->shapes[FORK_UPPER_BODY], fork, body_position(fork), ur,
                       COLLIDE_JOINT);
    }
  } else {
    b->crash_timer--;
  }
  Vec3 seat = m->rider_position - m->frame_position;
  if (b->crash_timer <= 511) {
    // Pulled back to the seat and upright as the count runs out.
    float length = return_tether_length(b->crash_timer);
    tether(frame, seat, rider, Vec3{0, 0, 0}, length);
    tether(frame, seat + Vec3{-5, 10, 0}, rider, Vec3{-5, 10, 0}, length);
    tether(frame, seat + Vec3{5, 10, 0}, rider, Vec3{5, 10, 0}, length);
  }
  if (b->crash_timer == 0) {
    Vec3 p = body_point(frame, seat.x, seat.y, seat.z);
    dBodySetPosition(rider, p.x, p.y, p.z);
    dBodySetRotation(rider, dBodyGetRotation(frame));
    dJointAttach(b->joints[RIDER_JOINT], rider, frame);
  }
}

void crashed_feet_step(Bike *b, const Terrain *terrain) {
  const float h = (float)TICK;
  if (b->crash_timer <= 0) {
    b->dab_extension = fmaxf(0, b->dab_extension - 4 * h);
    return;
  }
  const BikeModel *m = b->model;
  dBodyID rider = b->bodies[RIDER_BODY], frame = b->bodies[FRAME_BODY];
  if (b->crash_timer <= 319) {
    // The foot on the high side reaches for the frame above its peg.
    int left = roll_angle(frame) < 0;
    Vec3 peg = left ? m->left_peg : m->right_peg;
    Vec3 target = body_point(frame, peg.x, peg.y + 3, peg.z + 1);
    Vec3 *foot = left ? &b->left_foot : &b->right_foot;
    Vec3 v = (target - *foot) * 128;
    float len = vec3_length(v);
    if (len > 4) v = v * (4 / len);
    (left ? b->left_foot_velocity : b->right_foot_velocity) = v;
  }
  Vec3 down = body_vector(rider, 0, -1, 0);
  Vec3 rv = body_velocity(rider);
  for (int k = 0; k < 2; k++) {
    Vec3 *foot = k ? &b->right_foot : &b->left_foot;
    Vec3 *vel = k ? &b->right_foot_velocity : &b->left_foot_velocity;
    Vec3 hip_local = k ? m->right_hip : m->left_hip;
    *foot = *foot + *vel * h;
    vel->y -= 32 * h;
    float ground = terrain ? terrain_height(terrain, foot->x, foot->z) : -1e30f;
    if (foot->y < ground + 0.25f) {
      foot->y = ground + 0.25f;
      *vel = Vec3{0, 0, 0};
    }
    *vel = *vel * 0.9375f;
    Vec3 hip = body_point(rider, hip_local.x, hip_local.y, hip_local.z);
    float leg = m->thigh_length + m->shin_length;
    Vec3 d = *foot - hip;
    float len = vec3_length(d);
    if (len > leg) {
      Vec3 u = d * (1 / len);
      *foot = hip + u * leg;
      *vel = *vel - u * vec3_dot(*vel, u) + u * vec3_dot(rv, u);
    }
    // Below the plane through the hip moved along the rider's down axis.
    Vec3 plane = hip + down;
    float side = vec3_dot(*foot - plane, down);
    if (side < 0) {
      *foot = *foot - down * side;
      *vel = *vel - down * vec3_dot(*vel, down) + down * vec3_dot(rv, down);
    }
  }
}
