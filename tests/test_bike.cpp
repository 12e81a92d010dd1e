// The bike's assembly, tyre contact, drivetrain, suspension laws and setup values.
#include "tests/test_bike_fixture.h"

#include <string>

#include "core/frame.h"
#include "files/config.h"
#include "render/model.h"

namespace {

float body_mass(dBodyID b) {
  dMass m;
  dBodyGetMass(b, &m);
  return (float)m.mass;
}

struct BikeTest : ::testing::Test {
  BikeRig rig;
  void SetUp() override {
    bike_setup_reset();
    rig.make("crf450(2013)", make_field(6, 2, nullptr), 64, 0, 64);
  }
  void TearDown() override { rig.destroy(); }
  Bike *b() { return rig.bike; }
};

// ---- assembly ----

TEST_F(BikeTest, FreshCrf450WeighsItsListedMasses) {
  const float expected[BIKE_BODY_COUNT] = {8.381f, 0.5625f, 0.78125f, 0.703f, 0.703f, 1.005f, 1.823f};
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(body_mass(b()->bodies[i]), expected[i], 0.001f);
  }
  EXPECT_NEAR(b()->total_mass, 13.96f, 0.005f);
  EXPECT_NEAR(b()->total_mass * 32, 447, 0.5f);  // lb
}

TEST_F(BikeTest, JointStopsHoldBarsForkAndSwingarm) {
  EXPECT_NEAR(dJointGetHingeParam(b()->joints[STEERING_JOINT], dParamLoStop), -M_PI / 4, 1e-9);
  EXPECT_NEAR(dJointGetHingeParam(b()->joints[STEERING_JOINT], dParamHiStop), M_PI / 4, 1e-9);
  EXPECT_NEAR(dJointGetSliderParam(b()->joints[FORK_JOINT], dParamHiStop), 0, 1e-6);
  EXPECT_NEAR(dJointGetSliderParam(b()->joints[FORK_JOINT], dParamLoStop), -1, 1e-6);
  EXPECT_EQ(dJointGetHingeParam(b()->joints[SWINGARM_JOINT], dParamHiStop), 0);
  EXPECT_NEAR(dJointGetHingeParam(b()->joints[SWINGARM_JOINT], dParamLoStop), -0.55, 1e-6);
  // At build every joint sits at zero: fork extended, swingarm unloaded, bars straight.
  EXPECT_NEAR(fork_position(b()), 0, 1e-9);
  EXPECT_NEAR(dJointGetHingeAngle(b()->joints[SWINGARM_JOINT]), 0, 1e-9);
  EXPECT_NEAR(dJointGetHingeAngle(b()->joints[STEERING_JOINT]), 0, 1e-9);
  // Compressing the fork makes the slider position negative.
  dBodyID lower = b()->bodies[FORK_LOWER_BODY];
  const dReal *p = dBodyGetPosition(lower);
  dBodySetPosition(lower, p[0], p[1] + 0.1, p[2] + 0.05);
  EXPECT_LT(fork_position(b()), -0.05);
}

TEST_F(BikeTest, RotateAfterResetTurnsTheBikeAboutTheOrigin) {
  reset_racer(b());
  rotate_racer(b(), 0, 1, 0, (float)M_PI / 2);
  Vec3 forward = body_vector(b()->bodies[FRAME_BODY], 0, 0, -1);
  EXPECT_NEAR(forward.x, -1, 1e-6);
  EXPECT_NEAR(forward.z, 0, 1e-6);
  Vec3 front = rig.position(FRONT_WHEEL_BODY);  // was (0, 1.09, 1.11)
  EXPECT_NEAR(front.x, 1.11f, 1e-5);
  EXPECT_NEAR(front.y, 1.09f, 1e-5);
  EXPECT_NEAR(front.z, 0, 1e-5);
  EXPECT_LT(rig.position(FRONT_WHEEL_BODY).x, rig.position(REAR_WHEEL_BODY).x);
}

