// The session's hooks into the bike physics: the game, tools and tests share one wiring.
#include "bike/bike.h"
#include "core/game.h"
#include "race/race.h"
#include "terrain/terrain.h"

// Wheels and parts against the ground, then the track's statues around the bike.
static int object_contacts(Bike *bike) {
  const Terrain *t = terrain_current();
  if (!t) return 0;
  return object_contact_pass(bike, t, session_clock()->tick);
}

static int bike_contacts(Bike *a, Bike *b, int remote) {
  return bike_contact_pass(a, b, remote, session_clock()->tick);
}

// The racer's own step: crash rules, rider springs, suspension, assists, drivetrain, brakes.
static void racer_physics_step(Bike *bike, int tick) {
  const SessionClock *c = session_clock();
  BikeStep step = {};
  step.terrain = terrain_current();
  step.tick = tick;
  step.start_tick = c->start_tick;
  step.race_running = tick > c->start_tick && !c->results_final;
  // Without a robot line to aim at, realignment after a fall aims at the next gate.
  step.has_line_point = 0;
  physics_step(bike, &step);
}

void game_install_session_hooks() {
  SessionHooks hooks = {};
  if (const SessionHooks *old = session_hooks()) hooks = *old;
  hooks.object_contact_pass = object_contacts;
  hooks.bike_contact_pass = bike_contacts;
  hooks.physics_step = racer_physics_step;
  set_session_hooks(&hooks);
}
