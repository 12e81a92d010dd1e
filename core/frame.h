// The frame loop's timing, the player's message log and the control channels.
#pragma once
#include <cstdint>

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
