// The frame loop: one pass draws, feeds the sound, measures the time and runs the ticks
// that time covers, applying each input event to the tick it fell into.
#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "core/common.h"
#include "core/frame.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"
#include "platform/velk_input.h"
#include "platform/velk_window.h"
#include "race/race.h"
#include "terrain/terrain.h"
#include "track/track.h"

// Fixed keys of the loop, resolved through the platform's key names at start-up.
enum FixedKey { FIXED_ESC, FIXED_TAB, FIXED_DIGIT0, FIXED_KEY_COUNT = FIXED_DIGIT0 + 10 };

// ---- per process: options, hooks, resolved keys ----
static FrameOptions s_options;
static FrameHooks s_hooks;
static int s_key_codes[KEY_BINDING_COUNT];
static int s_fixed_codes[FIXED_KEY_COUNT];

// ---- per run of the loop ----
static struct {
  FrameTiming timing;
  int view_mode;
  bool paused;
  bool menu_open;
  volatile sig_atomic_t quit;  // also set by SIGINT and SIGTERM
  bool mouse_button;
  float channels[CHANNEL_COUNT];
  LocalRiderInput local_input;
  float chase_angle;     // rad, orbit about another racer
  float chase_distance;  // ft
  float chase_height;    // ft
  CameraPose pose;       // the view drawn last
  int drawable_width, drawable_height;  // pixels, last frame
  bool screenshot_pending;  // taken from the next frame drawn, before it is presented
  KeyBinding *capturing;  // binding being captured by the key-binding screen, or null
} s_loop;

void frame_set_hooks(const FrameHooks *hooks) { s_hooks = hooks ? *hooks : FrameHooks{}; }

void frame_bind_key(int binding, int code) {
  if (binding >= 0 && binding < KEY_BINDING_COUNT) s_key_codes[binding] = code;
}

void frame_loop_init(const FrameOptions *options, double now) {
  s_options = options ? *options : FrameOptions{};
  memset(&s_loop, 0, sizeof s_loop);
  frame_timing_reset(&s_loop.timing, now);
  s_loop.view_mode = VIEW_TITLE;
  s_loop.chase_distance = 10;
  s_loop.chase_height = 5;
  local_rider_input_reset(&s_loop.local_input);
  channel_bindings_reset();
  const Config *cfg = config();
  camera_view_reset((float)cfg->fov.value);
  for (int i = 0; i < KEY_BINDING_COUNT; i++) {
    int code = 0;
    const char *name = cfg->keys[i].key_name;
    if (name && velk_key_code(nullptr, name, &code)) s_key_codes[i] = code;
    else s_key_codes[i] = 0;
  }
  static const char *const fixed_names[FIXED_KEY_COUNT] = {"esc", "tab", "0", "1", "2", "3",
                                                           "4",   "5",   "6", "7", "8", "9"};
  for (int i = 0; i < FIXED_KEY_COUNT; i++) {
    int code = 0;
    s_fixed_codes[i] = velk_key_code(nullptr, fixed_names[i], &code) ? code : -1;
  }
}

FrameTiming *frame_timing() { return &s_loop.timing; }
int frame_view_mode() { return s_loop.view_mode; }
void frame_set_view_mode(int mode) { s_loop.view_mode = mode; }
bool frame_paused() { return s_loop.paused; }
bool frame_menu_open() { return s_loop.menu_open; }
void frame_set_menu_open(bool open) { s_loop.menu_open = open; }
void frame_request_quit() { s_loop.quit = 1; }
bool frame_quit_requested() { return s_loop.quit; }
int frame_selected_camera() { return camera_view_selected(); }
const CameraPose *frame_camera_pose() { return &s_loop.pose; }
void frame_channels(float out[CHANNEL_COUNT]) {
  memcpy(out, s_loop.channels, sizeof s_loop.channels);
}

// ---- the viewed racer ----
static Racer *viewed_racer() {
  if (!session_active()) return nullptr;
  Racer *r = racer_at(session_clock()->viewed_slot);
  return r && r->bike ? r : nullptr;
}

static bool viewing_local_rider() {
  Racer *r = viewed_racer();
  return r && r->kind == RACER_HUMAN;
}

