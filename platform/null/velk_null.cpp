// The null platform back-end: no display, no window, no input devices, no audio output.
// Key names and the readback audio driver still work (they need no device).

#include "platform/input/input_keys.h"
#include "platform/velk.h"
#include "platform/velk_audio.h"
#include "platform/velk_input.h"
#include "platform/velk_window.h"
#include "platform/window/window_sleep.h"

int velk_display_modes(VelkDisplayMode *, int) { return 0; }

// ---- window: creation fails, so every other call sees a null window ----
VelkWindow *velk_gl_open(const char *, int, int, int, int, int, int, int) {
  velk_error("No window system in this build");
  return nullptr;
}
void velk_gl_close(VelkWindow *) {}
const FrameInfo *velk_gl_begin_frame(VelkWindow *) { return nullptr; }
int velk_gl_end_frame(VelkWindow *) { return 0; }
int velk_window_set_mode(VelkWindow *, int, int, int) { return 1; }
int velk_window_fullscreen(const VelkWindow *) { return 0; }
int velk_next_event_before(VelkWindow *, int *, int *, int32_t, int32_t) { return 0; }
int velk_next_event(VelkWindow *, int *, int *, int32_t *, int32_t *) { return 0; }
int velk_next_event_code(VelkWindow *, int *, int *) { return 0; }
void velk_pump_messages(VelkWindow *) {}
void velk_push_event(VelkWindow *, int, int, int32_t, int32_t) {}
void velk_push_event_now(VelkWindow *, int, int) {}
const char *const *velk_window_devices(VelkWindow *) {
  static const char *const none[] = {nullptr};
  return none;
}
void velk_sleep(int32_t seconds, int32_t microseconds) {
  velk_sleep_on_clock(seconds, microseconds);
}
void *velk_gl_proc_address(const char *) { return nullptr; }

// ---- input: key and fixed names only ----
int velk_input_open(VelkWindow *) { return 1; }
void velk_input_close(VelkWindow *) {}

int velk_key_code(VelkWindow *, const char *name, int *code) {
  if (!name) return 0;
  return key_code_of_name(velk_resolve(name), nullptr, code);
}

const char *velk_key_name(VelkWindow *, int code) {
  static char hex[16];  // "0x%x" of the last unnamed scan code
  return key_name_of_code(code, nullptr, hex, sizeof hex);
}

AxisHandle *velk_axis_open(VelkWindow *, const char *) { return nullptr; }
void velk_axis_close(AxisHandle *) {}
int velk_axis_value(AxisHandle *) { return 0; }
int device_code_base(VelkWindow *, const char *) { return 0; }

int watch_pots(VelkWindow *, void *binding, AxisCapture *capture, int) {
  *capture = AxisCapture{binding, 0, nullptr, nullptr};
  return 1;
}
int axis_capture_pick(AxisCapture *, int *) { return -1; }
AxisHandle *axis_capture_end(AxisCapture *capture, int) {
  *capture = AxisCapture{};
  return nullptr;
}

// ---- audio: no output device (the readback driver lives with the mixer) ----
VelkAudio *velk_audio_open(VelkWindow *) { return nullptr; }
