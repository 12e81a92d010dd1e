// VELK window: one window with an OpenGL compatibility context, its time-stamped event
// queue, the frame bracket, windowed/full-screen switching and the frame-pacing sleep.
// The SDL back-end (platform/window) implements it; the null back-end has no window.
#pragma once
#include <cstdint>

#include "platform/velk.h"

// Flags of velk_gl_open and velk_window_set_mode: bits 0-7 colour bits per pixel.
constexpr int VELK_COLOUR_BITS_MASK = 0xFF;
constexpr int VELK_FULLSCREEN = 0x200;

// Event codes made by the window (input devices add theirs, see velk_input.h).
constexpr int VELK_KEY_BASE = 0x1000;      // + PC set-1 scan code, 0x100 added for extended keys
constexpr int VELK_KEY_LAST = 0x11FF;
constexpr int VELK_MOUSE_LEFT = 0x2000;
constexpr int VELK_MOUSE_MIDDLE = 0x2001;
constexpr int VELK_MOUSE_RIGHT = 0x2002;
constexpr int VELK_CLOSE = 0xDEAD;         // the close box; the window stays open
// Character events carry the character code 0-255 (Latin-1) and are always presses.

constexpr int VELK_EVENT_QUEUE = 256;      // events held; later ones are dropped

struct VelkWindow;  // opaque; owned by the platform layer from velk_gl_open to velk_gl_close

struct VelkEvent {
  int code;      // 31 bits
  int pressed;   // 1 press, 0 release
  int32_t seconds, microseconds;  // on the velk_clock scale
};

// The drawable area handed out by velk_gl_begin_frame.
struct FrameInfo {
  int x, y;           // always 0
  int width, height;  // pixels
};

// Opens the window and makes its GL context current on the calling thread. Width or
// height 0 means the desktop size. Returns null on failure (logged). The window is served
// on the calling thread: SDL handles a window's events only on the thread that started
// its video, so the option `threaded` is read and logged but changes nothing.
VelkWindow *velk_gl_open(const char *title, int width, int height, int flags, int alpha_bits,
                         int depth_bits, int stencil_bits, int accum_bits);
// Deletes the context, closes the input devices and the window, frees the record.
void velk_gl_close(VelkWindow *window);

// Starts a frame: returns the drawable area with the window locked, or null when nothing
// may be drawn (minimised, hidden, or a mode change under way).
const FrameInfo *velk_gl_begin_frame(VelkWindow *window);
// Presents the back buffer and unlocks the window. 1 when presented, 0 when that failed.
int velk_gl_end_frame(VelkWindow *window);

// Asks for full screen (flags contain VELK_FULLSCREEN) or a window of width x height
// (0 = the desktop size). Carried out before the next frame. Returns 1.
int velk_window_set_mode(VelkWindow *window, int width, int height, int flags);
// 1 while the window is full screen.
int velk_window_fullscreen(const VelkWindow *window);

// Takes the oldest event when its time is not later than (seconds, microseconds): 1 and
// the event, else 0 and the outputs untouched.
int velk_next_event_before(VelkWindow *window, int *code, int *pressed, int32_t seconds,
                           int32_t microseconds);
// Takes the oldest event: 1 and the event, 0 when none is queued.
int velk_next_event(VelkWindow *window, int *code, int *pressed, int32_t *seconds,
                    int32_t *microseconds);
int velk_next_event_code(VelkWindow *window, int *code, int *pressed);

// Turns the window system's pending messages into queued events.
void velk_pump_messages(VelkWindow *window);

// Queues an event in time order (equal times keep their arrival order); dropped when the
// queue already holds VELK_EVENT_QUEUE events. Safe from any thread.
void velk_push_event(VelkWindow *window, int code, int pressed, int32_t seconds,
                     int32_t microseconds);
// The same, stamped with velk_clock now.
void velk_push_event_now(VelkWindow *window, int code, int pressed);

// The window's axis names for the key-binding capture ("%s axis %d"), null-terminated.
const char *const *velk_window_devices(VelkWindow *window);

// Sleeps about (seconds, microseconds), finishing on the velk_clock by yielding.
void velk_sleep(int32_t seconds, int32_t microseconds);

// The GL entry point of that name in the current context, or null. The renderer fetches
// its extension functions through this (it never sees the window system).
void *velk_gl_proc_address(const char *name);

// Chooses the full-screen size for a request of w x h from a mode list (null-terminated
// by an all-zero entry; see velk_display_modes): the listed mode with width >= w and
// height >= h and the smallest width + height - w - h, the first on ties; the desktop
// size when none fits or w or h is 0.
void velk_choose_fullscreen_size(const VelkDisplayMode *modes, int desktop_width,
                                 int desktop_height, int w, int h, int *out_width,
                                 int *out_height);
