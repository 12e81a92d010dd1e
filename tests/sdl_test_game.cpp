// The game itself under SDL's offscreen driver: the windowed start-up on the starter track,
// a bike ridden from SDL key events, the orderly exit writing the configuration, and the
// P6 frames of --record-video.
#include <gtest/gtest.h>

#include <SDL.h>
#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "core/core.h"
#include "core/frame.h"
#include "core/game.h"
#include "race/race.h"
#include "render/glcaps.h"
#include "render/render.h"

namespace {

std::string make_home(const char *tag) {
  std::string home = std::string("/tmp/dv_sdl_game_") + tag + "_" + std::to_string(getpid());
  (void)system(("rm -rf " + home + " && mkdir -p " + home + "/Dirtvane").c_str());
  // A small window rather than the desktop's size.
  std::ofstream(home + "/Dirtvane/config") << "video_mode=Windowed\n";
  return home;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void push_key(SDL_Scancode sc, bool down) {
  SDL_Event e = {};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.keysym.scancode = sc;
  SDL_PushEvent(&e);
}

// ---- the ride: what the pass hook saw ----
struct Ride {
  int passes = 0;
  int stage = 0;  // 0 before the throttle, 1 throttle held, 2 steering left, 3 done
  Vec3 start, turn_start, end;  // ft, frame body
  Vec3 heading_before, heading_after;  // horizontal forward axis
  int32_t turn_tick = 0;
} g_ride;

Vec3 frame_position(const Bike *b) {
  const dReal *p = dBodyGetPosition(b->bodies[FRAME_BODY]);
  return vec3((float)p[0], (float)p[1], (float)p[2]);
}
Vec3 frame_heading(const Bike *b) {
  const dReal *r = dBodyGetRotation(b->bodies[FRAME_BODY]);
  return vec3_normalize(vec3(-(float)r[2], 0, -(float)r[10]));  // bikes face -z
}

void ride_pass(VelkWindow *) {
  Ride &r = g_ride;
  r.passes++;
  Racer *racer = racer_at(0);
  const SessionClock *c = session_clock();
  if (!session_active() || !racer || !racer->bike || r.passes > 20000) {
    frame_request_quit();
    return;
  }
  Bike *b = racer->bike;
  if (r.stage == 0) {
    r.start = frame_position(b);
    push_key(SDL_SCANCODE_X, true);  // throttle
    push_key(SDL_SCANCODE_S, true);  // screenshot
    push_key(SDL_SCANCODE_S, false);
    r.stage = 1;
  } else if (r.stage == 1 && c->tick > c->start_tick + 2 * 128) {
    r.turn_start = frame_position(b);
    r.heading_before = frame_heading(b);
    r.turn_tick = c->tick;
    push_key(SDL_SCANCODE_LEFT, true);
    r.stage = 2;
  } else if (r.stage == 2 && c->tick > r.turn_tick + 3 * 128) {
    r.end = frame_position(b);
    r.heading_after = frame_heading(b);
    push_key(SDL_SCANCODE_X, false);
    push_key(SDL_SCANCODE_LEFT, false);
    r.stage = 3;
    frame_request_quit();
  }
}

TEST(Game, RiddenFromTheKeyboardThenAnOrderlyExit) {
  std::string home = make_home("ride");
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
  render_install_game_hooks();
  game_set_pass_hook(ride_pass);
  // --warp runs 100 ticks a frame, so the gate drop and the ride take no real waiting.
  const char *args[] = {"dirtvane", "--track", "rabbithill", "--nosound", "--warp",
                        "--width",  "160",     "--height",   "120"};
  std::vector<char *> argv;
  for (const char *a : args) argv.push_back(const_cast<char *>(a));
  argv.push_back(nullptr);
  EXPECT_EQ(game_main((int)argv.size() - 1, argv.data()), 0);
  game_set_pass_hook(nullptr);

  ASSERT_EQ(g_ride.stage, 3) << "the ride did not finish in " << g_ride.passes << " passes";
  float ridden = vec3_length(g_ride.turn_start - g_ride.start);
  EXPECT_GT(ridden, 20.0f) << "two seconds of throttle after the gate drop";
  // Left key with the default reversed steering: a turn to the rider's left.
  Vec3 left = vec3_cross(vec3(0, 1, 0), g_ride.heading_before);
  float turned = std::acos(std::min(1.0f, vec3_dot(g_ride.heading_before, g_ride.heading_after)));
  EXPECT_GT(turned, 0.2f) << "heading changed by " << turned << " rad";
  EXPECT_GT(vec3_dot(g_ride.heading_after, left), 0.0f) << "turned right, not left";

  // The orderly exit released the bikes and wrote the configuration.
  std::string log = read_file(home + "/Dirtvane/lastlog.txt");
  EXPECT_NE(log.find("Finished deallocating bikes"), std::string::npos);
  std::string config = read_file(home + "/Dirtvane/config");
  EXPECT_NE(config.find("video_mode=Windowed"), std::string::npos);
  EXPECT_NE(config.find("throttle_key="), std::string::npos);
  // The screenshot key wrote the frame as a PNG in the home directory.
  std::string shot = read_file(home + "/Dirtvane/screenshot001.png");
  EXPECT_EQ(shot.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  (void)system(("rm -rf " + home).c_str());
}

// Reads exactly n bytes; false at the end of the stream.
bool read_exact(int fd, unsigned char *out, size_t n) {
  while (n > 0) {
    ssize_t got = read(fd, out, n);
    if (got <= 0) return false;
    out += got;
    n -= (size_t)got;
  }
  return true;
}

// The header "P6\n%d %d\n255\n", read a byte at a time.
bool read_p6_header(int fd, int *w, int *h) {
  std::string header;
  int lines = 0;
  unsigned char ch;
  while (lines < 3 && header.size() < 64) {
    if (!read_exact(fd, &ch, 1)) return false;
    header += (char)ch;
    if (ch == '\n') lines++;
  }
  int max = 0;
  char tail = 0;
  return sscanf(header.c_str(), "P6\n%d %d\n%d%c", w, h, &max, &tail) == 4 && max == 255 &&
         tail == '\n' && header.rfind("P6\n", 0) == 0;
}

// Starts the game binary with `args` under the offscreen driver and a home of its own. Its
// standard output comes back through *out, or goes to /dev/null when out is null.
pid_t spawn_game(const std::string &home, std::vector<std::string> args, int *out) {
  std::string binary = std::string(DV_BINARY_DIR) + "/dirtvane";
  int pipe_fds[2] = {-1, -1};
  if (out && pipe(pipe_fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    int fd = out ? pipe_fds[1] : open("/dev/null", O_WRONLY);
    dup2(fd, 1);
    if (out) close(pipe_fds[0]);
    close(fd);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
    std::vector<char *> argv{const_cast<char *>("dirtvane")};
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  if (out) {
    close(pipe_fds[1]);
    *out = pid > 0 ? pipe_fds[0] : (close(pipe_fds[0]), -1);
  }
  return pid;
}

// A failed assertion must not leave the game running: kills it and closes its output.
struct GameProcess {
  pid_t pid;
  int fd;
  ~GameProcess() {
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    if (fd >= 0) close(fd);
  }
  // Ends the game with SIGTERM (the orderly exit), draining its output; its exit status.
  int terminate() {
    kill(pid, SIGTERM);
    unsigned char drain[65536];
    while (fd >= 0 && read(fd, drain, sizeof drain) > 0) {
    }
    int status = 0;
    pid_t done = waitpid(pid, &status, 0);
    pid = 0;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST(Game, RecordVideoWritesWellFormedP6Frames) {
  std::string binary = std::string(DV_BINARY_DIR) + "/dirtvane";
  if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "the game is not built: " << binary;
  std::string home = make_home("video");
  int fd = -1;
  GameProcess game{spawn_game(home, {"--track", "rabbithill", "--nosound", "--record-video",
                                     "--width", "96", "--height", "64"},
                              &fd),
                   fd};
  ASSERT_GT(game.pid, 0);
  std::vector<unsigned char> pixels;
  int frames = 0;
  for (; frames < 5; frames++) {
    int w = 0, h = 0;
    ASSERT_TRUE(read_p6_header(game.fd, &w, &h)) << "frame " << frames;
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 64);
    pixels.resize((size_t)w * h * 3);
    ASSERT_TRUE(read_exact(game.fd, pixels.data(), pixels.size())) << "frame " << frames;
  }
  // Until the scene is drawn a frame is the sky colour, top to bottom.
  EXPECT_NEAR(pixels[0], 50, 1);
  EXPECT_NEAR(pixels[1], 153, 1);
  EXPECT_NEAR(pixels[2], 204, 1);
  EXPECT_EQ(game.terminate(), 0);
  EXPECT_NE(read_file(home + "/Dirtvane/config").find("video_mode=Windowed"), std::string::npos)
      << "SIGTERM takes the orderly exit, which writes the configuration";
  (void)system(("rm -rf " + home).c_str());
}

// Runs the game binary with `args` until SIGTERM after `seconds`; its exit status.
int run_game_for(const std::string &home, std::vector<std::string> args, double seconds) {
  GameProcess game{spawn_game(home, std::move(args), nullptr), -1};
  if (game.pid <= 0) return -1;
  usleep((useconds_t)(seconds * 1e6));
  return game.terminate();
}

TEST(Game, RecordAudioWritesOneBlockPerTick) {
  std::string binary = std::string(DV_BINARY_DIR) + "/dirtvane";
  if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "the game is not built: " << binary;
  std::string home = make_home("audio");
  std::string file = home + "/Dirtvane/sound.raw";
  EXPECT_EQ(run_game_for(home, {"--track", "rabbithill", "--nosound", "--warp", "--record-audio",
                                "@sound.raw", "--width", "64", "--height", "48"},
                         2.0),
            0);
  std::string audio = read_file(file);
  // --nosound does not stop the recording; each tick adds 690 stereo 8-bit samples.
  EXPECT_GT(audio.size(), 100u * 1380) << "warp runs 100 ticks a frame";
  EXPECT_EQ(audio.size() % 1380, 0u);
  (void)system(("rm -rf " + home).c_str());
}

TEST(Game, PrintOrientationWritesTheRidersCamera) {
  std::string binary = std::string(DV_BINARY_DIR) + "/dirtvane";
  if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "the game is not built: " << binary;
  std::string home = make_home("orientation");
  int fd = -1;
  GameProcess game{spawn_game(home, {"--track", "rabbithill", "--nosound", "--warp",
                                     "--print-orientation", "--width", "64", "--height", "48"},
                              &fd),
                   fd};
  ASSERT_GT(game.pid, 0);
  FILE *in = fdopen(game.fd, "r");
  game.fd = -1;  // the stream owns it now
  std::unique_ptr<FILE, int (*)(FILE *)> closer(in, fclose);
  char line[512];
  double last_t = -1;
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(fgets(line, sizeof line, in)) << "line " << i;
    double t;
    float v[9];
    char end = 0;
    ASSERT_EQ(sscanf(line, "t=%lf p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f%c", &t,
                     &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &end),
              11)
        << line;
    EXPECT_EQ(end, '\n');
    EXPECT_GT(t, last_t) << "one line per drawn frame, simulated time going on";
    last_t = t;
    EXPECT_NEAR(v[3] * v[3] + v[4] * v[4] + v[5] * v[5], 1, 1e-4) << "x axis";
    EXPECT_NEAR(v[6] * v[6] + v[7] * v[7] + v[8] * v[8], 1, 1e-4) << "z axis";
    EXPECT_NEAR(v[3] * v[6] + v[4] * v[7] + v[5] * v[8], 0, 1e-4) << "perpendicular";
  }
  kill(game.pid, SIGTERM);
  while (fgets(line, sizeof line, in)) {
  }
  EXPECT_EQ(game.terminate(), 0);
  (void)system(("rm -rf " + home).c_str());
}

}  // namespace
