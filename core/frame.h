// The frame loop's timing, the player's message log and the control channels.
#pragma once
#include <cstdint>

#include "core/common.h"

// ---- messages to the player ----
constexpr int MESSAGE_LOG_LINES = 1000;
constexpr int MESSAGE_LINE_CHARS = 127;

struct MessageLog {
  char lines[MESSAGE_LOG_LINES][MESSAGE_LINE_CHARS + 1];
  int write_index;  // next line written; wraps from 999 to 0
  int visible;      // lines shown outside the console
  double expiry;    // s on the FrameTiming total clock
};

// The one way notices reach the player: logged whole, kept (cut to 127 characters) in the
// on-screen message log.
void show_message(const char *text);
void show_messagef(const char *format, ...) __attribute__((format(printf, 1, 2)));
const MessageLog *message_log();
void message_log_clear();
// How many lines may be visible at once (the configuration's message_lines).
void message_log_set_max_visible(int lines);
// Hides one visible line when the expiry time has passed (once per frame).
void message_log_expire(double total);

// ---- frame timing ----
struct FrameTiming {
  double last;       // s, clock at the end of the previous frame's timing
  double target;     // s, simulated time the loop must reach
  double simulated;  // s, simulated time reached
  double total;      // s, running total of frame advances
  double shortest, longest;  // s, frame advances seen
  uint32_t histogram[8];     // raw frame intervals by powers of two of the tick length
};

// How the timing behaves this frame.
struct FrameTimingMode {
  float locked_fps;  // frames per second; 0 when not locked
  bool warp;         // 100 ticks per frame, no sleeping
  bool connected;    // follow the server's clock by `server_lead`
  double server_lead;  // s, (newest server tick - tick - 1) x tick length
  bool race_started;   // tick >= start tick
};

// The clock and sleep the timing uses; the game passes velk_clock_seconds and a real sleep,
// tests pass a fake clock.
struct FrameClock {
  double (*now)(void *user);
  void (*sleep)(void *user, double seconds);
  void *user;
};

void frame_timing_reset(FrameTiming *t, double now);
// Measures the frame and returns its advance w (s); target and total grow by w.
double frame_timing_step(FrameTiming *t, const FrameTimingMode *mode, const FrameClock *clock);
// Frame advance scaled to follow the race server's clock.
double frame_scale_to_server(double w, double lead, bool race_started);

// ---- control channels ----
enum ControlChannel {
  CHANNEL_STEER,  // left positive
  CHANNEL_THROTTLE,
  CHANNEL_FRONT_BRAKE,
  CHANNEL_REAR_BRAKE,
  CHANNEL_SHIFT,  // positive up
  CHANNEL_CLUTCH,
  CHANNEL_DAB,
  CHANNEL_BACK_UP,
  CHANNEL_LEAN,  // forward negative
  CHANNEL_COUNT
};

// ---- ground height for cameras ----
struct Terrain;
// Weighted mean of the grid heights within `radius` (+ one spacing of fall-off) of (x, z).
float smoothed_ground_height(const Terrain *terrain, float x, float z, float radius);

// ---- cameras: the pose each view is drawn from ----
struct Bike;  // bike/bike.h

struct CameraPose {
  Vec3 position;      // ft
  float rotation[9];  // camera x, y, z axes as columns (row-major); the view looks along -z
  Vec3 velocity;      // ft/s
  float fov;          // degrees
};

// A rotation whose -z axis points from `eye` at `target` with y as near up as it goes.
void camera_look_at(Vec3 eye, Vec3 target, float rotation[9]);

// The rider's own view: the eye between the rider body's seat and helmet points by
// `height_factor` (first_person_height), tipped down by `angle_degrees` (first_person_angle).
CameraPose first_person_pose(const Bike *bike, float height_factor, float angle_degrees,
                             float fov);

