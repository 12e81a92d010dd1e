// The session's hooks: the game, tools and tests share one wiring of the bike physics, the
// demo history and the robot riders into the race session.
#include "core/game.h"
#include "race/demo.h"
#include "race/race.h"
#include "robot/robot.h"

void game_install_session_hooks() {
  SessionHooks hooks = {};
  if (const SessionHooks *old = session_hooks()) hooks = *old;
  // The bike's own collision passes and physics step (the session calls them when no
  // override is set); the robots' line point hook feeds the step's realignment and samples
  // the riders' lines once per tick.
  hooks.object_contact_pass = nullptr;
  hooks.bike_contact_pass = nullptr;
  hooks.physics_step = nullptr;
  // Demo racers, ghosts and server racers are posed from their history each tick.
  hooks.place_remote = place_remote_from_history;
  set_session_hooks(&hooks);
  // Auto pilot, learnt lines and line learning.
  robot_install_hooks();
}
