// Auto pilot: picks learnt lines section by section into a route and rides the robot's bike
// along it: the starting gate, following, getting unstuck and slowing down after the finish.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "platform/velk.h"
#include "robot/robot_local.h"
#include "terrain/terrain.h"
#include "track/track.h"

namespace {

constexpr float PI = 3.14159265358979f;
constexpr float GRAVITY = 32;         // ft/s^2
constexpr int FIRST_PICK_ADVANCE = 3840;  // tick of 30 s
constexpr int BLOCKED_TICKS = 256;        // 2 s standing still in recovery: blocked
constexpr int BACK_UP_TICKS = 256;        // then 2 s of backing away

const Personality PERSONALITIES[PERSONALITY_COUNT] = {
    {"empty", 0, 0, 0, 0, 0},
    {"corvel", 0, 0, 1, 0.2f, 0.4f},
    {"torvik", 2, 1, 10, 0.2f, 0.4f},
    {"halden", 1, 0, 10, 0, 0.1f},
    {"tester", 3, 3, 1, 0.2f, 0.4f},
};

// ---- per session: every racer's learning and auto pilot record ----
struct PilotState {
  RobotRacer racers[MAX_RACERS];
  int initialised;
};
PilotState g_pilot;

// ---- per program: the hook the sampling rides on ----
void (*g_physics_step)(Bike *, int) = nullptr;

float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }


void init_racers() {
  if (g_pilot.initialised) return;
  for (RobotRacer &rr : g_pilot.racers) {
    growable_init(&rr.buffers[0], sizeof(LinePoint));
    growable_init(&rr.buffers[1], sizeof(LinePoint));
    growable_init(&rr.route, sizeof(LinePoint));
  }
  g_pilot.initialised = 1;
}

LinePoint *route_points(RobotRacer *rr) { return (LinePoint *)rr->route.data; }

float uniform(RobotRacer *rr) { return (float)(mt_next(&rr->random) / 4294967296.0); }

double now_seconds() { return session_clock()->tick * TICK; }

float horizontal_distance(Vec3 a, const LinePoint &p) {
  return std::hypot(p.x - a.x, p.z - a.z);
}

// Horizontal push toward a velocity, the rider-control assist's hold rule.
void hold(dBodyID body, float force, Vec3 target) {
  const dReal *v = dBodyGetLinearVel(body);
  float ex = (float)v[0] - target.x, ey = (float)v[1] - target.y, ez = (float)v[2] - target.z;
  float e = std::sqrt(ex * ex + ey * ey + ez * ez);
  if (e * e < 0.0625f) return;
  float b = clampf((e - 0.25f) * 0.8f, 0, 1);
  dBodyAddForce(body, -b * force * ex / e, 0, -b * force * ez / e);
}

// Drops route points so that at most 30 lie behind the target.
void trim_route(RobotRacer *rr) {
  int drop = rr->target - 30;
  if (drop <= 0) return;
  LinePoint *p = route_points(rr);
  memmove(p, p + drop, sizeof(LinePoint) * (size_t)(rr->route.count - drop));
  rr->route.count -= drop;
  rr->target -= drop;
}

void append_line(RobotRacer *rr, const Bike *bike, const LineSlot *line) {
  trim_route(rr);
  int was_empty = rr->route.count == 0;
  if (was_empty)
    for (int i = 0; i < 5; i++) growable_push(&rr->route, &line->points[0]);
  int n_old = rr->route.count;
  LinePoint *p = route_points(rr);
  const LinePoint &first = line->points[0];
  if (p[n_old - 1].speed >= 0 && first.speed >= 0) {
    // Replace up to five old points after the target with a curve into the new line.
    int k = n_old - 1 - rr->target;
    if (k > 5) k = 5;
    if (k > n_old - 1) k = n_old - 1;
    if (k > 0) {
      int base = n_old - 1 - k;  // the point before the replaced ones
      const LinePoint &p0 = p[base];
      float n = (float)(k + 1);
      Vec3 t0, t1 = vec3(0, 0, 0);
      if (was_empty) {
        Vec3 f = frame_axis(bike, 2) * -1.0f;
        t0 = f * (7.5f * n);
      } else if (base >= 1) {
        t0 = vec3(p0.x - p[base - 1].x, p0.y - p[base - 1].y, p0.z - p[base - 1].z) * n;
      } else {
        t0 = vec3(first.x - p0.x, first.y - p0.y, first.z - p0.z);
      }
      if (line->count >= 2)
        t1 = vec3(line->points[1].x - first.x, line->points[1].y - first.y,
                  line->points[1].z - first.z) * n;
      for (int i = 1; i <= k; i++) {
        float t = i / n, t2 = t * t, t3 = t2 * t;
        float h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2,
              h11 = t3 - t2;
        LinePoint &q = p[base + i];
        float old_speed = q.speed;
        q.x = h00 * p0.x + h10 * t0.x + h01 * first.x + h11 * t1.x;
        q.y = h00 * p0.y + h10 * t0.y + h01 * first.y + h11 * t1.y;
        q.z = h00 * p0.z + h10 * t0.z + h01 * first.z + h11 * t1.z;
        float speed = p0.speed + (first.speed - p0.speed) * t;
        q.speed = speed < old_speed ? speed : old_speed;
        q.lean = p0.lean + (first.lean - p0.lean) * t;
      }
    }
  }
  for (int i = 0; i < line->count; i++) growable_push(&rr->route, &line->points[i]);
}

