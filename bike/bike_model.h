// The built-in bike model table: one read-only row per rideable make, model and year.
// Every row is built on the same skeleton; rows differ in masses, suspension ranges,
// drivetrain, torque curves, rider mass and file names. Units: ft, slug, lb, rad, s;
// torque curve entries in ft·lb at 500 rpm steps. Positions are in the build frame
// (bike upright on level ground at y = 0, front toward -z, +y up, +x the rider's right);
// "X coordinates" means the frame of body X, origin at its build position, axes parallel.
#pragma once
#include "core/common.h"

constexpr int BIKE_MODEL_COUNT = 45;         // rows in the table
constexpr int TORQUE_CURVE_ENTRIES = 50;     // entry i is the torque at i x 500 rpm
constexpr float TORQUE_CURVE_RPM_STEP = 500; // rpm between curve entries
constexpr int BIKE_GEAR_SLOTS = 6;           // a ratio <= 0 marks an absent gear
constexpr int RIDER_REST_POINTS = 9;         // joint points of the rider model's rest pose

struct WheelSpec {
  Vec3 position;       // ft, axle centre in the build frame
  float torus_radius;  // ft, axle to the centre of the tyre section
  float tube_radius;   // ft, radius of the tyre section (outer radius = sum)
  float ring_mass;     // slug, tyre and rim, spread over 16 spheres on the torus circle
  float hub_radius;    // ft, hub sphere used for inertia
  float hub_mass;      // slug, hub sphere
};
static_assert(sizeof(WheelSpec) == 8 * sizeof(float), "WheelSpec is eight floats");

struct BikeModel {
  const char *name;          // model name, the key of the lookup
  const char *engine_class;  // "450f", "250f", "250", "125" or "50"
  WheelSpec front_wheel;
  WheelSpec rear_wheel;
  Vec3 frame_position;       // ft
  float frame_mass;          // slug, before the rider's share is added
  Vec3 frame_box;            // ft, width, height, length of the frame's inertia box
  Vec3 fork_upper_position;  // ft, triple clamps and bars; also the steering pivot
  Vec3 swingarm_position;    // ft
  Vec3 swingarm_pivot;       // ft
  Vec3 fork_lower_position;  // ft, sliders and axle
  float fork_leg_spacing;    // ft, between the fork legs
  float fork_length;         // ft, each leg's inertia cylinder is 2/3 of this long
  float fork_mass;           // slug, of the fork upper body and again of the fork lower body
  float fork_spring_rate_min, fork_spring_rate_max;  // lb/ft, both legs, adjustment 0 / 100
  float fork_preload_min, fork_preload_max;          // ft, adjustment 0 / 100
  float fork_air_length_min, fork_air_length_max;    // ft, air column at oil level 0 / 100
  float fork_compression_damping;                    // lb·s/ft, middle setting
  float fork_rebound_damping;                        // lb·s/ft, middle setting
  float fork_travel;                                 // ft, stroke
  float swingarm_side_mass;                          // slug, each of the two halves
  float shock_spring_rate_min, shock_spring_rate_max;  // lb/ft, adjustment 0 / 100
  float shock_preload_min, shock_preload_max;          // ft, adjustment 0 / 100
  float shock_compression_damping;                     // lb·s/ft, middle setting
  float shock_rebound_damping;                         // lb·s/ft, middle setting
  float swingarm_travel;                               // rad, full extension to full compression
  float shock_leverage_start, shock_leverage_end;      // ratio at full extension / compression
  float primary_ratio;                                 // crank to gearbox reduction
  float countershaft_teeth;                            // front sprocket teeth
  float rear_sprocket_teeth;                           // rear sprocket teeth
  float gear_ratios[BIKE_GEAR_SLOTS];                  // first gear first; -1 = no sixth gear
  float engine_inertia;                                // slug·ft², rotating inertia on the crank
  float clutch_stiffness;                              // ft·lb/rad, driveline, engine side
  float clutch_damping;                                // ft·lb·s/rad, clutch slip speed
  float closed_throttle_torque[TORQUE_CURVE_ENTRIES];  // ft·lb, throttle shut
  float full_throttle_torque[TORQUE_CURVE_ENTRIES];    // ft·lb, throttle wide open
  float downshift_rpm, upshift_rpm;                    // rpm, automatic shifting thresholds
  float redline_rpm;                                   // rpm, informational only
  Vec3 legacy_rider_axis;                              // rider travel, oldest compact state
  Vec3 rider_position;                                 // ft, rider body
  float legacy_rider_travel_min, legacy_rider_travel_max;  // ft, oldest compact state
  float rider_mass;                                    // slug
  const char *frame_model;
  const char *frame_shape;
  const char *bike_texture;  // default bike graphics
  const char *fork_upper_model, *fork_upper_shape;
  const char *fork_lower_model, *fork_lower_shape;
  const char *swingarm_model, *swingarm_shape;
  const char *front_wheel_model, *front_wheel_shape;
  const char *rear_wheel_model, *rear_wheel_shape;
  const char *wheel_texture;
  const char *head_model, *head_texture;
  const char *rider_model, *rider_model_first_person;
  const char *rider_shape;
  const char *rider_texture;
  const char *side_plates_model, *front_plate_model;
  const char *rider_plate_model;
  Vec3 eye_point;                      // ft, first-person eye, rider coordinates
  Vec3 left_shoulder, right_shoulder;  // ft, rider coordinates
  Vec3 left_hip, right_hip;            // ft, rider coordinates
  Vec3 left_grip, right_grip;          // ft, fork upper coordinates
  Vec3 left_peg, right_peg;            // ft, frame coordinates
  float upper_arm_length, forearm_length;  // ft
  float thigh_length, shin_length;         // ft
  const Vec3 *rider_rest_pose;  // RIDER_REST_POINTS points of the rider model (one shared table)
};

// The rows in table order (the menus list them in this order); BIKE_MODEL_COUNT of them.
// The table is read-only and lives for the whole process.
const BikeModel *bike_model_table();

// Exact, case-sensitive lookup without fallback: the row, or null when no row has the name.
const BikeModel *bike_model_by_name(const char *name);
// Index of the row with exactly this name, or -1.
int bike_model_index(const char *name);

// Never fails: the row with exactly this name; otherwise the first row whose name contains
// "125" (when the requested name contains "125") or "250f", and the player is told
// "bike info for '%.20s' not found using '%.20s' instead".
const BikeModel *find_bike_model(const char *name);

// The prefix of the model's own bike graphics ("crf450v2013-" for "@crf450v2013.png"),
// for the "Bike Graphics" texture list. Writes at most size bytes; returns 1, or 0 when
// it does not fit (out is then empty).
int bike_model_texture_prefix(const BikeModel *model, char *out, int size);
