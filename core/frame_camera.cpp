// Cameras of the frame loop: the rider's view, the chase camera, the free and track cameras
// of the camera view, and the smoothed ground height that keeps them above bumps.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "core/frame.h"
#include "terrain/terrain.h"
#include "track/track.h"

constexpr float PI = 3.14159265358979f;

float smoothed_ground_height(const Terrain *t, float x, float z, float r) {
  float s = t->spacing;
  int last = t->samples - 1;
  auto clamp_index = [last](int i) { return i < 0 ? 0 : i > last ? last : i; };
  int c0 = (int)std::floor((x - r) / s), c1 = (int)std::ceil((x + r) / s);
  int r0 = (int)std::floor((z - r) / s), r1 = (int)std::ceil((z + r) / s);
  double sum = 0, weights = 0;
  for (int j = r0; j <= r1; j++) {
    for (int i = c0; i <= c1; i++) {
      float dx = i * s - x, dz = j * s - z;
      float d = std::sqrt(dx * dx + dz * dz);
      float w = d < r ? 1.0f : d < r + s ? (r + s - d) / s : 0.0f;
      if (w <= 0) continue;
      sum += w * t->heights[clamp_index(j) * t->samples + clamp_index(i)];
      weights += w;
    }
  }
  if (weights <= 0) return t->heights[clamp_index(r0) * t->samples + clamp_index(c0)];
  return (float)(sum / weights);
}

// ---- poses ----

static void set_columns(float m[9], Vec3 x, Vec3 y, Vec3 z) {
  const Vec3 c[3] = {x, y, z};
  for (int k = 0; k < 3; k++) {
    m[0 * 3 + k] = c[k].x;
    m[1 * 3 + k] = c[k].y;
    m[2 * 3 + k] = c[k].z;
  }
}

void camera_look_at(Vec3 eye, Vec3 target, float rotation[9]) {
  Vec3 z = vec3_normalize(eye - target);
  if (vec3_length(z) == 0) z = vec3(0, 0, 1);
  Vec3 x = vec3_cross(vec3(0, 1, 0), z);
  if (vec3_length(x) < 1e-6f) x = vec3(1, 0, 0);  // straight up or down
  x = vec3_normalize(x);
  set_columns(rotation, x, vec3_cross(z, x), z);
}

static Vec3 body_point(dBodyID body, Vec3 local) {
  dVector3 w;
  dBodyGetRelPointPos(body, local.x, local.y, local.z, w);
  return vec3((float)w[0], (float)w[1], (float)w[2]);
}

static Vec3 body_axis(dBodyID body, int column) {
  const dReal *r = dBodyGetRotation(body);  // 3 x 4, rows
  return vec3((float)r[column], (float)r[4 + column], (float)r[8 + column]);
}

static Vec3 body_velocity(dBodyID body) {
  const dReal *v = dBodyGetLinearVel(body);
  return vec3((float)v[0], (float)v[1], (float)v[2]);
}

CameraPose first_person_pose(const Bike *bike, float k, float angle_degrees, float fov) {
  CameraPose pose{};
  dBodyID rider = bike->bodies[RIDER_BODY];
  Vec3 seat = vec3(0, 0.5f, -0.4f), helmet = vec3(0, 1.058383f, -1.1933695f);
  pose.position = body_point(rider, seat + (helmet - seat) * k);
  float a = angle_degrees * PI / 180;
  Vec3 x = body_axis(rider, 0), y = body_axis(rider, 1), z = body_axis(rider, 2);
  set_columns(pose.rotation, x, y * std::cos(a) - z * std::sin(a),
              z * std::cos(a) + y * std::sin(a));
  pose.velocity = body_velocity(rider);
  pose.fov = fov;
  return pose;
}

