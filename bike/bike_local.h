// Bike simulation internals shared by the bike/ sources and their tests.
#pragma once
#include <cmath>

#include "bike/bike.h"
#include "bike/bike_model.h"

constexpr float BIKE_PI = 3.14159265358979f;
constexpr float RPM_PER_RAD_S = 9.549296f;  // 60 / (2 pi)
constexpr float FORK_TOP_OUT = 1.0f / 1048576;  // ft, the fork slider's high stop (see build)

// ---- small vector helpers on the game's 32-bit vectors ----
inline Vec3 v3(const dReal *p) { return Vec3{(float)p[0], (float)p[1], (float)p[2]}; }
inline float v3_len2(Vec3 a) { return vec3_dot(a, a); }
inline Vec3 v3_neg(Vec3 a) { return Vec3{-a.x, -a.y, -a.z}; }
inline float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// World direction of a body-local vector, world point of a body-local point.
inline Vec3 body_vector(dBodyID b, float x, float y, float z) {
  dVector3 r;
  dBodyVectorToWorld(b, x, y, z, r);
  return v3(r);
}
inline Vec3 body_point(dBodyID b, float x, float y, float z) {
  dVector3 r;
  dBodyGetRelPointPos(b, x, y, z, r);
  return v3(r);
}
inline Vec3 body_position(dBodyID b) { return v3(dBodyGetPosition(b)); }
inline Vec3 body_velocity(dBodyID b) { return v3(dBodyGetLinearVel(b)); }
inline float body_speed(dBodyID b) { return vec3_length(body_velocity(b)); }

// ---- contact joints ----
// A soft contact joint of stiffness kp (lb/ft) and damping kd (lb*s/ft) for one tick.
struct SoftContact {
  Vec3 point, normal;
  float depth;  // ft
  float mu;     // friction; 0 = none
  float kp, kd;
  int approx1;  // dContactApprox1
  int has_fdir;
  Vec3 fdir;
};
// Creates the joint in the contact group, attached (body1, body2); either may be 0.
dJointID soft_contact(const SoftContact *c, dBodyID body1, dBodyID body2);

// ---- building blocks of the physics step ----
// Mass of a wheel from its spec: hub sphere plus a ring of 16 tyre spheres.
void wheel_mass(dMass *m, const WheelSpec *w);
void fork_mass(dMass *m, const BikeModel *model);
void swingarm_mass(dMass *m, const BikeModel *model);
// Frame and rider masses for rider mass distribution d (frame gets 1 - d of the rider).
void frame_and_rider_mass(dMass *frame, dMass *rider, const BikeModel *model, float d);

void bike_setup_defaults(Bike *bike);

// ---- part graphics (bike_graphics.cpp) ----
// The variant a texture names ("-alt1" in "@crf450v2013-alt1-.png"): 1 and the text, or 0.
int texture_variant(const char *texture, char *out, size_t size);
// "@x_frame.jm" with variant "-alt1" gives "@x_frame-alt1.jm".
void variant_model_name(const char *model, const char *variant, char *out, size_t size);
// The second name the normal and specular maps of a texture are looked for under: the
// default texture's name, with the variant the texture names inserted before its extension
// ("@x-alt1-.png" and "@x.png" give "@x-alt1.png"). The texture itself without a default.
void material_map_names(const char *texture, const char *default_texture, char *second,
                        size_t size);
// Number plate colours from a bike texture's information text (unchanged without tags).
void parse_number_colours(const char *info, uint8_t background[3], uint8_t foreground[3]);
// Loads the four textures (chosen: bike, wheel, riding gear, helmet; null = default) and
// the part models, with the fallback to the model's default textures; with the shader path
// their normal and specular maps; and the number plate of bike->number.
void load_part_graphics(Bike *bike, const char *const chosen[4]);

// Session-wide setup state (bike_suspension.cpp).
struct SetupState {
  int out_of_range;     // a value lay far outside its range (reported by the compact state)
  double last_refusal;  // s, simulated time of the last refused apply
  int arcade_disabled;  // the race server has turned arcade physics off
};
SetupState *bike_setup_state();
// Crank torque (ft*lb) for a throttle at an engine rpm, from the model's two curves.
float engine_torque_curve(const BikeModel *model, float rpm, float throttle);
// Clutch engagement from the lever and the automatic clutch at an engine rpm.
float clutch_engagement(float lever, float rpm, float auto_clutch_rpms);
// Total reduction of the current gear, crank to wheel.
float total_reduction(const Bike *bike);

// The pure suspension laws: fork force (lb) at slider position x (ft) and rate v (ft/s);
// shock torque (ft*lb) at swingarm angle theta (rad) and rate omega (rad/s).
float fork_force_law(const Bike *bike, float x, float v);
float shock_torque_law(const Bike *bike, float theta, float omega);
// Damping multiplier of a damping adjustment (2^(adj*0.02-1), limited 0.5 .. 2).
float damping_multiplier(float adjustment);
// The fork slider's position (ft; 0 fully extended, -fork_travel fully compressed) and rate.
float fork_position(const Bike *bike);
float fork_rate(const Bike *bike);

// The rider's springs on the frame (the rider body mount of the physics step).
void rider_mount_step(Bike *bike);
// Grip factor of arcade physics at a roll angle (1 upright, 0.625 from 45 degrees).
float arcade_grip(float roll);
// A ground normal pointing into the ground keeps only its sideways part, or points up.
Vec3 clean_ground_normal(Vec3 n);
// The two upward-facing triangles of terrain cell (i, j), split as the height sampling
// splits it; indices are clamped to the grid.
void terrain_cell_triangles(const Terrain *terrain, int i, int j, Vec3 tris[2][3]);
// The stability assists' torque under a knock counter.
float knocked_assist(float assist, float knock);
// Length (ft) of the tethers that pull a thrown rider back to the seat at a crash timer.
float return_tether_length(int timer);
// Contact stiffness and damping of a tyre at a depth (ft).
void tyre_stiffness(float depth, float tube_radius, float *kp, float *kd);
