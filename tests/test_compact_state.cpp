// Compact racer state: encoding limits and quantisation, posing, placement, the spring
// pull, blending, and the history rings with their bracketing rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bike/bike.h"
#include "bike/bike_model.h"
#include "core/core.h"
#include "race/demo.h"
#include "terrain/terrain.h"

namespace {

class OdeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { dInitODE2(0); }
  void TearDown() override { dCloseODE(); }
};
::testing::Environment *const ode_environment =
    ::testing::AddGlobalTestEnvironment(new OdeEnvironment);

constexpr double PI = 3.14159265358979323846;

uint32_t field(const CompactRacerState &s, int at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = (v << 8) | s.bytes[at + i];
  return v;
}
void set_field(CompactRacerState *s, int at, int n, uint32_t v) {
  for (int i = 0; i < n; i++) s->bytes[at + i] = (uint8_t)(v >> (8 * i));
}
void set_quat(CompactRacerState *s, int at, const double q[4]) {
  for (int i = 0; i < 4; i++) set_field(s, at + 2 * i, 2, (uint32_t)std::floor((q[i] + 1) / 2 * 65535));
}
void quat_of(const CompactRacerState &s, int at, double q[4]) {
  for (int i = 0; i < 4; i++) q[i] = 2 * field(s, at + 2 * i, 2) / 65535.0 - 1;
}

// A flat field of 256 ft at height `level`, installed as the current terrain.
class StateTest : public ::testing::Test {
 protected:
  Terrain saved;
  float *heights = nullptr;
  Bike *bike = nullptr;

  void SetUp() override {
    physics_world_create();
    saved = *terrain_current();
    set_ground(0);
    bike = build_racer(bike_model_table()[0].name, 3, "7", nullptr, nullptr, nullptr, nullptr);
    demo_reset();
  }
  void TearDown() override {
    free_racer(bike);
    *terrain_current() = saved;
    free(heights);
    physics_world_destroy();
  }
  void set_ground(float level) {
    Terrain *t = terrain_current();
    const int n = 65;
    if (!heights) heights = (float *)calloc(n * n, sizeof(float));
    for (int i = 0; i < n * n; i++) heights[i] = level;
    t->heights = heights;
    t->samples = n;
    t->size_log2 = 5;
    t->spacing = 4;
    t->tile_size = 8;
    t->extent = 256;
    t->min_height = -20;
    t->max_height = 40;
  }
  // Every body moved to stand at (x, y, z) upright.
  void stand_at(float x, float y, float z) {
    reset_racer(bike);
    translate_racer(bike, x, y, z);
  }
  CompactRacerState encode() {
    CompactRacerState s;
    encode_racer_state(bike, &s);
    return s;
  }
};

TEST_F(StateTest, PositionFieldsClampAndQuantiseDown) {
  // A frame 5 ft below the lowest height encodes y as 0 and decodes to the lowest height.
  stand_at(100, 0, 100);
  const dReal *p = dBodyGetPosition(bike->bodies[FRAME_BODY]);
  translate_racer(bike, 0, (float)(-25 - p[1]), 0);
  CompactRacerState s = encode();
  EXPECT_EQ(field(s, 3, 3), 0u);
  pose_from_state(bike, s.bytes, 6);
  EXPECT_NEAR(dBodyGetPosition(bike->bodies[FRAME_BODY])[1], -20, 1e-9);

  // x beyond the field clamps to the last step; z is rounded down.
  stand_at(300, 0, 0);
  dBodySetPosition(bike->bodies[FRAME_BODY], 300, 1, 100.00001);
  s = encode();
  EXPECT_EQ(field(s, 0, 3), 0xFFFFFFu);
  EXPECT_EQ(field(s, 6, 3), (uint32_t)std::floor(100.00001 / 256 * 16777215));
}

