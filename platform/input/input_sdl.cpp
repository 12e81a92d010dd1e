// Input devices of the window on SDL: game devices from SDL's joystick API (the roll
// call), the optional relative mouse device and the cursor; control names and event
// codes; axis handles; the axis capture of the key-binding screen.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/input/input_keys.h"
#include "platform/velk.h"
#include "platform/window/window_local.h"

constexpr int MAX_DEVICE_AXES = 100;
constexpr int MAX_DEVICE_BUTTONS = 500;
constexpr int DEVICE_NAME_CHARS = 63;
constexpr int CENTRED_LIMIT = 16384;  // |value| above this is not a capture candidate

enum DeviceKind { DEVICE_JOYSTICK, DEVICE_MOUSE, DEVICE_CURSOR };

struct InputDevice {
  InputDevice *next;  // the window's list, newest first
  VelkWindow *window;
  char name[DEVICE_NAME_CHARS + 1];  // unique within the window
  int code_base;
  int open_count;     // open axis handles
  int event_polling;  // 1 once a button is bound: its changes become events
  int button_count, axis_count;
  int kind;           // DeviceKind
  bool relative;      // axes report movement (the mouse)
  SDL_Joystick *joystick;
  SDL_JoystickID instance;
  int32_t *axis_values;
  uint8_t *button_states;  // non-zero = down
  int timestamp_adjustment;  // ms taken off the device's event times
  AxisHandle *handles;       // open handles, so closing the device can let go of them
};

struct AxisHandle {
  InputDevice *device;  // null once the device has closed
  int axis;
  AxisHandle *next;
};

// ---- per process: system key names (fetched once) and the SDL tick offset ----
static struct {
  bool names_built;
  char names[SYSTEM_KEY_NAMES][8];
  const char *name_list[SYSTEM_KEY_NAMES];
} s_keys;

// The keyboard layout's own name of a key, where the layout decides it: the character
// keys (on a German keyboard the key beside T is "Z"). Keys without a character keep
// the built-in names, so saved bindings read the same on every system.
static const char *const *system_key_names(VelkWindow *) {
  // The layout is known once SDL's video runs (a window, or the display-mode list).
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return nullptr;
  if (!s_keys.names_built) {
    s_keys.names_built = true;
    for (int scan = 0; scan < SYSTEM_KEY_NAMES; scan++) {
      s_keys.names[scan][0] = 0;
      s_keys.name_list[scan] = s_keys.names[scan];
      int sdl = sdl_scancode_from_scan(scan);
      if (!sdl) continue;
      SDL_Keycode key = SDL_GetKeyFromScancode((SDL_Scancode)sdl);
      if (key < 33 || key > 126) continue;
      snprintf(s_keys.names[scan], sizeof s_keys.names[scan], "%s", SDL_GetKeyName(key));
    }
  }
  return s_keys.name_list;
}

static int64_t clock_ms() {
  int32_t s, u;
  velk_clock(&s, &u);
  return (int64_t)s * 1000 + u / 1000;
}

// ---- devices ----
static InputDevice *find_device(VelkWindow *window, const char *name) {
  for (InputDevice *d = window->devices; d; d = d->next)
    if (strcmp(d->name, name) == 0) return d;
  return nullptr;
}

int device_code_base(VelkWindow *window, const char *name) {
  uint16_t even = 0;
  uint8_t odd = 0;
  for (int i = 0; name[i]; i++) {
    if (i % 2 == 0) even = (uint16_t)(even + (unsigned char)name[i]);
    else odd = (uint8_t)(odd + (unsigned char)name[i]);
  }
  int slot = (even + odd * 256) % 32768;  // the base in units of 0x10000
  for (int tries = 0; tries < 65535; tries++) {
    bool used = slot == 0;
    for (InputDevice *d = window ? window->devices : nullptr; d && !used; d = d->next)
      used = d->code_base == slot * 65536;
    if (!used) return slot * 65536;
    slot = (slot + 1) & 0x7FFF;
  }
  return 0;
}

