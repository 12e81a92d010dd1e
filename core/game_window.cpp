// The game's windowed start-up (window, sound, GL, controls, the world, the start
// session), the frame loop and the exit of what it built.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "core/core.h"
#include "core/frame.h"
#include "core/game.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "platform/velk_audio.h"
#include "platform/velk_input.h"
#include "platform/velk_window.h"
#include "race/demo.h"
#include "race/race.h"
#include "render/texture.h"
#include "robot/robot.h"
#include "track/track.h"

constexpr int AUDIO_RECORD_RATE = 88320;  // Hz
constexpr int AUDIO_BLOCK = 690;          // samples per tick at that rate
constexpr int GL_WAITS = 162;             // of 1/16 s before giving up on the context

// ---- per process: what the windowed start-up built, released by the exit ----
static struct {
  GameRenderHooks render;
  VelkWindow *window;
  VelkAudio *audio;
  DataFile *audio_file;
  AxisHandle *cursor_x, *cursor_y;
  bool ode_started;
  void (*after_pass)(VelkWindow *window);
} s_game;

void game_set_pass_hook(void (*hook)(VelkWindow *window)) { s_game.after_pass = hook; }

void game_set_render_hooks(const GameRenderHooks *hooks) {
  s_game.render = hooks ? *hooks : GameRenderHooks{};
}

static void on_signal(int) { frame_request_quit(); }

static void sound_frame(float) {
  if (s_game.audio) velk_audio_update(s_game.audio);
}

static int audio_block(unsigned char *out, int bytes) {
  const uint8_t *block = s_game.audio ? velk_readback_render(s_game.audio) : nullptr;
  if (!block || bytes < AUDIO_BLOCK * 2) return 0;
  memcpy(out, block, AUDIO_BLOCK * 2);
  return 1;
}

static int write_png(const char *name, int width, int height, const unsigned char *rgb) {
  return png_write_rgb(name, rgb, width, height);
}

// Step 27: every binding resolved to a key code or an axis of the window's devices.
static void bind_controls(VelkWindow *window) {
  s_game.cursor_x = velk_axis_open(window, "cursor-x");
  s_game.cursor_y = velk_axis_open(window, "cursor-y");
  Config *cfg = config();
  for (int i = 0; i < KEY_BINDING_COUNT; i++) {
    KeyBinding &b = cfg->keys[i];
    int code = 0;
    if (b.key_name && *b.key_name && velk_key_code(window, b.key_name, &code)) {
      b.key_code = code;
    } else if (b.axis_name && *b.axis_name) {
      b.axis = velk_axis_open(window, b.axis_name);
    }
    frame_bind_key(i, b.key_code);
  }
}

static void release_controls() {
  if (s_game.cursor_x) velk_axis_close(s_game.cursor_x);
  if (s_game.cursor_y) velk_axis_close(s_game.cursor_y);
  s_game.cursor_x = s_game.cursor_y = nullptr;
  Config *cfg = config();
  for (KeyBinding &b : cfg->keys) {
    if (b.axis) velk_axis_close(b.axis);
    b.axis = nullptr;
  }
}

static void close_audio() {
  if (s_game.audio) velk_audio_close(s_game.audio);
  s_game.audio = nullptr;
}

static void close_window() {
  if (s_game.window && s_game.render.stop_gl) s_game.render.stop_gl();
  if (s_game.window) velk_gl_close(s_game.window);
  s_game.window = nullptr;
}

void game_release_windowed() {
  physics_world_destroy();
  if (s_game.ode_started) dCloseODE();
  s_game.ode_started = false;
  release_controls();
  close_audio();
  if (s_game.audio_file) datafile_close(s_game.audio_file);
  s_game.audio_file = nullptr;
  close_window();
}

static int leave(int status) {
  int exit_status = exit_path();
  return status ? status : exit_status;
}