TEST_F(StateTest, SteeringLimitsAndAngleBytes) {
  stand_at(100, 0, 100);
  CompactRacerState s = encode();
  // Bytes 0 and 255 decode to the limits.
  for (int byte : {0, 255}) {
    SCOPED_TRACE(byte);
    s.bytes[17] = (uint8_t)byte;
    pose_from_state(bike, s.bytes, 6);
    EXPECT_NEAR(dJointGetHingeAngle(bike->joints[STEERING_JOINT]), byte ? PI / 4 : -PI / 4, 1e-6);
    EXPECT_EQ(encode().bytes[17], byte);
  }
  // A fork turned past the stop encodes as the limit.
  const BikeModel *m = bike->model;
  Vec3 axis = m->fork_upper_position - m->fork_lower_position;
  for (double angle : {1.2, -1.2}) {
    SCOPED_TRACE(angle);
    stand_at(100, 0, 100);
    dMatrix3 r;
    dRFromAxisAndAngle(r, axis.x, axis.y, axis.z, angle);
    dBodySetRotation(bike->bodies[FORK_UPPER_BODY], r);
    EXPECT_EQ(encode().bytes[17], angle > 0 ? 255 : 0);
  }
  // Encoded states mark byte 18's low bit.
  EXPECT_EQ(encode().bytes[18] & 1, 1);
}

TEST_F(StateTest, GearByteCrashAndGears) {
  stand_at(100, 0, 100);
  bike->crash_timer = 1;
  EXPECT_EQ(encode().bytes[36], 0x07);  // bits 4-7 = 0
  bike->crash_timer = 128;
  EXPECT_EQ(encode().bytes[36], 0xF7);
  bike->crash_timer = 600;
  EXPECT_EQ(encode().bytes[36], 0xF7);
  bike->crash_timer = 0;
  bike->gear = 2;
  bike->controls.throttle = 0.5f;  // 7.5 -> 7
  bike->dab_extension = 0.25f;
  EXPECT_EQ(encode().bytes[36], 0x7A);

  // Decoding a crash: 15 -> timer 128, the rider let go.
  CompactRacerState s = encode();
  s.bytes[36] = 0xF7;
  pose_from_state(bike, s.bytes, 6);
  EXPECT_EQ(bike->crash_timer, 128);
  EXPECT_EQ(dJointGetBody(bike->joints[RIDER_JOINT], 0), nullptr);
  EXPECT_EQ(bike->controls.throttle, 0);
  // Every crash nibble decodes to a timer that encodes back to it.
  for (int n = 0; n < 16; n++) {
    SCOPED_TRACE(n);
    s.bytes[36] = (uint8_t)(7 | n << 4);
    pose_from_state(bike, s.bytes, 6);
    EXPECT_EQ(encode().bytes[36], s.bytes[36]);
  }

  // Gear 6 falls back to the highest present gear, on four- and five-speed models.
  int tested = 0;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    const BikeModel *m = &bike_model_table()[i];
    int gears = 0;
    while (gears < BIKE_GEAR_SLOTS && m->gear_ratios[gears] > 0) gears++;
    if (gears != 4 && gears != 5) continue;
    SCOPED_TRACE(m->name);
    Bike *b = build_racer(m->name, 0, "1", nullptr, nullptr, nullptr, nullptr);
    for (int g : {6, 5}) {
      s.bytes[36] = (uint8_t)(g | 3 << 4);
      pose_from_state(b, s.bytes, 6);
      EXPECT_EQ(b->gear, gears - 1);
      EXPECT_NEAR(b->controls.throttle, 0.2f, 1e-6);
    }
    free_racer(b);
    tested |= gears == 4 ? 1 : 2;
  }
  EXPECT_NE(tested, 0);
}

TEST_F(StateTest, RiderUpReattachesWithoutMovingTheRider) {
  stand_at(100, 0, 100);
  CompactRacerState s = encode();
  set_field(&s, 20, 2, 0x9000);  // rider well off the seat
  s.bytes[36] = 0x01;
  bike->crash_timer = 200;
  dJointAttach(bike->joints[RIDER_JOINT], 0, 0);
  pose_from_state(bike, s.bytes, 6);
  EXPECT_EQ(bike->crash_timer, 0);
  EXPECT_EQ(dJointGetBody(bike->joints[RIDER_JOINT], 0), bike->bodies[RIDER_BODY]);
  const dReal *frame = dBodyGetPosition(bike->bodies[FRAME_BODY]);
  const dReal *rider = dBodyGetPosition(bike->bodies[RIDER_BODY]);
  EXPECT_NEAR(rider[0] - frame[0], 0x9000 / 65535.0 * 32 - 16, 1e-9);
  EXPECT_EQ(encode().bytes[20], s.bytes[20]);
  EXPECT_EQ(encode().bytes[21], s.bytes[21]);
}

