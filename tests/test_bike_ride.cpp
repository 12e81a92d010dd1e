// Physical sense of the bike on a flat field: settling, standing, top speeds, acceleration,
// braking and a long run of random controls. Figures are printed for the notes.
#include "tests/test_bike_fixture.h"

#include <cstdio>

namespace {

constexpr float MPH = 1.4666667f;  // ft/s

struct RideTest : ::testing::Test {
  BikeRig rig;
  void SetUp() override {
    bike_setup_reset();
    ode_message_count() = 0;
    // 4096 ft square, flat at 0; the bike starts near the south edge facing north (-z).
    rig.make("crf450(2013)", make_field(9, 4, nullptr), 2048, 0, 3900);
    ticks = 0;
  }
  void TearDown() override {
    rig.destroy();
    EXPECT_EQ(ode_message_count(), 0);  // the step solver never gave up
  }
  Bike *b() { return rig.bike; }
  int ticks;
  // One tick; the field is flat, so the bike is carried back south before the north edge.
  void tick() {
    if (rig.position().z < 300) translate_racer(b(), 0, 0, 3500);
    rig.step();
    ticks++;
  }
  float forward_speed() { return -(float)dBodyGetLinearVel(b()->bodies[FRAME_BODY])[2]; }
  float sag_front() { return -fork_position(b()); }
  float sag_rear() { return -(float)dJointGetHingeAngle(b()->joints[SWINGARM_JOINT]); }
};

TEST_F(RideTest, DroppedFromTwoFeetSettlesOnItsSuspension) {
  translate_racer(b(), 0, 2, 0);
  float y_prev = 0;
  int settled_tick = -1;
  for (int t = 0; t < 128 * 4; t++) {
    rig.step();
    float y = rig.position().y;
    if (settled_tick < 0 && t > 64 && fabsf(y - y_prev) * 128 < 0.05f &&
        rig.speed() < 0.05f)
      settled_tick = t;
    y_prev = y;
  }
  float rear_axle_travel = sag_rear() * 1.908f * 12;  // in, at the axle (swingarm 1.908 ft)
  printf("settle: %.2f s, frame y %.3f ft, fork sag %.2f in, rear %.3f rad (%.2f in at axle)\n",
         settled_tick / 128.0, rig.position().y, sag_front() * 12, sag_rear(), rear_axle_travel);
  EXPECT_GE(settled_tick, 0);
  EXPECT_LT(settled_tick, 256);
  // Static sag of a 450 with its rider: some 1-3 in at the fork, 2-5 in at the rear axle.
  EXPECT_GT(sag_front() * 12, 0.5f);
  EXPECT_LT(sag_front() * 12, 6);
  EXPECT_GT(rear_axle_travel, 1);
  EXPECT_LT(rear_axle_travel, 6);
}

TEST_F(RideTest, StandsStillWithBrakesOn) {
  b()->controls.front_brake = b()->controls.rear_brake = 1;
  rig.run(256);
  Vec3 p0 = rig.position();
  rig.run(128 * 10);
  Vec3 d = rig.position() - p0;
  float drift = sqrtf(d.x * d.x + d.z * d.z);
  printf("standing with brakes: drift %.4f ft in 10 s\n", drift);
  EXPECT_LT(drift, 0.05f);
}

// Speed a gear gives at an engine rpm on a wheel of the given radius.
float gear_speed(const Bike *b, int gear, float rpm, float radius) {
  float n = b->model->gear_ratios[gear] * b->model->primary_ratio * b->final_ratio;
  return rpm / RPM_PER_RAD_S / n * radius;
}

TEST_F(RideTest, FullThrottleInEachGearEndsAtTheRevLimit) {
  // The crf450's full-throttle curve reaches 0 at 12000 rpm.
  float outer = b()->model->rear_wheel.torus_radius + b()->model->rear_wheel.tube_radius;
  for (int gear = 0; gear < 5; gear++) {
    SCOPED_TRACE(gear);
    reset_racer(b());
    translate_racer(b(), 2048, 0, 3900);
    b()->setup_flags |= SETUP_STOP_WHEELIES | SETUP_AUTO_SHIFT;
    b()->controls.throttle = 1;
    b()->controls.clutch = 1;
    // Automatic shifting up to the gear, then held there until the speed stops rising.
    float last = 0;
    int t = 0;
    for (; t < 128 * 90; t++) {
      if (b()->gear >= gear) {
        b()->setup_flags &= (uint8_t)~SETUP_AUTO_SHIFT;
        b()->gear = gear;
      }
      tick();
      if (t % 256 == 0) {
        if (b()->gear == gear && t > 512 && forward_speed() - last < 0.02f) break;
        last = forward_speed();
      }
    }
    float v = forward_speed();
    float expected = gear_speed(b(), gear, 12000, outer);
    printf("gear %d: %.1f ft/s (%.1f mph) at %.0f rpm after %.1f s; rev limit / N x outer "
           "radius %.1f ft/s (ratio %.3f)\n",
           gear + 1, v, v / MPH, engine_rpm(b()), t / 128.0, expected, v / expected);
    EXPECT_NEAR(engine_rpm(b()), 12000, 300);
    EXPECT_NEAR(v / expected, 1, 0.05f);
  }
}

TEST_F(RideTest, AccelerationWithAutomaticShifting) {
  b()->setup_flags |= SETUP_STOP_WHEELIES | SETUP_AUTO_SHIFT;
  b()->controls.throttle = 1;
  b()->controls.clutch = 1;
  float t30 = -1, t60 = -1;
  for (int t = 0; t < 128 * 20 && t60 < 0; t++) {
    tick();
    float v = forward_speed();
    if (t30 < 0 && v >= 30 * MPH) t30 = (t + 1) / 128.0f;
    if (t60 < 0 && v >= 60 * MPH) t60 = (t + 1) / 128.0f;
  }
  printf("0-30 mph %.2f s, 0-60 mph %.2f s, gear %d\n", t30, t60, b()->gear + 1);
  // A 450 motocross bike: about 1.5 s to 30 mph and 3 to 4 s to 60 mph (traction limited).
  EXPECT_GT(t30, 0.8f);
  EXPECT_LT(t30, 3.0f);
  EXPECT_GT(t60, 2.0f);
  EXPECT_LT(t60, 7.0f);
}

TEST_F(RideTest, StoppingDistanceFromFortyMph) {
  b()->setup_flags |= SETUP_STOP_WHEELIES | SETUP_AUTO_SHIFT;
  b()->controls.throttle = 1;
  b()->controls.clutch = 1;
  while (forward_speed() < 40 * MPH && ticks < 128 * 20) tick();
  ASSERT_LT(ticks, 128 * 20);
  float v0 = forward_speed();
  Vec3 p0 = rig.position();
  b()->controls.throttle = 0;
  b()->controls.clutch = 0;
  b()->controls.front_brake = b()->controls.rear_brake = 1;
  int t = 0;
  for (; t < 128 * 10 && forward_speed() > 0.1f; t++) tick();
  float distance = fabsf(rig.position().z - p0.z);
  float mu = friction_at(&rig.field->surfaces[0], 0);
  float ideal = v0 * v0 / (2 * mu * 32);
  printf("stopping from %.1f mph: %.1f ft in %.2f s; v^2/(2 mu g) = %.1f ft (ratio %.2f)\n",
         v0 / MPH, distance, t / 128.0, ideal, distance / ideal);
  EXPECT_GT(distance, ideal * 0.95f);
  EXPECT_LT(distance, ideal * 1.6f);
}

TEST_F(RideTest, TenMinutesOfRandomControlsStayFinite) {
  Mt19937 mt;
  mt_seed(&mt, 4501);
  auto unit = [&mt]() { return (mt_next(&mt) >> 8) * (1.0f / 16777216); };
  b()->setup_flags |= SETUP_AUTO_SHIFT;
  float worst = 0;
  int bad_tick = -1;
  for (int t = 0; t < 128 * 600 && bad_tick < 0; t++) {
    if (t % 16 == 0) {
      b()->controls.throttle = unit() < 0.3f ? 0 : unit();
      b()->controls.clutch = unit() < 0.1f ? unit() : 1;
      b()->controls.front_brake = unit() < 0.8f ? 0 : unit();
      b()->controls.rear_brake = unit() < 0.8f ? 0 : unit();
      b()->controls.lean = unit() * 2 - 1;
      b()->controls.dab = unit() < 0.9f ? 0 : 1;
      int input = (int)(unit() * 3) - 1;
      shift(b(), input);
    }
    tick();
    for (int i = 0; i < BIKE_BODY_COUNT; i++) {
      const dReal *p = dBodyGetPosition(b()->bodies[i]);
      const dReal *v = dBodyGetLinearVel(b()->bodies[i]);
      for (int k = 0; k < 3; k++) {
        if (!std::isfinite(p[k]) || !std::isfinite(v[k]) || fabs(v[k]) > 10000) bad_tick = t;
        if (fabs(v[k]) > worst) worst = (float)fabs(v[k]);
      }
    }
  }
  printf("random controls: 10 min, largest body velocity component %.1f ft/s\n", worst);
  EXPECT_EQ(bad_tick, -1);
  EXPECT_TRUE(std::isfinite(engine_rpm(b())));
}

// A scripted ride hashed: any change to the physics shows here and must be deliberate.
TEST_F(RideTest, GoldenRide) {
  b()->setup_flags |= SETUP_AUTO_SHIFT | SETUP_STOP_WHEELIES;
  Sha1 sha;
  sha1_init(&sha);
  for (int t = 0; t < 128 * 8; t++) {
    b()->controls.clutch = 1;
    b()->controls.throttle = t < 128 * 5 ? 0.8f : 0;
    b()->controls.front_brake = b()->controls.rear_brake = t < 128 * 5 ? 0 : 0.7f;
    tick();
    for (int i = 0; i < BIKE_BODY_COUNT; i++) {
      const dReal *p = dBodyGetPosition(b()->bodies[i]);
      float f[3] = {(float)p[0], (float)p[1], (float)p[2]};
      sha1_update(&sha, f, sizeof f);
    }
    sha1_update(&sha, &b()->engine_speed, sizeof b()->engine_speed);
  }
  uint8_t digest[20];
  char hex[41];
  sha1_final(&sha, digest);
  sha1_hex(digest, hex);
  EXPECT_STREQ(hex, "503ac2624a44ded5efd0865aaf9c6d68984026fd") << "the golden ride changed";
}

}  // namespace
