// Bike simulation: the bike and rider bodies, their force laws, tyres, setup and the world.
#pragma once
#include <ode/ode.h>

#include <cstdint>

#include "core/common.h"

struct BikeModel;  // bike/bike_model.h
struct BikeSetup;  // files/config.h
struct Terrain;    // terrain/terrain.h
struct Shape;      // render/model.h
struct Model;      // render/model.h
struct RacerTiming;  // track/track.h

// ---- the rigid-body world: one per process, stepped once per tick ----

// Creates the world with gravity (0, -32, 0) and the per-tick contact joint group.
// 1 on success; 0 when a world exists already.
int physics_world_create();
// Destroys the contact group and the world (bodies and joints still in it go with it).
void physics_world_destroy();
// One tick: dWorldStep by TICK, then empty the contact group.
void physics_world_step();
dWorldID physics_world();               // 0 when none
dJointGroupID physics_contact_group();  // 0 when none

// ---- controls ----
struct Controls {
  float throttle;     // 0 .. 1, twist grip
  float clutch;       // 0 .. 1, engagement, 1 = lever released
  float front_brake;  // 0 .. 1
  float rear_brake;   // 0 .. 1
  float steer;        // -1 .. 1, +1 = right
  float dab;          // 0 .. 1, sit down and put a foot down
  float back_up;      // 0 .. 1, push the bike backward while stopped
  float lean;         // -1 .. 1, -1 = forward, +1 = back
};

// ---- bodies and joints, in build order (the compact state relies on it) ----
enum BikeBodyIndex {
  FRAME_BODY,
  FRONT_WHEEL_BODY,
  REAR_WHEEL_BODY,
  FORK_UPPER_BODY,
  FORK_LOWER_BODY,
  SWINGARM_BODY,
  RIDER_BODY,
  BIKE_BODY_COUNT
};
enum BikeJointIndex {
  FRONT_AXLE_JOINT,
  REAR_AXLE_JOINT,
  STEERING_JOINT,
  FORK_JOINT,
  SWINGARM_JOINT,
  RIDER_JOINT,
  BIKE_JOINT_COUNT
};

// Where a wheel touches the ground (or another bike) this tick.
struct WheelContact {
  dBodyID body;        // front or rear wheel body
  Vec3 axle;           // axle in wheel coordinates, (1, 0, 0)
  float torus_radius;  // ft, axle to the centre of the tyre section
  float tube_radius;   // ft, radius of the tyre section
  // From here on the layout matches ContactGeometry, so a shape contact can be copied in.
  Vec3 point;           // ft, world
  Vec3 point_velocity;  // ft/s, wheel body velocity at `point`
  Vec3 normal;          // unit, out of the ground
  float depth;          // ft; 0 = touched nothing this tick
  dJointFeedback feedback;
};

// A contact found between spheres (collisions), laid out like the tail of WheelContact.
struct ContactGeometry {
  Vec3 point;     // ft
  Vec3 velocity;  // ft/s, first body's velocity at the point
  Vec3 normal;
  float depth;  // ft
  dJointFeedback feedback;
};

// The applied setup values of one bike (robots and remote racers keep the build defaults).
struct BikeSettings {
  float fork_compression_damping;   // lb*s/ft
  float fork_rebound_damping;       // lb*s/ft
  float fork_spring_rate;           // lb/ft, both legs
  float fork_preload;               // ft
  float fork_air_length;            // ft
  float shock_compression_damping;  // shock units
  float shock_rebound_damping;
  float shock_spring_rate;
  float shock_preload;  // ft
  float rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;  // 0 .. 1
  float roll_damping;           // 0 .. 100
  float leveling;               // 0 .. 100
  float roll_limit_factor;      // 0 .. 64
  float roll_limit_angle;       // rad
  float steering_damping;       // 0 .. 100
  float steering_strength;      // 0 .. 100
  float max_steering_force;     // ft*lb
  float direct_steering;        // 0 .. 1
  float slow_damping_speed;     // ft/s
  float slow_damping_factor;    // 1 .. 10
  float land_damping_falloff;   // s
  float land_damping_factor;    // 1 .. 3
  float auto_clutch_rpms;       // rpm
  float brake_torque;           // ft*lb, front
  float rear_brake_torque;      // ft*lb
  float max_dab_speed;          // ft/s
  float full_lock_speed;        // ft/s
  float restricted_lock_speed;  // ft/s
  float restricted_lock;        // rad
};