// Any state, posed and encoded again, gives the same 39 bytes.
TEST_F(StateTest, PoseThenEncodeIsLossless) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  auto random_quat = [&](double q[4]) {
    double n;
    do {
      for (int i = 0; i < 4; i++) q[i] = unit(rng);
      n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    } while (n < 0.1 || n > 1);
    for (int i = 0; i < 4; i++) q[i] /= n;
  };
  int gears = 0;
  while (gears < BIKE_GEAR_SLOTS && bike->model->gear_ratios[gears] > 0) gears++;
  for (int k = 0; k < 3000; k++) {
    SCOPED_TRACE(k);
    CompactRacerState s;
    for (auto &b : s.bytes) b = (uint8_t)rng();
    double q[4];
    random_quat(q);
    set_quat(&s, 9, q);
    random_quat(q);
    set_quat(&s, 26, q);
    s.bytes[18] |= 1;
    s.bytes[36] = (rng() % 4 == 0) ? (uint8_t)(7 | (rng() % 16) << 4)
                                   : (uint8_t)(rng() % gears | (rng() % 2) << 3 | (rng() % 16) << 4);
    s.bytes[19] = (uint8_t)((s.bytes[19] & ~1) | integrity_bit(&s, setup_out_of_range()));
    bike->dab_extension = 0;
    pose_from_state(bike, s.bytes, 6);
    CompactRacerState again = encode();
    for (int i = COMPACT_STATE_BYTES - 1; i >= 0; i--) ASSERT_EQ(again.bytes[i], s.bytes[i]) << "byte " << i;
    EXPECT_FALSE(state_setup_flagged(&again));
  }
}

// Orientations on the edges of the quaternion cells: exact zeros and ones.
TEST_F(StateTest, AxisAlignedOrientationsAreLossless) {
  const double h = std::sqrt(0.5);
  const double quats[][4] = {{1, 0, 0, 0}, {-1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, -1},
                             {h, 0, h, 0},  {h, 0, -h, 0}, {0.5, 0.5, 0.5, 0.5}, {-0.5, 0.5, -0.5, 0.5}};
  for (const auto &q : quats) {
    SCOPED_TRACE(q[0] * 1000 + q[1] * 100 + q[2] * 10 + q[3]);
    stand_at(100, 0, 100);
    dQuaternion dq = {q[0], q[1], q[2], q[3]};
    dBodySetQuaternion(bike->bodies[FRAME_BODY], dq);
    dBodySetQuaternion(bike->bodies[RIDER_BODY], dq);
    CompactRacerState s = encode();
    pose_from_state(bike, s.bytes, 6);
    CompactRacerState again = encode();
    for (int i = COMPACT_STATE_BYTES - 1; i >= 0; i--) ASSERT_EQ(again.bytes[i], s.bytes[i]) << "byte " << i;
  }
}

