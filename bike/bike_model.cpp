// The bike model table: the 45 rows, their torque curves and the lookup with its fallback.
#include "bike/bike_model.h"

#include <cstdio>
#include <cstring>

#include "core/frame.h"

namespace {

// ---- the shared skeleton ----

constexpr WheelSpec FRONT_WHEEL = {{0, 1.09f, 1.11f}, 0.8333333f, 0.3333333f, 0.40625f, 0.5f, 0.15625f};
constexpr WheelSpec REAR_WHEEL = {{0, 1.04f, 6.0f}, 0.75f, 0.3333333f, 0.46875f, 0.5f, 0.3125f};

const Vec3 RIDER_REST_POSE[RIDER_REST_POINTS] = {
    {-1.456f, 0.875f, 0.01f}, {1.456f, 0.875f, 0.01f},   {-0.556f, 0.875f, 0.01f},
    {0.556f, 0.875f, 0.01f},  {-0.269f, -2.208f, 0.01f}, {0.269f, -2.208f, 0.01f},
    {-0.269f, -0.88f, 0.01f}, {0.269f, -0.88f, 0.01f},   {0, -0.88f, 0.01f},
};

// ---- torque curves ----

enum ClosedCurve { CLOSED_FOUR_STROKE, CLOSED_TWO_STROKE, CLOSED_50CC };

// The two-stroke engine-braking curve to entry 21; beyond it -10, -10, -11, -11 ... -23, -23.
const float TWO_STROKE_HEAD[22] = {2,    2,    1,     0,    -1,    -1.2f, -1.4f, -1.6f,
                                   -1.8f, -2,  -2.25f, -2.5f, -2.75f, -3,   -3.33f, -3.67f,
                                   -4,   -5,   -6,    -7,   -8,    -9};

float closed_throttle_entry(ClosedCurve kind, int i) {
  if (i < 4) return TWO_STROKE_HEAD[i];  // 2, 2, 1, 0 on every curve
  if (kind == CLOSED_FOUR_STROKE) return (float)-((i - 4) / 2 + 1);
  float two = i < 22 ? TWO_STROKE_HEAD[i] : (float)-((i - 22) / 2 + 10);
  return kind == CLOSED_50CC ? two * 0.5f : two;
}

// The falling tail after the curve's 0 entry: entry k of the tail is
// start + step x floor((k + phase) / period).
struct CurveTail {
  float start, step;
  int period, phase;
};
constexpr CurveTail TAIL_450 = {-10, -1, 1, 0};
constexpr CurveTail TAIL_450_LATE = {-11, -1, 1, 0};  // 0 entry at 12 500 rpm
constexpr CurveTail TAIL_350 = {-13, -1, 1, 0};
constexpr CurveTail TAIL_250F_14000 = {-13.5f, -0.5f, 1, 0};
constexpr CurveTail TAIL_250F_13500 = {-13, -0.5f, 1, 0};
constexpr CurveTail TAIL_250 = {-10, -0.5f, 1, 0};
constexpr CurveTail TAIL_125 = {0, -1, 2, 1};    // 0, -1, -1, -2, -2 ...
constexpr CurveTail TAIL_RM125 = {-1, -1, 2, 1}; // -1, -2, -2, -3 ...
constexpr CurveTail TAIL_50 = {-0.5f, -0.5f, 2, 0};

// Measured curves of the telling rows, from entry 0 up to (not including) the 0 entry.
const float CURVE_CRF450_2013[] = {5,    5,    5,    5,    5,    8,    11,   14.1f,
                                   22.2f, 22.5f, 25.8f, 29.3f, 30.2f, 30.7f, 31,   30.9f,
                                   30.1f, 29.3f, 27.2f, 25.6f, 24.2f, 21.9f, 18.8f, 14.4f};
const float CURVE_350SXF_2013[] = {5,     5,     5,     5,     5,     8,     11,
                                   15.5f, 17.7f, 18.1f, 18.3f, 19.9f, 22.1f, 24.4f,
                                   26.1f, 26.2f, 26.8f, 27.1f, 26.9f, 25.7f, 25.2f,
                                   24.7f, 24,    22.9f, 21.7f, 20.6f, 20};
const float CURVE_YZ250F_2013[] = {5,      5,      5,      5,      5,      6.4f,   7.9f,
                                   9.4f,   10.8f,  11.5f,  12.49f, 13.62f, 16.13f, 17.79f,
                                   18.25f, 18.55f, 18.68f, 18.65f, 17.99f, 17.52f, 16.96f,
                                   16.23f, 16.17f, 15.47f, 15.01f, 13.55f, 12.62f, 12};
const float CURVE_CR250_2007[] = {5,        5,        5,        5,        7.5f,     12.5f,
                                  17.507f,  20.5583f, 22.4528f, 21.8254f, 25.7354f, 28.0749f,
                                  28.624f,  30.139f,  31.5877f, 32.8432f, 30.7905f, 27.8671f,
                                  22.9926f, 17.0279f, 9.40128f};
const float CURVE_YZ125[] = {5,        5,        5,        5,        5,        6,
                             7.1f,     8.2f,     9.3f,     10.4f,    11.5546f, 10.7907f,
                             10.5042f, 12.1203f, 13.1303f, 13.6555f, 13.7868f, 14.2734f,
                             14.881f,  15.3693f, 15.8614f, 15.7063f, 15.6608f, 15.1626f,
                             13.6555f, 5.04203f};
const float CURVE_RS50[] = {1,        1,        1,        1,        1,        1,
                            1,        1,        1,        1,        1.10084f, 1.90986f,
                            1.7507f,  2.02004f, 2.10085f, 2.31093f, 2.82301f, 3.5838f,
                            4.14333f, 4.31226f, 3.729f,   3.60145f, 3.77197f, 3.5623f,
                            2.66982f, 1.68068f, 0.808017f};

struct MeasuredCurve {
  const float *head;
  int count;  // entries before the 0 entry
};
#define MEASURED(a) {a, (int)(sizeof a / sizeof a[0])}
constexpr MeasuredCurve NOT_MEASURED = {nullptr, 0};

// ---- the row table ----

// Columns shared by a whole class of bikes.
struct ClassSpec {
  float frame_mass, rider_mass, fork_mass, swingarm_side_mass;  // slug
  float fork_spring_min, fork_spring_max;                       // lb/ft
  float fork_rebound;                                           // lb·s/ft
  float shock_spring_min, shock_spring_max;                     // lb/ft
  float shock_rebound;                                          // lb·s/ft
  ClosedCurve closed;
  float flat_torque;  // ft·lb at the start of the full-throttle curve
  int flat_end;       // last entry of the flat start
};
constexpr ClassSpec C450 = {4.735f, 5.46875f, 0.703125f, 0.5025f, 376.303f, 913.878f, 32,
                            2486.29f, 5174.16f, 650, CLOSED_FOUR_STROKE, 5, 4};
constexpr ClassSpec C250 = {4.36562f, 5.46875f, 0.75375f, 0.589375f, 322.545f, 860.12f, 30,
                            2083.1f, 4770.98f, 600, CLOSED_TWO_STROKE, 5, 3};
constexpr ClassSpec C250F = {4.24f, 4.6875f, 0.703125f, 0.504375f, 335.984f, 873.56f, 30,
                             2217.5f, 4905.37f, 600, CLOSED_FOUR_STROKE, 5, 4};
constexpr ClassSpec C125 = {3.65375f, 4.6875f, 0.739688f, 0.541875f, 322.545f, 860.12f, 30,
                            1814.32f, 4502.19f, 600, CLOSED_TWO_STROKE, 5, 4};
constexpr ClassSpec C50 = {3.34125f, 4.6875f, 0.739688f, 0.541875f, 309.106f, 846.681f, 30,
                           1814.32f, 4502.19f, 600, CLOSED_50CC, 1, 9};

struct RowSpec {
  const char *name;
  const char *engine_class;
  const ClassSpec *cls;
  float primary_ratio;
  float countershaft_teeth, rear_sprocket_teeth;
  float gears[BIKE_GEAR_SLOTS];
  float engine_inertia;  // slug·ft²
  float downshift_rpm, upshift_rpm, redline_rpm;
  const char *base;  // file name stem of the row's models and graphics
  float peak_torque;  // ft·lb
  int peak_rpm, zero_rpm;
  CurveTail tail;
  MeasuredCurve measured;
};

#define NO6 -1
const RowSpec ROWS[BIKE_MODEL_COUNT] = {
    {"crf450(2013)", "450f", &C450, 2.73913f, 13, 48, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, NO6}, 0.0088501f, 6000, 10500, 12000, "crf450v2013", 31, 7000, 12000, TAIL_450, MEASURED(CURVE_CRF450_2013)},
    {"kx450f(2013)", "450f", &C450, 2.72727f, 13, 50, {1.75f, 1.41176f, 1.1875f, 1, 0.875f, NO6}, 0.0088501f, 6000, 10500, 12000, "kx450f", 31.2f, 7000, 12000, TAIL_450, NOT_MEASURED},
    {"rmz450(2013)", "450f", &C450, 2.625f, 13, 50, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, NO6}, 0.0088501f, 6000, 10500, 12000, "rmz450", 33.3f, 7500, 12000, TAIL_450, NOT_MEASURED},
    {"yz450f(2013)", "450f", &C450, 2.65217f, 13, 48, {1.92857f, 1.53333f, 1.27778f, 1.09091f, 0.952381f, NO6}, 0.0088501f, 6000, 10500, 12000, "yz450f", 29.7f, 7500, 12000, TAIL_450, NOT_MEASURED},
    {"450sxf(2013)", "450f", &C450, 2.375f, 14, 50, {2, 1.66667f, 1.4f, 1.18182f, 1, NO6}, 0.0088501f, 6000, 10500, 12000, "450sxfv2013", 33.9f, 7500, 12000, TAIL_450, NOT_MEASURED},
    {"350sxf(2013)", "250f", &C450, 3.04167f, 14, 50, {2, 1.625f, 1.33333f, 1.14286f, 0.954545f, NO6}, 0.00683594f, 6000, 10500, 12000, "350sxfv2013", 27.1f, 8500, 13500, TAIL_350, MEASURED(CURVE_350SXF_2013)},
    {"crf450(2011)", "450f", &C450, 2.73913f, 13, 48, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, NO6}, 0.0088501f, 6000, 10500, 12000, "crf450", 34.6f, 6500, 12000, TAIL_450, NOT_MEASURED},
    {"kx450f(2011)", "450f", &C450, 2.72727f, 13, 50, {1.75f, 1.41176f, 1.1875f, 1, 0.875f, NO6}, 0.0088501f, 6000, 10500, 12000, "kx450f", 35.8f, 6500, 12000, TAIL_450, NOT_MEASURED},
    {"rmz450(2011)", "450f", &C450, 2.625f, 13, 50, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, NO6}, 0.0088501f, 6000, 10500, 12000, "rmz450", 36.1f, 7000, 12000, TAIL_450, NOT_MEASURED},
    {"yz450f(2011)", "450f", &C450, 2.65217f, 13, 48, {1.92857f, 1.53333f, 1.27778f, 1.09091f, 0.952381f, NO6}, 0.0088501f, 6000, 10500, 12000, "yz450f", 33, 7000, 12000, TAIL_450, NOT_MEASURED},
    {"450sxf(2011)", "450f", &C450, 2.55172f, 14, 52, {2.125f, 1.63158f, 1.3f, 1.08696f, 0.923077f, NO6}, 0.0088501f, 6000, 10500, 12000, "450sxf", 35.4f, 7500, 12500, TAIL_450_LATE, NOT_MEASURED},
    {"350sxf(2011)", "450f", &C450, 3.04167f, 14, 50, {2, 1.625f, 1.33333f, 1.14286f, 0.954545f, NO6}, 0.00683594f, 6000, 10500, 12000, "350sxf", 27.7f, 8000, 12000, TAIL_450, NOT_MEASURED},
    {"250sx(2012)", "250", &C250, 2.76923f, 13, 48, {2, 1.6f, 1.33333f, 1.14286f, 0.954545f, NO6}, 0.00683594f, 6000, 9000, 10500, "250sx", 32.58f, 8000, 10500, TAIL_250, NOT_MEASURED},
    {"cr250(2007)", "250", &C250, 3, 13, 49, {1.8f, 1.47059f, 1.21053f, 1, 0.869565f, NO6}, 0.00683594f, 6000, 9000, 10500, "cr250", 32.8432f, 7500, 10500, TAIL_250, MEASURED(CURVE_CR250_2007)},
    {"kx250(2006)", "250", &C250, 3, 13, 51, {1.8f, 1.4375f, 1.17647f, 1, 0.869565f, NO6}, 0.00683594f, 6000, 9000, 10500, "kx250", 32.07f, 7500, 10500, TAIL_250, NOT_MEASURED},
    {"rm250(2008)", "250", &C250, 3, 13, 50, {1.8f, 1.47059f, 1.21053f, 1, 0.869565f, NO6}, 0.00683594f, 6000, 9000, 10500, "rm250", 31.51f, 7500, 10500, TAIL_250, NOT_MEASURED},
    {"yz250(2012)", "250", &C250, 3, 14, 50, {1.92857f, 1.53333f, 1.27778f, 1.09091f, 0.952381f, NO6}, 0.00683594f, 6000, 9000, 10500, "yz250", 29.9f, 7500, 10500, TAIL_250, NOT_MEASURED},
    {"crf250(2013)", "250f", &C250F, 3.16667f, 13, 49, {2.35714f, 1.88235f, 1.55f, 1.33333f, 1.13636f, NO6}, 0.00488281f, 8000, 12500, 13250, "crf250v2010", 18.65f, 9000, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"kx250f(2013)", "250f", &C250F, 3.35f, 13, 50, {2.14286f, 1.75f, 1.44444f, 1.23529f, 1.04545f, NO6}, 0.00488281f, 8000, 12500, 13250, "kx250fv2013", 19.18f, 8500, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"rmz250(2013)", "250f", &C250F, 3.31579f, 13, 49, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, NO6}, 0.00488281f, 8000, 12500, 13250, "rmz250v2010", 18.52f, 8500, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"yz250f(2013)", "250f", &C250F, 3.35294f, 13, 50, {2.14286f, 1.75f, 1.44444f, 1.22222f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "yz250fv2010", 18.68f, 8000, 14000, TAIL_250F_14000, MEASURED(CURVE_YZ250F_2013)},
    {"250sxf(2013)", "250f", &C250F, 3.04167f, 13, 50, {2.46154f, 2, 1.64706f, 1.36842f, 1.19048f, 1.09091f}, 0.00488281f, 8000, 12500, 13250, "250sxfv2013", 18.87f, 8500, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"crf250(2009)", "250f", &C250F, 3.16667f, 13, 51, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "crf250", 20.39f, 8500, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"kx250f(2009)", "250f", &C250F, 3.35f, 13, 48, {2.14286f, 1.78571f, 1.44444f, 1.2f, 1.05263f, NO6}, 0.00488281f, 8000, 12500, 13250, "kx250f", 19.79f, 8000, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"rmz250(2009)", "250f", &C250F, 3.21053f, 13, 48, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, NO6}, 0.00488281f, 8000, 12500, 13250, "rmz250", 20.24f, 8500, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"yz250f(2009)", "250f", &C250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "yz250f", 20.07f, 8500, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"250sxf(2009)", "250f", &C250F, 3.09091f, 13, 48, {2.46154f, 2, 1.64706f, 1.36842f, 1.19048f, 1.09091f}, 0.00488281f, 8000, 12500, 13250, "250sxf", 20.19f, 8500, 14000, TAIL_250F_14000, NOT_MEASURED},
    {"crf250(2008)", "250f", &C250F, 3.16667f, 13, 51, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "crf250", 19.1f, 9500, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"kx250f(2008)", "250f", &C250F, 3.35f, 13, 48, {2.14286f, 1.78571f, 1.44444f, 1.2f, 1.05263f, NO6}, 0.00488281f, 8000, 12500, 13250, "kx250f", 19, 8500, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"rmz250(2008)", "250f", &C250F, 3.21053f, 13, 48, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, NO6}, 0.00488281f, 8000, 12500, 13250, "rmz250", 19.3f, 8500, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"yz250f(2008)", "250f", &C250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "yz250f", 19, 8500, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"cr125", "125", &C125, 3.15f, 13, 52, {2.35714f, 1.86667f, 1.57895f, 1.29412f, 1.13333f, NO6}, 0.00488281f, 9400, 12000, 12750, "cr125", 15.97f, 10000, 13000, TAIL_125, NOT_MEASURED},
    {"kx125", "125", &C125, 3.2f, 13, 51, {2.38462f, 1.85714f, 1.52941f, 1.29412f, 1.125f, 1}, 0.00488281f, 9400, 12000, 12750, "kx125", 16.81f, 9500, 13000, TAIL_125, NOT_MEASURED},
    {"rm125", "125", &C125, 3.36842f, 12, 50, {2.07143f, 1.6875f, 1.44444f, 1.2f, 1.05263f, 0.95f}, 0.00488281f, 9400, 12000, 13750, "rm125", 16.51f, 10500, 14000, TAIL_RM125, NOT_MEASURED},
    {"yz125", "125", &C125, 3.36842f, 13, 48, {2.38462f, 1.93333f, 1.58824f, 1.35294f, 1.2f, 1.09524f}, 0.00488281f, 9400, 12000, 12750, "yz125", 15.8614f, 10000, 13000, TAIL_125, MEASURED(CURVE_YZ125)},
    {"125sx", "125", &C125, 3.04348f, 13, 50, {2.46154f, 2, 1.64706f, 1.4f, 1.21053f, 1.09091f}, 0.00488281f, 9400, 12000, 12750, "125sx", 17.41f, 10500, 13000, TAIL_125, NOT_MEASURED},
    {"crf250(2007)", "250f", &C250F, 3.16667f, 13, 51, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "crf250", 19, 8000, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"kx250f(2007)", "250f", &C250F, 3.35f, 13, 48, {2.14286f, 1.78571f, 1.44444f, 1.2f, 1.05263f, NO6}, 0.00488281f, 8000, 12500, 13250, "kx250f", 19.6f, 8000, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"rmz250(2007)", "250f", &C250F, 3.21053f, 13, 48, {2.15385f, 1.76471f, 1.47059f, 1.2381f, 1.09091f, NO6}, 0.00488281f, 8000, 12500, 13250, "rmz250", 19.9f, 8000, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"yz250f(2007)", "250f", &C250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "yz250f", 18.3f, 8000, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"yz250f_se(2006)", "250f", &C250F, 3.35294f, 13, 48, {2.14286f, 1.75f, 1.45f, 1.22727f, 1.04167f, NO6}, 0.00488281f, 8000, 12500, 13250, "yz250f", 18.3f, 8000, 13500, TAIL_250F_13500, NOT_MEASURED},
    {"rs50cr", "50", &C50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 12750, "cr125", 4.31226f, 9500, 13500, TAIL_50, MEASURED(CURVE_RS50)},
    {"rs50kx", "50", &C50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 12750, "kx125", 4.31226f, 9500, 13500, TAIL_50, MEASURED(CURVE_RS50)},
    {"rs50rm", "50", &C50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 13750, "rm125", 4.31226f, 9500, 13500, TAIL_50, MEASURED(CURVE_RS50)},
    {"rs50yz", "50", &C50, 3.71429f, 12, 55, {3.09091f, 2, 1.5f, 1.2f, 1.04545f, 0.956522f}, 0.00119358f, 9400, 12000, 12750, "yz125", 4.31226f, 9500, 13500, TAIL_50, MEASURED(CURVE_RS50)},
};
#undef NO6