TEST_F(BikeTest, NumberIsCutToSevenAndUnknownModelStillBuilds) {
  message_log_clear();
  Bike *other = build_racer("nosuchbike", 3, "123456789", nullptr, nullptr, nullptr, nullptr);
  EXPECT_STREQ(other->number, "1234567");
  EXPECT_STREQ(other->model_name, "kx250f(2013)");
  EXPECT_EQ(other->slot, 3);
  for (int i = 0; i < BIKE_BODY_COUNT; i++) EXPECT_NE(other->bodies[i], nullptr);
  for (int i = 0; i < BIKE_JOINT_COUNT; i++) EXPECT_NE(other->joints[i], nullptr);
  EXPECT_GT(other->total_mass, 12);
  free_racer(other);
}

TEST_F(BikeTest, PresenceDisablesBodiesAndClearsForcesOnReturn) {
  dBodyID frame = b()->bodies[FRAME_BODY];
  set_presence(b(), -3);
  EXPECT_EQ(b()->presence, 0);
  for (int i = 0; i < BIKE_BODY_COUNT; i++) EXPECT_FALSE(dBodyIsEnabled(b()->bodies[i]));
  dBodyAddForce(frame, 10, 0, 0);
  b()->interpolation_marker = 55;
  set_presence(b(), 0.5f);
  EXPECT_EQ(b()->interpolation_marker, -1);
  EXPECT_EQ(dBodyGetForce(frame)[0], 0);
  for (int i = 0; i < BIKE_BODY_COUNT; i++) EXPECT_TRUE(dBodyIsEnabled(b()->bodies[i]));
}

TEST_F(BikeTest, ResetPutsBackBuildPoseAndClearsRaceState) {
  rig.run(64);
  b()->gear = 3;
  b()->engine_speed = 500;
  b()->crash_timer = 9;
  b()->knock = 300;
  reset_racer(b());
  EXPECT_EQ(b()->gear, 0);
  EXPECT_EQ(b()->engine_speed, 0);
  EXPECT_EQ(b()->crash_timer, 0);
  EXPECT_EQ(b()->knock, 0);
  EXPECT_EQ(b()->landing_damping, 1);
  EXPECT_EQ(b()->last_bike_contact_tick, -1);
  Vec3 p = rig.position(FRAME_BODY);
  EXPECT_NEAR(p.x, 0, 1e-6);
  EXPECT_NEAR(p.y, 1.98f, 1e-6);
  EXPECT_NEAR(p.z, 3.6f, 1e-6);
  Vec3 r = rig.position(RIDER_BODY);
  EXPECT_NEAR(r.y, 4.5f, 1e-6);
  EXPECT_EQ(dBodyGetLinearVel(b()->bodies[REAR_WHEEL_BODY])[2], 0);
}

TEST(BikeGraphics, VariantsAndNumberColours) {
  char v[64], name[256];
  EXPECT_TRUE(texture_variant("@bikes/crf450v2013-alt1-red.png", v, sizeof v));
  EXPECT_STREQ(v, "-alt1");
  EXPECT_FALSE(texture_variant("@bikes/crf450v2013-red.png", v, sizeof v));
  EXPECT_FALSE(texture_variant("@a-b/c.png", v, sizeof v));  // dashes of the directory
  variant_model_name("@crf450v2013_frame.jm", "-alt1", name, sizeof name);
  EXPECT_STREQ(name, "@crf450v2013_frame-alt1.jm");
  uint8_t bg[3] = {255, 255, 255}, fg[3] = {0, 0, 0};
  parse_number_colours("x [numberforeground:2,0.5,-1] y", bg, fg);
  EXPECT_EQ(fg[0], 255);
  EXPECT_EQ(fg[1], 127);
  EXPECT_EQ(fg[2], 0);
  EXPECT_EQ(bg[0], 255);  // no background tag: unchanged
  parse_number_colours(nullptr, bg, fg);
  EXPECT_EQ(fg[0], 255);
}

TEST_F(BikeTest, MissingChosenTextureFallsBackToTheModelDefault) {
  Bike *other = build_racer("crf450(2013)", 1, "7", "@no_such_gear.png", nullptr,
                            "@no_such_bike.png", nullptr);
  EXPECT_STREQ(other->texture_names[BIKE_TEXTURE], other->model->bike_texture);
  EXPECT_STREQ(other->texture_names[GEAR_TEXTURE], other->model->rider_texture);
  EXPECT_STREQ(other->texture_names[WHEEL_TEXTURE], "@wheels.png");
  free_racer(other);
}

