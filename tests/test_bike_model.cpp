// The bike model table: every row's fields, the torque curve rules and the lookup fallback.
#include <gtest/gtest.h>

#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "bike/bike_model.h"
#include "core/frame.h"

namespace {

// The row table as published, one line per row: the class columns are repeated per row so
// that a slip in either copy shows up.
struct ExpectedRow {
  const char *name, *engine_class;
  float frame, rider, fork, swing_half;
  float fork_spring_min, fork_spring_max, fork_rebound;
  float shock_spring_min, shock_spring_max, shock_rebound;
  float primary;
  int countershaft, rear;
  float gears[6];
  float inertia;
  int down, up, red;
  const char *base;
  // The curve rule: flat value and last flat entry, peak value and rpm, rpm of the 0 entry.
  float flat;
  int flat_to_rpm;
  float peak;
  int peak_rpm, zero_rpm;
  const char *tail;  // "1:-10" by one per entry; "h:-13.5" by a half per entry;
                     // "p:0:1" pairs falling by 1 starting at 0; "q:-1" -1 then pairs; "p:-0.5:0.5"
};

#define R450 4.735f, 5.46875f, 0.703125f, 0.5025f, 376.303f, 913.878f, 32, 2486.29f, 5174.16f, 650
#define R250 4.36562f, 5.46875f, 0.75375f, 0.589375f, 322.545f, 860.12f, 30, 2083.1f, 4770.98f, 600
#define R250F 4.24f, 4.6875f, 0.703125f, 0.504375f, 335.984f, 873.56f, 30, 2217.5f, 4905.37f, 600
#define R125 3.65375f, 4.6875f, 0.739688f, 0.541875f, 322.545f, 860.12f, 30, 1814.32f, 4502.19f, 600
#define R50 3.34125f, 4.6875f, 0.739688f, 0.541875f, 309.106f, 846.681f, 30, 1814.32f, 4502.19f, 600

const ExpectedRow ROWS[45] = {
    {"crf450(2013)", "450f", R450, 2.73913f, 13, 48, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, -1}, 0.0088501f, 6000, 10500, 12000, "crf450v2013", 5, 2000, 31, 7000, 12000, "1:-10"},
    {"kx450f(2013)", "450f", R450, 2.72727f, 13, 50, {1.75f, 1.41176f, 1.1875f, 1, 0.875f, -1}, 0.0088501f, 6000, 10500, 12000, "kx450f", 5, 2000, 31.2f, 7000, 12000, "1:-10"},
    {"rmz450(2013)", "450f", R450, 2.625f, 13, 50, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, -1}, 0.0088501f, 6000, 10500, 12000, "rmz450", 5, 2000, 33.3f, 7500, 12000, "1:-10"},
    {"yz450f(2013)", "450f", R450, 2.65217f, 13, 48, {1.92857f, 1.53333f, 1.27778f, 1.09091f, 0.952381f, -1}, 0.0088501f, 6000, 10500, 12000, "yz450f", 5, 2000, 29.7f, 7500, 12000, "1:-10"},
    {"450sxf(2013)", "450f", R450, 2.375f, 14, 50, {2, 1.66667f, 1.4f, 1.18182f, 1, -1}, 0.0088501f, 6000, 10500, 12000, "450sxfv2013", 5, 2000, 33.9f, 7500, 12000, "1:-10"},
    {"350sxf(2013)", "250f", R450, 3.04167f, 14, 50, {2, 1.625f, 1.33333f, 1.14286f, 0.954545f, -1}, 0.00683594f, 6000, 10500, 12000, "350sxfv2013", 5, 2000, 27.1f, 8500, 13500, "1:-13"},
    {"crf450(2011)", "450f", R450, 2.73913f, 13, 48, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, -1}, 0.0088501f, 6000, 10500, 12000, "crf450", 5, 2000, 34.6f, 6500, 12000, "1:-10"},
    {"kx450f(2011)", "450f", R450, 2.72727f, 13, 50, {1.75f, 1.41176f, 1.1875f, 1, 0.875f, -1}, 0.0088501f, 6000, 10500, 12000, "kx450f", 5, 2000, 35.8f, 6500, 12000, "1:-10"},
    {"rmz450(2011)", "450f", R450, 2.625f, 13, 50, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, -1}, 0.0088501f, 6000, 10500, 12000, "rmz450", 5, 2000, 36.1f, 7000, 12000, "1:-10"},
    {"yz450f(2011)", "450f", R450, 2.65217f, 13, 48, {1.92857f, 1.53333f, 1.27778f, 1.09091f, 0.952381f, -1}, 0.0088501f, 6000, 10500, 12000, "yz450f", 5, 2000, 33, 7000, 12000, "1:-10"},
    {"450sxf(2011)", "450f", R450, 2.55172f, 14, 52, {2.125f, 1.63158f, 1.3f, 1.08696f, 0.923077f, -1}, 0.0088501f, 6000, 10500, 12000, "450sxf", 5, 2000, 35.4f, 7500, 12500, "1:-11"},
    {"350sxf(2011)", "450f", R450, 3.04167f, 14, 50, {2, 1.625f, 1.33333f, 1.14286f, 0.954545f, -1}, 0.00683594f, 6000, 10500, 12000, "350sxf", 5, 2000, 27.7f, 8000, 12000, "1:-10"},
    {"250sx(2012)", "250", R250, 2.76923f, 13, 48, {2, 1.6f, 1.33333f, 1.14286f, 0.954545f, -1}, 0.00683594f, 6000, 9000, 10500, "250sx", 5, 1500, 32.58f, 8000, 10500, "h:-10"},
    {"cr250(2007)", "250", R250, 3, 13, 49, {1.8f, 1.47059f, 1.21053f, 1, 0.869565f, -1}, 0.00683594f, 6000, 9000, 10500, "cr250", 5, 1500, 32.8432f, 7500, 10500, "h:-10"},
    {"kx250(2006)", "250", R250, 3, 13, 51, {1.8f, 1.4375f, 1.17647f, 1, 0.869565f, -1}, 0.00683594f, 6000, 9000, 10500, "kx250", 5, 1500, 32.07f, 7500, 10500, "h:-10"},
    {"rm250(2008)", "250", R250, 3, 13, 50, {1.8f, 1.47059f, 1.21053f, 1, 0.869565f, -1}, 0.00683594f, 6000, 9000, 10500, "rm250", 5, 1500, 31.51f, 7500, 10500, "h:-10"},
    {"yz250(2012)", "250", R250, 3, 14, 50, {1.92857f, 1.53333f, 1.27778f, 1.09091f, 0.952381f, -1}, 0.00683594f, 6000, 9000, 10500, "yz250", 5, 1500, 29.9f, 7500, 10500, "h:-10"},
    {"crf250(2013)", "250f", R250F, 3.16667f, 13, 49, {2.35714f, 1.88235f, 1.55f, 1.33333f, 1.13636f, -1}, 0.00488281f, 8000, 12500, 13250, "crf250v2010", 5, 2000, 18.65f, 9000, 14000, "h:-13.5"},
    {"kx250f(2013)", "250f", R250F, 3.35f, 13, 50, {2.14286f, 1.75f, 1.44444f, 1.23529f, 1.04545f, -1}, 0.00488281f, 8000, 12500, 13250, "kx250fv2013", 5, 2000, 19.18f, 8500, 14000, "h:-13.5"},
    {"rmz250(2013)", "250f", R250F, 3.31579f, 13, 49, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, -1}, 0.00488281f, 8000, 12500, 13250, "rmz250v2010", 5, 2000, 18.52f, 8500, 14000, "h:-13.5"},
    {"yz250f(2013)", "250f", R250F, 3.35294f, 13, 50, {2.14286f, 1.75f, 1.44444f, 1.22222f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "yz250fv2010", 5, 2000, 18.68f, 8000, 14000, "h:-13.5"},
    {"250sxf(2013)", "250f", R250F, 3.04167f, 13, 50, {2.46154f, 2, 1.64706f, 1.36842f, 1.19048f, 1.09091f}, 0.00488281f, 8000, 12500, 13250, "250sxfv2013", 5, 2000, 18.87f, 8500, 14000, "h:-13.5"},
    {"crf250(2009)", "250f", R250F, 3.16667f, 13, 51, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "crf250", 5, 2000, 20.39f, 8500, 14000, "h:-13.5"},
    {"kx250f(2009)", "250f", R250F, 3.35f, 13, 48, {2.14286f, 1.78571f, 1.44444f, 1.2f, 1.05263f, -1}, 0.00488281f, 8000, 12500, 13250, "kx250f", 5, 2000, 19.79f, 8000, 14000, "h:-13.5"},
    {"rmz250(2009)", "250f", R250F, 3.21053f, 13, 48, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, -1}, 0.00488281f, 8000, 12500, 13250, "rmz250", 5, 2000, 20.24f, 8500, 14000, "h:-13.5"},
    {"yz250f(2009)", "250f", R250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "yz250f", 5, 2000, 20.07f, 8500, 14000, "h:-13.5"},
    {"250sxf(2009)", "250f", R250F, 3.09091f, 13, 48, {2.46154f, 2, 1.64706f, 1.36842f, 1.19048f, 1.09091f}, 0.00488281f, 8000, 12500, 13250, "250sxf", 5, 2000, 20.19f, 8500, 14000, "h:-13.5"},
    {"crf250(2008)", "250f", R250F, 3.16667f, 13, 51, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "crf250", 5, 2000, 19.1f, 9500, 13500, "h:-13"},
    {"kx250f(2008)", "250f", R250F, 3.35f, 13, 48, {2.14286f, 1.78571f, 1.44444f, 1.2f, 1.05263f, -1}, 0.00488281f, 8000, 12500, 13250, "kx250f", 5, 2000, 19, 8500, 13500, "h:-13"},
    {"rmz250(2008)", "250f", R250F, 3.21053f, 13, 48, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, -1}, 0.00488281f, 8000, 12500, 13250, "rmz250", 5, 2000, 19.3f, 8500, 13500, "h:-13"},
    {"yz250f(2008)", "250f", R250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "yz250f", 5, 2000, 19, 8500, 13500, "h:-13"},
    {"cr125", "125", R125, 3.15f, 13, 52, {2.35714f, 1.86667f, 1.57895f, 1.29412f, 1.13333f, -1}, 0.00488281f, 9400, 12000, 12750, "cr125", 5, 2000, 15.97f, 10000, 13000, "p:0:1"},
    {"kx125", "125", R125, 3.2f, 13, 51, {2.38462f, 1.85714f, 1.52941f, 1.29412f, 1.125f, 1}, 0.00488281f, 9400, 12000, 12750, "kx125", 5, 2000, 16.81f, 9500, 13000, "p:0:1"},
    {"rm125", "125", R125, 3.36842f, 12, 50, {2.07143f, 1.6875f, 1.44444f, 1.2f, 1.05263f, 0.95f}, 0.00488281f, 9400, 12000, 13750, "rm125", 5, 2000, 16.51f, 10500, 14000, "q:-1"},
    {"yz125", "125", R125, 3.36842f, 13, 48, {2.38462f, 1.93333f, 1.58824f, 1.35294f, 1.2f, 1.09524f}, 0.00488281f, 9400, 12000, 12750, "yz125", 5, 2000, 15.8614f, 10000, 13000, "p:0:1"},
    {"125sx", "125", R125, 3.04348f, 13, 50, {2.46154f, 2, 1.64706f, 1.4f, 1.21053f, 1.09091f}, 0.00488281f, 9400, 12000, 12750, "125sx", 5, 2000, 17.41f, 10500, 13000, "p:0:1"},
    {"crf250(2007)", "250f", R250F, 3.16667f, 13, 51, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "crf250", 5, 2000, 19, 8000, 13500, "h:-13"},
    {"kx250f(2007)", "250f", R250F, 3.35f, 13, 48, {2.14286f, 1.78571f, 1.44444f, 1.2f, 1.05263f, -1}, 0.00488281f, 8000, 12500, 13250, "kx250f", 5, 2000, 19.6f, 8000, 13500, "h:-13"},
    {"rmz250(2007)", "250f", R250F, 3.21053f, 13, 48, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, -1}, 0.00488281f, 8000, 12500, 13250, "rmz250", 5, 2000, 19.9f, 8000, 13500, "h:-13"},
    {"yz250f(2007)", "250f", R250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "yz250f", 5, 2000, 18.3f, 8000, 13500, "h:-13"},
    {"yz250f_se(2006)", "250f", R250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, -1}, 0.00488281f, 8000, 12500, 13250, "yz250f", 5, 2000, 18.3f, 8000, 13500, "h:-13"},
    {"rs50cr", "50", R50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 12750, "cr125", 1, 4500, 4.31226f, 9500, 13500, "p:-0.5:0.5"},
    {"rs50kx", "50", R50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 12750, "kx125", 1, 4500, 4.31226f, 9500, 13500, "p:-0.5:0.5"},
    {"rs50rm", "50", R50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 13750, "rm125", 1, 4500, 4.31226f, 9500, 13500, "p:-0.5:0.5"},
    {"rs50yz", "50", R50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 12750, "yz125", 1, 4500, 4.31226f, 9500, 13500, "p:-0.5:0.5"},
};

