// The window's event queue: SDL's keyboard, character, mouse-button and close events
// stamped on the velk_clock and kept in time order in a 256-entry ring.
#include <cstring>

#include "platform/velk.h"
#include "platform/window/window_local.h"

void event_queue_clear(EventQueue *queue) { memset(queue, 0, sizeof *queue); }

void event_time_from_ticks(uint32_t ticks, int32_t *seconds, int32_t *microseconds) {
  int32_t s, u;
  velk_clock(&s, &u);
  // The event's age on SDL's millisecond clock, taken back from the velk clock now.
  uint32_t age = SDL_GetTicks() - ticks;
  if ((int32_t)age < 0) age = 0;  // stamped after now: a clock from elsewhere
  int64_t us = (int64_t)s * 1000000 + u - (int64_t)age * 1000;
  if (us < 0) us = 0;
  *seconds = (int32_t)(us / 1000000);
  *microseconds = (int32_t)(us % 1000000);
}

static bool later(int32_t s1, int32_t u1, int32_t s2, int32_t u2) {
  return s1 > s2 || (s1 == s2 && u1 > u2);
}

void velk_push_event(VelkWindow *window, int code, int pressed, int32_t seconds,
                     int32_t microseconds) {
  if (!window) return;
  SDL_LockMutex(window->event_mutex);
  EventQueue &q = window->queue;
  if (q.count < VELK_EVENT_QUEUE) {
    // Behind every event not later than this one, ahead of the later ones.
    int at = q.count;
    while (at > 0) {
      int prev = (q.head + at - 1) % VELK_EVENT_QUEUE;
      if (!later(q.seconds[prev], q.microseconds[prev], seconds, microseconds)) break;
      int to = (q.head + at) % VELK_EVENT_QUEUE;
      q.code[to] = q.code[prev];
      q.seconds[to] = q.seconds[prev];
      q.microseconds[to] = q.microseconds[prev];
      at--;
    }
    int slot = (q.head + at) % VELK_EVENT_QUEUE;
    q.code[slot] = ((uint32_t)code & 0x7FFFFFFFu) | (pressed ? 0u : 0x80000000u);
    q.seconds[slot] = seconds;
    q.microseconds[slot] = microseconds;
    q.count++;
  }
  SDL_UnlockMutex(window->event_mutex);
}

void velk_push_event_now(VelkWindow *window, int code, int pressed) {
  int32_t s, u;
  velk_clock(&s, &u);
  velk_push_event(window, code, pressed, s, u);
}

// Pops the head event, when there is one and (with a limit) it is not later than it.
static int pop_event(VelkWindow *window, bool limited, int32_t limit_s, int32_t limit_u,
                     int *code, int *pressed, int32_t *seconds, int32_t *microseconds) {
  int taken = 0;
  SDL_LockMutex(window->event_mutex);
  EventQueue &q = window->queue;
  if (q.count > 0 &&
      !(limited && later(q.seconds[q.head], q.microseconds[q.head], limit_s, limit_u))) {
    uint32_t c = q.code[q.head];
    *code = (int)(c & 0x7FFFFFFFu);
    *pressed = (c & 0x80000000u) ? 0 : 1;
    if (seconds) *seconds = q.seconds[q.head];
    if (microseconds) *microseconds = q.microseconds[q.head];
    q.head = (q.head + 1) % VELK_EVENT_QUEUE;
    q.count--;
    taken = 1;
  }
  SDL_UnlockMutex(window->event_mutex);
  return taken;
}

// Pumps, takes; when nothing was there, lets the devices deliver and tries once more.
// (Game devices reach SDL's queue on the pump, so the second try sees their events.)
static int take_event(VelkWindow *window, bool limited, int32_t limit_s, int32_t limit_u,
                      int *code, int *pressed, int32_t *seconds, int32_t *microseconds) {
  if (!window) return 0;
  velk_pump_messages(window);
  if (pop_event(window, limited, limit_s, limit_u, code, pressed, seconds, microseconds))
    return 1;
  velk_pump_messages(window);
  return pop_event(window, limited, limit_s, limit_u, code, pressed, seconds, microseconds);
}

int velk_next_event_before(VelkWindow *window, int *code, int *pressed, int32_t seconds,
                           int32_t microseconds) {
  return take_event(window, true, seconds, microseconds, code, pressed, nullptr, nullptr);
}

int velk_next_event(VelkWindow *window, int *code, int *pressed, int32_t *seconds,
                    int32_t *microseconds) {
  return take_event(window, false, 0, 0, code, pressed, seconds, microseconds);
}

