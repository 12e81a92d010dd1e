// Control names, aliases and game devices on SDL: every built-in and fixed name both
// ways, SDL's virtual joystick named, its buttons as events, its axes read and captured.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <string>

#include "platform/input/input_keys.h"
#include "platform/velk.h"
#include "platform/velk_input.h"
#include "platform/velk_window.h"
#include "platform/window/window_local.h"

namespace {

constexpr int kAxes = 4, kButtons = 6;

struct InputTest : ::testing::Test {
  VelkWindow *window = nullptr;
  SDL_Joystick *stick = nullptr;
  int stick_index = -1;
  void SetUp() override {
    velk_reset_for_tests();
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
    stick_index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, kAxes, kButtons, 0);
    ASSERT_GE(stick_index, 0) << SDL_GetError();
    // Our own handle drives the virtual device; the window opens the same device.
    stick = SDL_JoystickOpen(stick_index);
    ASSERT_TRUE(stick);
    window = velk_gl_open("Dirtvane", 64, 64, 32, 0, 16, 0, 0);
    ASSERT_TRUE(window);
    int code, pressed;
    while (velk_next_event_code(window, &code, &pressed)) {
    }
  }
  void TearDown() override {
    velk_gl_close(window);
    if (stick) SDL_JoystickClose(stick);
    if (stick_index >= 0) SDL_JoystickDetachVirtual(stick_index);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
  void set_axis(int axis, int value) {
    ASSERT_EQ(SDL_JoystickSetVirtualAxis(stick, axis, (Sint16)value), 0);
  }
};

TEST_F(InputTest, BuiltInAndFixedNamesResolveBothWays) {
  for (const KeyName &k : BUILTIN_KEYS) {
    SCOPED_TRACE(k.name);
    int code = 0;
    ASSERT_EQ(velk_key_code(window, k.name, &code), 1);
    EXPECT_EQ(code, 0x1000 + k.scan);
    // The name written back is the first one of that key (" " reads back as "Space").
    const char *back = velk_key_name(window, code);
    ASSERT_TRUE(back);
    int again = 0;
    ASSERT_EQ(velk_key_code(window, back, &again), 1);
    EXPECT_EQ(again, code);
    if (strcmp(k.name, " ") != 0) {
      EXPECT_STREQ(back, k.name);
    }
  }
  for (const FixedName &f : FIXED_NAMES) {
    SCOPED_TRACE(f.name);
    int code = 0;
    ASSERT_EQ(velk_key_code(window, f.name, &code), 1);
    EXPECT_EQ(code, f.code);
    EXPECT_STREQ(velk_key_name(window, code), f.name);
  }
}

TEST_F(InputTest, LooseAndHexNamesAndUnknownCodes) {
  struct Case {
    const char *name;
    int code;  // 0: unknown
  } cases[] = {
      {"left_ctrl", 0x101D}, {"LEFT CTRL", 0x101D}, {"left\tctrl", 0x101D},
      {"keypad_enter", 0x111C}, {"esc", 0x1001}, {"0x1d", 0x101D}, {"0x1D", 0x101D},
      {"0x1ff", 0x11FF}, {"0x200", 0}, {"0x", 0}, {"Left  Ctrl", 0}, {"Nothing", 0},
      {"mouse left", 0x2000}, {"close", 0xDEAD}, {"", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int code = -1;
    EXPECT_EQ(velk_key_code(window, c.name, &code), c.code ? 1 : 0);
    EXPECT_EQ(code, c.code ? c.code : -1);
  }
  EXPECT_FALSE(velk_key_name(window, 0x1200));
  EXPECT_STREQ(velk_key_name(window, 0x2000), "Mouse Left");
  EXPECT_STREQ(velk_key_name(window, 0x10F0), "0xf0");
  EXPECT_STREQ(velk_key_name(window, 0x1038), "0x38");  // left Alt has no built-in name
  EXPECT_FALSE(velk_key_name(window, 0x3000));
  // Without a window the key names still work.
  int code = 0;
  EXPECT_EQ(velk_key_code(nullptr, "Keypad Enter", &code), 1);
  EXPECT_EQ(code, 0x111C);
  EXPECT_STREQ(velk_key_name(nullptr, 0x111C), "Keypad Enter");
}

TEST_F(InputTest, AliasesReachTheirControls) {
  struct Case {
    const char *alias, *value;
  } cases[] = {
      {"cursor-left", "Mouse Left"},       {"cursor-middle", "Mouse Middle"},
      {"cursor-right", "Mouse Right"},     {"cursor-x", "cursor.axis[0]"},
      {"cursor-y", "cursor.axis[1]"},      {"mouse-x", "Mouse.axis[0]"},
      {"mouse-y", "Mouse.axis[1]"},        {"mouse-left", "Mouse.key[0]"},
      {"mouse-right", "Mouse.key[1]"},     {"mouse-middle", "Mouse.key[2]"},
      {"joystick-a-x", "Joystick1.axis[0]"}, {"joystick-a-y", "Joystick1.axis[1]"},
      {"joystick-a-1", "Joystick1.key[0]"},  {"joystick-a-2", "Joystick1.key[1]"},
      {"joystick-b-x", "Joystick2.axis[0]"}, {"joystick-b-y", "Joystick2.axis[1]"},
      {"joystick-b-1", "Joystick2.key[0]"},  {"joystick-b-2", "Joystick2.key[1]"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.alias);
    EXPECT_STREQ(velk_resolve(c.alias), c.value);
  }
  int code = 0;
  ASSERT_EQ(velk_key_code(window, "cursor-right", &code), 1);
  EXPECT_EQ(code, 0x2002);
  AxisHandle *cursor = velk_axis_open(window, "cursor-y");
  EXPECT_TRUE(cursor);
  velk_axis_value(cursor);
  velk_axis_close(cursor);
  // No second joystick and no mouse device (only joysticks by default).
  EXPECT_FALSE(velk_axis_open(window, "joystick-b-x"));
  EXPECT_FALSE(velk_axis_open(window, "mouse-x"));
}

TEST_F(InputTest, TheVirtualJoystickIsNamedAndListed) {
  const char *const *names = velk_window_devices(window);
  for (int a = 0; a < kAxes; a++) {
    SCOPED_TRACE(a);
    ASSERT_TRUE(names[a]);
    EXPECT_EQ(std::string(names[a]), "Joystick1 axis " + std::to_string(a));
  }
  EXPECT_FALSE(names[kAxes]);
  int code = 0;
  ASSERT_EQ(velk_key_code(window, "Joystick1.key[5]", &code), 1);
  int base = code - 5;
  EXPECT_EQ(base % 0x10000, 0);
  EXPECT_GE(base, 0x10000);
  EXPECT_STREQ(velk_key_name(window, base + 5), "Joystick1 button 5");
  int again = 0;
  ASSERT_EQ(velk_key_code(window, "Joystick1 button 5", &again), 1);
  EXPECT_EQ(again, code);
  // Without a window handle the open window's devices are meant.
  ASSERT_EQ(velk_key_code(nullptr, "Joystick1.key[5]", &again), 1);
  EXPECT_EQ(again, code);
  EXPECT_STREQ(velk_key_name(nullptr, code), "Joystick1 button 5");
  EXPECT_EQ(velk_key_code(window, "Joystick1.key[6]", &code), 0);  // 6 buttons: 0..5
  EXPECT_EQ(velk_key_code(window, "Joystick9.key[0]", &code), 0);
  // A second pad of the same name gets "#2"; blanks and dots go.
  char name[64];
  unique_device_name(window, "Joystick 1", name);
  EXPECT_STREQ(name, "Joystick1#2");
  unique_device_name(window, "Game.Pad 2", name);
  EXPECT_STREQ(name, "GamePad2");
  // Code bases: the same sums go to the next free base; sums of 0 start at 0x10000.
  EXPECT_EQ(device_code_base(window, "Joystick1"), base + 0x10000);
  EXPECT_EQ(device_code_base(window, ""), 0x10000);
  EXPECT_EQ(device_code_base(nullptr, "ab"), (('a') + ('b') * 256) * 0x10000);
}

TEST_F(InputTest, BoundButtonsArriveAsEvents) {
  int got = 0, pressed = -1;
  // Until one of its buttons is bound, a device makes no events.
  ASSERT_EQ(SDL_JoystickSetVirtualButton(stick, 3, SDL_PRESSED), 0);
  EXPECT_EQ(velk_next_event_code(window, &got, &pressed), 0);
  int code = 0;
  ASSERT_EQ(velk_key_code(window, "joystick-a-2", &code), 1);  // Joystick1.key[1]
  int32_t before_s, before_u, s, u;
  velk_clock(&before_s, &before_u);
  ASSERT_EQ(SDL_JoystickSetVirtualButton(stick, 1, SDL_PRESSED), 0);
  ASSERT_EQ(velk_next_event(window, &got, &pressed, &s, &u), 1);
  EXPECT_EQ(got, code);
  EXPECT_EQ(pressed, 1);
  EXPECT_GE((int64_t)s * 1000 + u / 1000, (int64_t)before_s * 1000 + before_u / 1000 - 1);
  ASSERT_EQ(SDL_JoystickSetVirtualButton(stick, 1, SDL_RELEASED), 0);
  ASSERT_EQ(velk_next_event_code(window, &got, &pressed), 1);
  EXPECT_EQ(got, code);
  EXPECT_EQ(pressed, 0);
  // Then every button of that device is an event (its code base + button).
  ASSERT_EQ(SDL_JoystickSetVirtualButton(stick, 3, SDL_RELEASED), 0);
  ASSERT_EQ(velk_next_event_code(window, &got, &pressed), 1);
  EXPECT_EQ(got, code - 1 + 3);
  EXPECT_EQ(pressed, 0);
  EXPECT_EQ(velk_next_event_code(window, &got, &pressed), 0);
}

TEST_F(InputTest, AxesReadTheirValues) {
  AxisHandle *x = velk_axis_open(window, "joystick-a-x");
  AxisHandle *y = velk_axis_open(window, "Joystick1 axis 1");
  AxisHandle *w = velk_axis_open(window, "Joystick1.axis[3]");
  ASSERT_TRUE(x && y && w);
  EXPECT_FALSE(velk_axis_open(window, "Joystick1.axis[4]"));
  EXPECT_FALSE(velk_axis_open(window, "Joystick1.axis[-1]"));
  set_axis(0, 12345);
  set_axis(1, -32768);
  set_axis(3, 32767);
  EXPECT_EQ(velk_axis_value(x), 12345);
  EXPECT_EQ(velk_axis_value(y), -32767);  // limited to the symmetric range
  EXPECT_EQ(velk_axis_value(w), 32767);
  velk_axis_close(x);
  velk_axis_close(y);
  // A handle outliving its window reads 0 and closes safely.
  velk_gl_close(window);
  window = nullptr;
  EXPECT_EQ(velk_axis_value(w), 0);
  velk_axis_close(w);
}

TEST_F(InputTest, AxisCapturePicksTheMovedAxisAndSkipsOffCentre) {
  set_axis(0, 20000);  // resting off centre: not a candidate
  set_axis(1, 0);
  set_axis(2, 1000);
  set_axis(3, -3000);
  int binding = 0;
  AxisCapture capture;
  ASSERT_EQ(watch_pots(window, &binding, &capture, 1), 1);
  EXPECT_EQ(capture.binding, &binding);
  ASSERT_EQ(capture.count, 3);
  for (int i = 0; i < capture.count; i++)
    EXPECT_STRNE(capture.names[i], "Joystick1 axis 0");
  int value = 0;
  EXPECT_EQ(axis_capture_pick(&capture, &value), -1);  // nothing moved past half travel
  set_axis(1, 17000);
  set_axis(2, -30000);
  int picked = axis_capture_pick(&capture, &value);
  ASSERT_GE(picked, 0);
  EXPECT_STREQ(capture.names[picked], "Joystick1 axis 2");
  EXPECT_EQ(value, -30000);
  AxisHandle *kept = axis_capture_end(&capture, picked);
  ASSERT_TRUE(kept);
  EXPECT_EQ(capture.count, 0);
  EXPECT_EQ(velk_axis_value(kept), -30000);
  velk_axis_close(kept);
}

}  // namespace

namespace {

// With [dinputsticksonly:no] the mouse is a device of its own: relative axes and buttons.
TEST(InputMouse, RelativeAxesReturnTheirMovementOnce) {
  setenv("VELK_OPTIONS", "[dinputsticksonly:no]", 1);
  velk_reset_for_tests();
  VelkWindow *window = velk_gl_open("Dirtvane", 64, 64, 32, 0, 16, 0, 0);
  unsetenv("VELK_OPTIONS");
  ASSERT_TRUE(window);
  AxisHandle *x = velk_axis_open(window, "mouse-x");
  AxisHandle *y = velk_axis_open(window, "mouse-y");
  ASSERT_TRUE(x && y);
  // Relative axes are not capture candidates: only absolute axes are listed.
  EXPECT_FALSE(velk_window_devices(window)[0]);
  for (int i = 0; i < 3; i++) {
    SDL_Event motion = {};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.xrel = 5;
    motion.motion.yrel = -2;
    SDL_PushEvent(&motion);
  }
  EXPECT_EQ(velk_axis_value(x), 15);
  EXPECT_EQ(velk_axis_value(x), 0);
  EXPECT_EQ(velk_axis_value(y), -6);
  EXPECT_EQ(velk_axis_value(y), 0);
  // A bound mouse button is an event of the device as well as the window's own button.
  int code = 0;
  ASSERT_EQ(velk_key_code(window, "mouse-right", &code), 1);
  EXPECT_STREQ(velk_key_name(window, code), "Mouse button 1");
  SDL_Event click = {};
  click.type = SDL_MOUSEBUTTONDOWN;
  click.button.button = SDL_BUTTON_RIGHT;
  click.button.state = SDL_PRESSED;
  SDL_PushEvent(&click);
  int got[2] = {}, pressed = 0;
  ASSERT_EQ(velk_next_event_code(window, &got[0], &pressed), 1);
  ASSERT_EQ(velk_next_event_code(window, &got[1], &pressed), 1);
  EXPECT_EQ(got[0], VELK_MOUSE_RIGHT);
  EXPECT_EQ(got[1], code);
  velk_axis_close(x);
  velk_axis_close(y);
  velk_gl_close(window);
}

}  // namespace

namespace {

TEST(InputDeviceTime, FutureStampsAreCaughtUp) {
  int adjustment = 0;
  EXPECT_EQ(device_event_time(&adjustment, 1000, 1000), 1000);
  EXPECT_EQ(device_event_time(&adjustment, 1050, 1000), 1000);  // 50 ms ahead: now
  EXPECT_EQ(adjustment, 50);
  EXPECT_EQ(device_event_time(&adjustment, 1080, 1040), 1030);  // later ones shifted
  EXPECT_EQ(device_event_time(&adjustment, 900, 1040), 850);
  EXPECT_EQ(adjustment, 50);
}

}  // namespace