// Expected tail entry k (k = 0 just after the 0 entry).
float tail_entry(const char *tail, int k) {
  float a = 0, b = 0;
  if (sscanf(tail, "1:%f", &a) == 1) return a - (float)k;
  if (sscanf(tail, "h:%f", &a) == 1) return a - 0.5f * (float)k;
  if (sscanf(tail, "p:%f:%f", &a, &b) == 2) {
    if (a == 0) return -b * (float)((k + 1) / 2);  // 0, -1, -1, -2, -2 ...
    return a - b * (float)(k / 2);                 // -0.5, -0.5, -1, -1 ...
  }
  if (sscanf(tail, "q:%f", &a) == 1) return a - (float)((k + 1) / 2);  // -1, -2, -2, -3 ...
  ADD_FAILURE() << "bad tail " << tail;
  return 0;
}

void expect_vec(Vec3 v, float x, float y, float z) {
  EXPECT_FLOAT_EQ(v.x, x);
  EXPECT_FLOAT_EQ(v.y, y);
  EXPECT_FLOAT_EQ(v.z, z);
}

}  // namespace

TEST(BikeModel, EveryRowMatchesTheRowTable) {
  const BikeModel *rows = bike_model_table();
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) {
    const ExpectedRow &e = ROWS[r];
    const BikeModel &m = rows[r];
    SCOPED_TRACE(std::string("row ") + std::to_string(r) + " " + e.name);
    EXPECT_STREQ(m.name, e.name);
    EXPECT_STREQ(m.engine_class, e.engine_class);
    EXPECT_FLOAT_EQ(m.frame_mass, e.frame);
    EXPECT_FLOAT_EQ(m.rider_mass, e.rider);
    EXPECT_FLOAT_EQ(m.fork_mass, e.fork);
    EXPECT_FLOAT_EQ(m.swingarm_side_mass, e.swing_half);
    EXPECT_FLOAT_EQ(m.fork_spring_rate_min, e.fork_spring_min);
    EXPECT_FLOAT_EQ(m.fork_spring_rate_max, e.fork_spring_max);
    EXPECT_FLOAT_EQ(m.fork_rebound_damping, e.fork_rebound);
    EXPECT_FLOAT_EQ(m.shock_spring_rate_min, e.shock_spring_min);
    EXPECT_FLOAT_EQ(m.shock_spring_rate_max, e.shock_spring_max);
    EXPECT_FLOAT_EQ(m.shock_rebound_damping, e.shock_rebound);
    EXPECT_FLOAT_EQ(m.primary_ratio, e.primary);
    EXPECT_EQ(m.countershaft_teeth, (float)e.countershaft);
    EXPECT_EQ(m.rear_sprocket_teeth, (float)e.rear);
    for (int g = 0; g < 6; g++) EXPECT_FLOAT_EQ(m.gear_ratios[g], e.gears[g]) << "gear " << g;
    EXPECT_FLOAT_EQ(m.engine_inertia, e.inertia);
    EXPECT_EQ(m.downshift_rpm, (float)e.down);
    EXPECT_EQ(m.upshift_rpm, (float)e.up);
    EXPECT_EQ(m.redline_rpm, (float)e.red);
    bool fifty = strcmp(e.engine_class, "50") == 0;
    EXPECT_EQ(m.clutch_stiffness, fifty ? 1200.0f : 7500.0f);
    EXPECT_EQ(m.clutch_damping, fifty ? 1.0f : 0.75f);
    // The rider weighs 175 lb on the 450/350 four-strokes and 250 two-strokes, else 150 lb.
    EXPECT_FLOAT_EQ(m.rider_mass * 32, (r <= 16) ? 175.0f : 150.0f);

    std::string b = std::string("@") + e.base;
    EXPECT_EQ(std::string(m.frame_model), b + "_frame.jm");
    EXPECT_EQ(std::string(m.fork_upper_model), b + "_fork_upper.jm");
    EXPECT_EQ(std::string(m.fork_lower_model), b + "_fork_lower.jm");
    EXPECT_EQ(std::string(m.swingarm_model), b + "_swingarm.jm");
    EXPECT_EQ(std::string(m.side_plates_model), b + "_side_plates.jm");
    EXPECT_EQ(std::string(m.front_plate_model), b + "_front_plate.jm");
    EXPECT_EQ(std::string(m.bike_texture), r == 40 ? std::string("@yz250f_se.png") : b + ".png");
  }
  EXPECT_STREQ(rows[0].frame_model, "@crf450v2013_frame.jm");
}

