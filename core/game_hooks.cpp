// The session's hooks: the game, tools and tests share one wiring of the bike physics and
// the robot riders into the race session.
#include "bike/bike.h"
#include "core/game.h"
#include "race/demo.h"
#include "race/race.h"
#include "robot/robot.h"
#include "terrain/terrain.h"

// The racer's own step: crash rules, rider springs, suspension, assists, drivetrain and
// brakes, with the robot's line to realign to after a fall. It is installed as a hook (not
// left to the session's default) so that the robots' line learning can sample after it.
static void racer_physics_step(Bike *bike, int tick) {
  const SessionClock *c = session_clock();
  const SessionHooks *h = session_hooks();
  BikeStep step = {};
  step.terrain = terrain_current();
  step.tick = tick;
  step.start_tick = c->start_tick;
  step.race_running = tick >= c->start_tick && !c->results_final;
  Racer *racer = racer_at(bike->slot);
  if (h && h->line_point && racer)
    step.has_line_point = h->line_point(racer, bike->slot, &step.line_point);
  physics_step(bike, &step);
}

void game_install_session_hooks() {
  SessionHooks hooks = {};
  if (const SessionHooks *old = session_hooks()) hooks = *old;
  // The bike's own collision passes.
  hooks.object_contact_pass = nullptr;
  hooks.bike_contact_pass = nullptr;
  hooks.physics_step = racer_physics_step;
  // Demo racers, ghosts and server racers are posed from their history each tick.
  hooks.place_remote = place_remote_from_history;
  set_session_hooks(&hooks);
  // Auto pilot, learnt lines and line learning (wraps the physics step to sample).
  robot_install_hooks();
}