// ---- tyre contact ----

TEST_F(BikeTest, WheelAtBuildHeightOnFlatGround) {
  Vec3 point, normal;
  float depth = 0;
  ASSERT_TRUE(wheel_ground_probe(rig.field, &b()->front, &point, &normal, &depth));
  EXPECT_NEAR(depth, 0.0767f, 0.0002f);
  EXPECT_NEAR(normal.y, 1, 1e-6);
  EXPECT_NEAR(point.y, -depth, 1e-5);  // the tyre's deepest point
  float kp, kd;
  tyre_stiffness(depth, b()->front.tube_radius, &kp, &kd);
  EXPECT_NEAR(kp, 1292, 2);
  EXPECT_NEAR(kd, 228, 1);
  tyre_stiffness(0.5f, b()->front.tube_radius, &kp, &kd);  // past the tube radius
  EXPECT_EQ(kp, 25000);
  EXPECT_EQ(kd, 2500);
}

TEST_F(BikeTest, WheelInTheAirRecordsNoDepth) {
  translate_racer(b(), 0, 3, 0);
  b()->front.depth = 0.3f;
  EXPECT_FALSE(wheel_ground_contact(rig.field, &b()->front, 1));
  EXPECT_EQ(b()->front.depth, 0);
}

struct TorusCase {
  const char *name;
  Vec3 centre;
  Vec3 tri[3];
  float depth;  // expected; 0 for no contact
  Vec3 normal;  // expected when touching
};

TEST(TorusTriangle, Cases) {
  const float R = 0.8333333f, r = 0.3333333f;
  const float fixed = r - 1.0f / 1048576;
  const Vec3 axle = {1, 0, 0};  // wheel plane x = 0
  const float s = 0.7071068f;
  const TorusCase cases[] = {
      // 1. near point above a big triangle: face contact
      {"face, resting 0.1 deep", {0, R + r - 0.1f, 0}, {{-10, 0, -10}, {-10, 0, 10}, {10, 0, 0}}, 0.1f, {0, 1, 0}},
      {"clear above", {0, R + r + 0.05f, 0}, {{-10, 0, -10}, {-10, 0, 10}, {10, 0, 0}}, 0, {}},
      // 2. the circle cuts the plane over the triangle: face contact, r + distance below
      {"circle cuts the plane", {0, R - 0.2f, 0}, {{-10, 0, -10}, {-10, 0, 10}, {10, 0, 0}}, r + 0.2f, {0, 1, 0}},
      // 2. ... beside a slanted edge: fixed depth, normal across edge and axle
      {"circle cuts the plane past a slanted edge", {0, 0.3f, 0.3f}, {{-2, 0, -1}, {2, 0, 1}, {-2, 0, -6}}, fixed, {0, 1, 0}},
      // 2. ... past an edge parallel to the axle: fixed depth, normal toward the centre
      {"circle cuts the plane past an edge along the axle", {0, 0.3f, 0.3f}, {{-2, 0, 0}, {2, 0, 0}, {0, 0, -4}}, fixed, {0, s, s}},
      // 3. whole circle below the plane, centre over the triangle: straight up, 2r
      {"whole circle below", {0, -R - 0.5f, 0}, {{-10, 0, -10}, {-10, 0, 10}, {10, 0, 0}}, 2 * r, {0, 1, 0}},
      // 4. the tyre over the edge of a triangle that ends short of the wheel
      {"edge under the tyre", {0, 0.9f, 0.3f}, {{-1, 0, -0.2f}, {1, 0, -0.2f}, {0, 0, -3}}, r - (1.0295630f - R), {0, 0.8741573f, 0.4856429f}},
      {"triangle far to the side", {0, R, 0}, {{5, 0, -1}, {5, 0, 1}, {7, 0, 0}}, 0, {}},
  };
  for (const TorusCase &c : cases) {
    SCOPED_TRACE(c.name);
    Vec3 point{}, normal{};
    float depth = torus_triangle(c.centre, axle, R, r, c.tri, &point, &normal);
    if (c.depth == 0) {
      EXPECT_LE(depth, 0);
      continue;
    }
    EXPECT_NEAR(depth, c.depth, 2e-4);
    EXPECT_NEAR(normal.x, c.normal.x, 2e-4);
    EXPECT_NEAR(normal.y, c.normal.y, 2e-4);
    EXPECT_NEAR(normal.z, c.normal.z, 2e-4);
  }
}