TEST(BikeModel, FullThrottleCurvesFollowTheShapeRule) {
  const BikeModel *rows = bike_model_table();
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) {
    const ExpectedRow &e = ROWS[r];
    const float *c = rows[r].full_throttle_torque;
    SCOPED_TRACE(std::string("row ") + std::to_string(r) + " " + e.name);
    int flat_end = e.flat_to_rpm / 500, peak = e.peak_rpm / 500, zero = e.zero_rpm / 500;
    for (int i = 0; i <= flat_end; i++) EXPECT_EQ(c[i], e.flat) << "flat entry " << i;
    EXPECT_NE(c[flat_end + 1], e.flat) << "the flat start ends at its stated speed";
    EXPECT_FLOAT_EQ(c[peak], e.peak);
    for (int i = 0; i < zero; i++) {
      EXPECT_GT(c[i], 0) << "entry " << i;
      if (i != peak) {
        EXPECT_LT(c[i], c[peak]) << "entry " << i;
      }
    }
    EXPECT_EQ(c[zero], 0.0f);
    for (int i = zero + 1; i < TORQUE_CURVE_ENTRIES; i++)
      EXPECT_EQ(c[i], tail_entry(e.tail, i - zero - 1)) << "tail entry " << i;
    // Engine speed at which the curve first reaches 0 drives the rev limiter.
    int first_zero = -1;
    for (int i = 0; i < TORQUE_CURVE_ENTRIES && first_zero < 0; i++)
      if (c[i] <= 0) first_zero = i;
    EXPECT_EQ(first_zero, zero);
    EXPECT_LT(c[TORQUE_CURVE_ENTRIES - 1], 0);
    // Rows without a measured curve rise steadily to the peak and fall steadily from it.
    static const char *const measured[] = {"crf450(2013)", "350sxf(2013)", "yz250f(2013)",
                                           "cr250(2007)", "yz125", "rs50cr", "rs50kx",
                                           "rs50rm", "rs50yz"};
    bool is_measured = false;
    for (const char *n : measured) is_measured = is_measured || strcmp(n, e.name) == 0;
    if (!is_measured) {
      for (int i = flat_end + 1; i <= peak; i++) EXPECT_GT(c[i], c[i - 1]) << "rise at " << i;
      for (int i = peak + 1; i < zero; i++) EXPECT_LT(c[i], c[i - 1]) << "fall at " << i;
    }
  }
}

