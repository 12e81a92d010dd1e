// VELK, the platform layer: log, options, clock, message box and control-name aliases.
// The window, input and audio services are declared in their own headers below platform/.
#pragma once
#include <cstdint>

// Writes one time-stamped entry to the log ("[h:mm:ss.cc] " then the text; the caller
// supplies the newline). The first call opens the log: a message "VELK_LOGFILE=<path>"
// is an open request (VELK_LOGFILE in the environment wins). A null format closes the log
// for good. A format starting with byte 0x13 is a control message ("FLUSH", "NOFLUSH").
void velk_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Logs "Error: <text>\n".
void velk_error(const char *text);

// Options from VELK_OPTIONS, written as [name:value] pairs; the default when absent or
// unreadable. Read once per process.
int velk_option_bool(const char *name, int default_value);
int velk_option_int(const char *name, int default_value);

// Monotonic millisecond clock split into whole seconds and microseconds. Always succeeds.
void velk_clock(int32_t *seconds, int32_t *microseconds);
// The same clock in seconds, as a double (for frame timing).
double velk_clock_seconds();

// Shows a modal message with one OK button (formatted text cut to 1023 characters).
// Without a display the text goes to standard error and the log.
void velk_message_box(const char *title, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// The window back-end installs the real box; without one, messages go to stderr.
typedef void (*VelkMessageBoxHook)(const char *title, const char *text);
void velk_set_message_box_hook(VelkMessageBoxHook hook);

// Shutdown hooks run by fatal_out_of_memory before its message box (audio, window).
typedef void (*VelkShutdownHook)();
void velk_set_fatal_hooks(VelkShutdownHook close_audio, VelkShutdownHook close_window);

// Allocation failure anywhere: close audio and window, show "Out of virtual memory",
// exit with status 1.
[[noreturn]] void fatal_out_of_memory();

// Second names for control names. velk_alias returns 1 when added, 0 when refused (the
// first alias of a name wins). velk_resolve returns the alias's value or `name` itself.
int velk_alias(const char *name, const char *value);
const char *velk_resolve(const char *name);

// Test support: forget the log, options and aliases as if the process had just started.
// An injected clock source replaces the monotonic clock (null restores it).
void velk_reset_for_tests();
typedef void (*VelkClockSource)(int32_t *seconds, int32_t *microseconds);
void velk_set_clock_source(VelkClockSource source);

// ---- display modes (the window back-end fills them; none without a display) ----
struct VelkDisplayMode {
  int width, height;  // pixels
  int depth;          // bits per pixel
};
// Writes up to `max` modes of the main display into `out`, the platform's own order;
// returns how many. 0 when there is no display.
int velk_display_modes(VelkDisplayMode *out, int max);
