// The game window on SDL: creation with an OpenGL compatibility context (fixed pipeline
// and ARB extensions), the frame bracket, mode switching and closing.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/velk.h"
#include "platform/velk_mixer.h"
#include "platform/window/window_local.h"
#include "platform/window/window_sleep.h"

enum WindowOptions { OPTION_FULLSCREEN = 1, OPTION_THREADED = 2 };

// ---- per process: options read at the first opening, the open window ----
static struct {
  bool options_read;
  int options;           // WindowOptions
  VelkWindow *open;      // for the fatal path; one window at a time
} s_window;

VelkWindow *window_open_now() { return s_window.open; }

static void sdl_message_box(const char *title, const char *text) {
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, nullptr) != 0)
    fprintf(stderr, "%s: %s\n", title, text);
}

static void fatal_close_audio() {
  if (audio_driver_active()) velk_audio_close(nullptr);
}

static void fatal_close_window() {
  if (s_window.open) velk_gl_close(s_window.open);
}

static void read_options() {
  if (s_window.options_read) return;
  s_window.options_read = true;
  if (velk_option_bool("fullscreen", 0)) s_window.options |= OPTION_FULLSCREEN;
  if (velk_option_bool("threaded", 0)) s_window.options |= OPTION_THREADED;
  velk_log("Options:\n");
  velk_log("%10s [%s]\n", "threaded:", (s_window.options & OPTION_THREADED) ? "on" : "off");
  // SDL serves a window's events only on the thread that started its video: the window
  // stays on the main thread whatever the option says.
  if (s_window.options & OPTION_THREADED)
    velk_log("Window messages are served on the main thread\n");
}

static void add_alias_once(const char *name, const char *value) {
  if (strcmp(velk_resolve(name), value) != 0) velk_alias(name, value);
}

// Destroys what creation made, in the order of the window's own shutdown.
static void destroy_window(VelkWindow *w) {
  if (w->window_mutex) SDL_DestroyMutex(w->window_mutex);
  if (w->event_mutex) SDL_DestroyMutex(w->event_mutex);
  w->window_mutex = w->event_mutex = nullptr;
  if (w->devices || w->device_names || w->joysticks_started) {
    velk_log("Closing input devices\n");
    velk_input_close(w);
  }
  if (w->window) {
    velk_log("Destroying window\n");
    SDL_DestroyWindow(w->window);  // leaves full screen and restores the desktop mode
    w->window = nullptr;
  }
  velk_log("Window shutdown complete\n");
}

static void free_window(VelkWindow *w) {
  if (s_window.open == w) s_window.open = nullptr;
  free(w);
}

static void set_gl_attributes(int colour_bits, int alpha, int depth, int stencil, int accum) {
  if (colour_bits == 32) colour_bits = 24;
  int r = 8, g = 8, b = 8;
  if (colour_bits > 0 && colour_bits <= 16) r = 5, g = colour_bits == 16 ? 6 : 5, b = 5;
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, r);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, g);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, b);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil);
  int accum_each = accum / 4;
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum_each);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum_each);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum_each);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum_each);
}

