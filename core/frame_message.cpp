// The player's message log: show_message and its expiry.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/frame.h"
#include "platform/velk.h"

// ---- per process ----
static MessageLog s_log;
static int s_max_visible = 5;
static double s_total;  // s, the frame clock's total at the last expiry check

void show_message(const char *text) {
  size_t n = strlen(text);
  const char *reset = strchr(text, '\033') ? "\033[0m" : "";
  if (n > 0 && text[n - 1] == '\n') velk_log("%s%s", text, reset);
  else velk_log("%s%s\n", text, reset);
  char *line = s_log.lines[s_log.write_index];
  snprintf(line, MESSAGE_LINE_CHARS + 1, "%s", text);
  s_log.write_index = (s_log.write_index + 1) % MESSAGE_LOG_LINES;
  if (s_log.visible < s_max_visible) s_log.visible++;
  s_log.expiry = s_total + 2.0;
}

void show_messagef(const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  show_message(text);
}

const MessageLog *message_log() { return &s_log; }

void message_log_clear() {
  memset(&s_log, 0, sizeof s_log);
  s_total = 0;
}

void message_log_set_max_visible(int lines) {
  s_max_visible = lines < 0 ? 0 : lines;
  if (s_log.visible > s_max_visible) s_log.visible = s_max_visible;
}

void message_log_expire(double total) {
  s_total = total;
  if (total > s_log.expiry && s_log.visible > 0) {
    s_log.visible--;
    s_log.expiry = total + 5.0;
  }
}
