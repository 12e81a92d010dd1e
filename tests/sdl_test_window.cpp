// The SDL window (offscreen driver): creation with a GL context, the frame bracket, the
// time-ordered event queue fed from SDL, mode switching, full-screen choice and sleep.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL.h>

#include <ctime>
#include <vector>

#include "platform/velk.h"
#include "platform/velk_window.h"

namespace {

struct WindowTest : ::testing::Test {
  VelkWindow *window = nullptr;
  void SetUp() override {
    velk_reset_for_tests();
    window = velk_gl_open("Dirtvane", 320, 240, 32, 0, 24, 0, 0);
    ASSERT_TRUE(window);
    drain();
  }
  void TearDown() override { velk_gl_close(window); }
  // Takes everything already queued (start-up window events make no game events, but
  // be sure).
  void drain() {
    int code, pressed;
    while (velk_next_event_code(window, &code, &pressed)) {
    }
  }
  static int64_t now_ms() {
    int32_t s, u;
    velk_clock(&s, &u);
    return (int64_t)s * 1000 + u / 1000;
  }
  static void push_key(SDL_Scancode sc, bool down) {
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = sc;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
  }
};

struct Taken {
  int code, pressed;
  int64_t ms;
};

std::vector<Taken> take_all(VelkWindow *w) {
  std::vector<Taken> out;
  int code, pressed;
  int32_t s, u;
  while (velk_next_event(w, &code, &pressed, &s, &u))
    out.push_back({code, pressed, (int64_t)s * 1000 + u / 1000});
  return out;
}

TEST_F(WindowTest, OpensWithAGLContextAndDrawsFrames) {
  const FrameInfo *frame = velk_gl_begin_frame(window);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->x, 0);
  EXPECT_EQ(frame->y, 0);
  EXPECT_EQ(frame->width, 320);
  EXPECT_EQ(frame->height, 240);
  // The fixed pipeline is there: clear and read back one pixel.
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  unsigned char pixel[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[0], 0);
  EXPECT_EQ(pixel[1], 255);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(velk_gl_end_frame(window), 1);
  EXPECT_TRUE(glGetString(GL_VERSION));
  EXPECT_TRUE(velk_gl_proc_address("glActiveTextureARB"));
  EXPECT_FALSE(velk_window_fullscreen(window));
}

TEST_F(WindowTest, KeyboardMouseAndCloseEventsComeOutInOrderWithStamps) {
  int64_t before = now_ms();
  push_key(SDL_SCANCODE_LCTRL, true);
  push_key(SDL_SCANCODE_LCTRL, false);
  push_key(SDL_SCANCODE_RCTRL, true);
  push_key(SDL_SCANCODE_A, true);
  SDL_Event text = {};
  text.type = SDL_TEXTINPUT;
  SDL_strlcpy(text.text.text, "a\xC3\xA9", sizeof text.text.text);  // a, e-acute (233)
  SDL_PushEvent(&text);
  push_key(SDL_SCANCODE_A, false);
  push_key(SDL_SCANCODE_RETURN, true);  // Enter also types character 13
  SDL_Event click = {};
  click.type = SDL_MOUSEBUTTONDOWN;
  click.button.button = SDL_BUTTON_RIGHT;
  click.button.state = SDL_PRESSED;
  SDL_PushEvent(&click);
  SDL_Event close = {};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
  SDL_PushEvent(&close);
  std::vector<Taken> got = take_all(window);
  int64_t after = now_ms();

  const Taken expect[] = {
      {0x101D, 1, 0}, {0x101D, 0, 0}, {0x111D, 1, 0}, {0x101E, 1, 0}, {97, 1, 0},
      {233, 1, 0},    {0x101E, 0, 0}, {0x101C, 1, 0}, {13, 1, 0},     {0x2002, 1, 0},
      {0xDEAD, 1, 0},
  };
  ASSERT_EQ(got.size(), sizeof expect / sizeof expect[0]);
  int64_t last = 0;
  for (size_t i = 0; i < got.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].code, expect[i].code);
    EXPECT_EQ(got[i].pressed, expect[i].pressed);
    EXPECT_GE(got[i].ms, before - 1);
    EXPECT_LE(got[i].ms, after);
    EXPECT_GE(got[i].ms, last);
    last = got[i].ms;
  }
  EXPECT_TRUE(velk_gl_begin_frame(window)) << "the close box leaves the window open";
  velk_gl_end_frame(window);
}

TEST_F(WindowTest, TheQueueHolds256EventsAndDropsThe257th) {
  for (int i = 0; i < 256; i++) push_key(SDL_SCANCODE_A, (i % 2) == 0);
  push_key(SDL_SCANCODE_B, true);
  std::vector<Taken> got = take_all(window);
  ASSERT_EQ(got.size(), 256u);
  for (int i = 0; i < 256; i++) {
    ASSERT_EQ(got[i].code, 0x101E) << i;
    ASSERT_EQ(got[i].pressed, (i % 2) == 0 ? 1 : 0) << i;
  }
  // Room again once taken.
  push_key(SDL_SCANCODE_B, true);
  got = take_all(window);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].code, 0x1030);
}

