// VELK input: control names of keys, mouse buttons, game-device buttons and axes; event
// codes; axis values; the axis capture of the key-binding screen.
#pragma once
#include <cstdint>

#include "platform/velk_window.h"

// Device buttons: code base + button (0-255); the base is a multiple of 0x10000 between
// 0x10000 and 0x7FFF0000 (see device_code_base).
constexpr int VELK_DEVICE_CODE_MIN = 0x10000;
constexpr int VELK_MAX_DEVICE_BUTTONS = 256;
constexpr int VELK_AXIS_MAX = 32767;  // absolute axes run from -32767 to 32767

struct AxisHandle;  // opaque; from velk_axis_open to velk_axis_close

// Opens the window's game devices and the cursor device and installs the control-name
// aliases; called by velk_gl_open. 1 on success (no game devices is still success).
int velk_input_open(VelkWindow *window);
// Closes every device of the window; called when the window closes.
void velk_input_close(VelkWindow *window);

// The event code of a control name (aliases resolved; exact, then case- and
// underscore-blind matching; "0x1d"; "Joystick1.key[0]" or "Joystick1 button 0").
// 1 and the code, or 0 when the name is unknown (code untouched). Binding a device
// button switches on that device's event polling. A null window means the open window
// (key and fixed names work without any). Character keys are also known by the keyboard layout's own names
// once the window system runs (the key beside T is "Z" on a German keyboard).
int velk_key_code(VelkWindow *window, const char *name, int *code);
// The name of an event code, or null. The text lives until the next call.
const char *velk_key_name(VelkWindow *window, int code);

// An axis by name ("Joystick1.axis[0]", "Joystick1 axis 0", "cursor.axis[1]", aliases
// such as "mouse-x"); null when unknown or the device cannot be opened. A null window
// means the open window.
AxisHandle *velk_axis_open(VelkWindow *window, const char *name);
void velk_axis_close(AxisHandle *axis);
// Absolute axes -32767..32767; relative axes (mouse) the movement since the last read;
// the cursor axes the pointer position in the window's client area (pixels).
int velk_axis_value(AxisHandle *axis);

// The code base for a device name (sums of its characters; free within the window).
// 0 when no free base is left.
int device_code_base(VelkWindow *window, const char *name);

// Axis capture for the key-binding screen: watch_pots opens every device axis of the
// window that rests near its centre (|value| <= 16384) as a candidate; the frame loop
// reads them with axis_capture_pick and ends the capture with axis_capture_end.
struct AxisCapture {
  void *binding;       // the binding being captured (the caller's record)
  int count;
  AxisHandle **axes;   // `count` open handles (malloc'ed)
  const char **names;  // their names in the window's device list
};
// Starts a capture for `binding` (the previous capture in `capture` must have ended).
// `debug` logs the candidates. 1 on success, a capture without candidates included.
int watch_pots(VelkWindow *window, void *binding, AxisCapture *capture, int debug);
// Reads every candidate; the index of the one with the largest magnitude above half
// travel (16384) and its value, or -1 when none has moved that far.
int axis_capture_pick(AxisCapture *capture, int *value);
// Closes every candidate except `keep` (-1 closes all), frees the lists and returns the
// kept handle (now the caller's) or null.
AxisHandle *axis_capture_end(AxisCapture *capture, int keep);
