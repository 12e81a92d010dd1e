// Race internals shared by the session, tick, results and series files.
#pragma once
#include "race/race.h"
#include "track/track.h"

// The gate field of the running order (leader first) for the lap rules.
void race_gate_field(GateField *field);
// Time trial: the human (slot 0) completed a lap / the ghost (slot 1) completed one.
void time_trial_lap_completed();
void time_trial_ghost_lap();
// The human's false-start reference and penalty (online only).
struct FalseStart {
  Vec3 reference;   // ft, where the human stood at the start
  int32_t penalty;  // ticks still held
};
FalseStart *false_start();
// Installs the crossing check's hooks (results update, line learning).
void race_install_gate_hooks();