TEST_F(WindowTest, PushedEventsKeepTimeOrderAndTakeBeforeALimit) {
  velk_push_event(window, 1, 1, 5, 0);
  velk_push_event(window, 2, 1, 3, 999999);
  velk_push_event(window, 3, 0, 5, 0);  // equal time: behind the earlier arrival
  velk_push_event(window, 4, 1, 4, 0);
  int code = -1, pressed = -1;
  // The oldest event (3.999999 s) is later than 3.5 s: nothing is taken.
  EXPECT_EQ(velk_next_event_before(window, &code, &pressed, 3, 500000), 0);
  EXPECT_EQ(code, -1);
  ASSERT_EQ(velk_next_event_before(window, &code, &pressed, 3, 999999), 1);
  EXPECT_EQ(code, 2);
  ASSERT_EQ(velk_next_event_before(window, &code, &pressed, 5, 0), 1);
  EXPECT_EQ(code, 4);
  ASSERT_EQ(velk_next_event_before(window, &code, &pressed, 5, 0), 1);
  EXPECT_EQ(code, 1);
  ASSERT_EQ(velk_next_event_before(window, &code, &pressed, 5, 0), 1);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(pressed, 0);
  EXPECT_EQ(velk_next_event_code(window, &code, &pressed), 0);
}

TEST_F(WindowTest, SwitchesBetweenWindowedAndFullScreen) {
  EXPECT_EQ(velk_window_set_mode(window, 400, 300, 0), 1);
  velk_pump_messages(window);
  const FrameInfo *frame = velk_gl_begin_frame(window);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 400);
  EXPECT_EQ(frame->height, 300);
  velk_gl_end_frame(window);
  velk_window_set_mode(window, 0, 0, VELK_FULLSCREEN);
  velk_pump_messages(window);
  EXPECT_TRUE(velk_window_fullscreen(window));
  velk_window_set_mode(window, 320, 240, 0);
  velk_pump_messages(window);
  EXPECT_FALSE(velk_window_fullscreen(window));
  frame = velk_gl_begin_frame(window);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 320);
  velk_gl_end_frame(window);
}

TEST(WindowModes, FullScreenChoiceTakesTheSmallestModeThatFits) {
  const VelkDisplayMode modes[] = {{1280, 720, 32}, {1024, 768, 32}, {800, 600, 32},
                                   {1100, 700, 16}, {1024, 768, 16}, {0, 0, 0}};
  struct Case {
    int w, h, out_w, out_h;
  } cases[] = {
      {1000, 700, 1024, 768},  // 92 beats 300 (and 1100 x 700's 100)
      {0, 0, 1920, 1080},      // the desktop
      {640, 0, 1920, 1080},
      {2000, 2000, 1920, 1080},  // nothing fits
      {800, 600, 800, 600},
      {1024, 768, 1024, 768},  // the first of equal modes
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    int w = -1, h = -1;
    velk_choose_fullscreen_size(modes, 1920, 1080, c.w, c.h, &w, &h);
    EXPECT_EQ(w, c.out_w);
    EXPECT_EQ(h, c.out_h);
  }
  VelkDisplayMode listed[16];
  int n = velk_display_modes(listed, 16);
  ASSERT_GE(n, 1);
  EXPECT_GT(listed[0].width, 0);
  EXPECT_GT(listed[0].height, 0);
}

TEST(WindowSleep, SleepsAtLeastTheAskedTime) {
  timespec a, b;
  clock_gettime(CLOCK_MONOTONIC, &a);
  velk_sleep(0, 20000);
  clock_gettime(CLOCK_MONOTONIC, &b);
  double elapsed = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) * 1e-9;
  EXPECT_GE(elapsed, 0.019);
  velk_sleep(0, 500);  // below a millisecond: returns at the next clock tick
}

TEST(WindowOpen, NullWindowCallsAreHarmless) {
  int code, pressed;
  EXPECT_EQ(velk_next_event_code(nullptr, &code, &pressed), 0);
  EXPECT_FALSE(velk_gl_begin_frame(nullptr));
  EXPECT_EQ(velk_gl_end_frame(nullptr), 0);
  velk_gl_close(nullptr);
  ASSERT_TRUE(velk_window_devices(nullptr));
  EXPECT_FALSE(velk_window_devices(nullptr)[0]);
}

}  // namespace

namespace {

void frozen_clock(int32_t *s, int32_t *u) {
  *s = 100;
  *u = 0;
}

TEST(WindowSleep, AClockThatStandsStillDoesNotHoldItForEver) {
  velk_set_clock_source(frozen_clock);
  velk_sleep(0, 1000);
  velk_set_clock_source(nullptr);
}

}  // namespace