TEST(BikeModel, TellingRowsCarryTheirMeasuredCurves) {
  struct Telling {
    const char *name;
    std::vector<float> head;  // entries up to the 0 entry
  };
  const Telling telling[] = {
      {"crf450(2013)", {5, 5, 5, 5, 5, 8, 11, 14.1f, 22.2f, 22.5f, 25.8f, 29.3f, 30.2f, 30.7f, 31, 30.9f, 30.1f, 29.3f, 27.2f, 25.6f, 24.2f, 21.9f, 18.8f, 14.4f}},
      {"350sxf(2013)", {5, 5, 5, 5, 5, 8, 11, 15.5f, 17.7f, 18.1f, 18.3f, 19.9f, 22.1f, 24.4f, 26.1f, 26.2f, 26.8f, 27.1f, 26.9f, 25.7f, 25.2f, 24.7f, 24, 22.9f, 21.7f, 20.6f, 20}},
      {"yz250f(2013)", {5, 5, 5, 5, 5, 6.4f, 7.9f, 9.4f, 10.8f, 11.5f, 12.49f, 13.62f, 16.13f, 17.79f, 18.25f, 18.55f, 18.68f, 18.65f, 17.99f, 17.52f, 16.96f, 16.23f, 16.17f, 15.47f, 15.01f, 13.55f, 12.62f, 12}},
      {"cr250(2007)", {5, 5, 5, 5, 7.5f, 12.5f, 17.507f, 20.5583f, 22.4528f, 21.8254f, 25.7354f, 28.0749f, 28.624f, 30.139f, 31.5877f, 32.8432f, 30.7905f, 27.8671f, 22.9926f, 17.0279f, 9.40128f}},
      {"yz125", {5, 5, 5, 5, 5, 6, 7.1f, 8.2f, 9.3f, 10.4f, 11.5546f, 10.7907f, 10.5042f, 12.1203f, 13.1303f, 13.6555f, 13.7868f, 14.2734f, 14.881f, 15.3693f, 15.8614f, 15.7063f, 15.6608f, 15.1626f, 13.6555f, 5.04203f}},
  };
  std::vector<float> rs50(10, 1.0f);
  for (float v : {1.10084f, 1.90986f, 1.7507f, 2.02004f, 2.10085f, 2.31093f, 2.82301f, 3.5838f, 4.14333f,
                  4.31226f, 3.729f, 3.60145f, 3.77197f, 3.5623f, 2.66982f, 1.68068f, 0.808017f})
    rs50.push_back(v);
  std::vector<Telling> all(std::begin(telling), std::end(telling));
  for (const char *n : {"rs50cr", "rs50kx", "rs50rm", "rs50yz"}) all.push_back({n, rs50});
  for (const Telling &t : all) {
    SCOPED_TRACE(t.name);
    const BikeModel *m = bike_model_by_name(t.name);
    ASSERT_TRUE(m);
    for (size_t i = 0; i < t.head.size(); i++) EXPECT_EQ(m->full_throttle_torque[i], t.head[i]) << i;
    EXPECT_EQ(m->full_throttle_torque[t.head.size()], 0.0f);
  }
  // The tails as printed: crf450 ends at -34, cr250 at -23.5, yz125 and the 50s in pairs.
  const BikeModel *crf = bike_model_by_name("crf450(2013)");
  EXPECT_EQ(crf->full_throttle_torque[25], -10.0f);
  EXPECT_EQ(crf->full_throttle_torque[49], -34.0f);
  EXPECT_EQ(bike_model_by_name("cr250(2007)")->full_throttle_torque[49], -23.5f);
  const float *yz = bike_model_by_name("yz125")->full_throttle_torque;
  EXPECT_EQ(yz[27], 0.0f);
  EXPECT_EQ(yz[28], -1.0f);
  EXPECT_EQ(yz[49], -11.0f);
  EXPECT_EQ(bike_model_by_name("rs50yz")->full_throttle_torque[49], -5.5f);
}