// ---- the speed controller ----
struct Output {
  float throttle, clutch, front_brake, rear_brake, steer, sit;
  float back_up;
};

void speed_control(const Bike *bike, float s, float wanted, Output *o) {
  int down = bike->crash_timer > 0;
  if (bike->rear.depth > 0) {
    if (s < wanted - 1) {
      o->throttle = 1;
      o->front_brake = o->rear_brake = 0;
    } else if (s < wanted) {
      o->throttle = 1 - (s - wanted + 1);
      o->front_brake = o->rear_brake = 0;
    } else {
      o->throttle = 0;
      o->front_brake = o->rear_brake = clampf(s - wanted, 0, 1);
    }
    if (down) o->throttle = 0;
    if (bike->gear > 0) {
      o->clutch = 1;
    } else {
      float rpm = bike->engine_speed * 9.549296585513721f;
      float r = bike->settings.auto_clutch_rpms;
      o->clutch = clampf((rpm - (r - 1000)) / 1000, 0, 1);
    }
    return;
  }
  // In the air: level the bike with the throttle (the wheel's gyroscope) and the clutch.
  o->front_brake = o->rear_brake = 0;
  o->clutch = 1;
  dBodyID frame = bike->bodies[FRAME_BODY];
  const dReal *w = dBodyGetAngularVel(frame);
  Vec3 right = frame_axis(bike, 0);
  float pitch_rate = (float)(w[0] * right.x + w[1] * right.y + w[2] * right.z);  // > 0 nose up
  float front = (float)dBodyGetPosition(bike->bodies[FRONT_WHEEL_BODY])[1];
  float rear = (float)dBodyGetPosition(bike->bodies[REAR_WHEEL_BODY])[1];
  if (pitch_rate < -PI / 4 || front > rear) {
    o->throttle = 1;
    o->clutch = 0.125f;
  } else if (front < rear - 1 && pitch_rate >= -PI / 8) {
    o->throttle = 0;
    o->clutch = 0;
  }
  if (down) o->throttle = 0;
}

void write_controls(Bike *bike, const Output &o) {
  set_throttle(bike, o.throttle);
  set_clutch(bike, o.clutch);
  set_front_brake(bike, o.front_brake);
  set_rear_brake(bike, o.rear_brake);
  set_steer(bike, o.steer);
  set_dab(bike, o.sit);
  set_lean(bike, 0);
  set_back_up(bike, o.back_up);
}

// ---- the start ----
void hold_at_gate(Bike *bike, float throttle, Output *o) {
  int down = bike->crash_timer > 0;
  o->clutch = 0;
  o->front_brake = o->rear_brake = 1;
  o->steer = 0;
  bike->gear = 0;
  o->sit = down ? 0 : 1;
  o->throttle = down ? 0 : throttle;
}

// Returns 0 once the launch is over (the follower takes the bike).
int start_procedure(Racer *racer, RobotRacer *rr, Output *o) {
  Bike *bike = racer->bike;
  const SessionClock *c = session_clock();
  const Personality *pers = personality_at(rr->personality);
  double now = now_seconds();
  double mark5 = c->gate_lead * TICK;
  double start = c->start_tick * TICK;
  if (now < mark5) {
    if (rr->reaction_mark == 0) rr->reaction_mark = 2.0 * uniform(rr);
    if (rr->reaction_mark > 0) {
      if (now >= rr->reaction_mark) rr->reaction_mark = -(now + 0.25 + 0.5 * uniform(rr));
    } else if (now >= -rr->reaction_mark) {
      double next = now + 2 + 0.5 * uniform(rr);
      rr->reaction_mark = next < mark5 ? next : mark5;
    }
    hold_at_gate(bike, rr->reaction_mark < 0 ? 1.0f : 0.0f, o);
    return 1;
  }
  if (rr->reaction_mark <= mark5) rr->reaction_mark = mark5 + 0.125 + 0.375 * uniform(rr);
  if (rr->reaction_mark < start) {
    if (now < rr->reaction_mark) {
      hold_at_gate(bike, 0, o);
      return 1;
    }
    rr->reaction_mark = start + pers->reaction_min +
                        uniform(rr) * (pers->reaction_max - pers->reaction_min);
  }
  if (now < rr->reaction_mark) {
    hold_at_gate(bike, 1, o);
    return 1;
  }
  if (now > rr->reaction_mark + 2) return 0;
  float a = clampf((float)(4 * (now - rr->reaction_mark)), 0, 1);
  o->throttle = 1;
  o->clutch = a;
  o->sit = 1 - a;
  o->front_brake = o->rear_brake = 0;
  o->steer = 0;
  if (a < 0.75f) {
    bike->gear = 0;
    bike->setup_flags &= (uint8_t)~SETUP_AUTO_SHIFT;
  }
  return 1;
}

