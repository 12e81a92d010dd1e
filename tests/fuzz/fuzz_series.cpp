// Fuzz target: the .series reader and the standings reader behind it. The input is the
// series text, optionally followed by a zero byte and standings text.
#include <cstdint>
#include <cstring>

#include "race/race.h"

static int any_track(const char *dir) { return dir[0] ? 0 : -1; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static int hooked = 0;
  if (!hooked) {
    SessionHooks h = {};
    h.track_index = any_track;
    set_session_hooks(&h);
    hooked = 1;
  }
  const char *text = (const char *)data;
  const char *zero = (const char *)memchr(text, 0, size);
  size_t series_length = zero ? (size_t)(zero - text) : size;
  Series s;
  if (!series_parse(text, series_length, "fuzz.series", &s)) return 0;
  if (zero) series_parse_standings(&s, zero + 1, size - series_length - 1);
  for (int p = 0; p <= s.robot_count; p++) series_points(&s, p);
  int lineup[MAX_RACERS];
  series_event_lineup(&s, lineup);
  series_free(&s);
  return 0;
}