TEST(BikeModel, ClosedThrottleCurves) {
  std::vector<float> four = {2, 2, 1, 0};
  for (int k = 1; four.size() < 50; k++) four.insert(four.end(), {(float)-k, (float)-k});
  std::vector<float> two = {2, 2, 1, 0, -1, -1.2f, -1.4f, -1.6f, -1.8f, -2, -2.25f, -2.5f, -2.75f,
                            -3, -3.33f, -3.67f, -4, -5, -6, -7, -8, -9};
  for (int k = 10; two.size() < 50; k++) two.insert(two.end(), {(float)-k, (float)-k});
  ASSERT_EQ(four.size(), 50u);
  ASSERT_EQ(two.size(), 50u);
  EXPECT_EQ(four[48], -23.0f);
  EXPECT_EQ(two[49], -23.0f);
  std::vector<float> fifty(two);
  for (size_t i = 4; i < fifty.size(); i++) fifty[i] = two[i] * 0.5f;
  EXPECT_FLOAT_EQ(fifty[14], -1.665f);

  const BikeModel *rows = bike_model_table();
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) {
    SCOPED_TRACE(rows[r].name);
    const std::vector<float> &want =
        r >= 41 ? fifty : ((r >= 12 && r <= 16) || (r >= 31 && r <= 35)) ? two : four;
    for (int i = 0; i < 50; i++) EXPECT_FLOAT_EQ(rows[r].closed_throttle_torque[i], want[i]) << i;
  }
}