// The robot rides with the arcade lean control, as a player does by default: the steer
// input sets the roll the rider control holds (-steer * pi/4), so the wanted lean gives
// the steer, corrected by the lean error and damped by the roll rate.
float lean_steer(Bike *bike, float wanted_lean, float lean) {
  if (!bike_arcade_disabled()) bike->setup_flags2 |= SETUP2_ARCADE;
  const dReal *av = dBodyGetAngularVel(bike->bodies[FRAME_BODY]);
  Vec3 back = frame_axis(bike, 2);
  float roll_rate = (float)(av[0] * back.x + av[1] * back.y + av[2] * back.z);
  return clampf(-wanted_lean * (4 / PI) + (lean - wanted_lean) + 0.3f * roll_rate, -1, 1);
}

// ---- recovery ----
void recovery(Racer *racer, RobotRacer *rr, Output *o) {
  Bike *bike = racer->bike;
  int tick = session_clock()->tick;
  int n = rr->route.count;
  if (n == 0) return;
  if ((tick - rr->last_advance) * TICK > 40) {
    // A new target further on: never back along the route, which would send the robot
    // back through the field, past the gates it has taken.
    rr->mode = 3;
    int ahead = n - 1 - rr->target;
    if (ahead > 0) rr->target += 1 + tick % ahead;
    rr->last_advance = tick;
  }
  const LinePoint &w = route_points(rr)[rr->target];
  int down = bike->crash_timer > 0;
  Vec3 pos = frame_position(bike);
  Vec3 right = frame_axis(bike, 0), back = frame_axis(bike, 2);
  float gx = w.x - pos.x, gy = w.y - pos.y, gz = w.z - pos.z;
  float x = gx * right.x + gy * right.y + gz * right.z;
  float z = gx * back.x + gy * back.y + gz * back.z;  // negative ahead
  // Standing still against a bale, a berm or another bike: back away for a while, turning
  // toward the target, then ride again.
  if (rr->still_ticks >= BLOCKED_TICKS && !down) {
    rr->still_ticks = 0;
    rr->back_up_ticks = BACK_UP_TICKS;
  }
  if (rr->back_up_ticks > 0) {
    rr->back_up_ticks--;
    o->throttle = o->clutch = o->front_brake = o->rear_brake = 0;
    o->sit = 1;
    o->back_up = 1;
    o->steer = clampf(std::atan2(x, -z) * (4 / PI), -1, 1);
    return;
  }
  if ((tick - rr->last_advance) * TICK > 19) {
    dBodyID wheel = bike->bodies[FRONT_WHEEL_BODY];
    const dReal *wp = dBodyGetPosition(wheel);
    float dx = w.x - (float)wp[0], dz = w.z - (float)wp[2];
    float len = std::sqrt(dx * dx + dz * dz);
    if (len > 0) hold(wheel, 2000, vec3(5 * dx / len, 0, 5 * dz / len));
    dBodyAddForce(bike->bodies[FRAME_BODY], 0, 16 * bike->total_mass, 0);
    float bar = (float)dJointGetHingeAngle(bike->joints[STEERING_JOINT]);
    float rate = (float)dJointGetHingeAngleRate(bike->joints[STEERING_JOINT]);
    o->steer = clampf(-(bar + rate) * 0.25f, -1, 1);
    o->sit = down ? 0 : 1;
    o->throttle = o->clutch = o->front_brake = o->rear_brake = 0;
    return;
  }
  // Ride slowly toward the target.
  Vec3 vel = frame_velocity(bike);
  float speed = vec3_length(vel);
  float lean = roll_angle(bike->bodies[FRAME_BODY]);
  float limit = 0.5f, wanted_speed = 15;  // rad, ft/s
  o->sit = 0;
  if (speed < 10) {
    o->sit = down ? 0 : 1;
    if (std::fabs(lean) > 1.0f / 6) {
      limit = 1.0f / 6;
      wanted_speed = 5;
    }
  } else if (speed < 20) {
    limit = (1.0f / 6 + (speed - 10) / 60) * limit;
  }
  // A target to the side or behind is turned to at walking pace: at 15 ft/s the small lean
  // allowed circles around a target that lies inside the turn.
  if (std::fabs(x) > -z) wanted_speed = 5;
  // The lean toward the target: leaning right (negative roll) for a target on the right.
  float want;
  if (std::fabs(x) > -z) want = x > 0 ? -limit : limit;
  else want = clampf(-x * 0.5f / -z, -limit, limit);
  o->steer = lean_steer(bike, want, lean);
  speed_control(bike, speed, wanted_speed, o);
  // Back to following once the target is well ahead or a jump is near.
  float place = route_place(rr, bike);
  int airborne_near = 0;
  const LinePoint *p = route_points(rr);
  for (int i = place < 0 ? 0 : (int)place; i < n && i <= (int)place + 8; i++)
    if (p[i].speed < 0) airborne_near = 1;
  if (!(-z >= 4 * std::fabs(x)) && !airborne_near) rr->mode = 3;
}

