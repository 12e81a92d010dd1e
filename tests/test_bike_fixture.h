// Test support for the bike tests: a world, a terrain field built in memory, a bike, and a
// holder that keeps the frame upright while no rider control runs.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "bike/bike_local.h"
#include "terrain/terrain.h"

// Messages ODE reported (solver trouble shows up here first).
inline int &ode_message_count() {
  static int count = 0;
  return count;
}
inline void count_ode_message(int, const char *, va_list) { ode_message_count()++; }

// dInitODE2 once per test binary.
class OdeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dInitODE2(0);
    dSetMessageHandler(count_ode_message);
  }
  void TearDown() override { dCloseODE(); }
};
static ::testing::Environment *const ode_environment =
    ::testing::AddGlobalTestEnvironment(new OdeEnvironment);

// A square field of 2^(n+1)+1 samples with one surface type (the defaults unless changed).
inline Terrain *make_field(int size_log2, float spacing, float (*height)(float x, float z)) {
  Terrain *t = (Terrain *)calloc(1, sizeof(Terrain));
  int size = 1 << size_log2;
  int n = 2 * size + 1;
  t->size_log2 = size_log2;
  t->samples = n;
  t->spacing = spacing;
  t->tile_size = 2 * spacing;
  t->extent = (n - 1) * spacing;
  t->heights = (float *)calloc((size_t)n * n, sizeof(float));
  for (int r = 0; r < n; r++)
    for (int c = 0; c < n; c++) t->heights[r * n + c] = height ? height(c * spacing, r * spacing) : 0;
  t->tile_map = (uint8_t *)calloc((size_t)size * size, 1);
  t->surface_count = 1;
  surface_type_defaults(&t->surfaces[0]);
  return t;
}
inline void free_field(Terrain *t) {
  free(t->heights);
  free(t->tile_map);
  free(t);
}

// One bike on a field, ticked in the game's order: ground contacts, world step, then the
// bike's own forces for the next step.
struct BikeRig {
  Terrain *field = nullptr;
  Bike *bike = nullptr;
  int tick = 0;
  int hold_upright = 1;  // stands in for the rider control (the force-law tests)
  int full_step = 0;     // the game's own tick: collisions and the racer's physics step
  int start_tick = 0;

  void make(const char *model, Terrain *t, float x, float y, float z) {
    physics_world_create();
    field = t;
    bike = build_racer(model, 0, "1", nullptr, nullptr, nullptr, nullptr);
    translate_racer(bike, x, y, z);
  }
  void destroy() {
    if (bike) free_racer(bike);
    bike = nullptr;
    physics_world_destroy();
    if (field) free_field(field);
    field = nullptr;
  }

  // Holds roll and yaw of the frame and keeps the bars straight.
  void upright() {
    dBodyID frame = bike->bodies[FRAME_BODY];
    dJointID m = dJointCreateAMotor(physics_world(), physics_contact_group());
    dJointAttach(m, frame, 0);
    dJointSetAMotorMode(m, dAMotorUser);
    dJointSetAMotorNumAxes(m, 2);
    Vec3 back = body_vector(frame, 0, 0, 1);
    dJointSetAMotorAxis(m, 0, 0, back.x, back.y, back.z);
    dJointSetAMotorAxis(m, 1, 0, 0, 1, 0);
    dJointSetAMotorParam(m, dParamVel, -4 * roll_angle(frame));
    dJointSetAMotorParam(m, dParamFMax, 5000);
    dJointSetAMotorParam(m, dParamVel2, 0);
    dJointSetAMotorParam(m, dParamFMax2, 5000);
    dJointSetHingeParam(bike->joints[STEERING_JOINT], dParamVel, 0);
    dJointSetHingeParam(bike->joints[STEERING_JOINT], dParamFMax, 500);
  }

  void step() {
    if (full_step) {
      terrain_contact_pass(bike, field);
      physics_world_step();
      tick++;
      BikeStep st = {field, tick, start_tick, 1, 0, Vec3{0, 0, 0}};
      physics_step(bike, &st);
      return;
    }
    wheel_ground_contact(field, &bike->front, 1);
    wheel_ground_contact(field, &bike->rear, 1);
    if (hold_upright) upright();
    physics_world_step();
    tick++;
    rider_mount_step(bike);
    fork_force(bike);
    shock_torque(bike);
    if (bike->setup_flags & SETUP_AUTO_SHIFT) auto_shift_step(bike, tick);
    drivetrain_step(bike);
    brake_step(bike);
  }
  void run(int ticks) {
    for (int i = 0; i < ticks; i++) step();
  }
  float speed() { return body_speed(bike->bodies[FRAME_BODY]); }
  float roll() { return roll_angle(bike->bodies[FRAME_BODY]); }
  Vec3 position(int body = FRAME_BODY) { return body_position(bike->bodies[body]); }
};
