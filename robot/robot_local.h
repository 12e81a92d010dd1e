// Robot riders: the per-racer learning and auto pilot records shared by the module's files.
#pragma once
#include "core/common.h"
#include "race/race.h"
#include "robot/robot.h"

struct Bike;

// One racer's learning and auto pilot state (wiped when the racer's session starts).
struct RobotRacer {
  // ---- line learning ----
  Growable buffers[2];  // LinePoint samples, by line section parity
  int spoilt[2];
  int riding[4];        // ids of the lines ridden, by line section mod 4
  int personality;      // 0 = no auto pilot
  int crash_flag;       // 1 a crash just happened, 2 counted
  int crash_seen;       // the bike's crash timer was running last tick
  // ---- auto pilot ----
  Growable route;       // LinePoint
  int target;
  int last_advance;     // tick
  int mode;             // 0 following, > 0 recovery countdown
  int next_section;
  int picked_once;      // the first pick of the race happened
  double reaction_mark; // s, signed
  float throttle_memory;
  int lean_limit_tick;
  int finished_seen;    // the slow-down after the finish was applied
  int still_ticks;      // ticks the bike has stood still while riding on its own
  int back_up_ticks;    // ticks of backing away from an obstacle still to go
  Mt19937 random;
};

RobotRacer *robot_racer(int slot);  // null when out of range
int robot_debug_level();

// The bike's measurements the learning and auto pilot use.
Vec3 frame_position(const Bike *bike);
Vec3 frame_velocity(const Bike *bike);
Vec3 frame_axis(const Bike *bike, int column);  // local x, y, z in world coordinates
// The place on the route: index plus fraction, as route_place defines it; -1 with no route.
float route_place(const RobotRacer *rr, const Bike *bike);
// Absolute route speed at a fractional place.
float route_speed_at(const RobotRacer *rr, float place);