TEST(BikeModel, SharedSkeleton) {
  const BikeModel *rows = bike_model_table();
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) {
    const BikeModel &m = rows[r];
    SCOPED_TRACE(m.name);
    expect_vec(m.front_wheel.position, 0, 1.09f, 1.11f);
    EXPECT_FLOAT_EQ(m.front_wheel.torus_radius, 0.8333333f);
    EXPECT_FLOAT_EQ(m.front_wheel.ring_mass, 0.40625f);
    EXPECT_FLOAT_EQ(m.front_wheel.hub_mass, 0.15625f);
    expect_vec(m.rear_wheel.position, 0, 1.04f, 6.0f);
    EXPECT_FLOAT_EQ(m.rear_wheel.torus_radius, 0.75f);
    EXPECT_FLOAT_EQ(m.rear_wheel.tube_radius, 0.3333333f);
    EXPECT_FLOAT_EQ(m.rear_wheel.ring_mass, 0.46875f);
    EXPECT_FLOAT_EQ(m.rear_wheel.hub_mass, 0.3125f);
    expect_vec(m.frame_position, 0, 1.98f, 3.6f);
    expect_vec(m.fork_upper_position, 0, 2.9f, 2.16f);
    expect_vec(m.swingarm_position, 0, 1.34f, 4.99f);
    expect_vec(m.swingarm_pivot, 0, 1.58f, 4.17f);
    expect_vec(m.fork_lower_position, 0, 1.77f, 1.59f);
    EXPECT_FLOAT_EQ(m.fork_preload_max, 0.0833333f);
    EXPECT_FLOAT_EQ(m.fork_air_length_min, 0.4166667f);
    EXPECT_FLOAT_EQ(m.fork_compression_damping, 60);
    EXPECT_FLOAT_EQ(m.shock_preload_max, 0.0275f);
    EXPECT_FLOAT_EQ(m.shock_compression_damping, 800);
    EXPECT_FLOAT_EQ(m.swingarm_travel, 0.55f);
    EXPECT_FLOAT_EQ(m.shock_leverage_start, 0.6153846f);
    EXPECT_FLOAT_EQ(m.legacy_rider_travel_min, -0.6666667f);
    expect_vec(m.rider_position, 0, 4.5f, 4.12f);
    expect_vec(m.left_shoulder, -0.556f, 0.580375f, -0.654514f);
    expect_vec(m.right_grip, 1.097f, 1.145f, 0.753f);
    expect_vec(m.left_peg, -0.6f, -0.557f, 0.584f);
    EXPECT_STREQ(m.frame_shape, "@generic_frame.shp");
    EXPECT_STREQ(m.rider_model_first_person, "@rider_body_fp.jm");
    EXPECT_STREQ(m.wheel_texture, "@wheels.png");
    EXPECT_EQ(m.rider_rest_pose, rows[0].rider_rest_pose);
    expect_vec(m.rider_rest_pose[4], -0.269f, -2.208f, 0.01f);
  }
}