// The instance name without blanks and dots, made unique with "#2", "#3", ...
void unique_device_name(VelkWindow *window, const char *instance, char *out) {
  char reduced[DEVICE_NAME_CHARS - 11];  // room for "#" and any number
  int n = 0;
  for (const char *p = instance; *p && n < (int)sizeof reduced - 1; p++)
    if (*p != ' ' && *p != '.') reduced[n++] = *p;
  reduced[n] = 0;
  snprintf(out, DEVICE_NAME_CHARS + 1, "%s", reduced);
  for (int k = 2; find_device(window, out); k++)
    snprintf(out, DEVICE_NAME_CHARS + 1, "%s#%d", reduced, k);
}

static void add_device_name(VelkWindow *window, const char *name) {
  char **grown = (char **)realloc(window->device_names,
                                  sizeof(char *) * (size_t)(window->device_name_count + 2));
  char *copy = strdup(name);
  if (!grown || !copy) fatal_out_of_memory();
  grown[window->device_name_count++] = copy;
  grown[window->device_name_count] = nullptr;
  window->device_names = grown;
}

static InputDevice *new_device(VelkWindow *window, const char *instance, int kind, int axes,
                               int buttons) {
  InputDevice *d = (InputDevice *)calloc(1, sizeof(InputDevice));
  if (!d) {
    velk_log("Out of memory\n");
    return nullptr;
  }
  d->axis_values = (int32_t *)calloc((size_t)axes + 1, sizeof(int32_t));
  d->button_states = (uint8_t *)calloc((size_t)buttons + 1, 1);
  if (!d->axis_values || !d->button_states) {
    velk_log("Out of memory\n");
    free(d->axis_values);
    free(d->button_states);
    free(d);
    return nullptr;
  }
  d->window = window;
  d->kind = kind;
  d->axis_count = axes;
  d->button_count = buttons;
  unique_device_name(window, instance, d->name);
  d->code_base = device_code_base(window, d->name);
  return d;
}

static void link_device(VelkWindow *window, InputDevice *d) {
  d->next = window->devices;
  window->devices = d;
}

static void add_joystick(VelkWindow *window, int index, int ordinal) {
  char instance[64];
  snprintf(instance, sizeof instance, "Joystick %d", ordinal);
  const char *product = SDL_JoystickNameForIndex(index);
  velk_log("%s (%s)\n", instance, product ? product : "");
  SDL_Joystick *js = SDL_JoystickOpen(index);
  if (!js) {
    velk_log("Can't create \"%s\"\n", instance);
    return;
  }
  int axes = SDL_JoystickNumAxes(js), buttons = SDL_JoystickNumButtons(js);
  if (axes < 0 || buttons < 0) {
    velk_log("Can't get device caps\n");
    SDL_JoystickClose(js);
    return;
  }
  if (axes == 0 && buttons == 0) {
    velk_log("Ignoring Dunsel device\n");
    SDL_JoystickClose(js);
    return;
  }
  velk_log("%d axes, %d keys\n", axes, buttons);
  if (axes > MAX_DEVICE_AXES) {
    velk_log("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"%s\"\n",
             "axis 100");
    axes = MAX_DEVICE_AXES;
  }
  if (buttons > MAX_DEVICE_BUTTONS) {
    velk_log(
        "Wow! This thing has a lot of buttons!\nThe first ignored button is called \"%s\"\n",
        "button 500");
    buttons = MAX_DEVICE_BUTTONS;
  }
  for (int a = 0; a < axes; a++) velk_log("axis %d is %s\n", a, "absolute");
  InputDevice *d = new_device(window, instance, DEVICE_JOYSTICK, axes, buttons);
  if (!d) {
    SDL_JoystickClose(js);
    return;
  }
  d->joystick = js;
  d->instance = SDL_JoystickInstanceID(js);
  for (int b = 0; b < buttons; b++) d->button_states[b] = SDL_JoystickGetButton(js, b);
  for (int a = 0; a < axes; a++) {
    char axis_name[256];
    snprintf(axis_name, sizeof axis_name, "%.200s axis %d", d->name, a);
    velk_log("Adding axis \"%s\"\n", axis_name);
    add_device_name(window, axis_name);
  }
  link_device(window, d);
}

static void add_aliases(const char *const (*pairs)[2], int count) {
  for (int i = 0; i < count; i++)
    if (strcmp(velk_resolve(pairs[i][0]), pairs[i][1]) != 0) velk_alias(pairs[i][0], pairs[i][1]);
}

