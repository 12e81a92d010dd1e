// The platform layer's log, options, clock, message box and aliases.
#include "platform/velk.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

// ---- per process: the log ----
static struct {
  FILE *file;
  bool initialised;
  bool flush_each;  // cleared by NOFLUSH while a race runs, set again by FLUSH
} s_log = {nullptr, false, true};

// ---- per process: options, aliases, hooks ----
struct Alias {
  Alias *next;
  const char *name;
  const char *value;
};
static const char *s_options;  // VELK_OPTIONS, fetched once
static Alias *s_aliases;       // newest first, never freed
static VelkMessageBoxHook s_box_hook;
static VelkShutdownHook s_close_audio, s_close_window;
static VelkClockSource s_clock_source;

static const char kOpenRequest[] = "VELK_LOGFILE=";

static void log_open(const char *first_message) {
  const char *name = getenv("VELK_LOGFILE");
  const char *flags = getenv("VELK_LOGFILE_FLAGS");
  bool request = strncmp(first_message, kOpenRequest, 13) == 0;
  if (!name && request) name = first_message + 13;
  if (name) {
    const char *mode = "w";
    if (name[0] == '>') {
      name++;
      if (name[0] == '>') {
        name++;
        mode = "a";
      }
    }
    if (flags) mode = flags;
    s_log.file = fopen(name, mode);
  }
  s_log.initialised = true;
  if (s_log.file) {
    velk_log("Logfile \"%s\" opened\n", name);
    velk_log("VELK 0.31\n");
  }
}

void velk_log(const char *format, ...) {
  if (!format) {
    if (s_log.file) fclose(s_log.file);
    s_log.file = nullptr;
    s_log.initialised = true;
    return;
  }
  if ((unsigned char)format[0] == 0x13) {
    if (!s_log.initialised) log_open(format);
    if (strcmp(format + 1, "FLUSH") == 0) s_log.flush_each = true;
    else if (strcmp(format + 1, "NOFLUSH") == 0) s_log.flush_each = false;
    return;
  }
  if (!s_log.initialised) {
    // The first message decides the file: an open request names it.
    char first[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(first, sizeof first, format, ap);
    va_end(ap);
    log_open(first);
    if (strncmp(first, kOpenRequest, 13) == 0) return;
  }
  if (!s_log.file) return;
  int32_t s, u;
  velk_clock(&s, &u);
  fprintf(s_log.file, "[%d:%02d:%02d.%02d] ", s / 3600, (s / 60) % 60, s % 60, u / 10000);
  va_list ap;
  va_start(ap, format);
  vfprintf(s_log.file, format, ap);
  va_end(ap);
  if (s_log.flush_each) {
    fflush(s_log.file);
    fsync(fileno(s_log.file));
  }
}

void velk_error(const char *text) { velk_log("Error: %s\n", text); }

static const char *option_text(const char *name) {
  if (!s_options) {
    const char *env = getenv("VELK_OPTIONS");
    s_options = env ? env : "";
  }
  char key[64];
  snprintf(key, sizeof key, "[%.60s:", name);
  const char *at = strstr(s_options, key);
  return at ? at + strlen(key) : nullptr;
}

int velk_option_bool(const char *name, int default_value) {
  const char *v = option_text(name);
  if (!v) return default_value;
  if (strncmp(v, "yes]", 4) == 0 || strncmp(v, "on]", 3) == 0) return 1;
  if (strncmp(v, "no]", 3) == 0 || strncmp(v, "off]", 4) == 0) return 0;
  velk_log("unrecognized setting for %s\n", name);
  return default_value;
}

int velk_option_int(const char *name, int default_value) {
  const char *v = option_text(name);
  if (!v) return default_value;
  char *end;
  long n = strtol(v, &end, 10);
  if (end == v) {
    velk_log("unrecognized setting for %s\n", name);
    return default_value;
  }
  return (int)n;
}

void velk_clock(int32_t *seconds, int32_t *microseconds) {
  if (s_clock_source) {
    s_clock_source(seconds, microseconds);
    return;
  }
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Millisecond ticks wrapping at 2^32, as the log and event stamps expect.
  uint32_t ms = (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
  *seconds = (int32_t)(ms / 1000);
  *microseconds = (int32_t)(ms % 1000) * 1000;
}

double velk_clock_seconds() {
  int32_t s, u;
  velk_clock(&s, &u);
  return s + u * 1e-6;
}

void velk_set_message_box_hook(VelkMessageBoxHook hook) { s_box_hook = hook; }

void velk_message_box(const char *title, const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  velk_log("%s: %s\n", title, text);
  if (s_box_hook) s_box_hook(title, text);
  else fprintf(stderr, "%s: %s\n", title, text);
}

void velk_set_fatal_hooks(VelkShutdownHook close_audio, VelkShutdownHook close_window) {
  s_close_audio = close_audio;
  s_close_window = close_window;
}

void fatal_out_of_memory() {
  if (s_close_audio) s_close_audio();
  if (s_close_window) s_close_window();
  velk_message_box("Error", "Out of virtual memory");
  exit(1);
}

int velk_alias(const char *name, const char *value) {
  if (velk_resolve(name) != name) {
    velk_log("Second alias for '%s' ('%s') ignored\n", name, value);
    return 0;
  }
  size_t nl = strlen(name) + 1, vl = strlen(value) + 1;
  Alias *a = (Alias *)malloc(sizeof(Alias) + nl + vl);
  if (!a) {
    velk_log("Can't alias %s to %s -- out of memory\n", name, value);
    return 0;
  }
  char *text = (char *)(a + 1);
  memcpy(text, name, nl);
  memcpy(text + nl, value, vl);
  a->name = text;
  a->value = text + nl;
  a->next = s_aliases;
  s_aliases = a;
  return 1;
}

const char *velk_resolve(const char *name) {
  for (Alias *a = s_aliases; a; a = a->next)
    if (strcmp(a->name, name) == 0) return a->value;
  return name;
}

void velk_reset_for_tests() {
  if (s_log.file) fclose(s_log.file);
  s_log = {nullptr, false, true};
  s_options = nullptr;
  s_aliases = nullptr;  // entries leak by design: they are never freed in the game either
  s_clock_source = nullptr;
}

void velk_set_clock_source(VelkClockSource source) { s_clock_source = source; }