// Full-throttle curve of a row without a measured curve: flat start, an easing rise to the
// peak at its engine speed, a fall to about 40 % of the peak just before the 0 entry (the
// rev limiter's cut, as on the measured curves), the 0 entry, then the row's tail.
void build_full_throttle(const RowSpec &row, float out[TORQUE_CURVE_ENTRIES]) {
  const ClassSpec &cls = *row.cls;
  const int peak = row.peak_rpm / 500, zero = row.zero_rpm / 500;
  if (row.measured.head) {
    for (int i = 0; i < row.measured.count; i++) out[i] = row.measured.head[i];
  } else {
    for (int i = 0; i < zero; i++) {
      if (i <= cls.flat_end) {
        out[i] = cls.flat_torque;
      } else if (i < peak) {
        float t = (float)(i - cls.flat_end) / (float)(peak - cls.flat_end);
        float ease = 1 - (1 - t) * (1 - t);
        out[i] = cls.flat_torque + (row.peak_torque - cls.flat_torque) * ease;
      } else if (i == peak) {
        out[i] = row.peak_torque;
      } else {
        float u = (float)(i - peak) / (float)(zero - peak);
        out[i] = row.peak_torque * (1 - 0.6f * u * u);
      }
    }
  }
  out[zero] = 0;
  for (int i = zero + 1; i < TORQUE_CURVE_ENTRIES; i++) {
    int k = i - zero - 1;
    out[i] = row.tail.start + row.tail.step * (float)((k + row.tail.phase) / row.tail.period);
  }
}