// Setup flags, first byte.
enum : uint8_t {
  SETUP_ALWAYS = 1,
  SETUP_STOP_WHEELIES = 2,  // engine torque cut while the front is up
  SETUP_STOP_STOPPIES = 4,  // front brake released while the rear is up
  SETUP_FRONT_ANTILOCK = 8,
  SETUP_REAR_ANTILOCK = 16,
  SETUP_AUTO_SHIFT = 32,
  SETUP_AUTO_DAB = 64,
  SETUP_AUTO_ALIGN = 128,
};
// Setup flags, second byte.
enum : uint8_t { SETUP2_ARCADE = 1 };

// One terrain erosion event of a wheel (consumed by terrain deformation).
struct BikeErosionEvent {
  float x, z;            // ft, contact point
  float push_x, push_z;  // lb
};
constexpr int BIKE_EROSION_RING = 1024;

constexpr int BIKE_NUMBER_CHARS = 7;

enum BikeTextureGroup { BIKE_TEXTURE, WHEEL_TEXTURE, GEAR_TEXTURE, HELMET_TEXTURE };
enum BikePartModel {
  FRAME_MODEL, SIDE_PLATES_MODEL, FORK_UPPER_MODEL, FRONT_PLATE_MODEL, FORK_LOWER_MODEL,
  SWINGARM_MODEL,                                    // bike texture
  FRONT_WHEEL_MODEL, REAR_WHEEL_MODEL,               // wheel texture
  RIDER_PLATE_MODEL, RIDER_MODEL, RIDER_FP_MODEL,    // riding gear
  HEAD_MODEL,                                        // helmet
  BIKE_PART_MODELS
};

// The bike and rider of one racer: seven bodies, six joints and all their simulation state.
// Owned by the race session from build_racer to free_racer.
struct Bike {
  BikeModel *model;  // owned copy of the model row; every rule reads parameters from it
  char model_name[64];
  char number[BIKE_NUMBER_CHARS + 1];
  int slot;

  dBodyID bodies[BIKE_BODY_COUNT];
  dJointID joints[BIKE_JOINT_COUNT];
  dJointFeedback joint_feedback[BIKE_JOINT_COUNT];

  WheelContact front, rear;

  Controls controls;
  int gear;              // 0 = first .. 5 = sixth
  int last_shift_input;  // -1, 0, +1

  float gearbox_angle;   // rad, like the rear axle's hinge angle, in [-pi, pi]
  float engine_speed;    // rad/s, crank
  float engine_inertia;  // slug*ft^2
  float final_ratio;     // rear teeth / countershaft teeth

  BikeSettings settings;
  uint8_t setup_flags;   // SETUP_*
  uint8_t setup_flags2;  // SETUP2_*

  float total_mass;  // slug

  Shape *shapes[BIKE_BODY_COUNT];  // collision shapes by body; null when absent
  // Part graphics: textures by group and part models (BikeTextureGroup, BikePartModel).
  char texture_names[4][128];      // bike, wheel, riding gear, helmet textures in use
  uint32_t textures[4];            // 0 when none loaded
  Model *models[BIKE_PART_MODELS];  // null when absent
  uint8_t number_background[3], number_foreground[3];  // RGB
  uint32_t normal_maps[4], specular_maps[4];  // by texture group, with the shader path; 0 = none
  uint32_t number_texture;  // the number plate, owned: free_racer deletes it

  // State of the contact, control, collision and crash rules.
  int lap_spoiled;
  float landing_damping;  // multiplier, >= 1
  int crash_timer;        // ticks; > 0 while the rider is down
  int crash_count;
  Vec3 left_foot, left_foot_velocity, right_foot, right_foot_velocity;  // ft, ft/s
  Vec3 rider_velocity[4];  // ft/s, slot (tick mod 4)
  float knock;             // knock counter
  int last_bike_contact_tick;
  float lock_indicator;  // 0 .. 1
  float presence;        // 0 .. 1
  int interpolation_marker;
  float dab_extension;  // 0 .. 1

  BikeErosionEvent erosion[BIKE_EROSION_RING];
  int erosion_write, erosion_read;

  RacerTiming *timing;  // owned; gate crossings and laps
};

// ---- assembly ----