TEST(TorusTriangle, GroundNormalCleanup) {
  struct Case {
    Vec3 in, out;
  } cases[] = {
      {{0, -1, 0}, {0, 1, 0}},        // straight down: push straight up
      {{0.6f, -0.8f, 0}, {1, 0, 0}},  // down and sideways: purely sideways
      {{0, 2, 0}, {0, 1, 0}},         // normalised
      {{0.01f, -1, 0}, {0, 1, 0}},    // too little sideways part
  };
  for (const Case &c : cases) {
    Vec3 n = clean_ground_normal(c.in);
    EXPECT_NEAR(n.x, c.out.x, 1e-6);
    EXPECT_NEAR(n.y, c.out.y, 1e-6);
    EXPECT_NEAR(n.z, c.out.z, 1e-6);
  }
}

TEST(TorusTriangle, ArcadeGrip) {
  EXPECT_EQ(arcade_grip(0), 1);
  EXPECT_NEAR(arcade_grip((float)M_PI / 8), 0.8125f, 1e-6);
  EXPECT_NEAR(arcade_grip((float)M_PI / 4), 0.625f, 1e-6);
  EXPECT_NEAR(arcade_grip(-1.2f), 0.625f, 1e-6);
}

// Friction ratio (horizontal / normal force) of one step of a wheel spinning on the spot.
float spin_friction_ratio(BikeRig &rig, float point_speed, float grip, float *rolling_force) {
  dBodyID wheel = rig.bike->bodies[REAR_WHEEL_BODY];
  float outer = rig.bike->rear.torus_radius + rig.bike->rear.tube_radius;
  // Lower the bike until the rear tyre is 0.1 ft deep; spin the wheel, its body at rest.
  translate_racer(rig.bike, 0, outer - 0.1f - body_position(wheel).y, 0);
  dBodySetAngularVel(wheel, point_speed / (outer - 0.1f), 0, 0);
  EXPECT_TRUE(wheel_ground_contact(rig.field, &rig.bike->rear, grip));
  const dReal *f = dBodyGetForce(wheel);
  *rolling_force = (float)sqrt(f[0] * f[0] + f[2] * f[2]);
  physics_world_step();
  const dJointFeedback &fb = rig.bike->rear.feedback;
  // Friction against the sliding (along z); the other direction only holds the wheel's line.
  return (float)(fabs(fb.f1[2]) / fb.f1[1]);
}

TEST_F(BikeTest, SpinningWheelGetsFrictionOfItsSpinSpeedAndGripFactor) {
  SurfaceType &s = rig.field->surfaces[0];
  s.friction_points[0] = FrictionPoint{1.5f, 5};
  s.friction_points[1] = FrictionPoint{0.5f, 30};
  for (int k = 2; k < FRICTION_POINTS; k++) s.friction_points[k] = FrictionPoint{1, 0};
  struct Case {
    float speed, grip, mu;
  } cases[] = {{40, 1, 0.5f}, {3, 1, 1.5f}, {40, 0.625f, 0.3125f}};
  // The solver's friction cone is approximate (about 10 % over mu here), so the cases are
  // compared with each other: the friction follows the surface curve at the spin speed.
  float scale = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.speed);
    reset_racer(b());
    translate_racer(b(), 64, 0, 64);
    float rolling = -1;
    float ratio = spin_friction_ratio(rig, c.speed, c.grip, &rolling);
    EXPECT_NEAR(ratio, c.mu, 0.15f * c.mu);
    if (scale == 0) scale = ratio / c.mu;
    EXPECT_NEAR(ratio / c.mu, scale, 0.05f);
    EXPECT_EQ(rolling, 0);  // a body at rest gets no rolling resistance
  }
}

