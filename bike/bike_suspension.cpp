// Fork and shock laws, the setup defaults and the setters of the rider's bike setup.
#include <cmath>
#include <cstring>

#include "bike/bike_local.h"

// ---- per session: the setup-out-of-range flag and the refusal clock ----
static SetupState s_setup = {0, -20, 0};

SetupState *bike_setup_state() { return &s_setup; }
void bike_setup_reset() { s_setup = SetupState{0, -20, 0}; }
int setup_out_of_range() { return s_setup.out_of_range; }

// Limits v to lo .. hi; a value more than an eighth of the range outside it raises the flag.
static float limit(float v, float lo, float hi) {
  float slack = (hi - lo) / 8;
  if (v < lo - slack || v > hi + slack || v != v) s_setup.out_of_range = 1;
  if (v != v) return lo;
  return clampf(v, lo, hi);
}

static float midpoint(float a, float b) { return a + (b - a) * 0.5f; }

void bike_setup_defaults(Bike *b) {
  const BikeModel *m = b->model;
  BikeSettings &s = b->settings;
  b->final_ratio = m->rear_sprocket_teeth / m->countershaft_teeth;
  s.fork_compression_damping = m->fork_compression_damping;
  s.fork_rebound_damping = m->fork_rebound_damping;
  s.fork_spring_rate = midpoint(m->fork_spring_rate_min, m->fork_spring_rate_max);
  s.fork_preload = midpoint(m->fork_preload_min, m->fork_preload_max);
  s.fork_air_length = m->fork_air_length_min;
  s.shock_compression_damping = m->shock_compression_damping;
  s.shock_rebound_damping = m->shock_rebound_damping;
  s.shock_spring_rate = midpoint(m->shock_spring_rate_min, m->shock_spring_rate_max);
  s.shock_preload = midpoint(m->shock_preload_min, m->shock_preload_max);
  s.rider_yspring = s.rider_ydamping = s.rider_zspring = s.rider_zdamping = 0.5f;
  s.roll_damping = 60;
  s.leveling = 20;
  s.roll_limit_factor = 10;
  s.roll_limit_angle = BIKE_PI / 4;
  s.steering_damping = 45;
  s.steering_strength = 75;
  s.max_steering_force = 400;
  s.direct_steering = 1;
  s.slow_damping_speed = 0;
  s.slow_damping_factor = 1;
  s.land_damping_falloff = 0.25f;
  s.land_damping_factor = 2;
  s.auto_clutch_rpms = 5000;
  s.brake_torque = 250;
  s.rear_brake_torque = 250;
  s.max_dab_speed = 30;
  s.full_lock_speed = 10;
  s.restricted_lock_speed = 50;
  s.restricted_lock = 0.0872665f;
  b->setup_flags = SETUP_ALWAYS | SETUP_STOP_STOPPIES | SETUP_FRONT_ANTILOCK | SETUP_AUTO_ALIGN;
  b->setup_flags2 = 0;
}

// ---- suspension laws ----

float fork_force_law(const Bike *b, float x, float v) {
  const BikeModel *m = b->model;
  const BikeSettings &s = b->settings;
  float c = -x;  // ft of compression
  float damping = -v * (v >= 0 ? s.fork_rebound_damping : s.fork_compression_damping);
  float spring = s.fork_spring_rate * (s.fork_preload - x);
  // The trapped air column compressed adiabatically from atmospheric pressure.
  float column = m->fork_travel + s.fork_air_length;
  float squeezed = clampf(c, 0, m->fork_travel);
  float air = 82.46169f * (powf(column / (column - squeezed), 1.4f) - 1);
  // The force fades in over the first 1/32 of the stroke so a topped-out fork stays quiet.
  float k = 32 * c / m->fork_travel;
  if (k < 0) return 0;
  return (air + spring + damping) * fminf(k, 1);
}

float shock_torque_law(const Bike *b, float theta, float omega) {
  const BikeModel *m = b->model;
  const BikeSettings &st = b->settings;
  float travel = m->swingarm_travel;
  float s = -theta / travel;
  float lever = m->shock_leverage_start +
                (m->shock_leverage_end - m->shock_leverage_start) * s / travel;
  float stroke = m->shock_leverage_start * s +
                 (m->shock_leverage_end - m->shock_leverage_start) * s * s / (2 * travel);
  float damping =
      -omega * (omega >= 0 ? st.shock_rebound_damping : st.shock_compression_damping);
  float torque = lever * (stroke + st.shock_preload) * st.shock_spring_rate +
                 lever * lever * damping;
  if (s < 0) return 0;
  return torque * fminf(32 * s, 1);
}

