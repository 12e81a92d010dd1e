// Display modes, the choice of a full-screen mode and switching between windowed and
// full screen.
#include <cstdlib>
#include <cstring>

#include "platform/velk.h"
#include "platform/window/window_local.h"

// ---- per process: SDL video and the display-mode list (built once) ----
static struct {
  bool video_tried, video_ok;
  bool modes_built;
  VelkDisplayMode *modes;  // ended by an all-zero entry
  int mode_count;
  int desktop_width, desktop_height;  // pixels; 640 x 480 when unknown
} s_modes;

int video_ready() {
  if (!s_modes.video_tried) {
    s_modes.video_tried = true;
    // The close box is an event for the program to judge, not a quit.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    s_modes.video_ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (!s_modes.video_ok) velk_log("SDL video: %s\n", SDL_GetError());
  }
  return s_modes.video_ok;
}

static bool usable_depth(int depth) {
  return depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

static int mode_depth(const SDL_DisplayMode &m) { return (int)SDL_BITSPERPIXEL(m.format); }

static void build_modes() {
  if (s_modes.modes_built) return;
  s_modes.modes_built = true;
  s_modes.desktop_width = 640;
  s_modes.desktop_height = 480;
  int count = video_ready() ? SDL_GetNumDisplayModes(0) : 0;
  if (count < 0) count = 0;
  s_modes.modes = (VelkDisplayMode *)calloc((size_t)count + 2, sizeof(VelkDisplayMode));
  if (!s_modes.modes) fatal_out_of_memory();
  int n = 0;
  SDL_DisplayMode m;
  if (video_ready() && SDL_GetDesktopDisplayMode(0, &m) == 0) {
    int depth = mode_depth(m);
    s_modes.desktop_width = m.w;
    s_modes.desktop_height = m.h;
    if (usable_depth(depth)) {
      s_modes.modes[n++] = VelkDisplayMode{m.w, m.h, depth};
      velk_log("Registry mode is %dx%dx%d@%dhz\n", m.w, m.h, depth, m.refresh_rate);
    } else {
      velk_log("Registry mode is %dx%dx%d@%dhz (ignored)\n", m.w, m.h, depth, m.refresh_rate);
    }
  }
  for (int i = 0; i < count; i++) {
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    int depth = mode_depth(m);
    if (!usable_depth(depth)) {
      velk_log("Found mode %dx%dx%d@%dhz (ignored)\n", m.w, m.h, depth, m.refresh_rate);
      continue;
    }
    bool listed = false;
    for (int k = 0; k < n && !listed; k++)
      listed = s_modes.modes[k].width == m.w && s_modes.modes[k].height == m.h &&
               s_modes.modes[k].depth == depth;
    if (listed) continue;
    s_modes.modes[n++] = VelkDisplayMode{m.w, m.h, depth};
    velk_log("Found mode %dx%dx%d@%dhz\n", m.w, m.h, depth, m.refresh_rate);
  }
  s_modes.modes[n] = VelkDisplayMode{0, 0, 0};
  s_modes.mode_count = n;
}

const VelkDisplayMode *display_mode_list() {
  build_modes();
  return s_modes.modes;
}

void desktop_size(int *width, int *height) {
  build_modes();
  *width = s_modes.desktop_width;
  *height = s_modes.desktop_height;
}

int velk_display_modes(VelkDisplayMode *out, int max) {
  build_modes();
  int n = s_modes.mode_count < max ? s_modes.mode_count : max;
  if (n > 0) memcpy(out, s_modes.modes, sizeof(VelkDisplayMode) * (size_t)n);
  return n < 0 ? 0 : n;
}

void velk_choose_fullscreen_size(const VelkDisplayMode *modes, int desktop_width,
                                 int desktop_height, int w, int h, int *out_width,
                                 int *out_height) {
  *out_width = desktop_width;
  *out_height = desktop_height;
  if (w == 0 || h == 0) return;
  long best = -1;
  for (const VelkDisplayMode *m = modes; m->width || m->height || m->depth; m++) {
    if (m->width < w || m->height < h) continue;
    long excess = (long)m->width + m->height - w - h;
    if (best < 0 || excess < best) {
      best = excess;
      *out_width = m->width;
      *out_height = m->height;
    }
  }
}

int window_go_fullscreen(VelkWindow *window, int w, int h) {
  int dw, dh, fw, fh;
  desktop_size(&dw, &dh);
  velk_choose_fullscreen_size(display_mode_list(), dw, dh, w, h, &fw, &fh);
  window->fullscreen_width = fw;
  window->fullscreen_height = fh;
  int ok;
  if (fw == dw && fh == dh) {
    // The desktop's own mode: cover the desktop without a mode change.
    ok = SDL_SetWindowFullscreen(window->window, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0;
  } else {
    SDL_DisplayMode mode = {0, fw, fh, 0, nullptr};  // depth and refresh unchanged
    ok = SDL_SetWindowDisplayMode(window->window, &mode) == 0 &&
         SDL_SetWindowFullscreen(window->window, SDL_WINDOW_FULLSCREEN) == 0;
  }
  if (!ok) velk_log("Can't set full-screen mode %dx%d: %s\n", fw, fh, SDL_GetError());
  window->flags |= WINDOW_FULLSCREEN;
  return ok;
}

int window_go_windowed(VelkWindow *window, int w, int h) {
  window->flags &= ~WINDOW_FULLSCREEN;
  int ok = SDL_SetWindowFullscreen(window->window, 0) == 0;
  if (w == 0 || h == 0) desktop_size(&w, &h);
  SDL_SetWindowSize(window->window, w, h);
  SDL_SetWindowPosition(window->window, 0, 0);
  SDL_ShowWindow(window->window);
  SDL_LockMutex(window->window_mutex);
  window->width = w;
  window->height = h;
  SDL_UnlockMutex(window->window_mutex);
  return ok;
}
