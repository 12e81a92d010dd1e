// The game's entry point: wires the renderer into the start-up and runs the game.
#include "core/core.h"
#include "render/render.h"

int main(int argc, char **argv) {
  render_install_game_hooks();
  return game_main(argc, argv);
}
