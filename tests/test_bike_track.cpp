// Bikes on the starter data's tracks: eight bikes with random controls on
// rabbithill.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/frame.h"
#include "files/config.h"
#include "files/files.h"
#include "render/model.h"
#include "tests/test_bike_fixture.h"
#include "track/track.h"

namespace {

struct TrackTest : ::testing::Test {
  std::string home;
  void SetUp() override {
    char tmpl[] = "/tmp/dv_bike_home_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home = tmpl;
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("DV_HOME", DV_BINARY_DIR, 1);
    datafile_reset_for_tests();
    terrain_reset_for_tests();
    track_reset();
    bike_setup_reset();
    ode_message_count() = 0;
    physics_world_create();
  }
  void TearDown() override {
    physics_world_destroy();
    track_reset();
    terrain_reset_for_tests();
    datafile_reset_for_tests();
    std::string cmd = "rm -rf '" + home + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
    EXPECT_EQ(ode_message_count(), 0);
  }
};

// Bike k at the starting gate, lifted until its tyres clear the ground.
void place_at_gate(const Terrain *t, Bike *b, int k) {
  reset_racer(b);
  const StartGatePiece *p = start_gate_piece(k % start_gate_count());
  float along = -3 - 10 * (k / start_gate_count());  // behind the gate, rows 10 ft apart
  rotate_racer(b, 0, 1, 0, p->angle);
  translate_racer(b, p->x - along * sinf(p->angle), 0, p->z - along * cosf(p->angle));
  float lift = 0;
  for (dBodyID w : {b->bodies[FRONT_WHEEL_BODY], b->bodies[REAR_WHEEL_BODY]}) {
    Vec3 q = body_position(w);
    lift = fmaxf(lift, terrain_height(t, q.x, q.z) + 0.05f);
  }
  translate_racer(b, 0, lift, 0);
}

TEST_F(TrackTest, EightBikesOfRandomControlsOnRabbitHillForTenMinutes) {
  track_select("rabbithill", nullptr);
  ASSERT_EQ(track_load(), 1);
  const Terrain *t = terrain_current();
  ASSERT_GT(start_gate_count(), 0);
  const int count = 8;
  Bike *bikes[count];
  for (int k = 0; k < count; k++) {
    bikes[k] = build_racer("crf450(2013)", k, "1", nullptr, nullptr, nullptr, nullptr);
    place_at_gate(t, bikes[k], k);
    bikes[k]->setup_flags |= SETUP_AUTO_SHIFT | SETUP_AUTO_DAB | SETUP_STOP_WHEELIES;
  }
  Mt19937 mt;
  mt_seed(&mt, 777);
  auto unit = [&mt]() { return (mt_next(&mt) >> 8) * (1.0f / 16777216); };
  int bad = 0, crashes = 0, resets = 0;
  float fastest = 0, lowest = 1e9f, highest = -1e9f;
  const int minutes = getenv("DV_SOAK_MINUTES") ? atoi(getenv("DV_SOAK_MINUTES")) : 10;
  int tick = 0;
  for (; tick < 128 * 60 * minutes && !bad; tick++) {
    if (tick % 32 == 0)
      for (Bike *b : bikes) {
        set_throttle(b, unit() < 0.2f ? 0 : unit());
        set_clutch(b, unit() < 0.1f ? unit() : 1);
        set_front_brake(b, unit() < 0.85f ? 0 : unit());
        set_rear_brake(b, unit() < 0.85f ? 0 : unit());
        set_steer(b, unit() * 2 - 1);
        set_lean(b, unit() * 2 - 1);
        set_dab(b, unit() < 0.9f ? 0 : 1);
        set_back_up(b, unit() < 0.95f ? 0 : 1);
        shift(b, (int)(unit() * 3) - 1);
      }
    // A rider who wanders to the edge of the field is put back at the gate, as
    // a restart would; what must never happen is a bike flung out or sunk
    // through the ground.
    for (int k = 0; k < count; k++) {
      Vec3 pf = body_position(bikes[k]->bodies[FRAME_BODY]);
      if (pf.x < 100 || pf.z < 100 || pf.x > t->extent - 100 || pf.z > t->extent - 100) {
        place_at_gate(t, bikes[k], k);
        bikes[k]->setup_flags |= SETUP_AUTO_SHIFT | SETUP_AUTO_DAB | SETUP_STOP_WHEELIES;
        resets++;
      }
    }
    for (Bike *b : bikes) object_contact_pass(b, t, tick);
    for (int i = 0; i < count; i++)
      for (int j = i + 1; j < count; j++) bike_contact_pass(bikes[i], bikes[j], 0, tick);
    physics_world_step();
    BikeStep st = {t, tick + 1, 0, 1, 0, Vec3{0, 0, 0}};
    for (Bike *b : bikes) {
      int was_down = b->crash_timer > 0;
      physics_step(b, &st);
      if (!was_down && b->crash_timer > 0) crashes++;
      for (int i = 0; i < BIKE_BODY_COUNT; i++) {
        const dReal *p = dBodyGetPosition(b->bodies[i]);
        const dReal *v = dBodyGetLinearVel(b->bodies[i]);
        double sp = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        int was_bad = bad;
        if (!std::isfinite(p[0] + p[1] + p[2]) || !std::isfinite(sp) || sp > 10000) bad++;
        // Within the field and not fallen through the ground.
        if (p[0] < -50 || p[2] < -50 || p[0] > t->extent + 50 || p[2] > t->extent + 50) bad++;
        if (p[1] < terrain_height(t, (float)p[0], (float)p[2]) - 3) bad++;
        if (bad > was_bad)
          printf(
              "bike %d body %d at (%.1f %.1f %.1f), ground %.1f, speed "
              "%.1f, crash %d\n",
              b->slot, i, p[0], p[1], p[2], terrain_height(t, (float)p[0], (float)p[2]), sp,
              b->crash_timer);
        fastest = fmaxf(fastest, (float)sp);
        lowest = fminf(lowest, (float)p[1]), highest = fmaxf(highest, (float)p[1]);
      }
    }
  }
  printf(
      "%d bikes, %.1f min of random controls: %d crashes, %d returns from "
      "the edge, "
      "fastest body %.1f ft/s, heights %.1f .. %.1f ft\n",
      count, tick / 128.0 / 60, crashes, resets, fastest, lowest, highest);
  EXPECT_EQ(bad, 0) << "at tick " << tick;
  for (Bike *b : bikes) free_racer(b);
}

// The practice track's tabletop lies on the straight along x = 400, ridden
// toward +z: its face starts near z = 220, its 30 ft top ends near z = 265.
TEST_F(TrackTest, ClearsThePracticeTabletopAndLandsUpright) {
  track_select("practice", nullptr);
  ASSERT_EQ(track_load(), 1);
  const Terrain *t = terrain_current();
  const float speed = 40;  // ft/s
  for (int arcade = 1; arcade >= 0; arcade--) {
    SCOPED_TRACE(arcade);
    Bike *b = build_racer("crf450(2013)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    rotate_racer(b, 0, 1, 0, (float)M_PI);  // facing +z
    translate_racer(b, 400, 0, 130);
    float lift = 0;
    for (dBodyID w : {b->bodies[FRONT_WHEEL_BODY], b->bodies[REAR_WHEEL_BODY]}) {
      Vec3 q = body_position(w);
      lift = fmaxf(lift, terrain_height(t, q.x, q.z) + 0.05f);
    }
    translate_racer(b, 0, lift, 0);
    setup_reset_defaults();  // the player's setup: stability 100, arcade physics
    choice_select(&bike_setup()->arcade, arcade ? "Yes" : "No");
    ASSERT_EQ(apply_setup(b, bike_setup(), 0), 1);
    b->setup_flags |= SETUP_STOP_WHEELIES;
    float air = 0, longest_air = 0, worst_roll = 0, highest = 0;
    int tick = 0, airborne_ticks = 0;
    for (; tick < 128 * 12; tick++) {
      dBodyID frame = b->bodies[FRAME_BODY];
      Vec3 p = body_position(frame);
      float v = body_speed(frame);
      set_clutch(b, 1);
      set_throttle(b, clampf((speed - v) * 0.3f + 0.3f, 0, 1));
      // Hold the line x = 400 (riding toward +z, left is +x; negative steer
      // turns left).
      Vec3 f = body_vector(frame, 0, 0, -1);
      float heading_error = atan2f(f.x, f.z) - clampf((400 - p.x) * 0.05f, -0.3f, 0.3f);
      set_steer(b, clampf(heading_error * 0.5f, -0.08f, 0.08f));
      object_contact_pass(b, t, tick);
      physics_world_step();
      BikeStep st = {t, tick + 1, 0, 1, 0, Vec3{0, 0, 0}};
      physics_step(b, &st);
      int flying = b->front.depth <= 0 && b->rear.depth <= 0;
      if (flying) {
        air += (float)TICK;
        airborne_ticks++;
        highest = fmaxf(highest, p.y - terrain_height(t, p.x, p.z));
      } else {
        longest_air = fmaxf(longest_air, air);
        air = 0;
      }
      worst_roll = fmaxf(worst_roll, fabsf(roll_angle(frame)));
      if (p.z > 330) break;
    }
    printf(
        "practice tabletop at %.0f ft/s, arcade %s: longest flight %.2f s, "
        "frame up to %.1f ft over the "
        "ground, worst roll %.1f deg, crashes %d\n",
        speed, arcade ? "on" : "off", longest_air, highest, worst_roll * 57.3f, b->crash_count);
    EXPECT_GT(longest_air, 0.4f);
    EXPECT_EQ(b->crash_count, 0);
    EXPECT_LT(worst_roll, 0.5f);
    free_racer(b);
  }
}

}  // namespace