TEST_F(BikeTest, RollingResistanceFadesBelowOneFootPerSecond) {
  dBodyID wheel = b()->bodies[FRONT_WHEEL_BODY];
  float first, second;
  roll_resist_at(&rig.field->surfaces[0], 0.5f, &first, &second);
  dBodySetLinearVel(wheel, 0, 0, -0.5f);
  ASSERT_TRUE(wheel_ground_contact(rig.field, &b()->front, 1));
  float m = fminf(1, b()->front.depth / b()->front.tube_radius);
  float resist = first + (second - first) * m;
  EXPECT_NEAR(dBodyGetForce(wheel)[2], resist * 0.5f, 1e-3);
  dBodySetForce(wheel, 0, 0, 0);
  dBodySetLinearVel(wheel, 0, 0, -20);
  roll_resist_at(&rig.field->surfaces[0], 20, &first, &second);
  ASSERT_TRUE(wheel_ground_contact(rig.field, &b()->front, 1));
  EXPECT_NEAR(dBodyGetForce(wheel)[2], first + (second - first) * m, 1e-3);
}

// ---- engine and drivetrain ----

TEST_F(BikeTest, ClosedThrottleIdlesAt1500) {
  for (int i = 0; i < 128 * 5; i++) drivetrain_step(b());
  EXPECT_NEAR(engine_rpm(b()), 1500, 5);
}

TEST(Drivetrain, AutomaticClutch) {
  struct Case {
    float rpm, e;
  } cases[] = {{4000, 0}, {5000, 0}, {6000, 0.5f}, {7000, 1}, {9000, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rpm);
    EXPECT_NEAR(clutch_engagement(1, c.rpm, 5000), c.e, 1e-6);
  }
  EXPECT_NEAR(clutch_engagement(0.3f, 6000, 5000), 0.3f, 1e-6);  // lever wins when lower
  EXPECT_NEAR(clutch_engagement(0.3f, 8000, 5000), 0.3f, 1e-6);
}

TEST_F(BikeTest, HalfClutchTransmitsAQuarterAndWindUpStaysWithinEighthTurn) {
  set_auto_clutch_rpms(b(), 0);
  b()->controls.clutch = 0.5f;
  b()->controls.throttle = 1;
  b()->engine_speed = 8000 / RPM_PER_RAD_S;
  // No world step: the rear wheel stays put while the engine winds the driveline up.
  dBodyID rear = b()->bodies[REAR_WHEEL_BODY];
  for (int i = 0; i < 200; i++) {
    dBodySetTorque(rear, 0, 0, 0);
    float wind_before = b()->gearbox_angle;
    float speed = b()->engine_speed;
    float n = total_reduction(b());
    drivetrain_step(b());
    float wind = b()->gearbox_angle - (float)TICK * b()->engine_speed / n;
    EXPECT_LE(fabsf(wind), (float)M_PI / 8 + 1e-5f);
    float tc = clampf(speed * b()->model->clutch_damping, -500, 500) +
               b()->model->clutch_stiffness * wind_before;
    // While the engine runs fast the automatic clutch leaves the lever's 0.5.
    if (speed * RPM_PER_RAD_S > 2000 && fabsf(wind_before) < M_PI / 8 - 1e-3) {
      // The rear wheel receives a quarter of the coupling torque.
      EXPECT_NEAR(dBodyGetTorque(rear)[0], -0.25f * tc, fabsf(tc) * 1e-4f + 1e-3f);
    }
  }
}

TEST_F(BikeTest, FirstGearReductionAndShifting) {
  EXPECT_NEAR(total_reduction(b()), 1.8f * 2.73913f * 48 / 13, 1e-4);
  EXPECT_NEAR(total_reduction(b()), 18.2f, 0.01f);
  for (int i = 0; i < 50; i++) shift(b(), 1);  // held: one shift
  EXPECT_EQ(b()->gear, 1);
  shift(b(), 0);
  for (int k = 0; k < 6; k++) {
    shift(b(), 1);
    shift(b(), 0);
  }
  EXPECT_EQ(b()->gear, 4);  // five speeds: stays in fifth
  shift(b(), 7);            // not an input
  EXPECT_EQ(b()->gear, 4);
  b()->crash_timer = 5;  // down: ignored
  shift(b(), -1);
  EXPECT_EQ(b()->gear, 4);
}