// Builds the bike and rider of a racer from a model name (the lookup falls back to a known
// model). Texture names may be null (the model's defaults). Always returns a bike; only
// running out of memory ends the program. The caller owns it and frees it with free_racer.
Bike *build_racer(const char *model_name, int slot, const char *number,
                  const char *rider_texture, const char *head_texture,
                  const char *bike_texture, const char *wheel_texture);
void free_racer(Bike *bike);
// Puts the bike into its build pose and clears the per-race state.
void reset_racer(Bike *bike);
void translate_racer(Bike *bike, float dx, float dy, float dz);
// Sets every body's orientation to the rotation (axis, angle) and rotates its position
// about the world origin; meant for a bike fresh from reset_racer.
void rotate_racer(Bike *bike, float axis_x, float axis_y, float axis_z, float angle);
// Weight 0 .. 1: 0 disables all bodies, anything else enables them.
void set_presence(Bike *bike, float weight);

// ---- tyres ----

// The tyre torus against one triangle. Returns the depth (> 0 when penetrating) and fills
// point and normal when it does.
float torus_triangle(Vec3 centre, Vec3 axle, float torus_radius, float tube_radius,
                     const Vec3 triangle[3], Vec3 *point, Vec3 *normal);
// Finds the deepest contact of the wheel with the ground, makes its soft contact joint and
// rolling resistance, and records it in `wheel`. 1 when touching.
int wheel_ground_contact(const Terrain *terrain, WheelContact *wheel, float grip);
// The same search without joint, forces or writing the record. 1 when touching.
int wheel_ground_probe(const Terrain *terrain, const WheelContact *wheel, Vec3 *point,
                       Vec3 *normal, float *depth);

// ---- engine and drivetrain ----
float engine_rpm(const Bike *bike);
// Manual shifting, once per tick with the shift channel (-1, 0, +1).
void shift(Bike *bike, int input);
void drivetrain_step(Bike *bike);
void brake_step(Bike *bike);
void auto_shift_step(Bike *bike, int tick);

// ---- suspension and setup ----
void fork_force(Bike *bike);
void shock_torque(Bike *bike);
// Applies every setup value; refused (and 0 returned) while the bike moves faster than
// 0.125 ft/s. `time` is the simulated time in s, for the refusal message rule.
int apply_setup(Bike *bike, const BikeSetup *setup, double time);
// Session-wide: a setup value lay far outside its range (never cleared except by reset).
int setup_out_of_range();
// The race server's word on arcade physics: when disabled, "Yes" clears the arcade bit.
void set_arcade_disabled(int disabled);
int bike_arcade_disabled();
void bike_setup_reset();  // session start and tests: flag, refusal clock, arcade switch

// Setters: each limits the value to its range (and flags values far outside it).
void set_leveling(Bike *b, float v);
void set_roll_damping(Bike *b, float v);
void set_roll_limit_angle(Bike *b, float degrees);
void set_roll_limit_factor(Bike *b, float v);
void set_steering_damping(Bike *b, float v);
void set_steering_strength(Bike *b, float v);
void set_max_steering_force(Bike *b, float v);
void set_direct_steering(Bike *b, float v);
void set_slow_damping_speed(Bike *b, float v);
void set_slow_damping_factor(Bike *b, float v);
void set_land_damping_falloff(Bike *b, float v);
void set_land_damping_factor(Bike *b, float v);
void set_full_lock_speed(Bike *b, float v);
void set_restricted_lock_speed(Bike *b, float v);
void set_restricted_lock(Bike *b, float degrees);
void set_auto_clutch_rpms(Bike *b, float v);
void set_brake_torque(Bike *b, float v);
void set_rear_brake_torque(Bike *b, float v);
void set_max_dab_speed(Bike *b, float mph);
void set_sprockets(Bike *b, float front_adjustment, float rear_adjustment);
void set_fork_compression(Bike *b, float adjustment);
void set_fork_rebound(Bike *b, float adjustment);
void set_fork_spring_rate(Bike *b, float adjustment);
void set_fork_preload(Bike *b, float adjustment);
void set_fork_oil_level(Bike *b, float adjustment);
void set_shock_compression(Bike *b, float adjustment);
void set_shock_rebound(Bike *b, float adjustment);
void set_shock_spring_rate(Bike *b, float adjustment);
void set_shock_preload(Bike *b, float adjustment);
void set_rider_yspring(Bike *b, float adjustment);
void set_rider_ydamping(Bike *b, float adjustment);
void set_rider_zspring(Bike *b, float adjustment);
void set_rider_zdamping(Bike *b, float adjustment);
void set_rider_mass_distribution(Bike *b, float d);
// Choices: "Antilock"/"Normal", "No"/"Yes"/"Front Only", "No"/"Yes".
void set_front_brake_mode(Bike *b, const char *choice);
void set_rear_brake_mode(Bike *b, const char *choice);
void set_stop_wheelies(Bike *b, const char *choice);
void set_auto_shift(Bike *b, const char *choice);
void set_auto_dab(Bike *b, const char *choice);
void set_auto_align(Bike *b, const char *choice);
// `server_disabled` is set when the race server has turned arcade physics off.
void set_arcade(Bike *b, const char *choice, int server_disabled);

