// Engine and drivetrain: torque curves, automatic clutch, the wind-up coupling to the rear
// wheel, brakes with antilock and stoppie prevention, manual and automatic shifting.
#include <cmath>

#include "bike/bike_local.h"

float engine_rpm(const Bike *b) { return b->engine_speed * RPM_PER_RAD_S; }

float engine_torque_curve(const BikeModel *m, float rpm, float throttle) {
  float i = clampf(rpm * 0.002f, 0, TORQUE_CURVE_ENTRIES - 1);
  int k = (int)floorf(i);
  float f = i - k;
  int k1 = k + 1 < TORQUE_CURVE_ENTRIES ? k + 1 : TORQUE_CURVE_ENTRIES - 1;
  float closed = m->closed_throttle_torque[k] +
                 (m->closed_throttle_torque[k1] - m->closed_throttle_torque[k]) * f;
  float full = m->full_throttle_torque[k] +
               (m->full_throttle_torque[k1] - m->full_throttle_torque[k]) * f;
  return closed + (full - closed) * throttle;
}

float clutch_engagement(float lever, float rpm, float auto_clutch_rpms) {
  if (rpm > auto_clutch_rpms + 2000) return lever;
  return fminf(lever, clampf((rpm - auto_clutch_rpms) / 2000, 0, 1));
}

float total_reduction(const Bike *b) {
  return b->model->gear_ratios[b->gear] * b->model->primary_ratio * b->final_ratio;
}

static float wrap_pi(float a) {
  while (a < -BIKE_PI) a += 2 * BIKE_PI;
  while (a > BIKE_PI) a -= 2 * BIKE_PI;
  return a;
}

void drivetrain_step(Bike *b) {
  const BikeModel *m = b->model;
  dJointID axle = b->joints[REAR_AXLE_JOINT];
  float theta = (float)dJointGetHingeAngle(axle);     // rad, rear wheel
  float omega = (float)dJointGetHingeAngleRate(axle);  // rad/s, positive rolling forward
  float rpm = engine_rpm(b);
  float n = total_reduction(b);

  float te = engine_torque_curve(m, rpm, b->controls.throttle);
  if ((b->setup_flags & SETUP_STOP_WHEELIES) && te > 0 && b->front.depth <= 0 &&
      b->rear.depth > 0) {
    dBodyID frame = b->bodies[FRAME_BODY];
    const dReal *w = dBodyGetAngularVel(frame);
    dVector3 local;
    dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
    if (local[0] > -0.03125) te = 0;  // the nose is not coming down: no drive
  }

  float lever = b->controls.clutch;
  float e = clutch_engagement(lever, rpm, b->settings.auto_clutch_rpms);

  float wind = b->gearbox_angle - theta;
  if (wind < -BIKE_PI)
    wind += 2 * BIKE_PI;
  else if (wind > BIKE_PI)
    wind -= 2 * BIKE_PI;
  float tc = clampf((b->engine_speed - n * omega) * m->clutch_damping, -500, 500) +
             m->clutch_stiffness * wind;
  if (tc < 0) e = lever;  // the automatic clutch does not open for engine braking
  tc = clampf(tc, -1000000, 1000000);
  float slip = e * BIKE_PI / 4;
  if (wind > slip)
    b->gearbox_angle = theta + slip;
  else if (wind < -slip)
    b->gearbox_angle = theta - slip;
  float t = e * e * tc;

  dBodyAddRelTorque(b->bodies[REAR_WHEEL_BODY], -t, 0, 0);
  dBodyAddRelTorque(b->bodies[FRAME_BODY], t, 0, 0);

  float alpha = (te - t / n) / b->engine_inertia;
  b->engine_speed += alpha * (float)TICK;
  b->gearbox_angle = wrap_pi(b->gearbox_angle + (float)TICK * b->engine_speed / n);
}

static int sliding(const WheelContact *w) {
  return w->depth > 0 && v3_len2(w->point_velocity) > 4;
}

void brake_step(Bike *b) {
  float front = b->settings.brake_torque * b->controls.front_brake;
  if ((b->setup_flags & SETUP_FRONT_ANTILOCK) && sliding(&b->front)) front = 0;
  if ((b->setup_flags & SETUP_STOP_STOPPIES) && b->front.depth > 0 && b->rear.depth <= 0)
    front = 0;
  dJointSetHingeParam(b->joints[FRONT_AXLE_JOINT], dParamVel, 0);
  dJointSetHingeParam(b->joints[FRONT_AXLE_JOINT], dParamFMax, front);

  float rear = b->settings.rear_brake_torque * b->controls.rear_brake;
  if ((b->setup_flags & SETUP_REAR_ANTILOCK) && sliding(&b->rear)) rear = 0;
  dJointSetHingeParam(b->joints[REAR_AXLE_JOINT], dParamVel, 0);
  dJointSetHingeParam(b->joints[REAR_AXLE_JOINT], dParamFMax, rear);
}

// Gear g limited to the box, then absent gears (ratio <= 0) skipped downward.
static int valid_gear(const Bike *b, int g) {
  if (g < 0) g = 0;
  if (g > BIKE_GEAR_SLOTS - 1) g = BIKE_GEAR_SLOTS - 1;
  while (g > 0 && b->model->gear_ratios[g] <= 0) g--;
  return g;
}

void shift(Bike *b, int input) {
  if (b->crash_timer > 0 || input == b->last_shift_input) return;
  if (input < -1 || input > 1) return;
  b->last_shift_input = input;
  b->gear = valid_gear(b, b->gear + input);
}

void auto_shift_step(Bike *b, int tick) {
  if (tick % 32 != 0) return;
  if (dJointGetHingeAngle(b->joints[SWINGARM_JOINT]) >= -0.01) return;
  if (sliding(&b->rear)) return;
  float omega = (float)dJointGetHingeAngleRate(b->joints[REAR_AXLE_JOINT]);
  float rpm = omega * total_reduction(b) * RPM_PER_RAD_S;
  if (rpm < b->model->downshift_rpm)
    b->gear = valid_gear(b, b->gear - 1);
  else if (rpm > b->model->upshift_rpm)
    b->gear = valid_gear(b, b->gear + 1);
}