int game_run_windowed() {
  RunOptions *o = run_options();
  Config *cfg = config();

  // 20. The window: windowed at the configured size, or full screen at the chosen mode.
  int count = 0;
  const VideoMode *modes = video_modes(&count);
  int mode = cfg->video_mode.index;
  int width = o->width, height = o->height, flags = o->depth & VELK_COLOUR_BITS_MASK;
  if (mode != 1) {
    flags |= VELK_FULLSCREEN;
    width = mode >= 0 && mode < count ? modes[mode].width : 0;
    height = mode >= 0 && mode < count ? modes[mode].height : 0;
  }
  s_game.window = velk_gl_open("Dirtvane", width, height, flags, 0, o->zdepth, 0, 0);
  if (!s_game.window) return leave(1);

  // 21. Sound: the recording file wins over the device.
  if (o->record_audio) {
    s_game.audio_file = datafile_open(o->record_audio, "wb");
    if (s_game.audio_file)
      s_game.audio = velk_readback_open(s_game.window, AUDIO_RECORD_RATE, AUDIO_BLOCK);
  } else if (!o->sound_off) {
    s_game.audio = velk_audio_open(s_game.window);
  }

  // 22. Wait for the GL context's drawable. Giving up is a failure, not a success.
  const FrameInfo *frame = nullptr;
  for (int waits = 0; !(frame = velk_gl_begin_frame(s_game.window)); waits++) {
    if (waits == GL_WAITS) return leave(1);
    velk_sleep(0, 62500);
    velk_pump_messages(s_game.window);
  }
  // 23. Capabilities, logged; the optional features follow from them.
  if (s_game.render.gl_capabilities) s_game.render.gl_capabilities();
  if (s_game.render.log_capabilities) s_game.render.log_capabilities();
  if (s_game.render.build_shaders && strcmp(choice_text(&cfg->use_shader), "Yes") == 0)
    s_game.render.build_shaders();
  // 24. The fixed GL state. 26. The first frame.
  if (s_game.render.init_state) s_game.render.init_state(o->flat_shading);
  velk_gl_end_frame(s_game.window);
  velk_pump_messages(s_game.window);

  // 27. Controls; the loop's own state first (it resolves the fixed keys).
  FrameOptions fo{};
  fo.locked_fps = o->locked_fps;
  fo.warp = o->warp;
  fo.record_video = o->record_video;
  fo.hidden_pause = !o->show_paused;
  fo.hidden_hud = !o->show_hud;
  fo.editor_allowed = o->editor;
  fo.debug_level = o->debug_level;
  fo.audio_file = s_game.audio_file;
  fo.glfinish = o->glfinish;
  fo.print_orientation = o->print_orientation;
  fo.chase_center = o->chase_center;
  frame_loop_init(&fo, velk_clock_seconds());
  bind_controls(s_game.window);
  message_log_set_max_visible(cfg->message_lines);
  FrameHooks fh{};
  fh.draw_view = s_game.render.draw_view;
  fh.read_pixels = s_game.render.read_pixels;
  fh.write_png = write_png;
  fh.sound_frame = sound_frame;
  fh.audio_block = audio_block;
  fh.finish = s_game.render.finish;
  fh.after_pass = s_game.after_pass;
  fh.demo_seek = seek_demo;
  frame_set_hooks(&fh);

  // 29. The rigid-body world: y up, lengths in feet.
  dInitODE2(0);
  s_game.ode_started = true;
  physics_world_create();
  game_install_session_hooks();
  robot_set_options(o->debug_level, o->learn_lines);

  // 30. A demo on the command line: its track becomes the start track.
  bool playback = false, has_start = track_catalogue()->selected >= 0;
  char demo_track[256];
  if (o->file && demo_file_track(o->file, demo_track, sizeof demo_track)) {
    playback = true;
    has_start = true;
    const TrackCatalogue *tracks = track_catalogue();
    const char *name = nullptr;
    for (int i = 0; i < tracks->count; i++)
      if (!strcmp(tracks->dirs[i], demo_track)) name = tracks->names[i];
    track_select(demo_track, name);
  }

  // 31. An empty racer table; without a demo to play the player rides in slot 0.
  racer_table_reset();
  int *lineup = session_lineup();
  for (int i = 0; i < MAX_RACERS; i++) lineup[i] = LINEUP_EMPTY;
  if (!playback) lineup[0] = LINEUP_HUMAN;

  // 32. The start track. Until the menus exist the selected track (option or
  // configuration) starts a practice ride, so the game opens on a bike, not a blank sky.
  // 33. The main menu would open here (unless connecting); there are no menus yet.
  if (has_start) {
    int copy[MAX_RACERS];
    memcpy(copy, lineup, sizeof copy);
    if (start_session(copy, playback, 0, 0, 1000, cfg->skill.index))
      frame_set_view_mode(VIEW_RIDER);
  }

  // 34. The frame loop, until quit, the close box or a signal.
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  frame_loop(s_game.window);
  return leave(0);
}