static const char *const kCursorAliases[][2] = {
    {"cursor-x", "cursor.axis[0]"},
    {"cursor-y", "cursor.axis[1]"},
};
static const char *const kDeviceAliases[][2] = {
    {"mouse-x", "Mouse.axis[0]"},           {"mouse-y", "Mouse.axis[1]"},
    {"mouse-left", "Mouse.key[0]"},         {"mouse-right", "Mouse.key[1]"},
    {"mouse-middle", "Mouse.key[2]"},       {"joystick-a-x", "Joystick1.axis[0]"},
    {"joystick-a-y", "Joystick1.axis[1]"},  {"joystick-a-1", "Joystick1.key[0]"},
    {"joystick-a-2", "Joystick1.key[1]"},   {"joystick-b-x", "Joystick2.axis[0]"},
    {"joystick-b-y", "Joystick2.axis[1]"},  {"joystick-b-1", "Joystick2.key[0]"},
    {"joystick-b-2", "Joystick2.key[1]"},
};

int velk_input_open(VelkWindow *window) {
  if (!window) return 0;
  if (!velk_option_bool("dinput", 1)) {
    velk_log("DirectInput disabled\n");
  } else if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
    velk_log("Can't open direct input library\n");
  } else {
    window->joysticks_started = true;
    bool sticks_only = velk_option_bool("dinputsticksonly", 1);
    velk_log("DirectInput roll call...\n");
    int count = SDL_NumJoysticks();
    for (int i = 0; i < count; i++) add_joystick(window, i, i + 1);
    if (!sticks_only) {
      // The mouse as a device of its own: movement on relative axes x, y and wheel, and
      // its buttons (0 left, 1 right, 2 middle, 3 and 4 the side buttons).
      velk_log("Mouse (Mouse)\n");
      InputDevice *mouse = new_device(window, "Mouse", DEVICE_MOUSE, 3, 5);
      if (mouse) {
        mouse->relative = true;
        velk_log("%d axes, %d keys\n", 3, 5);
        for (int a = 0; a < 3; a++) velk_log("axis %d is %s\n", a, "relative");
        link_device(window, mouse);
      }
    }
    velk_log("End of DirectInput roll call\n");
    add_aliases(kDeviceAliases, (int)(sizeof kDeviceAliases / sizeof kDeviceAliases[0]));
  }
  InputDevice *cursor = new_device(window, "cursor", DEVICE_CURSOR, 2, 0);
  if (cursor) link_device(window, cursor);
  add_aliases(kCursorAliases, 2);
  return 1;
}

static void destroy_device(InputDevice *d) {
  velk_log("Killing %s\n", d->name);
  if (d->timestamp_adjustment > 0)
    velk_log("Timestamp adjustment was %d\n", d->timestamp_adjustment);
  for (AxisHandle *h = d->handles; h; h = h->next) h->device = nullptr;
  if (d->joystick) SDL_JoystickClose(d->joystick);
  free(d->axis_values);
  free(d->button_states);
  free(d);
}

void velk_input_close(VelkWindow *window) {
  if (!window) return;
  while (InputDevice *d = window->devices) {
    window->devices = d->next;
    destroy_device(d);
  }
  for (int i = 0; i < window->device_name_count; i++) free(window->device_names[i]);
  free(window->device_names);
  window->device_names = nullptr;
  window->device_name_count = 0;
  if (window->joysticks_started) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  window->joysticks_started = false;
}

// ---- events from the message pump ----
static InputDevice *joystick_device(VelkWindow *window, SDL_JoystickID instance) {
  for (InputDevice *d = window->devices; d; d = d->next)
    if (d->kind == DEVICE_JOYSTICK && d->instance == instance) return d;
  return nullptr;
}

static InputDevice *mouse_device(VelkWindow *window) {
  for (InputDevice *d = window->devices; d; d = d->next)
    if (d->kind == DEVICE_MOUSE) return d;
  return nullptr;
}

int64_t device_event_time(int *adjustment, int64_t entry_ms, int64_t now_ms) {
  int64_t stamp = entry_ms - *adjustment;
  if (stamp > now_ms) {  // the device's clock runs ahead: catch up, and stamp it now
    *adjustment += (int)(stamp - now_ms);
    return now_ms;
  }
  return stamp;
}

