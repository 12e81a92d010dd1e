// The SDL window record and the calls shared by platform/window and platform/input.
#pragma once
#include <SDL.h>

#include <cstdint>

#include "platform/velk_input.h"
#include "platform/velk_window.h"

// VelkWindow.flags
enum VelkWindowFlags {
  WINDOW_GL = 1,
  WINDOW_THREADED = 2,  // never set here: SDL serves a window on its own thread only
  WINDOW_FULLSCREEN = 4,
};

// The time-ordered event ring: entry i is at (head + i) mod 256.
struct EventQueue {
  int head;   // 0..255
  int count;  // 0..256
  uint32_t code[VELK_EVENT_QUEUE];  // top bit set for a release
  int32_t seconds[VELK_EVENT_QUEUE];
  int32_t microseconds[VELK_EVENT_QUEUE];
};

struct InputDevice;

struct VelkWindow {
  SDL_Window *window;
  SDL_GLContext context;  // null until the GL context exists
  FrameInfo frame;        // handed out by velk_gl_begin_frame
  int width, height;      // client size asked for; follows size changes (pixels)
  int colour_bits;
  int fullscreen_width, fullscreen_height;  // the mode chosen for full screen (pixels)
  char *title;
  SDL_threadID main_thread;

  SDL_mutex *window_mutex;  // sizes and `suspended`; held from frame begin to end
  SDL_mutex *event_mutex;   // the event queue
  EventQueue queue;

  InputDevice *devices;     // newest first
  bool joysticks_started;   // SDL's joystick subsystem was started for this window
  char **device_names;      // null-terminated list of axis names
  int device_name_count;
  char name_text[1100];     // velk_key_name's answer for device buttons and 0x codes

  int options;              // the option byte read at the first opening
  bool closing, suspended;
  int flags;                // VelkWindowFlags

  // A mode switch asked for by velk_window_set_mode, carried out by the message pump.
  bool mode_pending;
  int mode_width, mode_height, mode_flags;
};

// ---- window/window_events.cpp ----
void event_queue_clear(EventQueue *queue);
// Stamps an SDL event time (SDL ticks, ms) on the velk_clock scale; never later than now.
void event_time_from_ticks(uint32_t ticks, int32_t *seconds, int32_t *microseconds);
// Turns one SDL event into queued events (keys, characters, buttons, close box).
void window_handle_event(VelkWindow *window, const SDL_Event *event);

// ---- window/window_sdl.cpp ----
// The window open now (one at a time), or null.
VelkWindow *window_open_now();

// ---- window/window_modes.cpp ----
// SDL's video subsystem, started on first use and kept. 1 when available.
int video_ready();
// The cached mode list, ended by an all-zero entry, and the desktop size.
const VelkDisplayMode *display_mode_list();
void desktop_size(int *width, int *height);
// Chooses the full-screen size for w x h, remembers it, and puts the window full screen.
int window_go_fullscreen(VelkWindow *window, int w, int h);
// Leaves full screen for a window of w x h (0: the desktop size), at the top left corner.
int window_go_windowed(VelkWindow *window, int w, int h);

// ---- input/input_sdl.cpp ----
// Device events (joystick and mouse buttons and motion) from the message pump.
void input_handle_event(VelkWindow *window, const SDL_Event *event);
// A device's name in the window: its instance name without blanks and dots, followed by
// "#2", "#3", ... when taken. `out` holds 64 characters.
void unique_device_name(VelkWindow *window, const char *instance, char *out);
// A device event's time (ms on the velk_clock) less the device's adjustment; a time
// after now raises the adjustment by the excess and gives now, so device events never
// carry future times and later ones keep their spacing.
int64_t device_event_time(int *adjustment, int64_t entry_ms, int64_t now_ms);
// SDL scancode -> PC set-1 scan code (0x100 for extended keys); 0 when it has none.
int scan_code_from_sdl(int sdl_scancode);
// And back: the SDL scancode of a set-1 scan code, 0 when none.
int sdl_scancode_from_scan(int scan);