TEST(BikeModel, LookupAndFallback) {
  message_log_clear();
  struct Case {
    std::string asked;
    const char *found;
    bool reported;
  };
  const Case cases[] = {
      {"crf450(2013)", "crf450(2013)", false},
      {"CRF450(2013)", "kx250f(2013)", true},  // case-sensitive
      {"rm125(2019)", "cr125", true},
      {"", "kx250f(2013)", true},
      {"rs50yz", "rs50yz", false},
      {std::string(1000, 'q'), "kx250f(2013)", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.asked.substr(0, 30));
    int before = message_log()->write_index;
    const BikeModel *m = find_bike_model(c.asked.c_str());
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->name, c.found);
    EXPECT_EQ(message_log()->write_index != before, c.reported);
    if (c.reported) {
      std::string want = "bike info for '" + c.asked.substr(0, 20) + "' not found using '" +
                         c.found + "' instead";
      EXPECT_EQ(std::string(message_log()->lines[before]), want);
    }
  }
  EXPECT_EQ(bike_model_by_name("CRF450(2013)"), nullptr);
  EXPECT_EQ(bike_model_index("rs50yz"), 44);
  EXPECT_EQ(bike_model_index("nosuchbike"), -1);
}

TEST(BikeModel, FiveSpeedRowsMarkTheSixthGearAbsent) {
  const BikeModel *rows = bike_model_table();
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) {
    SCOPED_TRACE(rows[r].name);
    int gears = 0;
    for (int g = 0; g < BIKE_GEAR_SLOTS && rows[r].gear_ratios[g] > 0; g++) gears++;
    EXPECT_TRUE(gears == 5 || gears == 6);
    if (gears == 5) {
      EXPECT_EQ(rows[r].gear_ratios[5], -1.0f);
    }
    for (int g = 1; g < gears; g++) EXPECT_LT(rows[r].gear_ratios[g], rows[r].gear_ratios[g - 1]);
  }
}

TEST(BikeModel, TexturePrefix) {
  char buf[32];
  ASSERT_TRUE(bike_model_texture_prefix(bike_model_by_name("crf450(2013)"), buf, sizeof buf));
  EXPECT_STREQ(buf, "crf450v2013-");
  ASSERT_TRUE(bike_model_texture_prefix(bike_model_by_name("yz250f_se(2006)"), buf, sizeof buf));
  EXPECT_STREQ(buf, "yz250f_se-");
  EXPECT_FALSE(bike_model_texture_prefix(bike_model_by_name("crf450(2013)"), buf, 5));
  EXPECT_STREQ(buf, "");
}