CameraPose chase_camera_pose(const Bike *bike, const ChaseParams *p, const Terrain *terrain,
                             float fov) {
  CameraPose pose{};
  dBodyID frame = bike->bodies[FRAME_BODY];
  Vec3 target = body_point(frame, p->centre);
  Vec3 direction;  // horizontal, from the target to the camera
  if (p->local) {
    Vec3 axis = body_axis(frame, 2) * -1.0f;  // the bike faces -z
    axis.y = 0;
    axis = vec3_normalize(axis);
    Vec3 v = body_velocity(frame);
    v.y = 0;
    float speed2 = vec3_dot(v, v);
    Vec3 forward = axis;
    if (!p->rigid) {
      if (speed2 >= 900) {
        forward = vec3_normalize(v);
      } else {
        float k = std::clamp((std::sqrt(speed2) - 10) * 0.05f, 0.0f, 1.0f);
        Vec3 blend = axis * (1 - k) + vec3_normalize(v) * k;
        if (vec3_length(blend) > 1e-6f) forward = vec3_normalize(blend);
      }
    }
    direction = forward * -1.0f;  // behind the bike
    if (vec3_length(direction) == 0) direction = vec3(0, 0, 1);  // frame standing on end
  } else {
    direction = vec3(std::sin(p->angle), 0, std::cos(p->angle));
  }
  Vec3 eye = target + direction * p->distance;
  eye.y = target.y + p->height;
  if (terrain) eye.y = std::max(smoothed_ground_height(terrain, eye.x, eye.z, 10) + 5, eye.y);
  pose.position = eye;
  camera_look_at(eye, target, pose.rotation);
  pose.velocity = body_velocity(frame);
  pose.fov = fov;
  return pose;
}

static Vec3 view_direction(float yaw, float pitch) {
  return vec3(std::sin(yaw) * std::cos(pitch), std::sin(pitch), std::cos(yaw) * std::cos(pitch));
}

CameraPose view_camera_pose(const ViewCamera *c) {
  CameraPose pose{};
  pose.position = c->position;
  Vec3 z = view_direction(c->yaw, c->pitch) * -1.0f;
  Vec3 x = vec3(-std::cos(c->yaw), 0, std::sin(c->yaw));
  set_columns(pose.rotation, x, vec3_cross(z, x), z);
  pose.fov = c->fov;
  return pose;
}

// ---- the camera view ----

// ---- per run of the loop: free camera, selected track camera, follow mode ----
static struct {
  ViewCamera free_camera;
  ViewCamera track_camera;  // the selected one; its aim is its own
  int selected;             // track camera index, -1 = free camera
  bool newly_selected;      // aim and zoom from the target on the next tick
  bool follow;
  bool dab_was_down;
  bool free_placed;  // the free camera has been put near the target once
} s_cam;

void camera_view_reset(float fov) {
  s_cam = {};
  s_cam.selected = -1;
  s_cam.free_camera.fov = fov;
}

void camera_view_select(int index) {
  if (index < 0 || index >= camera_count()) index = -1;
  if (index == s_cam.selected) return;
  s_cam.selected = index;
  if (index < 0) return;
  const TrackCamera *tc = camera_at(index);
  ViewCamera &c = s_cam.track_camera;
  c = ViewCamera{};
  c.position = vec3(tc->x, tc->y, tc->z);
  c.fov = tc->fov;
  c.zoom_size = tc->autofov_size;
  s_cam.newly_selected = true;
}

int camera_view_selected() { return s_cam.selected; }
bool camera_view_follow() { return s_cam.follow; }
ViewCamera *camera_view_free() { return &s_cam.free_camera; }
const ViewCamera *camera_view_active() {
  return s_cam.selected >= 0 ? &s_cam.track_camera : &s_cam.free_camera;
}

static float wrap_angle(float a) {  // to (-pi, pi]
  a = std::fmod(a, 2 * PI);
  if (a > PI) a -= 2 * PI;
  if (a <= -PI) a += 2 * PI;
  return a;
}

static float bearing(Vec3 from, Vec3 to) { return std::atan2(to.x - from.x, to.z - from.z); }
static float elevation(Vec3 from, Vec3 to) {
  Vec3 d = to - from;
  return std::atan2(d.y, std::sqrt(d.x * d.x + d.z * d.z));
}

// The rate that follows an angle: how fast it moves over one tick plus the error, the rate
// term dropped when it would turn against the error.
static float follow_rate(float now, float next, float error) {
  float rate = std::clamp(wrap_angle(next - now) / (float)TICK, -2 * PI, 2 * PI);
  if ((rate > 0 && error < 0) || (rate < 0 && error > 0)) rate = 0;
  return rate;
}

static float approach(float value, float goal, float step) {
  if (value < goal) return std::min(goal, value + step);
  return std::max(goal, value - step);
}

