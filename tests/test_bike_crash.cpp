// Collisions and crashes: part shapes on the ground, bike against bike, statues, the loose
// rider and the recovery.
#include "tests/test_bike_fixture.h"

#include "render/model.h"
#include "robot/robot.h"
#include "track/track.h"

namespace {

struct CrashTest : ::testing::Test {
  BikeRig rig;
  void SetUp() override {
    bike_setup_reset();
    set_crash_penalty_ticks(nullptr);
    track_reset();
    ode_message_count() = 0;
    rig.make("crf450(2013)", make_field(6, 2, nullptr), 64, 0, 64);
    rig.hold_upright = 0;
    rig.full_step = 1;
    ASSERT_NE(b()->shapes[RIDER_BODY], nullptr) << "collision shapes come with the starter data";
  }
  void TearDown() override {
    rig.destroy();
    track_reset();
    set_crash_penalty_ticks(nullptr);
    EXPECT_EQ(ode_message_count(), 0);
  }
  Bike *b() { return rig.bike; }
};

// Turns the rider body upside down with its centre `depth` ft below the top of its shape
// touching the ground, moving at `speed` ft/s.
void rider_upside_down_on_ground(Bike *b, float speed) {
  dBodyID rider = b->bodies[RIDER_BODY];
  dMatrix3 r;
  dRFromAxisAndAngle(r, 0, 0, 1, M_PI);
  dBodySetRotation(rider, r);
  dBodySetPosition(rider, 64, 0.5, 64);
  dBodySetLinearVel(rider, speed, 0, 0);
}

TEST_F(CrashTest, UpsideDownRiderOnTheGroundCrashesAboveFiveFeetPerSecond) {
  struct Case {
    float speed;
    int crash;
  } cases[] = {{6, 1}, {4, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.speed);
    reset_racer(b());
    translate_racer(b(), 64, 0, 64);
    rider_upside_down_on_ground(b(), c.speed);
    terrain_contact_pass(b(), rig.field);
    dJointGroupEmpty(physics_contact_group());
    EXPECT_EQ(b()->crash_timer > 0, c.crash);
    EXPECT_EQ(b()->lap_spoiled, 1);  // the rider touched the ground
  }
}

TEST_F(CrashTest, FrameOnTheGroundKeepsTheLapButTheSwingarmSpoilsIt) {
  struct Case {
    int body, spoiled;
  } cases[] = {{FRAME_BODY, 0}, {SWINGARM_BODY, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.body);
    reset_racer(b());
    translate_racer(b(), 64, 3, 64);  // everything in the air...
    dBodySetPosition(b()->bodies[c.body], 64, 0.2, 64);  // ...but this part
    EXPECT_TRUE(terrain_contact_pass(b(), rig.field));
    dJointGroupEmpty(physics_contact_group());
    EXPECT_EQ(b()->lap_spoiled, c.spoiled);
  }
}

TEST_F(CrashTest, RecoveryAfter512TicksAtRestAndPenalties) {
  translate_racer(b(), 64, 0, 64);
  start_crash(b());
  EXPECT_EQ(b()->crash_timer, 512);
  EXPECT_EQ(dJointGetBody(b()->joints[RIDER_JOINT], 0), nullptr);
  EXPECT_EQ(b()->controls.throttle, 0);
  set_throttle(b(), 1);  // the rider is down
  EXPECT_EQ(b()->controls.throttle, 0);
  int t = 0;
  while (b()->crash_timer > 0 && t < 128 * 30) {
    rig.step();
    t++;
  }
  printf("recovered after %d ticks (%.2f s)\n", t, t / 128.0);
  EXPECT_EQ(b()->crash_timer, 0);
  EXPECT_GE(t, 512);
  EXPECT_LT(t, 512 + 128 * 4);  // the rider comes to rest within a few seconds
  EXPECT_EQ(dJointGetBody(b()->joints[RIDER_JOINT], 0), b()->bodies[RIDER_BODY]);
  // A second crash with the server's penalties lasts 128 ticks longer.
  int penalty[CRASH_PENALTY_SLOTS];
  for (int i = 0; i < CRASH_PENALTY_SLOTS; i++) penalty[i] = 128 * i;
  set_crash_penalty_ticks(penalty);
  start_crash(b());
  EXPECT_EQ(b()->crash_timer, 512 + 128);
  b()->crash_count = 40;
  b()->crash_timer = 0;
  start_crash(b());
  EXPECT_EQ(b()->crash_timer, 512 + 128 * 15);
}

TEST(CrashRules, ReturnTetherLengths) {
  EXPECT_FLOAT_EQ(return_tether_length(512), 5);
  EXPECT_FLOAT_EQ(return_tether_length(320), 2.5f);
  EXPECT_FLOAT_EQ(return_tether_length(128), 0);
  EXPECT_FLOAT_EQ(return_tether_length(10), 0);
}

TEST_F(CrashTest, KnockBelowZeroPreventsCrashes) {
  translate_racer(b(), 64, 0, 64);
  b()->knock = -10;
  dBodySetLinearVel(b()->bodies[RIDER_BODY], 40, 0, 0);  // 40 ft/s off the seat
  check_crash(b(), 10);
  EXPECT_EQ(b()->crash_timer, 0);
  b()->knock = 0;
  check_crash(b(), 10);
  EXPECT_GT(b()->crash_timer, 0);
}

// Two bikes side by side facing each other, front wheels touching.
struct TwoBikes : CrashTest {
  Bike *other = nullptr;
  void SetUp() override {
    CrashTest::SetUp();
    other = build_racer("crf450(2013)", 1, "2", nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    free_racer(other);
    CrashTest::TearDown();
  }
  // A faces -z at the origin of the field, B faces +z with its front wheel against A's.
  void head_on(float speed_a, float speed_b) {
    reset_racer(b());
    reset_racer(other);
    translate_racer(b(), 64, 0, 64);
    rotate_racer(other, 0, 1, 0, (float)M_PI);
    // A's front axle at z 65.11, B's 2.13 ft ahead of it: the tyres overlap by 0.2 ft.
    translate_racer(other, 64, 0, 65.11f - 2.13f + 1.11f);
    for (int i = 0; i < BIKE_BODY_COUNT; i++) {
      dBodySetLinearVel(b()->bodies[i], 0, 0, -speed_a);
      dBodySetLinearVel(other->bodies[i], 0, 0, speed_b);
    }
  }
};

TEST_F(TwoBikes, HeadOnKnocksBothAboveTenFeetPerSecond) {
  struct Case {
    float speed;
    float knock;
  } cases[] = {{12, 192}, {8, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.speed);
    head_on(c.speed, c.speed);
    b()->knock = other->knock = 0;
    for (int section = 0; section < 4; section++) {
      set_riding_line(b()->slot, section, 10 + section);
      set_riding_line(other->slot, section, 20 + section);
    }
    int bits = bike_contact_pass(b(), other, 0, 100);
    dJointGroupEmpty(physics_contact_group());
    EXPECT_TRUE(bits & PART_FRONT_WHEEL);
    EXPECT_EQ(b()->knock, c.knock);
    EXPECT_EQ(other->knock, c.knock);
    EXPECT_EQ(b()->last_bike_contact_tick, 100);
    // The contact throws both riders off the lines they were riding.
    for (int section = 0; section < 4; section++) {
      EXPECT_EQ(riding_line(b()->slot, section), 0);
      EXPECT_EQ(riding_line(other->slot, section), 0);
    }
  }
}

// B rides behind A, both facing -z, B's front tyre 0.2 ft into A's rear tyre.
TEST_F(TwoBikes, RemoteFrontEndAgainstTheLocalRearOnlyDetects) {
  ASSERT_NE(b()->shapes[REAR_WHEEL_BODY], nullptr);
  struct Case {
    const char *name;
    int remote;
    float ground_depth;  // B's front wheel's ground contact before the pass
    int joint;
  } cases[] = {{"remote, front wheel in the air", 1, 0, 0},
               {"remote, front wheel on the ground", 1, 0.05f, 0},
               {"offline", 0, 0, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    reset_racer(b());
    reset_racer(other);
    translate_racer(b(), 64, 0, 64);
    translate_racer(other, 64, 0, 64);
    Vec3 rear = rig.position(REAR_WHEEL_BODY);
    Vec3 front = body_position(other->bodies[FRONT_WHEEL_BODY]);
    const WheelContact &w = other->front;
    float gap = 2 * (w.torus_radius + w.tube_radius) - 0.2f;
    translate_racer(other, rear.x - front.x, rear.y - front.y, rear.z + gap - front.z);
    other->front.depth = c.ground_depth;
    other->front.feedback.f1[0] = 1;  // ground contact feedback, kept when on the ground
    dBodyID ab = b()->bodies[REAR_WHEEL_BODY], bb = other->bodies[FRONT_WHEEL_BODY];
    int joints_a = dBodyGetNumJoints(ab), joints_b = dBodyGetNumJoints(bb);

    int bits = bike_contact_pass(b(), other, c.remote, 50);
    EXPECT_TRUE(bits & PART_FRONT_WHEEL);
    EXPECT_EQ(dBodyGetNumJoints(ab) > joints_a, c.joint);
    EXPECT_EQ(dBodyGetNumJoints(bb) > joints_b, c.joint);
    dJointGroupEmpty(physics_contact_group());
    // A wheel in the air reports the touch as its contact; one on the ground keeps its own.
    if (c.ground_depth > 0) {
      EXPECT_EQ(other->front.depth, c.ground_depth);
      EXPECT_EQ(other->front.feedback.f1[0], 1);
    } else {
      EXPECT_GT(other->front.depth, 0.1f);
      EXPECT_LT(other->front.depth, 0.3f);
      EXPECT_EQ(other->front.feedback.f1[0], 0);
      EXPECT_LT(other->front.normal.z, -0.9f);  // from B's tyre forward to A's
    }
  }
}

TEST_F(TwoBikes, SecondContactInATickIsAPenaltyForce) {
  head_on(0, 0);
  int joints_before = dBodyGetNumJoints(b()->bodies[FRONT_WHEEL_BODY]);
  ASSERT_TRUE(bike_contact_pass(b(), other, 0, 7));
  int joints_first = dBodyGetNumJoints(b()->bodies[FRONT_WHEEL_BODY]);
  EXPECT_GT(joints_first, joints_before);  // the first contact is a joint
  for (int i = 0; i < BIKE_BODY_COUNT; i++) {
    dBodySetForce(b()->bodies[i], 0, 0, 0);
    dBodySetForce(other->bodies[i], 0, 0, 0);
  }
  ASSERT_TRUE(bike_contact_pass(b(), other, 0, 7));
  EXPECT_EQ(dBodyGetNumJoints(b()->bodies[FRONT_WHEEL_BODY]), joints_first);  // no new joint
  const dReal *f = dBodyGetForce(b()->bodies[FRONT_WHEEL_BODY]);
  float force = (float)sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  EXPECT_GT(force, 0);
  dJointGroupEmpty(physics_contact_group());
}

TEST_F(CrashTest, RiderHittingAStatueCrashesAbove20FeetPerSecond) {
  // Without a loaded track the statue bins span an extent of 1 (all statues in the last
  // bin); the field says the same so that the pass looks in the same bin.
  rig.field->extent = 1;
  struct Case {
    float speed;
    int crash;
  } cases[] = {{21, 1}, {19, 0}};
  int statue = create_statue(64, 0, 64, 0, nullptr, nullptr, "@tuffblock.shp");
  ASSERT_GE(statue, 0);
  ASSERT_NE(statue_at(statue)->shape, nullptr);
  bin_statues();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.speed);
    reset_racer(b());
    translate_racer(b(), 64, 3, 70);  // the bike clear of the block...
    dBodySetPosition(b()->bodies[RIDER_BODY], 64, 0.8, 64.5);  // ...the rider against it
    dBodySetLinearVel(b()->bodies[RIDER_BODY], 0, 0, -c.speed);
    object_contact_pass(b(), rig.field, 33);
    dJointGroupEmpty(physics_contact_group());
    EXPECT_EQ(b()->crash_timer > 0, c.crash);
    EXPECT_EQ(statue_at(statue)->touch_tick, 33);
  }
}

TEST_F(CrashTest, SpecialStatueIsTestedUnrotated) {
  rig.field->extent = 1;  // one statue bin, as in the test above
  // A tuff block (3 ft along its own x axis) with a level-of-detail heading: a special
  // value. Its orientation is turned a quarter (the block along z) as a gate piece's may be.
  int statue = create_statue(64, 0, 64, 3 * (float)M_PI, nullptr, nullptr, "@tuffblock.shp");
  ASSERT_GE(statue, 0);
  Statue *s = statue_at(statue);
  ASSERT_NE(s->special, 0);
  object_orientation(s->orientation, 64, 64, (float)M_PI / 2);
  bin_statues();
  struct Case {
    float special;
    int touched;
  } cases[] = {{s->special, 1}, {0, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.special);
    s->special = c.special;
    s->touch_tick = 0;
    reset_racer(b());
    translate_racer(b(), 72, 3, 72);  // the bike clear of the block...
    // ...the rider's left forearm just past the block's +x end when it lies along x, well
    // clear of it along z.
    dBodySetPosition(b()->bodies[RIDER_BODY], 66.33, 1.0, 65.1);
    object_contact_pass(b(), rig.field, 12);
    dJointGroupEmpty(physics_contact_group());
    EXPECT_EQ(s->touch_tick == 12, c.touched);
  }
}

// Both racers ticked as the game ticks them.
void tick_two(Terrain *field, Bike *a, Bike *b, int *tick) {
  terrain_contact_pass(a, field);
  terrain_contact_pass(b, field);
  bike_contact_pass(a, b, 0, *tick);
  physics_world_step();
  ++*tick;
  BikeStep st = {field, *tick, 0, 1, 0, Vec3{0, 0, 0}};
  physics_step(a, &st);
  physics_step(b, &st);
}

TEST_F(TwoBikes, CollisionsFromManyAnglesStayBounded) {
  float worst = 0;
  int bad = 0;
  for (int angle = 0; angle < 360; angle += 45)
    for (float speed : {10.0f, 30.0f, 60.0f}) {
      SCOPED_TRACE(angle);
      SCOPED_TRACE(speed);
      reset_racer(b());
      reset_racer(other);
      translate_racer(b(), 64, 0, 64);
      // B starts 30 ft from A's centre and rides at it from the given direction.
      float a = angle * (float)M_PI / 180;
      rotate_racer(other, 0, 1, 0, a + (float)M_PI);
      translate_racer(other, 64 + 30 * sinf(a), 0, 64 + 3.6f + 30 * cosf(a));
      for (Bike *r : {b(), other}) r->setup_flags |= SETUP_AUTO_SHIFT;
      int tick = 0;
      for (int t = 0; t < 128 * 3; t++) {
        float v = body_speed(other->bodies[FRAME_BODY]);
        other->controls.clutch = 1;
        other->controls.throttle = clampf((speed - v) * 0.3f + 0.3f, 0, 1);
        if (t < 64) {  // launched at speed
          for (int i = 0; i < BIKE_BODY_COUNT; i++) {
            Vec3 f = body_vector(other->bodies[FRAME_BODY], 0, 0, -speed);
            dBodySetLinearVel(other->bodies[i], f.x, f.y, f.z);
          }
        }
        tick_two(rig.field, b(), other, &tick);
        for (Bike *r : {b(), other})
          for (int i = 0; i < BIKE_BODY_COUNT; i++) {
            const dReal *p = dBodyGetPosition(r->bodies[i]);
            const dReal *v = dBodyGetLinearVel(r->bodies[i]);
            float sp = (float)sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            if (!std::isfinite(p[0] + p[1] + p[2]) || !std::isfinite(sp) || sp > 200) bad++;
            if (std::isfinite(sp)) worst = fmaxf(worst, sp);
          }
      }
    }
  printf("bike against bike, 8 angles x 3 speeds: fastest body %.1f ft/s\n", worst);
  EXPECT_EQ(bad, 0);
}

TEST_F(CrashTest, RidingIntoATuffBlockCrashesAndTheRiderComesBack) {
  rig.field->extent = 1;  // the statue bins of an unloaded track (see above)
  int statue = create_statue(64, 0, 40, 0, nullptr, nullptr, "@tuffblock.shp");
  ASSERT_NE(statue_at(statue)->shape, nullptr);
  bin_statues();
  translate_racer(b(), 0, 0, 150);  // 150 ft south of the block, facing it
  const float TARGET = 60;  // ft/s
  b()->setup_flags |= SETUP_AUTO_SHIFT | SETUP_STOP_WHEELIES;
  int tick = 0, crashed_at = -1, back_at = -1;
  for (int t = 0; t < 128 * 30 && back_at < 0; t++) {
    float v = rig.speed();
    if (crashed_at < 0) {
      set_clutch(b(), 1);
      set_throttle(b(), clampf((TARGET - v) * 0.3f + 0.3f, 0, 1));
    } else {
      set_throttle(b(), 0);
    }
    object_contact_pass(b(), rig.field, tick);
    physics_world_step();
    tick++;
    BikeStep st = {rig.field, tick, 0, 1, 0, Vec3{0, 0, 0}};
    physics_step(b(), &st);
    if (crashed_at < 0 && b()->crash_timer > 0) crashed_at = t;
    if (crashed_at >= 0 && b()->crash_timer == 0) back_at = t;
  }
  printf("tuff block: crashed after %.2f s, back on the bike %.2f s later\n", crashed_at / 128.0,
         (back_at - crashed_at) / 128.0);
  ASSERT_GE(crashed_at, 0);
  ASSERT_GE(back_at, 0);
  EXPECT_GE(back_at - crashed_at, 512);
  EXPECT_EQ(dJointGetBody(b()->joints[RIDER_JOINT], 1), b()->bodies[FRAME_BODY]);
  // Rideable again: the rider dabs the bike up, then it pulls away and stays up.
  b()->setup_flags |= SETUP_AUTO_DAB;
  float worst = 0;
  for (int t = 0; t < 128 * 5; t++) {
    set_clutch(b(), 1);
    set_dab(b(), t < 128 * 2 ? 1 : 0);
    set_throttle(b(), t < 128 * 2 ? 0 : 0.5f);
    object_contact_pass(b(), rig.field, tick);
    physics_world_step();
    tick++;
    BikeStep st = {rig.field, tick, 0, 1, 0, Vec3{0, 0, 0}};
    physics_step(b(), &st);
    if (t > 128 * 3) worst = fmaxf(worst, fabsf(rig.roll()));
  }
  printf("after the recovery: %.1f ft/s, worst roll %.1f deg\n", rig.speed(), worst * 57.3f);
  EXPECT_GT(rig.speed(), 10);
  EXPECT_LT(worst, 0.5f);
  EXPECT_EQ(b()->crash_timer, 0);
}

}  // namespace