float fork_position(const Bike *b) { return (float)dJointGetSliderPosition(b->joints[FORK_JOINT]); }
float fork_rate(const Bike *b) { return (float)dJointGetSliderPositionRate(b->joints[FORK_JOINT]); }

// A positive force drives the joint's motor apart with exactly that force; a negative one
// only brakes the motion.
void fork_force(Bike *b) {
  dJointID j = b->joints[FORK_JOINT];
  float f = fork_force_law(b, fork_position(b), fork_rate(b));
  dJointSetSliderParam(j, dParamVel, f >= 0 ? 100 : 0);
  dJointSetSliderParam(j, dParamFMax, fabsf(f));
}

void shock_torque(Bike *b) {
  dJointID j = b->joints[SWINGARM_JOINT];
  float t = shock_torque_law(b, (float)dJointGetHingeAngle(j), (float)dJointGetHingeAngleRate(j));
  dJointSetHingeParam(j, dParamVel, t >= 0 ? 100 : 0);
  dJointSetHingeParam(j, dParamFMax, fabsf(t));
}

// ---- setters ----

void set_leveling(Bike *b, float v) { b->settings.leveling = limit(v, 0, 100); }
void set_roll_damping(Bike *b, float v) { b->settings.roll_damping = limit(v, 0, 100); }
void set_roll_limit_angle(Bike *b, float deg) {
  b->settings.roll_limit_angle = limit(deg * BIKE_PI / 180, 0, BIKE_PI);
}
void set_roll_limit_factor(Bike *b, float v) { b->settings.roll_limit_factor = limit(v, 0, 64); }
void set_steering_damping(Bike *b, float v) { b->settings.steering_damping = limit(v, 0, 100); }
void set_steering_strength(Bike *b, float v) { b->settings.steering_strength = limit(v, 0, 100); }
void set_max_steering_force(Bike *b, float v) {
  b->settings.max_steering_force = limit(v, 0, 1000);
}
void set_direct_steering(Bike *b, float v) { b->settings.direct_steering = limit(v, 0, 1); }
void set_slow_damping_speed(Bike *b, float v) {
  b->settings.slow_damping_speed = limit(v, 0, 100);
}
void set_slow_damping_factor(Bike *b, float v) {
  b->settings.slow_damping_factor = limit(v, 1, 10);
}
void set_land_damping_falloff(Bike *b, float v) {
  b->settings.land_damping_falloff = limit(v, 0, 0.5f);
}
void set_land_damping_factor(Bike *b, float v) {
  b->settings.land_damping_factor = limit(v, 1, 3);
}
void set_full_lock_speed(Bike *b, float v) { b->settings.full_lock_speed = limit(v, 1, 100); }
void set_restricted_lock_speed(Bike *b, float v) {
  b->settings.restricted_lock_speed = limit(v, 1, 100);
}
void set_restricted_lock(Bike *b, float deg) {
  b->settings.restricted_lock = limit(deg * BIKE_PI / 180, 0, BIKE_PI / 4);
}
void set_auto_clutch_rpms(Bike *b, float v) { b->settings.auto_clutch_rpms = limit(v, 0, 5000); }
void set_brake_torque(Bike *b, float v) { b->settings.brake_torque = limit(v, 0, 500); }
void set_rear_brake_torque(Bike *b, float v) { b->settings.rear_brake_torque = limit(v, 0, 500); }
void set_max_dab_speed(Bike *b, float mph) {
  b->settings.max_dab_speed = limit(mph * 1.4666667f, 7, 100);
}

void set_sprockets(Bike *b, float front_adjustment, float rear_adjustment) {
  float front = floorf(b->model->countershaft_teeth + limit(front_adjustment, -2, 2));
  float rear = floorf(b->model->rear_sprocket_teeth + limit(rear_adjustment, -2, 2));
  b->final_ratio = fmaxf(rear, 3) / fmaxf(front, 3);
}

float damping_multiplier(float adjustment) {
  float m = exp2f(adjustment * 0.02f - 1);
  return limit(m, 0.5f, 2);
}

// The position of a spring, preload or oil level adjustment between the model's two ends.
static float between(float adjustment, float lo, float hi) {
  return lo + limit(adjustment * 0.01f, 0, 1) * (hi - lo);
}