// Moves the viewed racer one place back or forward in the running order.
static void step_viewed_racer(int direction) {
  if (viewing_local_rider() && !config()->spy) return;
  int count = 0;
  const RunningOrder *order = running_order(&count);
  if (count == 0) return;
  int at = 0;
  for (int i = 0; i < count; i++)
    if (order[i].slot == session_clock()->viewed_slot) at = i;
  at = std::clamp(at + direction, 0, count - 1);
  session_clock()->viewed_slot = order[at].slot;
}

static void cycle_view_mode() {
  switch (s_loop.view_mode) {
    case VIEW_RIDER: s_loop.view_mode = s_options.editor_allowed ? VIEW_EDITOR : VIEW_CHASE; break;
    case VIEW_EDITOR:
      settle_bikes();
      s_loop.view_mode = VIEW_CHASE;
      break;
    case VIEW_CHASE: s_loop.view_mode = VIEW_CAMERA; break;
    case VIEW_CAMERA: s_loop.view_mode = VIEW_RIDER; break;
    default: break;
  }
}

static bool is_binding(int binding, int code) {
  return s_key_codes[binding] != 0 && s_key_codes[binding] == code;
}

// A game key with no menu open.
static void game_key(int code, int pressed) {
  if (code == s_fixed_codes[FIXED_TAB]) {
    // Tab acts on presses only: a release would skip a view.
    if (pressed && s_loop.view_mode != VIEW_TITLE) cycle_view_mode();
    return;
  }
  if (!pressed) return;
  if (is_binding(CONSOLE_KEY, code)) return;  // the console opens here once it exists
  if (s_loop.view_mode == VIEW_TITLE) return;
  if (is_binding(PAUSE_KEY, code)) {
    s_loop.paused = !s_loop.paused;
  } else if (is_binding(STEP_KEY, code)) {
    if (s_loop.paused) run_tick();
  } else if (is_binding(REWIND_KEY, code)) {
    if (s_hooks.demo_seek) s_hooks.demo_seek(-1);
  } else if (is_binding(SKIP_KEY, code)) {
    if (s_hooks.demo_seek) s_hooks.demo_seek(+1);
  } else if (is_binding(PREV_KEY, code)) {
    step_viewed_racer(-1);
  } else if (is_binding(NEXT_KEY, code)) {
    step_viewed_racer(+1);
  } else if (is_binding(SCREENSHOT_KEY, code)) {
    // The back buffer is undefined once presented: the shot is read from the next frame.
    if (s_loop.view_mode != VIEW_EDITOR) s_loop.screenshot_pending = true;
  } else {
    for (int d = 0; d < 10; d++) {
      if (code != s_fixed_codes[FIXED_DIGIT0 + d]) continue;
      camera_view_select(std::min(d, camera_count()) - 1);
    }
  }
}

static void handle_event(int code, int pressed) {
  if (code == VELK_CLOSE) {  // the close box ends the loop like quit
    s_loop.quit = 1;
    return;
  }
  channel_bindings_key(s_key_codes, code, pressed);
  if (code == VELK_MOUSE_LEFT) s_loop.mouse_button = pressed != 0;
  if (s_loop.capturing) {
    if (!pressed) return;
    if (code != s_fixed_codes[FIXED_ESC]) {
      s_loop.capturing->key_code = code;
      s_loop.capturing->key_name = intern_string(velk_key_name(nullptr, code) ? velk_key_name(nullptr, code) : "");
      s_loop.capturing->axis_name = nullptr;
      if (s_loop.capturing->axis) velk_axis_close(s_loop.capturing->axis);
      s_loop.capturing->axis = nullptr;
    }
    s_loop.capturing = nullptr;
    if (s_options.debug_level > 0) velk_log("Done watching pots\n");
    return;
  }
  if (pressed && code == s_fixed_codes[FIXED_ESC]) {
    if (!s_loop.menu_open) {
      s_loop.menu_open = true;
      return;
    }
    s_loop.menu_open = false;  // closed; the key goes on as a game key
  }
  if (!s_loop.menu_open) {
    game_key(code, pressed);
  } else if (!track_loaded()) {
    s_loop.view_mode = VIEW_TITLE;
  }
}