// ---- the follower ----
// The point a given distance (ft, horizontal) ahead of a place along the route.
LinePoint route_ahead(RobotRacer *rr, float place, float distance) {
  const LinePoint *p = route_points(rr);
  int n = rr->route.count;
  int i = (int)place;
  if (i >= n - 1) return p[n - 1];
  float f = place - i;
  LinePoint at = p[i];
  at.x += (p[i + 1].x - p[i].x) * f;
  at.y += (p[i + 1].y - p[i].y) * f;
  at.z += (p[i + 1].z - p[i].z) * f;
  for (int k = i + 1; k < n; k++) {
    float d = std::hypot(p[k].x - at.x, p[k].z - at.z);
    if (d >= distance) {
      float t = distance / d;
      LinePoint q = p[k];
      q.x = at.x + (p[k].x - at.x) * t;
      q.y = at.y + (p[k].y - at.y) * t;
      q.z = at.z + (p[k].z - at.z) * t;
      return q;
    }
    distance -= d;
    at = p[k];
  }
  return p[n - 1];
}

void follower(Racer *racer, int slot, RobotRacer *rr, Output *o) {
  Bike *bike = racer->bike;
  int tick = session_clock()->tick;
  if ((tick - rr->last_advance) * TICK > 3) {
    rr->mode = 3;
    return;
  }
  o->sit = 0;
  const LinePoint *p = route_points(rr);
  int n = rr->route.count;
  float place = route_place(rr, bike);
  if (place < 0) place = 0;
  float route_speed = route_speed_at(rr, place);
  float wanted = route_speed;
  Vec3 pos = frame_position(bike), vel = frame_velocity(bike);
  Vec3 forward = frame_axis(bike, 2) * -1.0f;
  float fh = std::hypot(forward.x, forward.z);
  Vec3 fwd = fh > 0 ? vec3(forward.x / fh, 0, forward.z / fh) : vec3(0, 0, -1);
  Vec3 rgt = vec3(-fwd.z, 0, fwd.x);
  float speed = vec3_length(vel);

  // Time to take-off: the first pair of airborne points within the next 20.
  float takeoff = 1000000;
  int base = (int)place;
  for (int i = base; i + 1 < n && i < base + 20; i++) {
    if (p[i].speed < 0 && p[i + 1].speed < 0) {
      float d = std::hypot(p[i].x - pos.x, p[i].z - pos.z);
      takeoff = 0.25f * (i - base) + d / (speed > 1 ? speed : 1);
      break;
    }
  }

  // Aim point: a look-ahead distance that grows with speed (pure pursuit).
  float look = clampf(0.5f * speed + 6, 8, 40);
  LinePoint aim = route_ahead(rr, place, look);
  float ax = aim.x - pos.x, az = aim.z - pos.z;
  float ahead = ax * fwd.x + az * fwd.z, side = ax * rgt.x + az * rgt.z;
  float dist2 = ax * ax + az * az;
  float angle = std::atan2(side, ahead);  // rad, > 0 to the right
  float curvature = dist2 > 1 ? 2 * side / dist2 : 0;  // 1/ft, > 0 turning right
  float v = speed > 2 ? speed : 2;
  // Balanced lean: right turns lean right (negative roll).
  const float max_lean = 0.7f;  // rad, the most the follower asks for
  float wanted_lean = clampf(-std::atan(v * v * curvature / GRAVITY), -max_lean, max_lean);
  // Too fast for the turn at the largest lean: slow down to the balanced speed.
  // (Never below a crawl: off the line at low speed the aim point turns tight, and a
  // robot that slows for it would stall.)
  if (std::fabs(curvature) > 1e-4f) {
    float balanced = std::sqrt(GRAVITY * std::tan(max_lean) / std::fabs(curvature));
    float crawl = wanted < 15 ? wanted : 15;
    if (balanced < wanted) wanted = balanced > crawl ? balanced : crawl;
  }

  // Limit the lean against the ground's bank at the next five points.
  const Terrain *terrain = terrain_current();
  int limited = 0;
  for (int i = base + 1; i < n && i <= base + 5 && terrain && terrain->heights; i++) {
    Vec3 normal;
    terrain_normal(terrain, p[i].x, p[i].z, &normal);
    float bank = std::atan2(-(normal.x * rgt.x + normal.z * rgt.z), normal.y);  // rad, > 0 left
    float lo = bank - 3 * PI / 8, hi = bank + 3 * PI / 8;
    if (wanted_lean < lo || wanted_lean > hi) {
      wanted_lean = clampf(wanted_lean, lo, hi);
      limited = 1;
    }
  }
  if (limited && std::fabs(curvature) > 1e-4f) {
    float balanced = std::sqrt(GRAVITY * std::fabs(std::tan(wanted_lean)) / std::fabs(curvature));
    if (balanced < wanted) wanted = balanced;
    rr->lean_limit_tick = tick;
  }

  // Follow the nearest racer in the path ahead.
  float path_length = speed * 1.0f + 8;
  float nearest = path_length;
  float nearest_speed = -1;
  int racers = racer_count();  // not in the loop: it scans the slot table
  for (int other = 0; other < racers; other++) {
    const Racer *q = racer_at(other);
    if (other == slot || !q->bike || q->bike->presence <= 0) continue;
    Vec3 qp = frame_position(q->bike);
    float dx = qp.x - pos.x, dz = qp.z - pos.z;
    float along = dx * fwd.x + dz * fwd.z, across = dx * rgt.x + dz * rgt.z;
    if (along < 2 || along > path_length || std::fabs(across) > 3) continue;
    if (along < nearest) {
      nearest = along;
      Vec3 qv = frame_velocity(q->bike);
      nearest_speed = qv.x * fwd.x + qv.z * fwd.z;
    }
  }
  if (nearest_speed >= 0) {
    float follow = nearest_speed + (nearest - 6) * 0.5f;
    if (follow < wanted) wanted = follow < 0 ? 0 : follow;
  }

  // Into a take-off: keep the line's speed and straighten up.
  if (takeoff < 3) {
    float keep = route_speed + 2;
    if (wanted < keep) wanted = keep;
    float k = clampf((3 - takeoff) / 2, 0, 1);
    wanted_lean *= 1 - k;
  }

  // Steering from the lean error, with a feed-forward of the balanced lean; at walking
  // pace straight toward the aim point.
  float lean = roll_angle(bike->bodies[FRAME_BODY]);
  float steer_lean = lean_steer(bike, wanted_lean, lean);
  float steer_heading = clampf(angle * 2, -1, 1);
  float blend = clampf((speed - 2) / 2, 0, 1);
  o->steer = steer_heading + (steer_lean - steer_heading) * blend;
  float lock = (1 + 4 * clampf(std::fabs(angle) / PI, 0, 1));  // degrees
  if (lock > 45) lock = 45;
  set_full_lock_speed(bike, 1);
  set_restricted_lock_speed(bike, 50);
  set_restricted_lock(bike, lock);

  speed_control(bike, speed, wanted, o);
  // Traction and rate limit on the throttle.
  float traction = 1;
  if (bike->front.depth > 0) {
    Vec3 sv = bike->front.point_velocity;
    float slide = std::sqrt(sv.x * sv.x + sv.z * sv.z);
    traction = clampf((16 - slide) / 16, 0, 1);
  }
  float blend_t = clampf((speed - 7.5f) / 2.5f, 0, 1);
  traction = 1 + (traction - 1) * blend_t;
  float throttle = o->throttle * traction;
  float last = rr->throttle_memory;
  if ((tick - rr->lean_limit_tick) * TICK < 0.125 && rr->lean_limit_tick > 0) {
    if (throttle > last) throttle = last;
    if (throttle < last - 1.0f / 32) throttle = last - 1.0f / 32;
  } else if (throttle > last + 1.0f / 32) {
    throttle = last + 1.0f / 32;
  }
  if (bike->crash_timer > 0) throttle = 0;
  o->throttle = throttle;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Shared measurements
// ---------------------------------------------------------------------------------------
RobotRacer *robot_racer(int slot) {
  if (slot < 0 || slot >= MAX_RACERS) return nullptr;
  init_racers();
  return &g_pilot.racers[slot];
}

Vec3 frame_position(const Bike *bike) {
  const dReal *p = dBodyGetPosition(bike->bodies[FRAME_BODY]);
  return vec3((float)p[0], (float)p[1], (float)p[2]);
}

Vec3 frame_velocity(const Bike *bike) {
  const dReal *v = dBodyGetLinearVel(bike->bodies[FRAME_BODY]);
  return vec3((float)v[0], (float)v[1], (float)v[2]);
}

Vec3 frame_axis(const Bike *bike, int column) {
  const dReal *r = dBodyGetRotation(bike->bodies[FRAME_BODY]);
  return vec3((float)r[column], (float)r[4 + column], (float)r[8 + column]);
}

float route_place(const RobotRacer *rr, const Bike *bike) {
  int n = rr->route.count;
  if (n == 0) return -1;
  const LinePoint *p = (const LinePoint *)rr->route.data;
  Vec3 c = frame_position(bike), f = frame_axis(bike, 2) * -1.0f;
  int i = rr->target - 1;
  if (i > n - 1) i = n - 1;
  while (i >= 0 && (p[i].x - c.x) * f.x + (p[i].y - c.y) * f.y + (p[i].z - c.z) * f.z >= 0) i--;
  if (i < 0) return 0;
  if (i >= n - 1) return (float)(n - 1);
  float a = (p[i].x - c.x) * f.x + (p[i].y - c.y) * f.y + (p[i].z - c.z) * f.z;
  float b = (p[i + 1].x - c.x) * f.x + (p[i + 1].y - c.y) * f.y + (p[i + 1].z - c.z) * f.z;
  float t = b - a > 0 ? -a / (b - a) : 0;
  return i + clampf(t, 0, 1);
}

float route_speed_at(const RobotRacer *rr, float place) {
  int n = rr->route.count;
  if (n == 0) return 0;
  const LinePoint *p = (const LinePoint *)rr->route.data;
  if (place <= 0) return std::fabs(p[0].speed);
  int i = (int)place;
  if (i >= n - 1) return std::fabs(p[n - 1].speed);
  float f = place - i;
  return std::fabs(p[i].speed) + (std::fabs(p[i + 1].speed) - std::fabs(p[i].speed)) * f;
}

// ---------------------------------------------------------------------------------------
// Personalities
// ---------------------------------------------------------------------------------------
const Personality *personality_at(int index) {
  return index >= 0 && index < PERSONALITY_COUNT ? &PERSONALITIES[index] : nullptr;
}

int personality_index(const char *name) {
  for (int i = 1; i < PERSONALITY_COUNT; i++)
    if (name && !strcmp(name, PERSONALITIES[i].name)) return i;
  velk_log("auto pilot personality '%s' not found\n", name ? name : "");
  return 1;
}

void set_personality(Racer *racer, int slot, const char *name) {
  RobotRacer *rr = robot_racer(slot);
  if (!rr) return;
  rr->personality = personality_index(name);
  if (racer) racer->auto_pilot = rr;
}

int racer_personality(int slot) {
  RobotRacer *rr = robot_racer(slot);
  return rr ? rr->personality : 0;
}

// ---------------------------------------------------------------------------------------
// Picking lines
// ---------------------------------------------------------------------------------------
float leader_gap(int slot) {
  int count;
  const RunningOrder *order = running_order(&count);
  if (count < 2 || order[0].slot != slot) return 0;
  const RacerTiming *mine = racer_timing(slot), *second = racer_timing(order[1].slot);
  if (!mine || !second || second->next_gate <= 0) return 0;
  int gate = second->next_gate - 1;
  int32_t a = crossing_tick(mine, gate), b = crossing_tick(second, gate);
  if (a < 0 || b < 0 || a >= b) return 0;
  return (float)((b - a) * TICK);
}

int pick_cost_type(int slot) {
  const Personality *p = personality_at(racer_personality(slot));
  if (!p) return 0;
  return leader_gap(slot) > p->gap_threshold ? p->far_type : p->near_type;
}

float plan_bonus_share(float t) { return clampf((t - 40) * 0.05f, 0, 1); }

int pick_line(int slot) {
  Racer *racer = racer_at(slot);
  RobotRacer *rr = robot_racer(slot);
  if (!racer || !rr || !racer->bike) return 0;
  int s = rr->next_section;
  int index = line_store_index(s);
  LineSlot *slots = line_slots(index);
  if (!slots) return 0;
  int any = 0;
  for (int i = 0; i < LINE_SLOTS; i++) any |= slots[i].count > 0;
  if (!any) return 0;
  int type = pick_cost_type(slot);
  int tick = session_clock()->tick;

  double best[LINE_SLOTS];
  line_chain_costs(index, 8, type, best);
  double least = LINE_NO_CHAIN;
  for (int l = 0; l < LINE_SLOTS; l++)
    if (slots[l].count && best[l] < least) least = best[l];
  const int *plan = line_plan(type);
  float share = plan_bonus_share((float)now_seconds());

  const LinePoint *route = route_points(rr);
  int n = rr->route.count;
  Vec3 pos = frame_position(racer->bike);
  float cx = 0, cz = 0, r = 0, v = 0;
  if (n >= 3) {
    line_circle(&route[n - 3], &route[n - 2], &route[n - 1], &cx, &cz, &r);
    v = std::fabs(route[n - 1].speed);
  }
  int chosen = -1;
  float chosen_total = 0, chosen_quality = 0, chosen_match = 0, chosen_age = 0;
  for (int l = 0; l < LINE_SLOTS; l++) {
    const LineSlot *line = &slots[l];
    if (!line->count) continue;
    float quality = best[l] < 1 ? 1.0f : (float)(least / best[l]);
    if (plan && plan[index] == line->id && line->id)
      quality += share * (1 - quality);
    if (s == 0) quality = 0.2f * quality + 0.8f;
    float match = 0;
    if (n < 3) {
      float c = clampf((100 - horizontal_distance(pos, line->points[0])) / 96, 0, 1);
      match = 10 * c * c * c;
    } else if (line->count >= 2) {
      float d1 = std::hypot(line->points[0].x - cx, line->points[0].z - cz);
      float d2 = std::hypot(line->points[1].x - cx, line->points[1].z - cz);
      float a = clampf((std::fabs(line->points[0].speed) + 15 - v) * 0.2f, 0, 1);
      float b = clampf((5 - std::fabs(r - d1)) * 2.0f / 7, 0, 1) *
                clampf((3 - std::fabs(d2 - d1)) * 0.5f, 0, 1);
      match = a * b * b * b;
    }
    float age = (float)((tick - line->last_picked) * TICK);
    float fresh = clampf(age / 3, 0, 1);
    float total = match + fresh * quality;
    if (chosen < 0 || total > chosen_total) {
      chosen = l;
      chosen_total = total;
      chosen_quality = quality;
      chosen_match = match;
      chosen_age = age;
    }
  }
  if (chosen < 0) return 0;
  LineSlot *line = &slots[chosen];
  if (robot_debug_level() >= 1)
    velk_log("auto pilot: picking %d score = %f match = %f last_picked = %f\n", chosen,
             chosen_quality, chosen_match, chosen_age);
  const LinePoint &end = line->points[line->count - 1];
  for (int l = 0; l < LINE_SLOTS; l++) {
    LineSlot *other = &slots[l];
    if (!other->count) continue;
    const LinePoint &e = other->points[other->count - 1];
    float dx = e.x - end.x, dy = e.y - end.y, dz = e.z - end.z;
    if (l == chosen || dx * dx + dy * dy + dz * dz <= 9) other->last_picked = tick;
  }
  rr->riding[s % 4] = line->id;
  rr->next_section = s + 1;
  append_line(rr, racer->bike, line);
  if (!rr->picked_once) {
    rr->picked_once = 1;
    const LinePoint *q = route_points(rr);
    rr->target = 0;
    for (int i = 0; i < rr->route.count; i++)
      if (std::hypot(q[i].x - q[0].x, q[i].z - q[0].z) > 10) {
        rr->target = i;
        break;
      }
    rr->last_advance = FIRST_PICK_ADVANCE;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// The auto pilot
// ---------------------------------------------------------------------------------------
void auto_pilot_reset(Racer *racer, int slot) {
  RobotRacer *rr = robot_racer(slot);
  if (!rr) return;
  growable_clear(&rr->route);
  for (int &id : rr->riding) id = 0;
  rr->target = 0;
  rr->mode = 0;
  rr->next_section = 0;
  rr->last_advance = 0;
  rr->picked_once = 0;
  rr->reaction_mark = 0;
  rr->throttle_memory = 0;
  rr->lean_limit_tick = 0;
  rr->finished_seen = 0;
  rr->still_ticks = 0;
  rr->back_up_ticks = 0;
  rr->crash_flag = 0;
  rr->crash_seen = 0;
  mt_seed(&rr->random, (uint32_t)(slot * 7919 + session_clock()->tick + 1));
  if (racer) racer->auto_pilot = rr;
}

namespace {
void pilot_tick(Racer *racer, int slot, int pick) {
  RobotRacer *rr = robot_racer(slot);
  Bike *bike = racer->bike;
  const SessionClock *c = session_clock();
  int tick = c->tick;
  bike->setup_flags |= SETUP_STOP_WHEELIES | SETUP_STOP_STOPPIES | SETUP_FRONT_ANTILOCK |
                       SETUP_REAR_ANTILOCK | SETUP_AUTO_SHIFT;

  // After the finish, the rest of the route slows down.
  if (bike->timing && bike->timing->finished && !rr->finished_seen) {
    rr->finished_seen = 1;
    float place = route_place(rr, bike);
    int end = rr->route.count - 1;
    LinePoint *p = route_points(rr);
    if (place >= 0 && end > place)
      for (int i = (int)std::ceil(place); i <= end; i++)
        p[i].speed *= 0.25f + 0.75f * (end - i) / (end - place);
  }

  // 1. Advance the target.
  Vec3 pos = frame_position(bike);
  if (rr->route.count > 0) {
    LinePoint *p = route_points(rr);
    const LinePoint &w = p[rr->target];
    float d = horizontal_distance(pos, w);
    if (d < (rr->mode == 3 ? 30 : 60)) {
      int hold_back = 0;
      if (d > 4 && rr->target > 0) {
        const LinePoint &prev = p[rr->target - 1];
        float sx = w.x - prev.x, sz = w.z - prev.z;
        Vec3 f = frame_axis(bike, 2) * -1.0f;
        if (sx * sx + sz * sz > 1 && f.x * sx + f.z * sz < 0) hold_back = 1;
      }
      if (!hold_back) {
        rr->target++;
        rr->last_advance = tick;
        if (rr->mode > 0) rr->mode--;
        if (rr->target >= rr->route.count) {
          growable_clear(&rr->route);
          rr->target = 0;
        }
      }
    }
  }
  // 2. Keep the route filled.
  if (pick && rr->target >= rr->route.count - 10) pick_line(slot);

  // How long the bike has stood still (under 2 ft/s) since the launch, rider up.
  const dReal *v = dBodyGetLinearVel(bike->bodies[FRAME_BODY]);
  if (tick < c->start_tick + c->gate_lead || bike->crash_timer > 0 || rr->back_up_ticks > 0 ||
      v[0] * v[0] + v[2] * v[2] >= 4)
    rr->still_ticks = 0;
  else
    rr->still_ticks++;

  // 3. The controls.
  Output o = {0, 0, 1, 1, 0, 1, 0};
  if (rr->route.count == 0 || rr->target >= rr->route.count) {
    o.throttle = 0;
    o.clutch = 0;
    o.front_brake = o.rear_brake = 1;
    o.steer = 0;
    o.sit = 1;
  } else if (tick < c->start_tick + c->gate_lead && start_procedure(racer, rr, &o)) {
  } else if (rr->mode > 0) {
    recovery(racer, rr, &o);
  } else {
    follower(racer, slot, rr, &o);
    if (rr->mode > 0) return;  // dropped into recovery: nothing else this tick
  }
  rr->throttle_memory = o.throttle;
  write_controls(bike, o);
}
}  // namespace

void auto_pilot_tick(Racer *racer, int slot) {
  RobotRacer *rr = robot_racer(slot);
  if (!racer || !rr || !racer->bike || rr->personality == 0) return;
  pilot_tick(racer, slot, 1);
}

void ride_route(Racer *racer, int slot) {
  if (!racer || !racer->bike || !robot_racer(slot)) return;
  pilot_tick(racer, slot, 0);
}

// ---------------------------------------------------------------------------------------
// Routes (tools and tests)
// ---------------------------------------------------------------------------------------
const LinePoint *robot_route(int slot, int *count) {
  RobotRacer *rr = robot_racer(slot);
  if (!rr) return nullptr;
  if (count) *count = rr->route.count;
  return rr->route.count ? route_points(rr) : nullptr;
}
void set_riding_line(int slot, int section, int id) {
  RobotRacer *rr = robot_racer(slot);
  if (rr && section >= 0) rr->riding[section % 4] = id;
}
void set_robot_next_section(int slot, int section) {
  RobotRacer *rr = robot_racer(slot);
  if (rr && section >= 0) rr->next_section = section;
}
int riding_line(int slot, int section) {
  RobotRacer *rr = robot_racer(slot);
  return rr && section >= 0 ? rr->riding[section % 4] : 0;
}
int robot_target(int slot) { return robot_racer(slot) ? robot_racer(slot)->target : 0; }
int robot_mode(int slot) { return robot_racer(slot) ? robot_racer(slot)->mode : 0; }
int robot_last_advance(int slot) {
  return robot_racer(slot) ? robot_racer(slot)->last_advance : 0;
}

void set_robot_route(int slot, const LinePoint *points, int count, int target, int last_advance) {
  RobotRacer *rr = robot_racer(slot);
  if (!rr) return;
  growable_clear(&rr->route);
  for (int i = 0; i < count; i++) growable_push(&rr->route, &points[i]);
  rr->target = target;
  rr->last_advance = last_advance;
  rr->picked_once = 1;
}

int reference_line_point(int slot, int ahead, Vec3 *out) {
  Racer *racer = racer_at(slot);
  RobotRacer *rr = robot_racer(slot);
  if (!racer || !rr || !racer->bike) return 0;
  if (rr->personality != 0 && rr->route.count > 0) {
    float place = route_place(rr, racer->bike);
    int i = (int)(place < 0 ? 0 : place) + ahead;
    if (i >= rr->route.count) i = rr->route.count - 1;
    const LinePoint &p = route_points(rr)[i];
    *out = vec3(p.x, p.y, p.z);
    return 1;
  }
  // A rider without auto pilot: the planned line of the section being ridden.
  const RacerTiming *t = racer->bike->timing;
  const int *plan = line_plan(0);
  if (!t || !plan) return 0;
  int index = line_store_index(line_section(t->next_gate));
  if (index < 0) return 0;
  const LineSlot *line = line_by_id(plan[index], nullptr);
  if (!line) {
    const LineSlot *slots = line_slots(index);
    for (int i = 0; i < LINE_SLOTS && !line; i++)
      if (slots[i].count) line = &slots[i];
  }
  if (!line) return 0;
  Vec3 pos = frame_position(racer->bike);
  int nearest = 0;
  float best = 1e30f;
  for (int i = 0; i < line->count; i++) {
    float d = std::hypot(line->points[i].x - pos.x, line->points[i].z - pos.z);
    if (d < best) best = d, nearest = i;
  }
  int i = nearest + ahead < line->count ? nearest + ahead : line->count - 1;
  *out = vec3(line->points[i].x, line->points[i].y, line->points[i].z);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Hooks
// ---------------------------------------------------------------------------------------
namespace {
void sampling_physics_step(Bike *bike, int tick) {
  if (g_physics_step) g_physics_step(bike, tick);
  if (bike) learn_tick(bike->slot);
}

void hook_set_personality(Racer *racer, int slot, const char *name) {
  set_personality(racer, slot, name);
}

// The racer's reference line for the realignment after a fall. The bike's own physics
// step asks for it once per tick for every racer simulated here, before the crossing
// test, which is where the line sampling belongs too.
int hook_line_point(Racer *racer, int slot, Vec3 *out) {
  (void)racer;
  learn_tick(slot);
  return reference_line_point(slot, 4, out);
}

// A session starts: every racer's learning state is wiped before the robots are named.
void hook_lines_load(int skill) {
  for (int slot = 0; slot < MAX_RACERS; slot++) learn_reset_racer(slot);
  lines_load(skill);
}
}  // namespace

void robot_install_hooks() {
  SessionHooks h = *session_hooks();
  h.lines_save = lines_save;
  h.lines_load = hook_lines_load;
  h.set_personality = hook_set_personality;
  h.auto_pilot_reset = auto_pilot_reset;
  h.auto_pilot_tick = auto_pilot_tick;
  h.learn_crossing = learn_crossing;
  h.allocate_lines = allocate_lines;
  h.line_point = hook_line_point;
  if (h.physics_step && h.physics_step != sampling_physics_step) {
    g_physics_step = h.physics_step;
    h.physics_step = sampling_physics_step;
  }
  set_session_hooks(&h);
}

void robot_lines_reset();

void robot_reset() {
  robot_lines_reset();
  init_racers();
  for (RobotRacer &rr : g_pilot.racers) {
    growable_clear(&rr.buffers[0]);
    growable_clear(&rr.buffers[1]);
    growable_clear(&rr.route);
    Growable b0 = rr.buffers[0], b1 = rr.buffers[1], route = rr.route;
    rr = RobotRacer{};
    rr.buffers[0] = b0;
    rr.buffers[1] = b1;
    rr.route = route;
  }
}