TEST_F(BikeTest, AntilockReleasesASlidingFrontWheel) {
  b()->controls.front_brake = 1;
  b()->front.depth = 0.05f;
  b()->rear.depth = 0.05f;
  b()->front.point_velocity = Vec3{0, 0, -3};
  brake_step(b());
  EXPECT_EQ(dJointGetHingeParam(b()->joints[FRONT_AXLE_JOINT], dParamFMax), 0);
  b()->front.point_velocity = Vec3{0, 0, -1.5f};
  brake_step(b());
  EXPECT_EQ(dJointGetHingeParam(b()->joints[FRONT_AXLE_JOINT], dParamFMax), 250);
  // Stoppie prevention: the rear in the air releases the front brake.
  b()->rear.depth = 0;
  brake_step(b());
  EXPECT_EQ(dJointGetHingeParam(b()->joints[FRONT_AXLE_JOINT], dParamFMax), 0);
}

// ---- suspension and setup ----

TEST_F(BikeTest, ForkAirForceAtHalfTravel) {
  b()->settings.fork_spring_rate = 0;
  b()->settings.fork_air_length = 0.4166667f;
  EXPECT_NEAR(fork_force_law(b(), -0.5f, 0), 69.2f, 0.1f);
  EXPECT_EQ(fork_force_law(b(), 0.01f, 0), 0);  // topped out
}

TEST_F(BikeTest, ShockRampsInOverTheFirstThirtySecond) {
  float travel = b()->model->swingarm_travel;
  EXPECT_EQ(shock_torque_law(b(), 0, 0), 0);
  float s = 0.01f;
  float lever = b()->model->shock_leverage_start;
  float full = lever * (lever * s + b()->settings.shock_preload) * b()->settings.shock_spring_rate;
  EXPECT_NEAR(shock_torque_law(b(), -s * travel, 0), 0.32f * full, 1e-3f * full);
}

TEST(Setup, DampingMultipliers) {
  struct Case {
    float adjustment, m;
  } cases[] = {{0, 0.5f}, {50, 1}, {75, 1.41421f}, {100, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.adjustment);
    EXPECT_NEAR(damping_multiplier(c.adjustment), c.m, 1e-4);
  }
}

TEST_F(BikeTest, DampingSettersScaleTheModelBase) {
  set_fork_compression(b(), 100);
  EXPECT_NEAR(b()->settings.fork_compression_damping, 120, 1e-3);
  set_fork_compression(b(), 0);
  EXPECT_NEAR(b()->settings.fork_compression_damping, 30, 1e-3);
  set_shock_rebound(b(), 75);
  EXPECT_NEAR(b()->settings.shock_rebound_damping, 650 * 1.41421f, 0.05f);
  EXPECT_FALSE(setup_out_of_range());
}

TEST_F(BikeTest, SprocketsAndTheirFloor) {
  set_sprockets(b(), -2, 2);
  EXPECT_NEAR(b()->final_ratio, 50.0f / 11, 1e-5);
  EXPECT_FALSE(setup_out_of_range());
  set_sprockets(b(), -20, -20);
  EXPECT_NEAR(b()->final_ratio, 46.0f / 11, 1e-5);
  EXPECT_TRUE(setup_out_of_range());
  b()->model->countershaft_teeth = 4;
  b()->model->rear_sprocket_teeth = 3;
  set_sprockets(b(), -2, -2);
  EXPECT_NEAR(b()->final_ratio, 1, 1e-6);  // 3 teeth each at least
}

TEST_F(BikeTest, SetterConversionsRangesAndFlag) {
  set_max_dab_speed(b(), 5);  // the setup's lowest value: 7.33 ft/s, inside the range
  EXPECT_NEAR(b()->settings.max_dab_speed, 7.3333335f, 1e-5);
  set_max_dab_speed(b(), 4);  // below it the field's lower limit of 7 ft/s holds
  EXPECT_NEAR(b()->settings.max_dab_speed, 7, 1e-6);
  EXPECT_FALSE(setup_out_of_range());
  set_roll_limit_angle(b(), 90);
  EXPECT_NEAR(b()->settings.roll_limit_angle, M_PI / 2, 1e-6);
  set_restricted_lock(b(), 50);  // 45 degrees at most; 50 is within the slack
  EXPECT_NEAR(b()->settings.restricted_lock, M_PI / 4, 1e-6);
  EXPECT_FALSE(setup_out_of_range());
  set_leveling(b(), 112);
  EXPECT_FALSE(setup_out_of_range());
  set_leveling(b(), 113);
  EXPECT_EQ(b()->settings.leveling, 100);
  EXPECT_TRUE(setup_out_of_range());
}

