// Rider control and assists, collisions and crashes: scripted rides on a flat field.
#include "tests/test_bike_fixture.h"

#include <cstdio>

#include "core/frame.h"
#include "files/config.h"
#include "render/model.h"
#include "track/track.h"

namespace {

constexpr float MPH = 1.4666667f;  // ft/s

struct ControlTest : ::testing::Test {
  BikeRig rig;
  void SetUp() override {
    bike_setup_reset();
    ode_message_count() = 0;
    rig.make("crf450(2013)", make_field(9, 4, nullptr), 2048, 0, 3900);
    rig.hold_upright = 0;
    rig.full_step = 1;
  }
  void TearDown() override {
    rig.destroy();
    EXPECT_EQ(ode_message_count(), 0);
  }
  Bike *b() { return rig.bike; }
  void tick() {
    if (rig.position().z < 300) translate_racer(b(), 0, 0, 3500);
    rig.step();
  }
};

// The player's setup as the game starts it, at a stability setting, arcade on or off.
void player_setup(Bike *b, int stability, int arcade) {
  setup_reset_defaults();
  BikeSetup *s = bike_setup();
  apply_stability(stability);
  choice_select(&s->arcade, arcade ? "Yes" : "No");
  ASSERT_EQ(apply_setup(b, s, 0), 1);
}

TEST_F(ControlTest, FullThrottleRidesStraightAndUpright) {
  struct Case {
    const char *name;
    int stability, arcade;
  } cases[] = {{"stability 100", 100, 0}, {"stability 0", 0, 0}, {"arcade", 100, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    reset_racer(b());
    translate_racer(b(), 2048, 0, 3900);
    player_setup(b(), c.stability, c.arcade);
    // A small sideways nudge at the start: the assists must bring the bike back up.
    dBodySetAngularVel(b()->bodies[FRAME_BODY], 0, 0, 0.2);
    Vec3 p0 = rig.position();
    float worst_roll = 0;
    int t = 0;
    for (; t < 128 * 20; t++) {
      b()->controls.throttle = 1;
      b()->controls.clutch = 1;
      tick();
      worst_roll = fmaxf(worst_roll, fabsf(rig.roll()));
      if (p0.z - rig.position().z > 300) break;
    }
    Vec3 p = rig.position();
    printf("%s: 300 ft in %.2f s, %.1f mph, off line %.2f ft, worst roll %.1f deg, now %.1f\n",
           c.name, t / 128.0, rig.speed() / MPH, p.x - p0.x, worst_roll * 180 / M_PI,
           rig.roll() * 180 / M_PI);
    EXPECT_LT(t, 128 * 20);
    EXPECT_LT(fabsf(rig.roll()), 0.1f);
    EXPECT_LT(worst_roll, 0.5f);
    EXPECT_LT(fabsf(p.x - p0.x), 20);
    EXPECT_EQ(b()->crash_timer, 0);
  }
}

// Holds a speed with the throttle (a rider's hand), with automatic shifting.
void hold_speed(Bike *b, float target) {
  float v = body_speed(b->bodies[FRAME_BODY]);
  b->controls.clutch = 1;
  b->controls.throttle = clampf((target - v) * 0.3f + 0.25f, 0, 1);
}

float yaw_rate(Bike *b) { return (float)dBodyGetAngularVel(b->bodies[FRAME_BODY])[1]; }

// The steer the game hands the bike for the left key held down, with the default
// reversed steering.
float left_key_steer() {
  float ch[CHANNEL_COUNT] = {0};
  ch[CHANNEL_STEER] = 1;
  LocalRiderInput state;
  local_rider_input_reset(&state);
  return hand_controls(ch, true, false, &state).steer;
}

TEST_F(ControlTest, FixedSteerHoldsACircleAndLeftTurnsLeft) {
  struct Case {
    const char *name;
    int stability, arcade;
    float mph;
    float steer;  // -1 .. 1; negative = left (the caller has applied reversed steering)
    float grip = 1;  // friction of the ground
  } cases[] = {
      {"stability 100, 20 mph left", 100, 0, 20, -0.1f},
      {"stability 100, 40 mph left", 100, 0, 40, -0.05f},
      {"stability 100, 20 mph right", 100, 0, 20, 0.1f},
      // Firm inputs ask for no more lean than the tyres hold: the left key held down keeps
      // a circle.
      {"stability 100, 20 mph left key", 100, 0, 20, left_key_steer()},
      {"stability 100, 40 mph left key", 100, 0, 40, left_key_steer()},
      {"stability 100, 40 mph right 0.3", 100, 0, 40, 0.3f},
      {"stability 100, 20 mph left key, mud", 100, 0, 20, left_key_steer(), 0.6f},
      {"stability 100, 40 mph left key, mud", 100, 0, 40, left_key_steer(), 0.6f},
      {"arcade, 20 mph left", 100, 1, 20, -0.5f},
      {"arcade, 40 mph right", 100, 1, 40, 0.5f},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    reset_racer(b());
    translate_racer(b(), 2048, 0, 2048);
    player_setup(b(), c.stability, c.arcade);
    for (FrictionPoint &f : rig.field->surfaces[0].friction_points) f.coefficient = c.grip;
    float target = c.mph * MPH;
    for (int t = 0; t < 128 * 6; t++) {  // up to speed, straight
      hold_speed(b(), target);
      rig.step();
    }
    float second_yaw[10] = {0}, roll_sum = 0, speed_sum = 0, worst_roll = 0;
    for (int t = 0; t < 128 * 10; t++) {
      hold_speed(b(), target);
      b()->controls.steer = c.steer;
      rig.step();
      second_yaw[t / 128] += yaw_rate(b()) / 128;
      worst_roll = fmaxf(worst_roll, fabsf(rig.roll()));
      if (t >= 128 * 5) roll_sum += rig.roll() / 640, speed_sum += rig.speed() / 640;
    }
    // The last five seconds: one mean turn rate per second.
    float yaw = 0, lo = 1e9f, hi = -1e9f;
    for (int k = 5; k < 10; k++) {
      yaw += second_yaw[k] / 5;
      lo = fminf(lo, second_yaw[k]), hi = fmaxf(hi, second_yaw[k]);
    }
    float radius = fabsf(yaw) > 1e-4f ? speed_sum / fabsf(yaw) : INFINITY;
    printf("%s: %.1f mph, turn %.3f rad/s (per second %.3f .. %.3f), radius %.0f ft, "
           "lean %.1f deg (most %.1f)\n",
           c.name, speed_sum / MPH, yaw, lo, hi, radius, roll_sum * 180 / M_PI,
           worst_roll * 180 / M_PI);
    EXPECT_EQ(b()->crash_timer, 0);
    EXPECT_LT(worst_roll, 1.0f);
    // Left (negative steer) leans left (roll > 0) and turns left (positive yaw about +y).
    if (c.steer < 0) {
      EXPECT_GT(roll_sum, 0.05f);
      EXPECT_GT(yaw, 0.02f);
    } else {
      EXPECT_LT(roll_sum, -0.05f);
      EXPECT_LT(yaw, -0.02f);
    }
    // A steady circle: each second's turn rate within 25 % of the mean.
    EXPECT_LT(hi - lo, 0.5f * fabsf(yaw));
    EXPECT_NEAR(speed_sum, target, 0.15f * target);
  }
}

// The steering torque the racer's step puts on the front wheel about the steering axis.
float steering_torque(Bike *b, const BikeStep *st) {
  const BikeModel *m = b->model;
  dBodyID front = b->bodies[FRONT_WHEEL_BODY];
  dBodySetTorque(front, 0, 0, 0);
  physics_step(b, st);
  Vec3 a = vec3_normalize(m->fork_upper_position - m->fork_lower_position);
  Vec3 axis = body_vector(b->bodies[FRAME_BODY], a.x, a.y, a.z);
  return vec3_dot(v3(dBodyGetTorque(front)), axis);
}

TEST_F(ControlTest, DirectSteeringBlendsTheRiderInputWithTheLeanControl) {
  translate_racer(b(), 2048, 0, 2048);
  player_setup(b(), 100, 0);
  for (int t = 0; t < 128 * 5; t++) {  // upright and straight at 25 mph
    hold_speed(b(), 25 * MPH);
    rig.step();
  }
  ASSERT_GT(b()->front.depth, 0);
  ASSERT_LT(fabsf(rig.roll()), 0.05f);
  // Half left: the lean control, asked to lean an upright bike over, steers right with the
  // whole steering strength (Ti = -strength); the rider's own input is strength x steer.
  const float steer = -0.5f, strength = b()->settings.steering_strength;
  b()->controls.steer = steer;
  // The same moment three times: only the blend differs, every other torque cancels.
  BikeStep st = {rig.field, rig.tick, rig.start_tick, 1, 0, Vec3{0, 0, 0}};
  float torque[3];
  const float direct[3] = {1, 0, 0.5f};
  for (int k = 0; k < 3; k++) {
    b()->settings.direct_steering = direct[k];
    torque[k] = steering_torque(b(), &st);
  }
  dJointGroupEmpty(physics_contact_group());
  float rider = 1.5f * strength * steer, lean = 1.5f * -strength;
  // Direct 1 uses only the rider's input, direct 0 only the lean control...
  EXPECT_NEAR(torque[1] - torque[0], lean - rider, 0.01f);
  // ...and 0.5 gives 0.25 x strength x steer + 0.5 x Ti (not the midpoint of the two).
  EXPECT_NEAR(torque[2], (torque[0] + torque[1]) / 2 - 0.25f * rider, 0.01f);
}

TEST(ControlRules, KnockWeakensThenReversesTheAssists) {
  EXPECT_EQ(knocked_assist(150, 0), 150);
  EXPECT_EQ(knocked_assist(150, 96), 100);
  EXPECT_EQ(knocked_assist(-150, 96), -100);
  EXPECT_EQ(knocked_assist(150, 256), -150);
  EXPECT_EQ(knocked_assist(150, 224), -75);
}

TEST_F(ControlTest, RollSignAndKnockDecay) {
  translate_racer(b(), 2048, 0, 2048);
  dMatrix3 r;
  dRFromAxisAndAngle(r, 0, 0, 1, -0.3);  // right side down
  dBodySetRotation(b()->bodies[FRAME_BODY], r);
  EXPECT_NEAR(roll_angle(b()->bodies[FRAME_BODY]), -0.3f, 1e-5);
  reset_racer(b());
  translate_racer(b(), 2048, 0, 2048);
  b()->knock = 3.5f;
  rig.step();
  EXPECT_EQ(b()->knock, 2.5f);
  b()->knock = 0.5f;
  rig.step();
  EXPECT_EQ(b()->knock, 0);
  b()->knock = -600;
  rig.step();
  EXPECT_EQ(b()->knock, -599);
}

TEST_F(ControlTest, DabAtStandstillBrakesForTheTickOnly) {
  translate_racer(b(), 2048, 0, 2048);
  b()->setup_flags |= SETUP_AUTO_DAB;
  rig.run(256);  // settle
  rig.step();
  // Both wheels down, throttle shut: the brakes were applied for this tick's motors...
  EXPECT_EQ(dJointGetHingeParam(b()->joints[FRONT_AXLE_JOINT], dParamFMax), 250);
  EXPECT_EQ(dJointGetHingeParam(b()->joints[REAR_AXLE_JOINT], dParamFMax), 250);
  // ...and the rider's own controls are as they were.
  EXPECT_EQ(b()->controls.front_brake, 0);
  EXPECT_EQ(b()->controls.rear_brake, 0);
  EXPECT_EQ(b()->controls.dab, 0);
  EXPECT_GT(b()->dab_extension, 0);
  EXPECT_LT(rig.speed(), 0.25f);
}

TEST_F(ControlTest, BackUpPushesBackwardInPulses) {
  translate_racer(b(), 2048, 0, 2048);
  rig.run(64);
  Vec3 p0 = rig.position();
  float fastest = 0;
  for (int t = 0; t < 128 * 3; t++) {
    b()->controls.back_up = 1;
    rig.step();
    fastest = fmaxf(fastest, (float)dBodyGetLinearVel(b()->bodies[FRAME_BODY])[2]);
  }
  float moved = rig.position().z - p0.z;  // backward is +z
  printf("back up: %.2f ft back in 3 s, fastest %.2f ft/s\n", moved, fastest);
  EXPECT_GT(moved, 1);
  EXPECT_LT(fastest, 4.5f);
  EXPECT_EQ(b()->crash_timer, 0);
}

TEST_F(ControlTest, LandingDampingFallsOffAfterTouchdown) {
  translate_racer(b(), 2048, 0, 3000);
  player_setup(b(), 100, 0);
  for (int t = 0; t < 128 * 3; t++) {
    hold_speed(b(), 30);
    tick();
  }
  translate_racer(b(), 0, 3, 0);  // a jump
  int landed = -1;
  for (int t = 0; t < 256; t++) {
    hold_speed(b(), 30);
    tick();
    if (b()->front.depth <= 0) {
      EXPECT_EQ(b()->landing_damping, b()->settings.land_damping_factor);
    }
    if (landed < 0 && b()->front.depth > 0 && b()->landing_damping < 2) landed = t;
    if (landed >= 0 && t == landed + 40) {
      EXPECT_EQ(b()->landing_damping, 1);  // 0.25 s falloff: 32 ticks
    }
  }
  EXPECT_GE(landed, 0);
}

TEST_F(ControlTest, RiderSpringsAtZeroLeaveOnlyTheForeAftContact) {
  translate_racer(b(), 2048, 0, 2048);
  rig.run(16);
  dBodyID rider = b()->bodies[RIDER_BODY];
  // The rider's joint plus the two spring contacts of this tick.
  EXPECT_EQ(dBodyGetNumJoints(rider), 3);
  for (auto setter : {set_rider_yspring, set_rider_ydamping, set_rider_zspring, set_rider_zdamping})
    setter(b(), 0);
  dJointGroupEmpty(physics_contact_group());
  rider_mount_step(b());
  EXPECT_EQ(dBodyGetNumJoints(rider), 2);  // the vertical contact is gone (kp + kd = 0)
  dJointGroupEmpty(physics_contact_group());
}

TEST_F(ControlTest, RealignmentTurnsAFallenBikeTowardTheNextGate) {
  // Gate 1 lies 100 ft to the bike's right (+x); the bike lies at 40 degrees, stopped.
  TimingGate gates[2] = {{2048, 0, 1900, 0, 0, -1, 20}, {2148, 0, 2048, 1, 0, 0, 20}};
  int first[2] = {0, 1}, normal[2] = {0, 1};
  ASSERT_TRUE(set_timing_gates(gates, 2, first, 2, normal, 2));
  reset_racer(b());
  rotate_racer(b(), 0, 0, 1, 0.7f);  // leaning left, about the build frame's origin
  float low = fminf(body_position(b()->bodies[FRONT_WHEEL_BODY]).y,
                    body_position(b()->bodies[REAR_WHEEL_BODY]).y);
  translate_racer(b(), 2048, 0.95f - low, 2048);
  b()->timing->next_gate = 1;
  Vec3 f0 = body_vector(b()->bodies[FRAME_BODY], 0, 0, -1);
  for (int t = 0; t < 128 * 2; t++) {
    b()->controls.dab = 1;
    rig.step();
  }
  Vec3 f = body_vector(b()->bodies[FRAME_BODY], 0, 0, -1);
  float heading0 = atan2f(f0.x, -f0.z), heading = atan2f(f.x, -f.z);
  printf("realignment: heading %.1f -> %.1f deg (gate at +90), roll now %.1f deg\n",
         heading0 * 57.3f, heading * 57.3f, rig.roll() * 57.3f);
  EXPECT_GT(heading - heading0, 1.2f);  // turned right, toward the gate
  EXPECT_LT(heading - heading0, 1.8f);
  clear_timing_gates();
}

}  // namespace