// A button change of a bound device, stamped with the device's own time.
static void device_button(InputDevice *d, int button, int down, uint32_t ticks) {
  if (button < 0 || button >= d->button_count) return;
  if ((d->button_states[button] != 0) == (down != 0)) return;
  d->button_states[button] = (uint8_t)(down != 0);
  if (!d->event_polling || button >= VELK_MAX_DEVICE_BUTTONS) return;
  int32_t s, u;
  event_time_from_ticks(ticks, &s, &u);
  int64_t stamp = device_event_time(&d->timestamp_adjustment,
                                    (int64_t)s * 1000 + u / 1000, clock_ms());
  velk_push_event(d->window, d->code_base + button, down, (int32_t)(stamp / 1000),
                  (int32_t)(stamp % 1000) * 1000);
}

void input_handle_event(VelkWindow *window, const SDL_Event *e) {
  switch (e->type) {
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
      if (InputDevice *d = joystick_device(window, e->jbutton.which))
        device_button(d, e->jbutton.button, e->jbutton.state == SDL_PRESSED,
                      e->jbutton.timestamp);
      break;
    case SDL_JOYAXISMOTION:
      if (InputDevice *d = joystick_device(window, e->jaxis.which))
        if (e->jaxis.axis < d->axis_count)
          d->axis_values[e->jaxis.axis] = e->jaxis.value < -32767 ? -32767 : e->jaxis.value;
      break;
    case SDL_MOUSEMOTION:
      if (InputDevice *d = mouse_device(window)) {
        d->axis_values[0] += e->motion.xrel;
        d->axis_values[1] += e->motion.yrel;
      }
      break;
    case SDL_MOUSEWHEEL:
      if (InputDevice *d = mouse_device(window)) d->axis_values[2] += e->wheel.y * 120;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (InputDevice *d = mouse_device(window)) {
        static const int kButtonIndex[] = {-1, 0, 2, 1, 3, 4};  // SDL 1..5: L M R X1 X2
        int b = e->button.button <= 5 ? kButtonIndex[e->button.button] : -1;
        if (b >= 0) device_button(d, b, e->type == SDL_MOUSEBUTTONDOWN, e->button.timestamp);
      }
      break;
    default: break;
  }
}

// ---- names and codes ----
int velk_key_code(VelkWindow *window, const char *name, int *code) {
  if (!window) window = window_open_now();
  if (!name) return 0;
  name = velk_resolve(name);
  if (key_code_of_name(name, system_key_names(window), code)) return 1;
  if (!window) return 0;
  char device_name[DEVICE_NAME_CHARS + 1];
  int button, used = 0;
  bool parsed = (sscanf(name, "%63[^.].key[%d]%n", device_name, &button, &used) == 2 &&
                 name[used] == 0) ||
                (sscanf(name, "%63s button %d%n", device_name, &button, &used) == 2 &&
                 name[used] == 0);
  if (!parsed || button < 0 || button >= VELK_MAX_DEVICE_BUTTONS) return 0;
  InputDevice *d = find_device(window, device_name);
  if (!d || button >= d->button_count) return 0;
  d->event_polling = 1;
  *code = d->code_base + button;
  return 1;
}

const char *velk_key_name(VelkWindow *window, int code) {
  if (!window) window = window_open_now();
  static char hex[16];  // the answer for unnamed keys without a window
  char *buf = window ? window->name_text : hex;
  size_t size = window ? sizeof window->name_text : sizeof hex;
  const char *name = key_name_of_code(code, system_key_names(window), buf, size);
  if (name || !window) return name;
  for (InputDevice *d = window->devices; d; d = d->next)
    if (d->code_base && (d->code_base >> 16) == (code >> 16)) {
      snprintf(buf, size, "%.1000s button %d", d->name, code & 0xFF);
      return buf;
    }
  return nullptr;
}