// ---- rider control ----
void set_throttle(Bike *b, float v);
void set_clutch(Bike *b, float v);
void set_front_brake(Bike *b, float v);
void set_rear_brake(Bike *b, float v);
void set_steer(Bike *b, float v);
void set_dab(Bike *b, float v);
void set_back_up(Bike *b, float v);
void set_lean(Bike *b, float v);

// What the racer's physics step needs from the session.
struct BikeStep {
  const Terrain *terrain;
  int tick;          // current tick
  int start_tick;    // the session's start tick
  int race_running;  // realignment after a fall only while the race runs
  // The racer's reference line four samples ahead (robot lines), when there is one;
  // otherwise realignment aims at the next timing gate.
  int has_line_point;
  Vec3 line_point;
};

// The racer's own step for this tick, after the world step: crash rules, rider springs,
// suspension, steering assists, drivetrain, brakes and dab; acts in the next world step.
void physics_step(Bike *bike, const BikeStep *step);

// Roll of a frame body: > 0 leaning left, < 0 leaning right (rad).
float roll_angle(dBodyID frame);
float front_slip_angle(const Bike *bike);  // rad
void apply_steering_torque(Bike *bike, float torque);  // ft*lb about the steering axis

// ---- crashes ----
constexpr int CRASH_PENALTY_SLOTS = 16;
// Extra ticks down for the 1st, 2nd, ... 16th and later crash (the race server sets them).
void set_crash_penalty_ticks(const int ticks[CRASH_PENALTY_SLOTS]);
void check_crash(Bike *bike, int tick);
void start_crash(Bike *bike);
void crashed_rider_step(Bike *bike);
void crashed_feet_step(Bike *bike, const Terrain *terrain);

// ---- collisions ----
// Part bits of a racer in collision results.
enum : int {
  PART_FRAME = 1,
  PART_FRONT_WHEEL = 2,
  PART_REAR_WHEEL = 4,
  PART_FORK_UPPER = 8,
  PART_FORK_LOWER = 16,
  PART_SWINGARM = 32,
  PART_RIDER = 64,
};
// Collision modes: detect only, contact joint, penalty force.
enum { COLLIDE_DETECT = -1, COLLIDE_JOINT = 0, COLLIDE_PENALTY = 1 };

// Wheels and part shapes against the ground; non-zero when anything touched.
int terrain_contact_pass(Bike *bike, const Terrain *terrain);
// The ground, then the track's statues around the bike.
int object_contact_pass(Bike *bike, const Terrain *terrain, int tick);
// Racer A's parts against racer B's; returns B's part bits that touched.
int bike_contact_pass(Bike *a, Bike *b, int remote, int tick);
// Radius about the frame body's position that holds every part a bike contact tests: two
// bikes whose frames are further apart than the sum of their reaches cannot touch.
float bike_contact_reach(const Bike *bike);
int parts_vs_shape(Bike *bike, Shape *shape, dBodyID body, Vec3 position,
                   const float orientation[9], int mode, int front_detect);
int shape_vs_shape(Shape *a, dBodyID body_a, Vec3 pa, const float ra[9], Shape *b,
                   dBodyID body_b, Vec3 pb, const float rb[9], int mode);
int wheel_vs_shape(Shape *shape, dBodyID body, Vec3 position, const float orientation[9],
                   WheelContact *wheel, int mode);
int shape_vs_terrain(Shape *shape, dBodyID body, Vec3 position, const float orientation[9],
                     const Terrain *terrain);
int sphere_vs_terrain(const Terrain *terrain, Vec3 centre, float radius, Vec3 *point,
                      Vec3 *normal, float *depth);
float sphere_triangle(const Vec3 tri[3], Vec3 centre, float radius, Vec3 *point, Vec3 *normal);
