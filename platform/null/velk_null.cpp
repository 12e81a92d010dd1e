// The null platform back-end: no display, no window, no audio device.
#include "platform/velk.h"

int velk_display_modes(VelkDisplayMode *, int) { return 0; }
