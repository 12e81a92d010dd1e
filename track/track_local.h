// Track internals shared by the track's files: the text scanner and module plumbing.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

// A read position in a track file held in memory. The scanner consumes input the way a
// stream's scanf does, so a record that fails half way leaves the cursor where it stopped.
struct TextCursor {
  const char *p;
  const char *end;
};

inline TextCursor text_cursor(const char *text, size_t length) {
  return TextCursor{text, text + length};
}

// scanf over the cursor for the directives the track files use: white space, literal
// characters, %f (float*), %d (int*), %s and %Ns (char*, N + 1 bytes). A number that is
// not finite does not match. Returns the number of assignments, or -1 when the input ended
// before anything was assigned.
int text_scan(TextCursor *c, const char *format, ...);
int text_vscan(TextCursor *c, const char *format, va_list args);

// One line of at most size - 1 bytes, stopping after a newline (kept), terminated.
// 0 when the input has ended.
int text_line(TextCursor *c, char *out, size_t size);

// Reads a whole track file "@<dir>/<name>" into a terminated, malloc'd buffer (owned by the
// caller). 0 when it does not exist. The digest, when given, receives the stored bytes.
struct Sha1;
int track_file_read(const char *name, char **text, size_t *length);

// Player-visible notices of the track module.
void track_message(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The debug level of the run (0, 1, 2).
int track_debug_level();

// Objects the timing gates make for the starting gate pieces; -1 when none was made.
int create_start_gate_object(float x, float y, float z, float angle, const char *model,
                             const char *texture, const char *shape);
// The timing gate records are per track: forgotten by track_reset.
void timing_gates_reset();