// The chase camera. `centre` is the chase centre in frame-body coordinates. The local
// rider is followed from behind (`rigid`: along the frame's axis only) at `distance` and
// `height`; any other racer is orbited at `angle` (rad). Null terrain: no ground limit.
struct ChaseParams {
  Vec3 centre;      // ft, frame-body coordinates
  bool local;       // the local rider's rules
  bool rigid;       // rigid_camera
  float distance;   // ft
  float height;     // ft above the target
  float angle;      // rad, orbit of another racer
};
CameraPose chase_camera_pose(const Bike *bike, const ChaseParams *params, const Terrain *terrain,
                             float fov);

// A free or track camera of the camera view.
struct ViewCamera {
  Vec3 position;              // ft
  float yaw, pitch;           // rad; looks along (sin yaw cos pitch, sin pitch, cos yaw cos pitch)
  float yaw_rate, pitch_rate; // rad/s
  float fov;                  // degrees
  float zoom_size;            // ft; > 0 aims the fov to frame that size at the target
  float speed;                // ft/s along the view (free camera)
};
CameraPose view_camera_pose(const ViewCamera *camera);

// What the camera view aims at: the viewed racer's frame body.
struct CameraTarget {
  bool valid;
  Vec3 position;  // ft
  Vec3 velocity;  // ft/s; 0 while paused
  int gate_camera;  // track camera of the racer's next gate, -1 when none
};

// The camera view's state: the free camera, the selected track camera and follow mode.
void camera_view_reset(float fov);
// Digit keys: selects track camera `index` (-1 = the free camera). The selection takes its
// aim from the target on the next tick.
void camera_view_select(int index);
int camera_view_selected();  // -1 = free camera
bool camera_view_follow();
ViewCamera *camera_view_free();
// The camera drawn now: the selected track camera or the free camera.
const ViewCamera *camera_view_active();
// One tick of the camera view's controls: speed, follow mode, aiming, zoom.
void camera_view_tick(const float channels[CHANNEL_COUNT], const CameraTarget *target,
                      const Terrain *terrain);

// ---- projection ----
struct Frustum {
  float half_width, half_height;  // at distance 1
};
// Half extents of the view for a width x height viewport and a field of view in degrees.
Frustum projection_extents(int width, int height, float fov_degrees);

// ---- the ChannelBinding table: configured bindings to control channels ----
struct ChannelBinding {
  int binding;   // KeyBindingIndex of the configuration
  int channel;   // ControlChannel
  float factor;  // +1 or -1
  float value;   // 0 or 1 for a key, 0..1 for an axis
};
constexpr int CHANNEL_BINDING_COUNT = 12;

// Start-up: copies the fixed table into the loop's state (all values 0).
void channel_bindings_reset();
ChannelBinding *channel_bindings();
// A key event: every row whose binding has this key code takes 1 when pressed, 0 when
// released. `key_codes` maps a KeyBindingIndex to its resolved key code (0 = none).
void channel_bindings_key(const int *key_codes, int code, int pressed);
// An axis reading (-32767..32767) mapped through the binding's range to 0..1.
float axis_binding_value(int raw, float range_start, float range_end);
// Each channel is the sum over its rows of factor x value.
void channels_from_bindings(float channels[CHANNEL_COUNT]);

// ---- the controls handed to the local rider each tick ----
struct LocalRiderInput {
  float clutch;       // 0..1 engagement last tick
  bool dab_latched;   // sticky dab state
  bool dab_was_down;  // dab channel at or above 0.5 last tick
};
struct HandedControls {
  float steer, throttle, front_brake, rear_brake, dab, back_up, lean, clutch;
  int shift;  // +1 up, -1 down, 0 none
};
void local_rider_input_reset(LocalRiderInput *state);
// Turns the channels into the rider's controls: reversed steering, the sticky dab latch,
// the clutch that engages at most 4 per second, shift thresholds.
HandedControls hand_controls(const float channels[CHANNEL_COUNT], bool reverse_steering,
                             bool sticky_dab, LocalRiderInput *state);