// Format 4: the rider slides along the model's legacy axis; gear and engine move up.
TEST_F(StateTest, LegacyStatePlacesTheRiderOnItsAxis) {
  stand_at(100, 0, 100);
  CompactRacerState s = encode();
  const BikeModel *m = bike->model;
  Vec3 axis = m->legacy_rider_axis;
  double len = vec3_length(axis);
  ASSERT_GT(len, 0);
  for (int byte : {0, 255}) {
    SCOPED_TRACE(byte);
    uint8_t legacy[LEGACY_STATE_BYTES];
    memcpy(legacy, s.bytes, 20);
    legacy[20] = (uint8_t)byte;
    legacy[21] = 64, legacy[22] = 192;  // wheels
    legacy[23] = 0x52;                  // gear 2, throttle 5/15
    legacy[24] = 0xFF, legacy[25] = 0x7F;
    pose_from_state(bike, legacy, 4);
    double d = byte ? m->legacy_rider_travel_max : m->legacy_rider_travel_min;
    const dReal *frame = dBodyGetPosition(bike->bodies[FRAME_BODY]);
    const dReal *rider = dBodyGetPosition(bike->bodies[RIDER_BODY]);
    Vec3 seat = m->rider_position - m->frame_position;
    EXPECT_NEAR(rider[1] - frame[1], seat.y + d * axis.y / len, 1e-4);
    EXPECT_NEAR(rider[2] - frame[2], seat.z + d * axis.z / len, 1e-4);
    EXPECT_EQ(bike->gear, 2);
    EXPECT_NEAR(bike->controls.throttle, 5 / 15.0f, 1e-6);
    EXPECT_NEAR(bike->engine_speed * 60 / (2 * PI), 0x7FFF / 65535.0 * 32768, 0.01);
    CompactRacerState again = encode();
    EXPECT_EQ(again.bytes[34], 64);
    EXPECT_EQ(again.bytes[35], 192);
    for (int i = 26; i < 34; i++) EXPECT_EQ(again.bytes[i], s.bytes[i - 17]) << "rider turned as the frame";
  }
}

TEST_F(StateTest, IntegrityBitNeverChangesThePose) {
  stand_at(100, 0, 100);
  CompactRacerState s = encode();
  EXPECT_EQ(s.bytes[19] & 1, integrity_bit(&s, 0));
  EXPECT_NE(integrity_bit(&s, 0), integrity_bit(&s, 1));
  dReal fork[2];
  for (int bit = 0; bit < 2; bit++) {
    s.bytes[19] = (uint8_t)((s.bytes[19] & ~1) | bit);
    pose_from_state(bike, s.bytes, 6);
    fork[bit] = dJointGetSliderPosition(bike->joints[FORK_JOINT]);
  }
  EXPECT_NEAR(fork[1] - fork[0], bike->model->fork_travel / 255, 1e-6);
}

// Over a few thousand states the marking reports the whole build fingerprint; a setup
// far out of range reports its complement.
TEST(Integrity, StatesReportTheFingerprint) {
  demo_reset();
  uint8_t print[FINGERPRINT_SIZE];
  build_fingerprint(print);
  char want[65], want_flagged[65], got[65];
  for (int i = 0; i < FINGERPRINT_SIZE; i++) {
    snprintf(want + 2 * i, 3, "%02x", print[i]);
    snprintf(want_flagged + 2 * i, 3, "%02x", (uint8_t)~print[i]);
  }
  integrity_digits(9, got);
  EXPECT_EQ(std::string(got), std::string(64, '?'));
  std::mt19937 rng(11);
  for (int flagged = 0; flagged < 2; flagged++) {
    SCOPED_TRACE(flagged);
    int slot = 9 + flagged;
    for (int t = 0; t < 4000; t++) {
      CompactRacerState s;
      for (auto &b : s.bytes) b = (uint8_t)rng();
      s.bytes[19] = (uint8_t)((s.bytes[19] & ~1) | integrity_bit(&s, flagged));
      add_state_to_history(slot, &s, t);
      if (t == 100) {
        integrity_digits(slot, got);
        EXPECT_NE(std::string(got).find('?'), std::string::npos);
      }
    }
    integrity_digits(slot, got);
    EXPECT_STREQ(got, flagged ? want_flagged : want);
  }
  demo_reset();
  integrity_digits(9, got);
  EXPECT_EQ(std::string(got), std::string(64, '?'));
}