// Storage for the per-row file names ("@" base suffix).
constexpr int FILE_NAME_CHARS = 40;
enum RowFile {
  FILE_FRAME_MODEL,
  FILE_BIKE_TEXTURE,
  FILE_FORK_UPPER_MODEL,
  FILE_FORK_LOWER_MODEL,
  FILE_SWINGARM_MODEL,
  FILE_SIDE_PLATES_MODEL,
  FILE_FRONT_PLATE_MODEL,
  ROW_FILE_COUNT
};
const char *const ROW_FILE_SUFFIX[ROW_FILE_COUNT] = {
    "_frame.jm", ".png", "_fork_upper.jm", "_fork_lower.jm", "_swingarm.jm",
    "_side_plates.jm", "_front_plate.jm"};

// ---- per process: built once on first use, read-only afterwards ----
struct BikeModelTable {
  BikeModel rows[BIKE_MODEL_COUNT];
  char files[BIKE_MODEL_COUNT][ROW_FILE_COUNT][FILE_NAME_CHARS];
};

void build_row(const RowSpec &spec, BikeModel *m, char files[ROW_FILE_COUNT][FILE_NAME_CHARS]) {
  const ClassSpec &cls = *spec.cls;
  *m = BikeModel{};
  m->name = spec.name;
  m->engine_class = spec.engine_class;
  m->front_wheel = FRONT_WHEEL;
  m->rear_wheel = REAR_WHEEL;
  m->frame_position = {0, 1.98f, 3.6f};
  m->frame_mass = cls.frame_mass;
  m->frame_box = {0.8333333f, 1.6666666f, 1.6666666f};
  m->fork_upper_position = {0, 2.9f, 2.16f};
  m->swingarm_position = {0, 1.34f, 4.99f};
  m->swingarm_pivot = {0, 1.58f, 4.17f};
  m->fork_lower_position = {0, 1.77f, 1.59f};
  m->fork_leg_spacing = 0.8333333f;
  m->fork_length = 3.0f;
  m->fork_mass = cls.fork_mass;
  m->fork_spring_rate_min = cls.fork_spring_min;
  m->fork_spring_rate_max = cls.fork_spring_max;
  m->fork_preload_min = 0;
  m->fork_preload_max = 0.0833333f;
  m->fork_air_length_min = 0.4166667f;
  m->fork_air_length_max = 0.25f;
  m->fork_compression_damping = 60;
  m->fork_rebound_damping = cls.fork_rebound;
  m->fork_travel = 1.0f;
  m->swingarm_side_mass = cls.swingarm_side_mass;
  m->shock_spring_rate_min = cls.shock_spring_min;
  m->shock_spring_rate_max = cls.shock_spring_max;
  m->shock_preload_min = 0;
  m->shock_preload_max = 0.0275f;
  m->shock_compression_damping = 800;
  m->shock_rebound_damping = cls.shock_rebound;
  m->swingarm_travel = 0.55f;
  m->shock_leverage_start = 0.6153846f;
  m->shock_leverage_end = 0.6153846f;
  m->primary_ratio = spec.primary_ratio;
  m->countershaft_teeth = spec.countershaft_teeth;
  m->rear_sprocket_teeth = spec.rear_sprocket_teeth;
  for (int g = 0; g < BIKE_GEAR_SLOTS; g++) m->gear_ratios[g] = spec.gears[g];
  m->engine_inertia = spec.engine_inertia;
  bool fifty = cls.closed == CLOSED_50CC;
  m->clutch_stiffness = fifty ? 1200 : 7500;
  m->clutch_damping = fifty ? 1.0f : 0.75f;
  for (int i = 0; i < TORQUE_CURVE_ENTRIES; i++)
    m->closed_throttle_torque[i] = closed_throttle_entry(cls.closed, i);
  build_full_throttle(spec, m->full_throttle_torque);
  m->downshift_rpm = spec.downshift_rpm;
  m->upshift_rpm = spec.upshift_rpm;
  m->redline_rpm = spec.redline_rpm;
  m->legacy_rider_axis = {0, 0.0833333f, 0.0833333f};
  m->rider_position = {0, 4.5f, 4.12f};
  m->legacy_rider_travel_min = -0.6666667f;
  m->legacy_rider_travel_max = 0.5f;
  m->rider_mass = cls.rider_mass;

  for (int f = 0; f < ROW_FILE_COUNT; f++)
    snprintf(files[f], FILE_NAME_CHARS, "@%s%s", spec.base, ROW_FILE_SUFFIX[f]);
  // The special edition has graphics of its own on the standard yz250f parts.
  if (strcmp(spec.name, "yz250f_se(2006)") == 0)
    snprintf(files[FILE_BIKE_TEXTURE], FILE_NAME_CHARS, "@yz250f_se.png");
  m->frame_model = files[FILE_FRAME_MODEL];
  m->frame_shape = "@generic_frame.shp";
  m->bike_texture = files[FILE_BIKE_TEXTURE];
  m->fork_upper_model = files[FILE_FORK_UPPER_MODEL];
  m->fork_upper_shape = "@generic_fork_upper.shp";
  m->fork_lower_model = files[FILE_FORK_LOWER_MODEL];
  m->fork_lower_shape = "@generic_fork_lower.shp";
  m->swingarm_model = files[FILE_SWINGARM_MODEL];
  m->swingarm_shape = "@generic_swingarm.shp";
  m->front_wheel_model = "@front_wheel.jm";
  m->front_wheel_shape = "@front_wheel.shp";
  m->rear_wheel_model = "@rear_wheel.jm";
  m->rear_wheel_shape = "@rear_wheel.shp";
  m->wheel_texture = "@wheels.png";
  m->head_model = "@rider_head.jm";
  m->head_texture = "@rider_head.png";
  m->rider_model = "@rider_body.jm";
  m->rider_model_first_person = "@rider_body_fp.jm";
  m->rider_shape = "@generic_rider.shp";
  m->rider_texture = "@rider_body.png";
  m->side_plates_model = files[FILE_SIDE_PLATES_MODEL];
  m->front_plate_model = files[FILE_FRONT_PLATE_MODEL];
  m->rider_plate_model = "@rider_plate.jm";

  m->eye_point = {0, 0.808383f, -0.943369f};
  m->left_shoulder = {-0.556f, 0.580375f, -0.654514f};
  m->right_shoulder = {0.556f, 0.580375f, -0.654514f};
  m->left_hip = {-0.269f, -0.570887f, 0.670607f};
  m->right_hip = {0.269f, -0.570887f, 0.670607f};
  m->left_grip = {-1.097f, 1.145f, 0.753f};
  m->right_grip = {1.097f, 1.145f, 0.753f};
  m->left_peg = {-0.6f, -0.557f, 0.584f};
  m->right_peg = {0.6f, -0.557f, 0.584f};
  m->upper_arm_length = 0.9f;
  m->forearm_length = 1.15f;
  m->thigh_length = 1.328f;
  m->shin_length = 1.701f;
  m->rider_rest_pose = RIDER_REST_POSE;
}