// ---- the frame loop ----
enum ViewMode { VIEW_RIDER, VIEW_EDITOR, VIEW_CHASE, VIEW_CAMERA, VIEW_TITLE };

// Where the tick loop takes its input events: the oldest event stamped before `moment`
// (s on the velk clock), or any pending event when `all`. 1 and the event, else 0.
struct FrameEventSource {
  int (*next)(void *user, double moment, bool all, int *code, int *pressed);
  void *user;
};

struct VelkWindow;

// Calls out of the loop into modules that draw, play sound or run menus. Null members
// are skipped (headless runs and tests).
struct FrameHooks {
  // Draws the view of `mode` and the HUD for a width x height drawable.
  void (*draw_view)(int mode, int width, int height);
  // Reads the frame buffer as 8-bit RGB rows from the top; 1 when read.
  int (*read_pixels)(int width, int height, unsigned char *rgb);
  // Writes an RGB image as a PNG data file; 1 on success.
  int (*write_png)(const char *name, int width, int height, const unsigned char *rgb);
  // One mixing step of the sound device, after the engines were fed.
  void (*sound_frame)(float frame_factor);
  // The mixer's block for the tick (1380 bytes), appended to the audio recording.
  int (*audio_block)(unsigned char *out, int bytes);
  // Demo seeking by seconds (rewind and skip keys).
  void (*demo_seek)(double seconds);
  // Per-frame terrain update for the renderer.
  void (*terrain_frame)();
  // Waits for the frame's GL work to finish (--glfinish).
  void (*finish)();
  // After every pass of the loop on a window (tests drive the game through it).
  void (*after_pass)(VelkWindow *window);
};
void frame_set_hooks(const FrameHooks *hooks);

// The loop's options from the command line.
struct FrameOptions {
  float locked_fps;  // 0 = not locked
  bool warp;
  bool record_video;
  bool hidden_pause, hidden_hud;
  bool editor_allowed;
  int debug_level;
  void *audio_file;  // DataFile of --record-audio, or null
  bool glfinish;           // finish GL before presenting
  bool print_orientation;  // the camera on standard output whenever a racer's view is drawn
  Vec3 chase_center;       // ft, frame-body coordinates
};

// Start-up: resets the loop's state and resolves the key codes of the bindings and the
// fixed menu keys through the platform's key names.
void frame_loop_init(const FrameOptions *options, double now);
// Resolved key codes of the configuration's bindings (0 where unbound).
void frame_bind_key(int binding, int code);

// Runs ticks until the simulated time reaches the target: the tick loop of one pass,
// applying each input event to the tick it fell into.
void frame_run_ticks(const FrameEventSource *events, double now);
// One whole pass on a window: draw, sound, timing, ticks. 0 when the loop must end.
struct VelkWindow;
int frame_pass(VelkWindow *window, const FrameClock *clock);
// Runs passes until quit or the window closes.
void frame_loop(VelkWindow *window);

// State the tests and the other modules look at.
FrameTiming *frame_timing();
int frame_view_mode();
void frame_set_view_mode(int mode);
bool frame_paused();
bool frame_menu_open();
void frame_set_menu_open(bool open);
void frame_request_quit();
bool frame_quit_requested();
int frame_selected_camera();  // track camera, -1 = none
void frame_channels(float out[CHANNEL_COUNT]);
// The pose of this frame's view (rider, chase or camera mode); 0 when the mode has none.
int frame_view_pose(CameraPose *out);
// The pose the last frame was drawn from (the renderer's current camera).
const CameraPose *frame_camera_pose();
// Leaving the editor: every bike raised until it no longer touches the ground, then set
// down by half a step, so edited ground does not swallow or launch it.
void settle_bikes();

// Screenshots: the next number, continuing after the largest "screenshot%u" data file.
int screenshot_next_number();
void screenshot_numbering_reset();  // tests: scan the data files again
void take_screenshot(int width, int height);