TEST_F(StateTest, PlacementVelocitiesAndGroundLift) {
  stand_at(100, 10, 100);
  CompactRacerState older = encode();
  translate_racer(bike, 0, 0, -2);
  CompactRacerState newer = encode();
  place_remote_racer(bike, newer.bytes, older.bytes, newer.bytes, 4, 6);
  const dReal *v = dBodyGetLinearVel(bike->bodies[FRAME_BODY]);
  EXPECT_NEAR(v[2], -64, 0.01);  // 2 ft in 4 ticks
  EXPECT_NEAR(v[0], 0, 0.01);
  EXPECT_EQ(encode().bytes[0], newer.bytes[0]);

  // A rear tyre centre circle 0.3 ft below the ground lifts all bodies by 0.3 ft.
  stand_at(100, 0, 100);
  const dReal *rear = dBodyGetPosition(bike->bodies[REAR_WHEEL_BODY]);
  double bottom = rear[1] - bike->model->rear_wheel.torus_radius;
  set_ground((float)(bottom + 0.3));
  CompactRacerState low = encode();
  double before[BIKE_BODY_COUNT];
  pose_from_state(bike, low.bytes, 6);
  for (int i = 0; i < BIKE_BODY_COUNT; i++) before[i] = dBodyGetPosition(bike->bodies[i])[1];
  place_remote_racer(bike, low.bytes, low.bytes, low.bytes, 1, 6);
  for (int i = 0; i < BIKE_BODY_COUNT; i++)
    EXPECT_NEAR(dBodyGetPosition(bike->bodies[i])[1] - before[i], 0.3, 1e-3) << "body " << i;
}

TEST_F(StateTest, FollowGainsAndForceLimits) {
  float k, c;
  follow_gains(1, 1000, 1040, &k, &c);  // solid, 40 ticks after the contact
  EXPECT_NEAR(k, 100, 1e-3);
  EXPECT_NEAR(c, -25, 1e-4);
  for (int32_t tick : {1000, 1020, 5000}) {
    SCOPED_TRACE(tick);
    follow_gains(0.3f, 1000, tick, &k, &c);  // faint: pulled at once
    EXPECT_NEAR(k, 50000, 0.5);
    EXPECT_NEAR(c, -100, 1e-4);
  }
  // A faint touched racer far from its target is pulled with at most 1000 lb.
  stand_at(100, 10, 100);
  CompactRacerState far = encode();
  translate_racer(bike, 30, 0, 0);
  set_presence(bike, 0.3f);
  bike->interpolation_marker = 5;
  dBodySetForce(bike->bodies[FRAME_BODY], 0, 0, 0);
  dBodySetLinearVel(bike->bodies[FRAME_BODY], 0, 0, 0);
  place_remote_racer(bike, far.bytes, far.bytes, far.bytes, 1, 6);
  const dReal *f = dBodyGetForce(bike->bodies[FRAME_BODY]);
  EXPECT_NEAR(f[0], -1000, 1e-3);
  EXPECT_NEAR(f[1], 0, 1e-3);
}

TEST(RotationRate, AxisTimesAngleOverOneTick) {
  double a[4] = {1, 0, 0, 0}, b[4] = {std::cos(0.05), 0, std::sin(0.05), 0};
  Vec3 w = rotation_rate(a, b);
  EXPECT_NEAR(w.y, 0.1 * 128, 1e-3);
  EXPECT_NEAR(w.x, 0, 1e-9);
  // The same rotation with the other sign, and no rotation.
  double nb[4] = {-b[0], -b[1], -b[2], -b[3]};
  EXPECT_NEAR(rotation_rate(a, nb).y, 0.1 * 128, 1e-3);
  Vec3 zero = rotation_rate(b, b);
  EXPECT_EQ(zero.x, 0);
  EXPECT_EQ(zero.y, 0);
  EXPECT_EQ(zero.z, 0);
}