const BikeModelTable &table() {
  static const BikeModelTable *built = [] {
    static BikeModelTable t;
    for (int r = 0; r < BIKE_MODEL_COUNT; r++) build_row(ROWS[r], &t.rows[r], t.files[r]);
    return &t;
  }();
  return *built;
}

}  // namespace

const BikeModel *bike_model_table() { return table().rows; }

int bike_model_index(const char *name) {
  if (!name) return -1;
  const BikeModel *rows = bike_model_table();
  for (int r = 0; r < BIKE_MODEL_COUNT; r++)
    if (strcmp(rows[r].name, name) == 0) return r;
  return -1;
}

const BikeModel *bike_model_by_name(const char *name) {
  int r = bike_model_index(name);
  return r < 0 ? nullptr : &bike_model_table()[r];
}

const BikeModel *find_bike_model(const char *name) {
  if (!name) name = "";
  const BikeModel *found = bike_model_by_name(name);
  if (found) return found;
  const char *pattern = strstr(name, "125") ? "125" : "250f";
  const BikeModel *rows = bike_model_table();
  found = &rows[0];
  for (int r = 0; r < BIKE_MODEL_COUNT; r++) {
    if (strstr(rows[r].name, pattern)) {
      found = &rows[r];
      break;
    }
  }
  show_messagef("bike info for '%.20s' not found using '%.20s' instead", name, found->name);
  return found;
}

int bike_model_texture_prefix(const BikeModel *model, char *out, int size) {
  if (size <= 0) return 0;
  out[0] = 0;
  const char *tex = model->bike_texture;
  if (tex[0] == '@') tex++;
  size_t n = strlen(tex);
  if (n >= 4 && strcmp(tex + n - 4, ".png") == 0) n -= 4;
  if ((int)n + 2 > size) return 0;
  memcpy(out, tex, n);
  out[n] = '-';
  out[n + 1] = 0;
  return 1;
}