int velk_next_event_code(VelkWindow *window, int *code, int *pressed) {
  return take_event(window, false, 0, 0, code, pressed, nullptr, nullptr);
}

// Keys that also type a control character, as the keyboard's character messages do.
static int control_character(SDL_Scancode sc) {
  switch (sc) {
    case SDL_SCANCODE_BACKSPACE: return 8;
    case SDL_SCANCODE_TAB: return 9;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER: return 13;
    case SDL_SCANCODE_ESCAPE: return 27;
    default: return 0;
  }
}

// Characters 1..255 of UTF-8 text (Latin-1); anything beyond has no character code.
static void push_text(VelkWindow *window, const char *text, int32_t s, int32_t u) {
  const unsigned char *p = (const unsigned char *)text;
  while (*p) {
    unsigned cp;
    int extra;
    if (*p < 0x80) cp = *p, extra = 0;
    else if ((*p & 0xE0) == 0xC0) cp = *p & 0x1F, extra = 1;
    else if ((*p & 0xF0) == 0xE0) cp = *p & 0x0F, extra = 2;
    else if ((*p & 0xF8) == 0xF0) cp = *p & 0x07, extra = 3;
    else {
      p++;
      continue;
    }
    p++;
    for (; extra > 0 && (*p & 0xC0) == 0x80; extra--, p++) cp = (cp << 6) | (*p & 0x3F);
    if (extra == 0 && cp > 0 && cp <= 255) velk_push_event(window, (int)cp, 1, s, u);
  }
}

void window_handle_event(VelkWindow *window, const SDL_Event *e) {
  int32_t s, u;
  uint32_t own_id = SDL_GetWindowID(window->window);
  switch (e->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int scan = scan_code_from_sdl(e->key.keysym.scancode);
      if (!scan) break;
      event_time_from_ticks(e->key.timestamp, &s, &u);
      bool down = e->type == SDL_KEYDOWN;
      velk_push_event(window, VELK_KEY_BASE + scan, down, s, u);
      int c = down ? control_character(e->key.keysym.scancode) : 0;
      if (c) velk_push_event(window, c, 1, s, u);
      break;
    }
    case SDL_TEXTINPUT:
      event_time_from_ticks(e->text.timestamp, &s, &u);
      push_text(window, e->text.text, s, u);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      int code = e->button.button == SDL_BUTTON_LEFT     ? VELK_MOUSE_LEFT
                 : e->button.button == SDL_BUTTON_MIDDLE ? VELK_MOUSE_MIDDLE
                 : e->button.button == SDL_BUTTON_RIGHT  ? VELK_MOUSE_RIGHT
                                                         : 0;
      if (code) {
        event_time_from_ticks(e->button.timestamp, &s, &u);
        velk_push_event(window, code, e->type == SDL_MOUSEBUTTONDOWN, s, u);
      }
      break;
    }
    case SDL_QUIT:  // a signal asked the program to end: the same as the close box
      velk_push_event_now(window, VELK_CLOSE, 1);
      break;
    case SDL_WINDOWEVENT:
      if (e->window.windowID != own_id) break;
      switch (e->window.event) {
        case SDL_WINDOWEVENT_CLOSE: velk_push_event_now(window, VELK_CLOSE, 1); break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          if (window->context) {
            SDL_LockMutex(window->window_mutex);
            window->width = e->window.data1;
            window->height = e->window.data2;
            SDL_UnlockMutex(window->window_mutex);
          }
          velk_log("WM_SIZE message %dx%d\n", window->width, window->height);
          break;
        default: break;
      }
      break;
    default: break;
  }
  input_handle_event(window, e);
}

void velk_pump_messages(VelkWindow *window) {
  if (!window || window->closing) return;
  if (window->mode_pending) {
    window->mode_pending = false;
    SDL_LockMutex(window->window_mutex);
    window->suspended = true;
    SDL_UnlockMutex(window->window_mutex);
    if (window->mode_flags & VELK_FULLSCREEN)
      window_go_fullscreen(window, window->mode_width, window->mode_height);
    else
      window_go_windowed(window, window->mode_width, window->mode_height);
    SDL_LockMutex(window->window_mutex);
    window->suspended = false;
    SDL_UnlockMutex(window->window_mutex);
  }
  SDL_Event e;
  while (SDL_PollEvent(&e)) window_handle_event(window, &e);
}
