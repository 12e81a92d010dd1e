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
  }
  void TearDown() override {
    rig.destroy();
    EXPECT_EQ(ode_message_count(), 0);  // the step solver never gave up
  }
  Bike *b() { return rig.bike; }
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

}  // namespace