// ---- axes ----
AxisHandle *velk_axis_open(VelkWindow *window, const char *name) {
  if (!window) window = window_open_now();
  if (!window || !name) return nullptr;
  name = velk_resolve(name);
  char device_name[DEVICE_NAME_CHARS + 1];
  int axis, used = 0;
  bool parsed = (sscanf(name, "%63[^.].axis[%d]%n", device_name, &axis, &used) == 2 &&
                 name[used] == 0) ||
                (sscanf(name, "%63s axis %d%n", device_name, &axis, &used) == 2 &&
                 name[used] == 0);
  if (!parsed || axis < 0) return nullptr;
  InputDevice *d = find_device(window, device_name);
  if (!d || axis >= d->axis_count) return nullptr;
  AxisHandle *h = (AxisHandle *)calloc(1, sizeof(AxisHandle));
  if (!h) return nullptr;
  h->device = d;
  h->axis = axis;
  h->next = d->handles;
  d->handles = h;
  d->open_count++;
  return h;
}

void velk_axis_close(AxisHandle *axis) {
  if (!axis) return;
  if (InputDevice *d = axis->device) {
    for (AxisHandle **p = &d->handles; *p; p = &(*p)->next)
      if (*p == axis) {
        *p = axis->next;
        break;
      }
    d->open_count--;
  }
  free(axis);
}

int velk_axis_value(AxisHandle *axis) {
  if (!axis || !axis->device) return 0;
  InputDevice *d = axis->device;
  switch (d->kind) {
    case DEVICE_JOYSTICK: {
      SDL_JoystickUpdate();
      int v = SDL_JoystickGetAxis(d->joystick, axis->axis);
      d->axis_values[axis->axis] = v < -32767 ? -32767 : v;
      return d->axis_values[axis->axis];
    }
    case DEVICE_MOUSE: {
      velk_pump_messages(d->window);
      int v = d->axis_values[axis->axis];
      d->axis_values[axis->axis] = 0;
      return v;
    }
    case DEVICE_CURSOR: {
      int x, y;
      SDL_Window *focus = SDL_GetMouseFocus();
      if (focus == d->window->window) {
        SDL_GetMouseState(&x, &y);
      } else {
        int wx, wy;
        SDL_GetGlobalMouseState(&x, &y);
        SDL_GetWindowPosition(d->window->window, &wx, &wy);
        x -= wx;
        y -= wy;
      }
      return axis->axis == 0 ? x : y;
    }
  }
  return 0;
}

// ---- the axis capture ----
int watch_pots(VelkWindow *window, void *binding, AxisCapture *capture, int debug) {
  if (!window) window = window_open_now();
  *capture = AxisCapture{binding, 0, nullptr, nullptr};
  const char *const *names = velk_window_devices(window);
  int listed = 0;
  while (names[listed]) listed++;
  if (debug) velk_log("Watching pots\n");
  if (listed == 0) return 1;
  capture->axes = (AxisHandle **)calloc((size_t)listed, sizeof(AxisHandle *));
  capture->names = (const char **)calloc((size_t)listed, sizeof(const char *));
  if (!capture->axes || !capture->names) fatal_out_of_memory();
  for (int i = 0; i < listed; i++) {
    AxisHandle *h = velk_axis_open(window, names[i]);
    if (h) {
      int v = velk_axis_value(h);
      if (v > CENTRED_LIMIT || v < -CENTRED_LIMIT) {
        velk_axis_close(h);
        if (debug) velk_log("\t%s Ignored (not centered)\n", names[i]);
        continue;
      }
      capture->axes[capture->count] = h;
      capture->names[capture->count++] = names[i];
    }
    if (debug) velk_log("\t%s %s\n", names[i], h ? "Ok" : "Failed");
  }
  return 1;
}

int axis_capture_pick(AxisCapture *capture, int *value) {
  int best = -1, best_magnitude = CENTRED_LIMIT;
  for (int i = 0; i < capture->count; i++) {
    int v = velk_axis_value(capture->axes[i]);
    int magnitude = v < 0 ? -v : v;
    if (magnitude > best_magnitude) {
      best = i;
      best_magnitude = magnitude;
      *value = v;
    }
  }
  return best;
}

AxisHandle *axis_capture_end(AxisCapture *capture, int keep) {
  AxisHandle *kept = nullptr;
  for (int i = 0; i < capture->count; i++) {
    if (i == keep) kept = capture->axes[i];
    else velk_axis_close(capture->axes[i]);
  }
  free(capture->axes);
  free(capture->names);
  *capture = AxisCapture{};
  return kept;
}
