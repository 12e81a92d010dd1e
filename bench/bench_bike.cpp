// One bike rolling on the practice track: the whole tick (ground contacts, force laws, world
// step) against the bare world step on the same bodies and joints, timed in the same loop.
#include <benchmark/benchmark.h>

#include <x86intrin.h>

#include <algorithm>
#include <vector>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/bike_local.h"
#include "core/frame.h"
#include "files/files.h"
#include "render/model.h"
#include "terrain/terrain.h"
#include "track/track.h"

namespace {

// Cycle counter: a reading costs a few ns (the thread CPU clock costs about a microsecond
// here, as much as the work measured). The machine is shared, so the figures are medians of
// per-tick readings, which leave out the ticks when the thread was interrupted.
inline double cycles() { return (double)__rdtsc(); }

double median(std::vector<double> *v) {
  std::sort(v->begin(), v->end());
  return v->empty() ? 0 : (*v)[v->size() / 2];
}

struct Scene {
  Terrain *terrain = nullptr;
  Bike *bike = nullptr;
  int tick = 0;
};

// The practice track from the generated starter data; a flat field when it is missing.
Terrain *load_practice() {
  static std::string home;
  if (home.empty()) {
    char tmpl[] = "/tmp/dv_bench_home_XXXXXX";
    if (mkdtemp(tmpl)) home = tmpl;
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("DV_HOME", DV_BINARY_DIR, 1);
    datafile_reset_for_tests();
  }
  track_select("practice", nullptr);
  if (track_load()) return terrain_current();
  return nullptr;
}

// Keeps the frame upright and the bars straight: stands in for the rider control.
void hold_upright(Bike *b) {
  dBodyID frame = b->bodies[FRAME_BODY];
  dJointID m = dJointCreateAMotor(physics_world(), physics_contact_group());
  dJointAttach(m, frame, 0);
  dJointSetAMotorMode(m, dAMotorUser);
  dJointSetAMotorNumAxes(m, 1);
  Vec3 back = body_vector(frame, 0, 0, 1);
  dJointSetAMotorAxis(m, 0, 0, back.x, back.y, back.z);
  dJointSetAMotorParam(m, dParamVel, -4 * roll_angle(frame));
  dJointSetAMotorParam(m, dParamFMax, 5000);
  dJointSetHingeParam(b->joints[STEERING_JOINT], dParamVel, 0);
  dJointSetHingeParam(b->joints[STEERING_JOINT], dParamFMax, 500);
}

void place_at_start(Scene *s) {
  reset_racer(s->bike);
  float x = s->terrain->extent / 2, z = s->terrain->extent / 2, angle = 0;
  if (start_gate_count() > 0) {
    const StartGatePiece *p = start_gate_piece(0);
    x = p->x, z = p->z, angle = p->angle;
  }
  rotate_racer(s->bike, 0, 1, 0, angle);
  translate_racer(s->bike, x, 0, z);
  // Lift it until both tyres clear the ground under them.
  float lift = 0;
  for (dBodyID w : {s->bike->bodies[FRONT_WHEEL_BODY], s->bike->bodies[REAR_WHEEL_BODY]}) {
    Vec3 p = body_position(w);
    lift = fmaxf(lift, terrain_height(s->terrain, p.x, p.z) + 0.05f);
  }
  translate_racer(s->bike, 0, lift, 0);
}

void BM_BikeTick(benchmark::State &state) {
  dInitODE2(0);
  physics_world_create();
  Scene s;
  s.terrain = load_practice();
  if (!s.terrain) {
    state.SkipWithError("practice track not found (build the starter data)");
    physics_world_destroy();
    dCloseODE();
    return;
  }
  s.bike = build_racer("crf450(2013)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  place_at_start(&s);
  Bike *b = s.bike;
  b->setup_flags |= SETUP_AUTO_SHIFT | SETUP_STOP_WHEELIES;

  std::vector<double> whole, step, contacts;  // cycles per tick
  double speed = 0;  // ft/s, summed
  long ticks = 0;
  for (auto _ : state) {
    // Ride in laps of 16 s: roll out, then back to the gate.
    if (s.tick % (128 * 16) == 0) {
      place_at_start(&s);  // (clears the controls)
      b->controls.clutch = 1;
    }
    b->controls.throttle = (s.tick / 256) % 2 ? 0.6f : 0.3f;
    double t0 = cycles();
    wheel_ground_contact(s.terrain, &b->front, 1);
    wheel_ground_contact(s.terrain, &b->rear, 1);
    hold_upright(b);
    double t1 = cycles();
    dWorldStep(physics_world(), TICK);
    double t2 = cycles();
    dJointGroupEmpty(physics_contact_group());
    s.tick++;
    rider_mount_step(b);
    fork_force(b);
    shock_torque(b);
    auto_shift_step(b, s.tick);
    drivetrain_step(b);
    brake_step(b);
    double t3 = cycles();
    whole.push_back(t3 - t0);
    step.push_back(t2 - t1);
    contacts.push_back(t1 - t0);
    speed += body_speed(b->bodies[FRAME_BODY]);
    ticks++;
  }
  double w = median(&whole), st = median(&step);
  state.counters["tick_kcycles"] = w / 1000;
  state.counters["world_step_kcycles"] = st / 1000;
  state.counters["contacts_kcycles"] = median(&contacts) / 1000;
  state.counters["ratio"] = w / st;
  state.counters["mean_speed"] = speed / ticks;  // ft/s: the bike does ride
  free_racer(s.bike);
  physics_world_destroy();
  track_unload();
  dCloseODE();
}
BENCHMARK(BM_BikeTick)->Iterations(128 * 64)->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