void camera_view_tick(const float ch[CHANNEL_COUNT], const CameraTarget *target,
                      const Terrain *terrain) {
  const float tick = (float)TICK;
  ViewCamera &fc = s_cam.free_camera;
  if (!s_cam.free_placed && target && target->valid) {
    // First use: behind and above the racer, looking at it.
    fc.position = target->position + vec3(0, 10, 20);
    fc.yaw = bearing(fc.position, target->position);
    fc.pitch = elevation(fc.position, target->position);
    s_cam.free_placed = true;
  } else if (!s_cam.free_placed && terrain) {
    // No racer to look at: above the middle of the field, looking north.
    float half = terrain->extent / 2;
    fc.position = vec3(half, smoothed_ground_height(terrain, half, half, 10) + 20, half);
    fc.yaw = PI;
    s_cam.free_placed = true;
  }

  // 1. The free camera's speed along its view.
  if (s_cam.selected < 0) {
    if (ch[CHANNEL_THROTTLE] > 0.5f) fc.speed = std::min(100.0f, fc.speed + 80 * tick);
    if (ch[CHANNEL_FRONT_BRAKE] > 0.5f) fc.speed = std::max(-100.0f, fc.speed - 80 * tick);
    fc.speed = approach(fc.speed, 0, 60 * tick);
    if (std::fabs(fc.speed) > 0.0001f) {
      fc.position = fc.position + view_direction(fc.yaw, fc.pitch) * (fc.speed * tick);
      if (terrain)
        fc.position.y = std::max(fc.position.y,
                                 smoothed_ground_height(terrain, fc.position.x, fc.position.z, 10) + 2);
    }
  }

  // 2. Follow mode: a dab press flips it; it keeps the camera of the racer's gate selected.
  bool dab_down = ch[CHANNEL_DAB] >= 0.5f;
  if (dab_down && !s_cam.dab_was_down) s_cam.follow = !s_cam.follow;
  s_cam.dab_was_down = dab_down;
  if (s_cam.follow && target && target->valid && target->gate_camera >= 0 &&
      target->gate_camera != s_cam.selected)
    camera_view_select(target->gate_camera);

  // 3. Aiming.
  ViewCamera &c = s_cam.selected >= 0 ? s_cam.track_camera : fc;
  bool aims = target && target->valid;
  bool fresh = s_cam.selected >= 0 && s_cam.newly_selected;
  if (fresh && aims) {  // a newly selected camera starts aimed at the target
    c.yaw = bearing(c.position, target->position);
    c.pitch = elevation(c.position, target->position);
  }
  float want_yaw, want_pitch;
  if (s_cam.follow && aims) {
    Vec3 next = target->position + target->velocity * tick;
    float b = bearing(c.position, target->position), e = elevation(c.position, target->position);
    float yaw_error = std::clamp(wrap_angle(b - c.yaw), -PI / 2, PI / 2);
    float pitch_error = std::clamp(wrap_angle(e - c.pitch), -PI / 2, PI / 2);
    want_yaw = follow_rate(b, bearing(c.position, next), yaw_error) + yaw_error;
    want_pitch = follow_rate(e, elevation(c.position, next), pitch_error) + pitch_error * PI / 4;
  } else {
    want_yaw = ch[CHANNEL_STEER] * 3 * PI / 8;
    want_pitch = ch[CHANNEL_SHIFT] * PI / 4;
  }
  if (fresh && aims) {
    c.yaw_rate = want_yaw;
    c.pitch_rate = want_pitch;
  } else {
    c.yaw_rate = approach(c.yaw_rate, want_yaw, PI * tick);
    c.pitch_rate = approach(c.pitch_rate, want_pitch, PI * tick);
  }
  c.yaw = wrap_angle(c.yaw + c.yaw_rate * tick);
  c.pitch = std::clamp(c.pitch + c.pitch_rate * tick, -PI / 2, PI / 2);

  // 4. Zoom: frame the zoom size at the target's distance.
  if (c.zoom_size > 0 && aims) {
    float distance = vec3_length(target->position - c.position);
    float want = 2 * std::atan(c.zoom_size / std::max(distance, 0.01f)) * 180 / PI;
    if (fresh) c.fov = want;
    else c.fov = approach(c.fov, want, (2 * std::fabs(want - c.fov) + 1) * tick);
  }
  if (fresh) s_cam.newly_selected = false;
}
