// The game's windowed start-up, its frame loop and exit, and the wiring of the modules
// that the headless library calls through hooks.
#pragma once

// Calls into the renderer (render/, which only the game links). Null members are skipped.
struct GameRenderHooks {
  int (*gl_capabilities)();         // 1 when a context answered
  void (*log_capabilities)();
  int (*build_shaders)();           // 1 when every program linked
  void (*init_state)(bool flat_shading);
  void (*draw_view)(int mode, int width, int height);
  int (*read_pixels)(int width, int height, unsigned char *rgb);
  void (*finish)();
  void (*stop_gl)();                // the context is about to go: drop the GL sides
};
void game_set_render_hooks(const GameRenderHooks *hooks);

// Called after every pass of the game's frame loop (tests drive the game through it);
// null removes it.
struct VelkWindow;
void game_set_pass_hook(void (*hook)(VelkWindow *window));

// Installs the session's hooks into the bike, robot and sound modules: what the game,
// the tools and the tests use to run races headless or not.
void game_install_session_hooks();

// Start-up steps 20-34 after startup_headless: window, sound, GL, controls, the world,
// the start session; then the frame loop and the exit path. Returns the exit status.
int game_run_windowed();
// The exit path's release of the world, controls, sound and window (after the bikes and
// the track, before the configuration is written). Harmless when nothing was built.
void game_release_windowed();