// Free-camera and chase-orbit controls of another racer.
static void spectator_controls() {
  const float *ch = s_loop.channels;
  if (s_loop.view_mode == VIEW_CHASE) {
    s_loop.chase_angle += ch[CHANNEL_STEER] * (float)(2 * M_PI / 1024);
    if (s_loop.chase_angle > M_PI) s_loop.chase_angle -= (float)(2 * M_PI);
    if (s_loop.chase_angle <= -M_PI) s_loop.chase_angle += (float)(2 * M_PI);
    if (ch[CHANNEL_THROTTLE] > 0.5f)
      s_loop.chase_distance = std::max(0.25f, s_loop.chase_distance - 1.0f / 64);
    if (ch[CHANNEL_FRONT_BRAKE] > 0.5f) s_loop.chase_distance += 1.0f / 64;
    s_loop.chase_height += (float)TICK * ch[CHANNEL_SHIFT];
  }
}

// What the camera view aims at: the viewed racer's frame body and its gate's camera.
static CameraTarget camera_target(const Racer *r) {
  CameraTarget t{};
  t.gate_camera = -1;
  if (!r || !r->bike) return t;
  dBodyID frame = r->bike->bodies[FRAME_BODY];
  const dReal *p = dBodyGetPosition(frame), *v = dBodyGetLinearVel(frame);
  t.valid = true;
  t.position = vec3((float)p[0], (float)p[1], (float)p[2]);
  if (!s_loop.paused) t.velocity = vec3((float)v[0], (float)v[1], (float)v[2]);
  if (r->bike->timing) {
    int gate = gate_of_crossing(r->bike->timing->next_gate);
    if (gate >= 0) t.gate_camera = gate_camera(gate);
  }
  return t;
}

static void local_rider_controls(Racer *r) {
  const BikeSetup *setup = bike_setup();
  bool reverse = strcmp(choice_text(&setup->reverse_steering), "Yes") == 0;
  bool sticky = strcmp(choice_text(&setup->sticky_dab), "Yes") == 0;
  HandedControls c = hand_controls(s_loop.channels, reverse, sticky, &s_loop.local_input);
  Bike *b = r->bike;
  set_steer(b, c.steer);
  set_front_brake(b, c.front_brake);
  set_rear_brake(b, c.rear_brake);
  set_throttle(b, c.throttle);
  set_dab(b, c.dab);
  set_back_up(b, c.back_up);
  set_lean(b, c.lean);
  set_clutch(b, c.clutch);
  shift(b, c.shift);
}

void frame_run_ticks(const FrameEventSource *events, double now) {
  FrameTiming &t = s_loop.timing;
  while (t.simulated < t.target) {
    t.simulated += TICK;
    double moment = now - (t.target - t.simulated);
    bool all = !(moment < now);
    int code, pressed;
    while (events && events->next && events->next(events->user, moment, all, &code, &pressed))
      handle_event(code, pressed);
    for (ChannelBinding *row = channel_bindings(); row < channel_bindings() + CHANNEL_BINDING_COUNT;
         row++) {
      const KeyBinding &b = config()->keys[row->binding];
      if (b.axis) row->value = axis_binding_value(velk_axis_value(b.axis), b.low, b.high);
    }
    channels_from_bindings(s_loop.channels);

    bool local = viewing_local_rider();
    if (s_loop.menu_open && local) continue;  // the simulation stands still under the menu
    if (s_loop.view_mode == VIEW_EDITOR) continue;
    if (!s_loop.menu_open && track_loaded()) {
      Racer *r = viewed_racer();
      if (local) {
        if (session_clock()->time_trial && s_loop.channels[CHANNEL_BACK_UP] > 0.5f &&
            strcmp(choice_text(&config()->time_trial_abort), "Yes") == 0) {
          restart_time_trial_lap();
        }
        if (r && r->bike) local_rider_controls(r);
      } else if (s_loop.view_mode == VIEW_CAMERA) {
        // The camera view flies and aims with or without a racer to look at.
        CameraTarget target = camera_target(r);
        camera_view_tick(s_loop.channels, &target, terrain_current());
      } else if (r) {
        spectator_controls();
      }
    }
    if (!track_loaded()) s_loop.view_mode = VIEW_TITLE;
    if (s_loop.paused || s_loop.view_mode == VIEW_TITLE) continue;
    run_tick();
    if (s_options.audio_file && s_hooks.audio_block) {
      unsigned char block[1380];
      if (s_hooks.audio_block(block, sizeof block))
        datafile_write((DataFile *)s_options.audio_file, block, sizeof block);
    }
  }
}

