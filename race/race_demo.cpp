// Demos: the session's calls into recording and playback. Until the demo recorder and
// player are built these record nothing and play nothing back.
#include "race/race.h"

int demo_open_playback() { return 0; }
void demo_close_playback() {}
int demo_next_racer(Racer *) { return 0; }
void demo_forget_racers() {}
void demo_map_slot(int, int) {}
int demo_start_recording(const char *) { return 0; }
void demo_stop_recording() {}
void demo_write_tick(int) {}
void demo_read_tick() {}
void demo_clear_history() {}
int demo_playing() { return 0; }
