// The game's entry point: wires the renderer into the start-up and runs the game.
#include "core/core.h"
#include "core/game.h"
#include "render/glcaps.h"
#include "render/render.h"

int main(int argc, char **argv) {
  GameRenderHooks render{};
  render.gl_capabilities = gl_capabilities;
  render.log_capabilities = gl_log_capabilities;
  render.build_shaders = shaders_build;
  render.init_state = render_init_state;
  render.draw_view = render_view;
  render.read_pixels = render_read_pixels;
  render.finish = render_finish;
  game_set_render_hooks(&render);
  return game_main(argc, argv);
}