// Step 2 of the pass: the view mode follows what there is to look at.
static void choose_view_mode() {
  bool loaded = track_loaded();
  if (loaded && s_loop.view_mode == VIEW_TITLE) s_loop.view_mode = VIEW_RIDER;
  if (viewing_local_rider() && s_loop.view_mode != VIEW_RIDER && s_loop.view_mode != VIEW_CHASE &&
      !(s_loop.view_mode == VIEW_EDITOR && loaded))
    s_loop.view_mode = VIEW_RIDER;
  if (loaded && !viewed_racer() && s_loop.view_mode != VIEW_EDITOR) s_loop.view_mode = VIEW_CAMERA;
  if (!loaded) s_loop.view_mode = VIEW_TITLE;
}

int frame_view_pose(CameraPose *out) {
  const Config *cfg = config();
  float fov = (float)cfg->fov.value;
  Racer *r = viewed_racer();
  switch (s_loop.view_mode) {
    case VIEW_RIDER:
      if (!r) return 0;
      *out = first_person_pose(r->bike, (float)cfg->first_person_height.value,
                               (float)cfg->first_person_angle.value, fov);
      return 1;
    case VIEW_CHASE: {
      if (!r) return 0;
      ChaseParams p{};
      p.centre = s_options.chase_center;
      p.local = r->kind == RACER_HUMAN;
      p.rigid = strcmp(choice_text(&cfg->rigid_camera), "Yes") == 0;
      p.distance = p.local ? (float)cfg->third_person_distance.value : s_loop.chase_distance;
      p.height = p.local ? (float)cfg->third_person_height.value : s_loop.chase_height;
      p.angle = s_loop.chase_angle;
      *out = chase_camera_pose(r->bike, &p, terrain_current(), fov);
      return 1;
    }
    case VIEW_CAMERA:
      *out = view_camera_pose(camera_view_active());
      return 1;
    default:
      return 0;
  }
}

// --print-orientation: the simulated time, the camera position and its x and z axes.
static void print_orientation(const CameraPose &p) {
  const float *m = p.rotation;
  printf("t=%f p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f\n",
         session_clock()->tick * TICK, p.position.x, p.position.y, p.position.z, m[0], m[3], m[6],
         m[2], m[5], m[8]);
  fflush(stdout);
}

void settle_bikes() {
  // The ground is read straight from the height field, so there is nothing to rebuild
  // before testing against it.
  const Terrain *t = terrain_current();
  dJointGroupID contacts = physics_contact_group();
  if (!t) return;
  for (int slot = 0; slot < racer_count(); slot++) {
    Racer *r = racer_at(slot);
    if (!r || !r->bike) continue;
    translate_racer(r->bike, 0, 0.125f, 0);
    // A bike buried under a statue gives up 100 ft up rather than rising for ever.
    for (int i = 0; i < 400; i++) {
      int touching = object_contact_pass(r->bike, t, session_clock()->tick);
      if (contacts) dJointGroupEmpty(contacts);
      if (!touching) break;
      translate_racer(r->bike, 0, 0.25f, 0);
    }
    translate_racer(r->bike, 0, -0.125f, 0);
  }
  if (contacts) dJointGroupEmpty(contacts);
}

static void write_video_frame(int w, int h) {
  if (!s_hooks.read_pixels) return;
  std::vector<unsigned char> rgb((size_t)w * h * 3);
  if (!s_hooks.read_pixels(w, h, rgb.data())) return;
  printf("P6\n%d %d\n255\n", w, h);
  fwrite(rgb.data(), 1, rgb.size(), stdout);
  fflush(stdout);
}

struct WindowEvents {
  VelkWindow *window;
};

static int window_next_event(void *user, double moment, bool all, int *code, int *pressed) {
  VelkWindow *w = ((WindowEvents *)user)->window;
  if (all) {
    int32_t s, u;
    return velk_next_event(w, code, pressed, &s, &u);
  }
  int32_t s = (int32_t)std::floor(moment);
  int32_t u = (int32_t)((moment - s) * 1e6);
  return velk_next_event_before(w, code, pressed, s, u);
}

