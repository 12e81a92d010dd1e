// The session's hooks into the bike physics: the game, tools and tests share one wiring.
#include "bike/bike.h"
#include "core/game.h"
#include "race/race.h"
#include "terrain/terrain.h"

static int ground_contact_pass(Bike *bike) {
  const Terrain *t = terrain_current();
  int touching = wheel_ground_contact(t, &bike->front, 1);
  touching |= wheel_ground_contact(t, &bike->rear, 1);
  return touching;
}

static void bike_physics_step(Bike *bike, int tick) {
  fork_force(bike);
  shock_torque(bike);
  if (bike->setup_flags & SETUP_AUTO_SHIFT) auto_shift_step(bike, tick);
  drivetrain_step(bike);
  brake_step(bike);
}

void game_install_session_hooks() {
  SessionHooks hooks = {};
  if (const SessionHooks *old = session_hooks()) hooks = *old;
  hooks.object_contact_pass = ground_contact_pass;
  hooks.physics_step = bike_physics_step;
  set_session_hooks(&hooks);
}