void set_fork_compression(Bike *b, float a) {
  b->settings.fork_compression_damping = damping_multiplier(a) * b->model->fork_compression_damping;
}
void set_fork_rebound(Bike *b, float a) {
  b->settings.fork_rebound_damping = damping_multiplier(a) * b->model->fork_rebound_damping;
}
void set_fork_spring_rate(Bike *b, float a) {
  b->settings.fork_spring_rate =
      between(a, b->model->fork_spring_rate_min, b->model->fork_spring_rate_max);
}
void set_fork_preload(Bike *b, float a) {
  b->settings.fork_preload = between(a, b->model->fork_preload_min, b->model->fork_preload_max);
}
void set_fork_oil_level(Bike *b, float a) {
  b->settings.fork_air_length =
      between(a, b->model->fork_air_length_min, b->model->fork_air_length_max);
}
void set_shock_compression(Bike *b, float a) {
  b->settings.shock_compression_damping =
      damping_multiplier(a) * b->model->shock_compression_damping;
}
void set_shock_rebound(Bike *b, float a) {
  b->settings.shock_rebound_damping = damping_multiplier(a) * b->model->shock_rebound_damping;
}
void set_shock_spring_rate(Bike *b, float a) {
  b->settings.shock_spring_rate =
      between(a, b->model->shock_spring_rate_min, b->model->shock_spring_rate_max);
}
void set_shock_preload(Bike *b, float a) {
  b->settings.shock_preload = between(a, b->model->shock_preload_min, b->model->shock_preload_max);
}
void set_rider_yspring(Bike *b, float a) { b->settings.rider_yspring = limit(a * 0.01f, 0, 1); }
void set_rider_ydamping(Bike *b, float a) { b->settings.rider_ydamping = limit(a * 0.01f, 0, 1); }
void set_rider_zspring(Bike *b, float a) { b->settings.rider_zspring = limit(a * 0.01f, 0, 1); }
void set_rider_zdamping(Bike *b, float a) { b->settings.rider_zdamping = limit(a * 0.01f, 0, 1); }

void set_rider_mass_distribution(Bike *b, float d) {
  d = limit(d, 0.33f, 0.5f);
  dMass frame, rider;
  frame_and_rider_mass(&frame, &rider, b->model, d);
  dBodySetMass(b->bodies[FRAME_BODY], &frame);
  dBodySetMass(b->bodies[RIDER_BODY], &rider);
}

static void set_flag(uint8_t *flags, uint8_t bit, int on) {
  if (on)
    *flags |= bit;
  else
    *flags &= (uint8_t)~bit;
}
static int is(const char *choice, const char *text) { return choice && !strcmp(choice, text); }

void set_front_brake_mode(Bike *b, const char *c) {
  if (is(c, "Antilock") || is(c, "Normal"))
    set_flag(&b->setup_flags, SETUP_FRONT_ANTILOCK, is(c, "Antilock"));
}
void set_rear_brake_mode(Bike *b, const char *c) {
  if (is(c, "Antilock") || is(c, "Normal"))
    set_flag(&b->setup_flags, SETUP_REAR_ANTILOCK, is(c, "Antilock"));
}
void set_stop_wheelies(Bike *b, const char *c) {
  if (is(c, "No")) {
    set_flag(&b->setup_flags, SETUP_STOP_WHEELIES | SETUP_STOP_STOPPIES, 0);
  } else if (is(c, "Yes")) {
    set_flag(&b->setup_flags, SETUP_STOP_WHEELIES | SETUP_STOP_STOPPIES, 1);
  } else if (is(c, "Front Only")) {
    set_flag(&b->setup_flags, SETUP_STOP_WHEELIES, 0);
    set_flag(&b->setup_flags, SETUP_STOP_STOPPIES, 1);
  }
}
static void set_yes_no(uint8_t *flags, uint8_t bit, const char *c) {
  if (is(c, "Yes") || is(c, "No")) set_flag(flags, bit, is(c, "Yes"));
}
void set_auto_shift(Bike *b, const char *c) { set_yes_no(&b->setup_flags, SETUP_AUTO_SHIFT, c); }
void set_auto_dab(Bike *b, const char *c) { set_yes_no(&b->setup_flags, SETUP_AUTO_DAB, c); }
void set_auto_align(Bike *b, const char *c) { set_yes_no(&b->setup_flags, SETUP_AUTO_ALIGN, c); }
void set_arcade_disabled(int disabled) { s_setup.arcade_disabled = disabled ? 1 : 0; }
int bike_arcade_disabled() { return s_setup.arcade_disabled; }

void set_arcade(Bike *b, const char *c, int server_disabled) {
  if (!is(c, "Yes") && !is(c, "No")) return;
  set_flag(&b->setup_flags2, SETUP2_ARCADE, is(c, "Yes") && !server_disabled);
}