int frame_pass(VelkWindow *window, const FrameClock *clock) {
  if (s_loop.quit) return 0;
  choose_view_mode();
  const FrameInfo *frame = velk_gl_begin_frame(window);
  if (frame) {
    s_loop.drawable_width = frame->width;
    s_loop.drawable_height = frame->height;
    if (!velk_window_fullscreen(window)) {  // a resized window is kept for the next run
      config()->xres = frame->width;
      config()->yres = frame->height;
    }
    CameraPose pose;
    if (frame_view_pose(&pose)) {
      s_loop.pose = pose;
      if (s_options.print_orientation && s_loop.view_mode == VIEW_RIDER) print_orientation(pose);
    }
    if (s_hooks.draw_view) s_hooks.draw_view(s_loop.view_mode, frame->width, frame->height);
    if (s_options.record_video && !s_loop.paused && track_loaded())
      write_video_frame(frame->width, frame->height);
    if (s_loop.screenshot_pending) take_screenshot(frame->width, frame->height);
    s_loop.screenshot_pending = false;
    if (s_options.glfinish && s_hooks.finish) s_hooks.finish();
    velk_gl_end_frame(window);
  }
  velk_pump_messages(window);
  if (s_hooks.sound_frame) {
    float factor = 1;
    if (s_loop.paused || s_loop.view_mode == VIEW_EDITOR) factor = 0;
    else if (s_loop.menu_open) factor = viewing_local_rider() ? 0 : 0.25f;
    s_hooks.sound_frame(factor * (float)config()->volume.value * 0.1f);
  }
  FrameTimingMode mode{};
  mode.locked_fps = s_options.locked_fps;
  mode.warp = s_options.warp;
  frame_timing_step(&s_loop.timing, &mode, clock);
  WindowEvents we{window};
  FrameEventSource events{window_next_event, &we};
  frame_run_ticks(&events, clock->now(clock->user));
  if (s_options.warp && track_loaded()) {
    int leader = race_leader();
    RacerTiming *lt = leader >= 0 ? racer_timing(leader) : nullptr;
    if (lt && laps_completed(lt) >= session_clock()->lap_limit) {
      int *lineup = session_lineup();
      int last = lineup[MAX_RACERS - 1];
      memmove(lineup + 1, lineup, sizeof(int) * (MAX_RACERS - 1));
      lineup[0] = last;
      std::vector<int> copy(lineup, lineup + MAX_RACERS);
      const Config *cfg = config();
      start_session(copy.data(), 0, cfg->record.index, (int32_t)(cfg->minutes.value * 60 / TICK),
                    (int)cfg->laps.value, cfg->skill.index);
    }
  }
  if (track_loaded() && s_hooks.terrain_frame) s_hooks.terrain_frame();
  message_log_expire(s_loop.timing.total);
  return !s_loop.quit;
}

static double clock_now(void *) { return velk_clock_seconds(); }
static void clock_sleep(void *, double seconds) {
  if (seconds <= 0) return;
  int32_t s = (int32_t)seconds;
  velk_sleep(s, (int32_t)((seconds - s) * 1e6));
}

void frame_loop(VelkWindow *window) {
  FrameClock clock{clock_now, clock_sleep, nullptr};
  s_loop.timing.last = velk_clock_seconds();
  while (frame_pass(window, &clock))
    if (s_hooks.after_pass) s_hooks.after_pass(window);
}

// ---- screenshots ----
static int s_next_screenshot = -1;

void screenshot_numbering_reset() { s_next_screenshot = -1; }

int screenshot_next_number() {
  if (s_next_screenshot < 0) {
    unsigned largest = 0;  // only the number has to match: .png names count too
    for (const char *const *name = data_names(); name && *name; name++) {
      unsigned n;
      if (sscanf(*name, "screenshot%u", &n) == 1 && n > largest) largest = n;
    }
    s_next_screenshot = (int)largest + 1;
  }
  return s_next_screenshot;
}

void take_screenshot(int width, int height) {
  int n = screenshot_next_number();
  if (!s_hooks.read_pixels || !s_hooks.write_png || width <= 0 || height <= 0) return;
  std::vector<unsigned char> rgb((size_t)width * height * 3);
  if (!s_hooks.read_pixels(width, height, rgb.data())) return;
  char name[64];
  snprintf(name, sizeof name, "@screenshot%03d.png", n);
  s_next_screenshot = n + 1;
  if (s_hooks.write_png(name, width, height, rgb.data()))
    show_messagef("Saved \"screenshot%03d.png\"", n);
}