TEST_F(BikeTest, SetupFlagChoices) {
  EXPECT_EQ(b()->setup_flags, SETUP_ALWAYS | SETUP_STOP_STOPPIES | SETUP_FRONT_ANTILOCK |
                                   SETUP_AUTO_ALIGN);
  set_stop_wheelies(b(), "Yes");
  EXPECT_EQ(b()->setup_flags & 6, 6);
  set_stop_wheelies(b(), "Front Only");
  EXPECT_EQ(b()->setup_flags & 6, SETUP_STOP_STOPPIES);
  set_stop_wheelies(b(), "No");
  EXPECT_EQ(b()->setup_flags & 6, 0);
  set_front_brake_mode(b(), "Normal");
  set_rear_brake_mode(b(), "Antilock");
  EXPECT_EQ(b()->setup_flags & (SETUP_FRONT_ANTILOCK | SETUP_REAR_ANTILOCK), SETUP_REAR_ANTILOCK);
  set_arcade(b(), "Yes", 0);
  EXPECT_EQ(b()->setup_flags2, SETUP2_ARCADE);
  set_arcade(b(), "Yes", 1);  // the server has disabled it
  EXPECT_EQ(b()->setup_flags2, 0);
}

int refusal_messages() {
  int n = 0;
  const MessageLog *log = message_log();
  for (int i = 0; i < MESSAGE_LOG_LINES; i++)
    if (strstr(log->lines[i], "Mechanic can't keep up")) n++;
  return n;
}

TEST_F(BikeTest, ApplySetupIsRefusedWhileMovingAndTheMessageNeedsARepeat) {
  setup_reset_defaults();
  BikeSetup *setup = bike_setup();
  message_log_clear();
  dBodyID frame = b()->bodies[FRAME_BODY];
  dBodySetLinearVel(frame, 0.1, 0, 0);
  EXPECT_EQ(apply_setup(b(), setup, 100), 1);
  // The player's defaults: 20 mph dab speed, arcade on, automatic shifting and dab.
  EXPECT_NEAR(b()->settings.max_dab_speed, 20 * 1.4666667f, 1e-4);
  EXPECT_TRUE(b()->setup_flags & SETUP_AUTO_SHIFT);
  EXPECT_EQ(b()->setup_flags2, SETUP2_ARCADE);
  dBodySetLinearVel(frame, 0.2, 0, 0);
  b()->settings.leveling = 55;
  EXPECT_EQ(apply_setup(b(), setup, 101), 0);  // first refusal: silent
  EXPECT_EQ(b()->settings.leveling, 55);
  EXPECT_EQ(refusal_messages(), 0);
  EXPECT_EQ(apply_setup(b(), setup, 106), 0);  // 5 s later: told
  EXPECT_EQ(refusal_messages(), 1);
  EXPECT_EQ(apply_setup(b(), setup, 126), 0);  // 20 s after the last: silent again
  EXPECT_EQ(refusal_messages(), 1);
}

TEST_F(BikeTest, RiderMassDistributionKeepsTheTotal) {
  set_rider_mass_distribution(b(), 0.2f);  // becomes 0.33
  EXPECT_NEAR(body_mass(b()->bodies[RIDER_BODY]), 0.33f * 5.46875f, 1e-4);
  set_rider_mass_distribution(b(), 0.5f);
  EXPECT_NEAR(body_mass(b()->bodies[RIDER_BODY]), 0.5f * 5.46875f, 1e-4);
  float total = 0;
  for (int i = 0; i < BIKE_BODY_COUNT; i++) total += body_mass(b()->bodies[i]);
  EXPECT_NEAR(total, b()->total_mass, 1e-4);
}

}  // namespace
