// Start-up without a window: the game-data and fixed-file checks, the catalogues of tracks,
// demos and video modes, the fingerprint, and the exit statuses of the headless steps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/data_digests.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"

namespace {

void spill(const std::string &path, const std::string &bytes) {
  std::string dir = path.substr(0, path.rfind('/'));
  EXPECT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string command_output(const std::string &cmd) {
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  char buf[256];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

// Runs the headless start-up on `args`, returning its status; stderr goes to `errors`.
int run_startup(std::vector<std::string> args, std::string *errors) {
  static std::vector<std::string> keep;
  keep = args;
  keep.insert(keep.begin(), "dirtvane");
  std::vector<char *> argv;
  for (std::string &a : keep) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  testing::internal::CaptureStderr();
  int status = startup_headless((int)keep.size(), argv.data());
  *errors = testing::internal::GetCapturedStderr();
  velk_log(nullptr);
  return status;
}

class Startup : public ::testing::Test {
 protected:
  std::string root, home, data;
  void SetUp() override {
    static int serial = 0;
    root = "/tmp/dv_startup_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
    home = root + "/xdg/Dirtvane/";
    data = root + "/data/";
    ASSERT_EQ(system(("mkdir -p '" + data + "'").c_str()), 0);
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
    setenv("DV_HOME", data.c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("VELK_LOGFILE");
    velk_reset_for_tests();
    datafile_reset_for_tests();
    startup_reset();
  }
  void TearDown() override {
    velk_log(nullptr);
    velk_reset_for_tests();
    datafile_reset_for_tests();
    startup_reset();
    ASSERT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
  }
  // The starter data's marker, so the game data counts as found; false when not generated.
  bool copy_marker() {
    std::ifstream in(std::string(DV_BINARY_DIR) + "/zzzz.saf", std::ios::binary);
    if (!in) return false;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    spill(data + "zzzz.saf", bytes);
    char hex[41];
    return game_data_digest((data + "zzzz.saf").c_str(), hex) && !strcmp(hex, GAME_DATA_DIGEST);
  }
};

}  // namespace

TEST_F(Startup, GameDataDigestIsTheFirstMebibyte) {
  std::string big(1048576 + 5000, 0);
  for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 7 + i / 1000);
  for (size_t size : {size_t(0), size_t(300), big.size()}) {
    SCOPED_TRACE(size);
    spill(data + "zzzz.saf", big.substr(0, size));
    char hex[41];
    ASSERT_TRUE(game_data_digest((data + "zzzz.saf").c_str(), hex));
    std::string expected =
        command_output("head -c 1048576 '" + data + "zzzz.saf' | sha1sum").substr(0, 40);
    EXPECT_EQ(std::string(hex), expected);
  }
  char hex[41];
  EXPECT_FALSE(game_data_digest((data + "missing").c_str(), hex));
}

TEST_F(Startup, FindGameDataOpensTheLogAtHome) {
  spill(data + "zzzz.saf", "not the game data");
  EXPECT_FALSE(find_game_data());
  // The home directory was made and the log opened there.
  velk_log("a line\n");
  velk_log(nullptr);
  std::ifstream log(home + "lastlog.txt");
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("a line"), std::string::npos);

  velk_reset_for_tests();
  if (!copy_marker()) GTEST_SKIP() << "starter data not generated in " << DV_BINARY_DIR;
  EXPECT_TRUE(find_game_data());
}

TEST_F(Startup, MissingGameDataFailsWithItsMessage) {
  std::string errors;
  EXPECT_EQ(run_startup({}, &errors), 1);
  EXPECT_NE(errors.find("Can't find game data"), std::string::npos);
}

TEST_F(Startup, HeadlessStepsAndTheirExitStatuses) {
  if (!copy_marker()) GTEST_SKIP() << "starter data not generated in " << DV_BINARY_DIR;
  std::string errors;
  EXPECT_EQ(run_startup({}, &errors), 1);
  EXPECT_EQ(errors, "No tracks found\n");
  startup_reset();
  // A parse error ends start-up before the tracks are looked for.
  EXPECT_EQ(run_startup({"--erode", "x"}, &errors), 1);
  EXPECT_EQ(errors, "Bad arg for --erode\n");
  startup_reset();
  EXPECT_EQ(run_startup({"--open-home", "--bogus"}, &errors), 0);

  spill(data + "hill/terrain.hf", "h");
  spill(data + "hill/desc", "Big Hill\n");
  datafile_reset_for_tests();
  startup_reset();
  EXPECT_EQ(run_startup({"--track", "hill", "--width=1024"}, &errors), -1);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(run_options()->width, 1024);
  EXPECT_EQ(track_catalogue()->count, 1);
  EXPECT_EQ(track_catalogue()->selected, 0);
  // The exit path writes the configuration to the home directory.
  EXPECT_EQ(exit_path(), 0);
  EXPECT_EQ(access((home + "config").c_str(), F_OK), 0);
}

TEST_F(Startup, TrackCatalogue) {
  struct Track {
    const char *terrain;  // the terrain file's name in the data directory
    const char *desc;     // null: no desc file
  };
  const Track tracks[] = {
      {"rabbithill/terrain.hf", "Rabbit Hill\r\nmore text"},
      {"practice/terrain.hf.gz", "practice area"},
      {"zed/terrain.hf.scram", nullptr},
      {"empty/terrain.hf.gz.scram", ""},
      {"nul/terrain.hf", nullptr},  // its desc holds a zero byte, written below
      {"deep/er/terrain.hf", "Deep"},
      {"notatrack/terrain.hfx", "No"},
      {"rabbithill/terrain.hf.gz", nullptr},  // a second form of the same track
  };
  for (const Track &t : tracks) {
    spill(data + t.terrain, "terrain");
    if (t.desc) {
      std::string dir = std::string(t.terrain).substr(0, std::string(t.terrain).rfind('/'));
      spill(data + dir + "/desc", t.desc);
    }
  }
  spill(data + "nul/desc", std::string("Apex\0after", 10));
  run_options()->debug_level = 0;
  ASSERT_EQ(scan_tracks(), 6);
  const TrackCatalogue *c = track_catalogue();
  std::vector<std::pair<std::string, std::string>> got;
  for (int i = 0; i < c->count; i++) got.push_back({c->dirs[i], c->names[i]});
  // Sorted by display name, letter case ignored; an empty desc gives an empty name; no
  // desc gives the directory's name.
  std::vector<std::pair<std::string, std::string>> expected = {
      {"empty", ""},           {"nul", "Apex"},           {"deep/er", "Deep"},
      {"practice", "practice area"}, {"rabbithill", "Rabbit Hill"}, {"zed", "zed"}};
  EXPECT_EQ(got, expected);
}

TEST_F(Startup, DemoCatalogueAndPages) {
  spill(data + "demos/sub/Fast Lap.dvdemo", "d");
  spill(data + "demos/.dvdemo", "d");
  spill(data + "other/x.dvdemo", "d");
  spill(data + "demos/notademo.txt", "d");
  for (int i = 0; i < 41; i++) spill(data + "demos/r" + std::to_string(100 + i) + ".dvdemo", "d");
  ASSERT_EQ(scan_demos(), 43);
  const DemoCatalogue *d = demo_catalogue();
  EXPECT_STREQ(d->files[0], "demos/.dvdemo");
  EXPECT_STREQ(d->names[0], "demos/.dvdemo");  // an empty base name shows the whole name
  EXPECT_STREQ(d->names[1], "r100");
  EXPECT_STREQ(d->files[42], "demos/sub/Fast Lap.dvdemo");
  EXPECT_STREQ(d->names[42], "Fast Lap");
  EXPECT_EQ(d->page_count, 3);
  EXPECT_EQ(d->page_index, 0);
  EXPECT_STREQ(d->page[19], d->names[19]);
  demo_catalogue_show_page(7);
  EXPECT_EQ(d->page_index, 2);
  EXPECT_STREQ(d->page[2], "Fast Lap");
  EXPECT_EQ(d->page[3], nullptr);

  datafile_reset_for_tests();
  EXPECT_EQ(system(("rm -rf '" + data + "demos'").c_str()), 0);
  ASSERT_EQ(scan_demos(), 0);
  EXPECT_EQ(demo_catalogue()->page_count, 1);
}

TEST_F(Startup, FixedFilesDigestSkipsMissingFiles) {
  // Four of the seven shapes, one of them stored compressed: hashed in the fixed order.
  spill(data + "generic_frame.shp", "frame");
  spill(data + "generic_swingarm.shp", "swingarm");
  spill(data + "rear_wheel.shp", "rear");
  std::string rider = "rider shape";
  ASSERT_TRUE(pack_write_file((data + "generic_rider.shp.gz").c_str(), rider.data(), rider.size(),
                              PACK_GZIP));
  char hex[41];
  fixed_files_digest(hex);
  std::string expected = command_output("printf 'frameswingarmrearrider shape' | sha1sum").substr(0, 40);
  EXPECT_EQ(std::string(hex), expected);
  check_fixed_files();
  EXPECT_FALSE(fixed_files_ok());
}

TEST_F(Startup, VideoModesWithoutADisplay) {
  EXPECT_EQ(list_video_modes(), 2);
  int count;
  const VideoMode *m = video_modes(&count);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(m[0].label, "Default Fullscreen");
  EXPECT_EQ(m[0].width, 0);
  EXPECT_STREQ(m[1].label, "Windowed");
  EXPECT_EQ(config()->video_mode.count, 2);
}

TEST(StartupChecks, FingerprintAndMmx) {
  uint8_t a[FINGERPRINT_SIZE], b[FINGERPRINT_SIZE];
  build_fingerprint(a);
  build_fingerprint(b);
  EXPECT_EQ(0, memcmp(a, b, FINGERPRINT_SIZE));
  EXPECT_EQ(0, memcmp(a + 20, "Dirtvane0001", 12));
  std::string cpuinfo = command_output("grep -m1 '^flags' /proc/cpuinfo");
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_EQ(cpu_has_mmx(), cpuinfo.find(" mmx") != std::string::npos ? 1 : 0);
#else
  EXPECT_EQ(cpu_has_mmx(), 0);
#endif
}