// ---------------------------------------------------------------------------------------
// Blending
// ---------------------------------------------------------------------------------------
CompactRacerState sample_state(int which) {
  CompactRacerState s = {};
  double qa[4] = {1, 0, 0, 0}, qb[4] = {std::cos(0.2), 0, std::sin(0.2), 0};
  set_field(&s, 0, 3, which ? 9000000 : 8000000);
  set_field(&s, 3, 3, which ? 300000 : 100000);
  set_field(&s, 6, 3, 5000000);
  set_quat(&s, 9, which ? qb : qa);
  s.bytes[17] = which ? 200 : 100;
  s.bytes[18] = which ? 61 : 41;
  s.bytes[19] = which ? 150 : 50;
  set_field(&s, 20, 2, which ? 40000 : 30000);
  set_field(&s, 22, 2, 33000);
  set_field(&s, 24, 2, 32000);
  set_quat(&s, 26, which ? qb : qa);
  s.bytes[34] = which ? 40 : 20;
  s.bytes[35] = which ? 90 : 80;
  s.bytes[36] = which ? 0x93 : 0x52;
  set_field(&s, 37, 2, which ? 30000 : 20000);
  return s;
}

TEST(Blend, HalfwayBetweenTwoStates) {
  CompactRacerState a = sample_state(0), b = sample_state(1), out;
  blend_compact_states(&out, &a, &b, 0.5f);  // states at 100 and 104, wanted 102
  struct Field {
    int at, n;
  } fields[] = {{0, 3}, {3, 3}, {6, 3}, {17, 1}, {19, 1}, {20, 2}, {22, 2}, {24, 2}, {34, 1}, {35, 1}, {37, 2}};
  for (const Field &f : fields) {
    SCOPED_TRACE(f.at);
    double mid = (field(a, f.at, f.n) + field(b, f.at, f.n)) / 2.0;
    EXPECT_NEAR(field(out, f.at, f.n), mid, 1.0);
  }
  EXPECT_EQ(out.bytes[18] & 1, 0);
  double q[4];
  quat_of(out, 9, q);
  EXPECT_NEAR(q[0], std::cos(0.1), 1e-4);
  EXPECT_NEAR(q[2], std::sin(0.1), 1e-4);
}

TEST(Blend, ExtrapolatesPositionsOnly) {
  CompactRacerState a = sample_state(0), b = sample_state(1), out;
  for (float t : {2.5f, 17.0f}) {  // wanted 110, and 300 held at 104 + 64
    SCOPED_TRACE(t);
    blend_compact_states(&out, &a, &b, t);
    EXPECT_NEAR(field(out, 0, 3), std::fmin(8000000 + t * 1000000.0, 16777215), 1);
    EXPECT_NEAR(field(out, 3, 3), 100000 + t * 200000.0, 1);
    for (int i = 9; i < COMPACT_STATE_BYTES; i++) {
      if (i == 18) continue;
      EXPECT_NEAR(out.bytes[i], b.bytes[i], 1) << "byte " << i;
    }
  }
  blend_compact_states(&out, &a, &b, 0);
  EXPECT_EQ(memcmp(&out, &a, sizeof a), 0);
  blend_compact_states(&out, &a, &b, 0.5f, 1);  // format 4: a copy
  EXPECT_EQ(memcmp(&out, &a, sizeof a), 0);
}

TEST(Blend, OppositeQuaternionsAreOneRotation) {
  CompactRacerState a = sample_state(0), b = sample_state(0), out;
  double q[4] = {0.6, 0.0, 0.8, 0.0}, nq[4] = {-0.6, 0.0, -0.8, 0.0};
  set_quat(&a, 9, q);
  set_quat(&b, 9, nq);
  blend_compact_states(&out, &a, &b, 0.5f);
  double r[4];
  quat_of(out, 9, r);
  double dot = std::fabs(r[0] * q[0] + r[2] * q[2]);
  EXPECT_NEAR(dot, 1, 1e-3);
}

TEST(Blend, WheelWrap) {
  struct Case {
    int a, b;
    float t;
    int want;
  } cases[] = {{250, 5, 0.25f, 252}, {5, 250, 0.5f, 0}, {5, 250, 0.75f, 252}, {100, 60, 0.5f, 207}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.a * 1000 + c.b);
    CompactRacerState a = sample_state(0), b = sample_state(1), out;
    a.bytes[34] = a.bytes[35] = (uint8_t)c.a;
    b.bytes[34] = b.bytes[35] = (uint8_t)c.b;
    blend_compact_states(&out, &a, &b, c.t);
    EXPECT_EQ(out.bytes[34], c.want);
    EXPECT_EQ(out.bytes[35], c.want);
  }
}

