// One bike rolling on the practice track: the whole tick (ground contacts, force laws, world
// step) against the bare world step on the same bodies and joints, timed in the same loop.
#include <benchmark/benchmark.h>

#include <x86intrin.h>

#include <ctime>

#include <algorithm>
#include <vector>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The world and the practice track for one benchmark; null (the benchmark skipped) when
// the starter data is missing.
Terrain *open_world(benchmark::State &state) {
  dInitODE2(0);
  physics_world_create();
  Terrain *terrain = load_practice();
  if (terrain) return terrain;
  state.SkipWithError("practice track not found (build the starter data)");
  physics_world_destroy();
  dCloseODE();
  return nullptr;
}

void close_world() {
  physics_world_destroy();
  track_unload();
  dCloseODE();
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
  Scene s;
  s.terrain = open_world(state);
  if (!s.terrain) return;
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
  close_world();
}
BENCHMARK(BM_BikeTick)->Iterations(128 * 64)->Repetitions(3);

// Puts bike k of a field at the starting gate: one per gate piece.
void place_in_grid(Terrain *terrain, Bike *bike, int k) {
  reset_racer(bike);
  int pieces = start_gate_count();
  float x = terrain->extent / 2 + 4 * k, z = terrain->extent / 2, angle = 0;
  int row = 0;
  if (pieces > 0) {
    const StartGatePiece *p = start_gate_piece(k % pieces);
    x = p->x, z = p->z, angle = p->angle;
    row = k / pieces;
  }
  // 15 ft past the gate pieces (the gate stays up in a benchmark), rows 10 ft apart.
  float along = -15 + 10 * row;
  rotate_racer(bike, 0, 1, 0, angle);
  translate_racer(bike, x + along * sinf(angle), 0, z + along * cosf(angle));
  float lift = 0;
  for (dBodyID w : {bike->bodies[FRONT_WHEEL_BODY], bike->bodies[REAR_WHEEL_BODY]}) {
    Vec3 p = body_position(w);
    lift = fmaxf(lift, terrain_height(terrain, p.x, p.z) + 0.05f);
  }
  translate_racer(bike, 0, lift, 0);
}

// One racer's whole tick as the game runs it (ground and statue collisions, world step, the
// racer's physics step with its assists) against the bare world step, in the same loop.
void BM_RacerTick(benchmark::State &state) {
  Terrain *terrain = open_world(state);
  if (!terrain) return;
  Bike *b = build_racer("crf450(2013)", 0, "1", nullptr, nullptr, nullptr, nullptr);
  std::vector<double> whole, step, collide, own;
  double speed = 0;
  int tick = 0;
  for (auto _ : state) {
    if (tick % (128 * 16) == 0) {
      place_in_grid(terrain, b, 0);
      b->setup_flags |= SETUP_AUTO_SHIFT | SETUP_STOP_WHEELIES;
      b->controls.clutch = 1;
    }
    b->controls.throttle = (tick / 256) % 2 ? 0.6f : 0.3f;
    double t0 = cycles();
    object_contact_pass(b, terrain, tick);
    double t1 = cycles();
    dWorldStep(physics_world(), TICK);
    double t2 = cycles();
    dJointGroupEmpty(physics_contact_group());
    tick++;
    BikeStep st = {terrain, tick, 0, 1, 0, Vec3{0, 0, 0}};
    physics_step(b, &st);
    double t3 = cycles();
    whole.push_back(t3 - t0);
    step.push_back(t2 - t1);
    collide.push_back(t1 - t0);
    own.push_back(t3 - t2);
    speed += body_speed(b->bodies[FRAME_BODY]);
  }
  double w = median(&whole), st = median(&step);
  state.counters["tick_kcycles"] = w / 1000;
  state.counters["world_step_kcycles"] = st / 1000;
  state.counters["ratio"] = w / st;
  state.counters["collisions_kcycles"] = median(&collide) / 1000;
  state.counters["physics_step_kcycles"] = median(&own) / 1000;
  state.counters["mean_speed"] = speed / tick;
  free_racer(b);
  close_world();
}
BENCHMARK(BM_RacerTick)->Iterations(128 * 64)->Repetitions(3);