VelkWindow *velk_gl_open(const char *title, int width, int height, int flags, int alpha_bits,
                         int depth_bits, int stencil_bits, int accum_bits) {
  if (!title) title = "";
  if (!video_ready()) {
    velk_error("Can't create window!");
    return nullptr;
  }
  display_mode_list();
  read_options();
  size_t title_length = strlen(title) + 1;
  VelkWindow *w = (VelkWindow *)calloc(1, sizeof(VelkWindow) + title_length);
  if (!w) fatal_out_of_memory();
  w->title = (char *)(w + 1);
  memcpy(w->title, title, title_length);
  w->main_thread = SDL_ThreadID();
  w->options = s_window.options;
  w->colour_bits = flags & VELK_COLOUR_BITS_MASK;
  w->flags = WINDOW_GL;
  int dw, dh;
  desktop_size(&dw, &dh);
  bool fullscreen = (flags & VELK_FULLSCREEN) != 0;
  w->width = width && height ? width : dw;
  w->height = width && height ? height : dh;

  // Creating the window chooses its pixel format: the GL attributes come first.
  velk_log("Choosing pixel format\n");
  set_gl_attributes(w->colour_bits, alpha_bits, depth_bits, stencil_bits, accum_bits);
  velk_log("Creating window\n");
  w->window = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                               w->width, w->height,
                               SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN);
  if (!w->window) {
    velk_log("No suitable pixel formats found\n");
    velk_log("SDL: %s\n", SDL_GetError());
    velk_error("Can't create window!");
    free_window(w);
    return nullptr;
  }
  w->window_mutex = SDL_CreateMutex();
  w->event_mutex = SDL_CreateMutex();
  if (!w->window_mutex || !w->event_mutex) {
    velk_error("Can't create mutex");
    destroy_window(w);
    free_window(w);
    return nullptr;
  }
  event_queue_clear(&w->queue);
  if (fullscreen) window_go_fullscreen(w, width, height);
  SDL_ShowWindow(w->window);
  SDL_RaiseWindow(w->window);
  s_window.open = w;

  if (!velk_input_open(w)) velk_log("No input devices\n");
  add_alias_once("cursor-left", "Mouse Left");
  add_alias_once("cursor-middle", "Mouse Middle");
  add_alias_once("cursor-right", "Mouse Right");

  velk_log("Creating OpenGL context\n");
  w->context = SDL_GL_CreateContext(w->window);
  if (!w->context) {
    velk_log("Couldn't create OpenGL context\n");
    velk_log("SDL: %s\n", SDL_GetError());
    destroy_window(w);
    free_window(w);
    return nullptr;
  }
  if (SDL_GL_MakeCurrent(w->window, w->context) != 0) {
    velk_log("Can't make the OpenGL context current: %s\n", SDL_GetError());
    SDL_GL_DeleteContext(w->context);
    w->context = nullptr;
    destroy_window(w);
    free_window(w);
    return nullptr;
  }
  int drawable_w, drawable_h;
  SDL_GL_GetDrawableSize(w->window, &drawable_w, &drawable_h);
  w->width = drawable_w;
  w->height = drawable_h;
  velk_set_message_box_hook(sdl_message_box);
  velk_set_fatal_hooks(fatal_close_audio, fatal_close_window);
  return w;
}

void velk_gl_close(VelkWindow *window) {
  if (!window) return;
  if (window->context) {
    velk_log("Deleting OpenGL context\n");
    SDL_GL_MakeCurrent(window->window, nullptr);
    SDL_GL_DeleteContext(window->context);
    window->context = nullptr;
  }
  window->closing = true;
  destroy_window(window);
  free_window(window);
}

const FrameInfo *velk_gl_begin_frame(VelkWindow *window) {
  if (!window || !window->context) return nullptr;
  if (SDL_GetWindowFlags(window->window) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN))
    return nullptr;
  SDL_LockMutex(window->window_mutex);
  if (window->suspended) {
    SDL_UnlockMutex(window->window_mutex);
    return nullptr;
  }
  int w = window->width, h = window->height;
  SDL_GL_GetDrawableSize(window->window, &w, &h);
  window->frame = FrameInfo{0, 0, w, h};
  return &window->frame;
}

int velk_gl_end_frame(VelkWindow *window) {
  if (!window) return 0;
  SDL_GL_SwapWindow(window->window);
  SDL_UnlockMutex(window->window_mutex);
  return 1;
}

int velk_window_set_mode(VelkWindow *window, int width, int height, int flags) {
  if (!window) return 1;
  window->mode_pending = true;
  window->mode_width = width;
  window->mode_height = height;
  window->mode_flags = flags;
  return 1;
}

int velk_window_fullscreen(const VelkWindow *window) {
  return window && (window->flags & WINDOW_FULLSCREEN) ? 1 : 0;
}

const char *const *velk_window_devices(VelkWindow *window) {
  static const char *const none[] = {nullptr};
  if (!window || !window->device_names) return none;
  return window->device_names;
}

void velk_sleep(int32_t seconds, int32_t microseconds) {
  velk_sleep_on_clock(seconds, microseconds);
}

void *velk_gl_proc_address(const char *name) {
  return name ? SDL_GL_GetProcAddress(name) : nullptr;
}