TEST(Blend, GearByteKeepsItsLayout) {
  CompactRacerState a = sample_state(0), b = sample_state(1), out;
  blend_compact_states(&out, &a, &b, 0.25f);
  EXPECT_EQ(out.bytes[36] & 15, a.bytes[36] & 15);
  EXPECT_EQ(out.bytes[36] >> 4, 6);  // 5 + 0.25 * 4
  b.bytes[36] = 0xF7;                // newer crashed: whole byte from the nearer state
  blend_compact_states(&out, &a, &b, 0.75f);
  EXPECT_EQ(out.bytes[36], 0xF7);
}

// ---------------------------------------------------------------------------------------
// History rings
// ---------------------------------------------------------------------------------------
CompactRacerState marked(int v) {
  CompactRacerState s = {};
  s.bytes[0] = (uint8_t)v;
  return s;
}

TEST(History, AddRules) {
  demo_reset();
  StateHistory *h = state_history(4);
  for (int t : {100, 104, 108}) {
    CompactRacerState m = marked(t);
    EXPECT_EQ(add_state_to_history(4, &m, t), 1);
  }
  EXPECT_EQ(h->pending, 3);
  EXPECT_EQ(h->entries[h->newest].tick, 108);
  // The same tick again changes nothing.
  CompactRacerState other = marked(1);
  EXPECT_EQ(add_state_to_history(4, &other, 104), 0);
  // An earlier tick discards the later entries.
  EXPECT_EQ(add_state_to_history(4, &other, 102), 1);
  EXPECT_EQ(h->entries[h->newest].tick, 102);
  int older, newer;
  ASSERT_TRUE(history_bracket(h, 200, &older, &newer));
  EXPECT_EQ(h->entries[older].tick, 100);
  EXPECT_EQ(h->entries[newer].tick, 102);
  for (int i = 0; i < HISTORY_ENTRIES; i++) EXPECT_NE(h->entries[i].tick, 108);
  // Wrapping around: only the last 128 are kept; pending stops at 128.
  for (int t = 0; t < 300; t++) add_state_to_history(5, &other, 1000 + 4 * t);
  h = state_history(5);
  EXPECT_EQ(h->pending, HISTORY_ENTRIES);
  ASSERT_TRUE(history_bracket(h, 0, &older, &newer));
  EXPECT_EQ(h->entries[older].tick, 1000 + 4 * 172);
  EXPECT_EQ(h->entries[newer].tick, 1000 + 4 * 173);
  // Out of range slots store nothing.
  EXPECT_EQ(add_state_to_history(160, &other, 5), 0);
  EXPECT_EQ(add_state_to_history(-1, &other, 5), 0);
  demo_reset();
}

TEST(History, Bracketing) {
  demo_reset();
  StateHistory *h = state_history(0);
  int older, newer;
  EXPECT_FALSE(history_bracket(h, 50, &older, &newer));  // empty
  CompactRacerState s = marked(0);
  add_state_to_history(0, &s, 100);
  for (int32_t want : {0, 100, 500}) {  // one entry: that entry, whatever the tick
    SCOPED_TRACE(want);
    ASSERT_TRUE(history_bracket(h, want, &older, &newer));
    EXPECT_EQ(older, newer);
    EXPECT_EQ(h->entries[older].tick, 100);
  }
  add_state_to_history(0, &s, 104);
  add_state_to_history(0, &s, 108);
  struct Case {
    int32_t want, p, q;
  } cases[] = {{102, 100, 104}, {104, 100, 104}, {105, 104, 108}, {300, 104, 108}, {10, 100, 104}, {-5, 100, 104}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.want);
    ASSERT_TRUE(history_bracket(h, c.want, &older, &newer));
    EXPECT_EQ(h->entries[older].tick, c.p);
    EXPECT_EQ(h->entries[newer].tick, c.q);
  }
  demo_reset();
}

}  // namespace