// Forty bikes leaving the start together: every racer's collisions with the ground, statues
// and the bikes near it, one world step, every racer's physics step. Reported as simulated
// seconds per second of this thread's CPU time (the goal: at least 20).
void BM_FortyBikes(benchmark::State &state) {
  Terrain *terrain = open_world(state);
  if (!terrain) return;
  const int count = 40;
  std::vector<Bike *> bikes;
  for (int k = 0; k < count; k++) {
    Bike *b = build_racer("crf450(2013)", k, "1", nullptr, nullptr, nullptr, nullptr);
    place_in_grid(terrain, b, k);
    b->setup_flags |= SETUP_AUTO_SHIFT | SETUP_STOP_WHEELIES;
    bikes.push_back(b);
  }
  int tick = 0;
  timespec c0, c1;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
  double phase[4] = {0, 0, 0, 0};  // cycles: ground and statues, bike pairs, step, racers
  for (auto _ : state) {
    double p0 = cycles();
    for (Bike *b : bikes) object_contact_pass(b, terrain, tick);
    double p1 = cycles();
    for (int i = 0; i < count; i++)
      for (int j = i + 1; j < count; j++) {
        Vec3 d = body_position(bikes[i]->bodies[FRAME_BODY]) -
                 body_position(bikes[j]->bodies[FRAME_BODY]);
        if (v3_len2(d) < 100) bike_contact_pass(bikes[i], bikes[j], 0, tick);
      }
    double p2 = cycles();
    dWorldStep(physics_world(), TICK);
    dJointGroupEmpty(physics_contact_group());
    double p3 = cycles();
    tick++;
    BikeStep st = {terrain, tick, 0, 1, 0, Vec3{0, 0, 0}};
    for (int k = 0; k < count; k++) {
      Bike *b = bikes[k];
      b->controls.clutch = 1;
      b->controls.throttle = 0.5f + 0.01f * (k % 8);
      physics_step(b, &st);
    }
    double p4 = cycles();
    phase[0] += p1 - p0, phase[1] += p2 - p1, phase[2] += p3 - p2, phase[3] += p4 - p3;
  }
  double all = phase[0] + phase[1] + phase[2] + phase[3];
  state.counters["share_ground"] = phase[0] / all;
  state.counters["share_pairs"] = phase[1] / all;
  state.counters["share_step"] = phase[2] / all;
  state.counters["share_racers"] = phase[3] / all;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
  double cpu = (c1.tv_sec - c0.tv_sec) + (c1.tv_nsec - c0.tv_nsec) * 1e-9;
  double fastest = 0;
  for (Bike *b : bikes) fastest = fmax(fastest, body_speed(b->bodies[FRAME_BODY]));
  state.counters["times_real_time"] = tick * TICK / cpu;
  state.counters["fastest_ft_s"] = fastest;
  for (Bike *b : bikes) free_racer(b);
  close_world();
}
BENCHMARK(BM_FortyBikes)->Iterations(128 * 10)->Unit(benchmark::kMillisecond);

// The ceiling the solver leaves: the world step alone on forty bikes' bodies and joints in
// free fall, with no contact, motor or assist (range 0), and with each bike's everyday
// constraints of a ride added (range 1: both tyres' friction contacts, the rider's two mount
// springs, the fork and shock motors and the brakes), in simulated seconds per CPU second.
void BM_FortyBikesStepOnly(benchmark::State &state) {
  Terrain *terrain = open_world(state);
  if (!terrain) return;
  dWorldSetGravity(physics_world(), 0, 0, 0);  // the bikes hold their grid places
  const int count = 40;
  const bool riding = state.range(0) == 1;
  std::vector<Bike *> bikes;
  for (int k = 0; k < count; k++) {
    Bike *b = build_racer("crf450(2013)", k, "1", nullptr, nullptr, nullptr, nullptr);
    place_in_grid(terrain, b, k);
    dJointSetSliderParam(b->joints[FORK_JOINT], dParamFMax, riding ? 100 : 0);
    dJointSetSliderParam(b->joints[FORK_JOINT], dParamVel, 100);
    dJointSetHingeParam(b->joints[SWINGARM_JOINT], dParamFMax, riding ? 100 : 0);
    dJointSetHingeParam(b->joints[SWINGARM_JOINT], dParamVel, 100);
    dJointSetHingeParam(b->joints[FRONT_AXLE_JOINT], dParamFMax, riding ? 10 : 0);
    dJointSetHingeParam(b->joints[REAR_AXLE_JOINT], dParamFMax, riding ? 10 : 0);
    bikes.push_back(b);
  }
  long ticks = 0;
  timespec c0, c1;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
  for (auto _ : state) {
    for (Bike *b : riding ? bikes : std::vector<Bike *>{}) {
      SoftContact c;
      for (int w : {FRONT_WHEEL_BODY, REAR_WHEEL_BODY}) {
        memset(&c, 0, sizeof c);
        c.point = body_position(b->bodies[w]), c.normal = Vec3{0, 1, 0}, c.depth = 0.001f;
        c.mu = 1, c.kp = 25000, c.kd = 2500, c.approx1 = 1;
        c.has_fdir = 1, c.fdir = body_vector(b->bodies[FRAME_BODY], 0, 0, 1);
        soft_contact(&c, b->bodies[w], 0);
      }
      for (Vec3 n : {Vec3{0, 1, 0}, body_vector(b->bodies[FRAME_BODY], 0, 0, 1)}) {
        memset(&c, 0, sizeof c);
        c.point = body_position(b->bodies[RIDER_BODY]), c.normal = n, c.depth = 0.001f;
        c.kp = 2500, c.kd = 250;
        soft_contact(&c, b->bodies[RIDER_BODY], b->bodies[FRAME_BODY]);
      }
    }
    dWorldStep(physics_world(), TICK);
    dJointGroupEmpty(physics_contact_group());
    ticks++;
  }
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
  double cpu = (c1.tv_sec - c0.tv_sec) + (c1.tv_nsec - c0.tv_nsec) * 1e-9;
  state.counters["times_real_time"] = ticks * TICK / cpu;
  for (Bike *b : bikes) free_racer(b);
  close_world();
}
BENCHMARK(BM_FortyBikesStepOnly)->DenseRange(0, 1)->Iterations(128 * 10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
