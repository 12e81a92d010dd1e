// The configuration file: parsing rules, legacy keys, bindings, presets, round trip, bad input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/common.h"
#include "files/config.h"
#include "files/files.h"
#include "test_support.h"

namespace {

using test_support::read_file;
using test_support::write_file;

// Each test gets its own home and data directories and fresh settings.
class ConfigTest : public test_support::TempHomeTest {
 protected:
  // Reads `text` as a configuration file.
  void read_text(const std::string &text) {
    std::string path = dir + "/in.cfg";
    write_file(path, text);
    ASSERT_TRUE(config_read_file(path.c_str()));
  }
  // The settings as the writer sees them.
  std::string written() {
    std::string path = dir + "/out.cfg";
    EXPECT_TRUE(config_write_file(path.c_str()));
    return read_file(path);
  }
};

}  // namespace

TEST_F(ConfigTest, DefaultsAfterStartupReset) {
  Config *c = config();
  EXPECT_EQ(c->xres, 640);
  EXPECT_EQ(c->draw_ping, 1);
  EXPECT_STREQ(c->track, "rabbithill");
  EXPECT_STREQ(choice_text(&c->skill), "Novice");
  EXPECT_EQ(c->laps.value, 5);
  EXPECT_STREQ(c->slots[19].label, "Gate 20");
  for (int g = 0; g < GATE_COUNT; g++) {
    SCOPED_TRACE(g);
    const char *want = g == 19 ? "Human" : (g == 17 || g == 18 || (g >= 20 && g <= 22)) ? "Robot" : "Empty";
    EXPECT_STREQ(choice_text(&c->slots[g]), want);
  }
  EXPECT_STREQ(choice_text(&c->video_mode), "Default Fullscreen");
  EXPECT_STREQ(c->keys[REWIND_KEY].key_name, "\\");
  EXPECT_STREQ(c->keys[DAB_KEY].key_name, "right ctrl");
  EXPECT_STREQ(c->keys[CONSOLE_KEY].label, "Chat");
  EXPECT_EQ(current_graphics_preset(), 0);
  EXPECT_STREQ(choice_text(&c->render_texture), "Software");
}

TEST_F(ConfigTest, ValuesByKind) {
  struct Case {
    const char *line;
    const char *key;    // config key to look at in the written file
    const char *value;  // its written value afterwards
  };
  const Case cases[] = {
      {"laps=100", "laps", "50.000000"},
      {"laps=-3", "laps", "0.000000"},
      {"laps=abc", "laps", "5.000000"},
      {"laps=nan", "laps", "0.000000"},
      {"laps=  7", "laps", "7.000000"},
      {"laps=12.5xyz", "laps", "12.500000"},
      {"laps =7", "laps", "5.000000"},
      {"first_person_height=0.1", "first_person_height", "0.100000"},
      {"third_person_distance=1", "third_person_distance", "5.000000"},
      {"skill=expert", "skill", "Novice"},
      {"skill=Expert", "skill", "Expert"},
      {"skill=Expert ", "skill", "Novice"},
      {"slot05=Robot (2 stroke)", "slot05", "Robot (2 stroke)"},
      {"xres = 800", "xres", "640"},
      {"xres=800", "xres", "800"},
      {"xres=12abc", "xres", "12"},
      {"xres=abc", "xres", "640"},
      {"xres=-7", "xres", "-7"},
      {"XRES=800", "xres", "640"},
      {"track= my track ", "track", " my track "},
      {"demo_backups=3\r\r\n", "demo_backups", "3"},
      {"ground_texture_distance=5", "ground_texture_dim", "64x64"},
      {"video_mode=Windowed", "video_mode", "Windowed"},
      {"video_mode=800x600", "video_mode", "Default Fullscreen"},
      {"no equals sign", "xres", "640"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    config_reset_defaults();
    read_text(std::string(c.line) + "\n");
    std::string want = std::string("\n") + c.key + "=" + c.value + "\n";
    EXPECT_NE(("\n" + written()).find(want), std::string::npos);
  }
  config_reset_defaults();
  read_text("laps=3\nlaps=9\n");
  EXPECT_EQ(config()->laps.value, 9) << "a later line wins";
}

TEST_F(ConfigTest, LegacyUseFboAgainstRenderTexture) {
  read_text("use_fbo=No\nrender_texture=Shaders/Copy\n");
  EXPECT_STREQ(choice_text(&config()->render_texture), "Shaders/Copy");
  config_reset_defaults();
  read_text("render_texture=Shaders/Copy\nuse_fbo=No\n");
  EXPECT_STREQ(choice_text(&config()->render_texture), "Hardware/Copy");
  config_reset_defaults();
  read_text("use_fbo=Yes\n");
  EXPECT_STREQ(choice_text(&config()->render_texture), "Hardware/Direct");
  EXPECT_EQ(written().find("use_fbo"), std::string::npos);
  EXPECT_EQ(written().find("ground_texture_distance"), std::string::npos);
}

TEST_F(ConfigTest, KeyBindings) {
  struct Case {
    const char *value;
    const char *key_name;   // null: none
    const char *axis_name;  // null: none
    float low, high;
  };
  const Case cases[] = {
      {"(-1.000000,1.000000)joystick-a-y", nullptr, "joystick-a-y", -1, 1},
      {"(k)x", "x", nullptr, 0, 1},
      {"x", "x", nullptr, 0, 1},
      {"  \t(k)left", "left", nullptr, 0, 1},
      {"(0.5,-0.25)", nullptr, "", 0.5f, -0.25f},
      {"(abc", "(abc", nullptr, 0, 1},
      {"(1,x)mouse-x", "(1,x)mouse-x", nullptr, 0, 1},
      {"(k)(k)", "(k)", nullptr, 0, 1},
      {"", "", nullptr, 0, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    config_reset_defaults();
    read_text(std::string("throttle_key=") + c.value + "\n");
    const KeyBinding &b = config()->keys[THROTTLE_KEY];
    if (c.key_name) {
      ASSERT_TRUE(b.key_name);
      EXPECT_STREQ(b.key_name, c.key_name);
    } else {
      EXPECT_FALSE(b.key_name);
    }
    if (c.axis_name) {
      ASSERT_TRUE(b.axis_name);
      EXPECT_STREQ(b.axis_name, c.axis_name);
    } else {
      EXPECT_FALSE(b.axis_name);
    }
    EXPECT_EQ(b.low, c.low);
    EXPECT_EQ(b.high, c.high);
  }
  // The two spellings of a key give the same interned name.
  config_reset_defaults();
  read_text("throttle_key=(k)q\nclutch_key=q\n");
  EXPECT_EQ(config()->keys[THROTTLE_KEY].key_name, config()->keys[CLUTCH_KEY].key_name);
  // Bindings are written last: key names with (k), axes with their range.
  read_text("left_key=(-0.5,0.75)joystick-a-x\n");
  std::string out = written();
  EXPECT_NE(out.find("\nthrottle_key=(k)q\n"), std::string::npos);
  EXPECT_NE(out.find("\nleft_key=(-0.500000,0.750000)joystick-a-x\n"), std::string::npos);
  EXPECT_GT(out.find("throttle_key="), out.find("demo_backups="));
}

TEST_F(ConfigTest, ServerHistoryIgnoresValuesThatDoNotFit) {
  std::string v126(126, 'a'), v127(127, 'b'), v200(200, 'c');
  read_text("server_name_hist00=" + v126 + "\nserver_name_hist01=" + v127 + "\nserver_name=" + v200 +
            "\nserver_name_hist02=short\nserver_name_hist02=" + v200 + "\n");
  const Config *c = config();
  EXPECT_EQ(std::string(c->server_name_hist[0]), v126);
  EXPECT_EQ(std::string(c->server_name_hist[1]), "");
  EXPECT_EQ(std::string(c->server_name_hist[2]), "short");
  EXPECT_EQ(std::string(c->server_name), std::string(127, 'c'));  // cut to its capacity
}

TEST_F(ConfigTest, LongLinesAreReadAsSeveralLines) {
  // 1 023 bytes without '=' then "laps=7": the continuation is a line of its own.
  read_text(std::string(1023, 'x') + "laps=7\n" + "fov=" + std::string(1100, '9') + "\n");
  EXPECT_EQ(config()->laps.value, 7);
  // fov's value fills the buffer; the rest of the digits form a line without '='.
  EXPECT_EQ(config()->fov.value, 170);
}

TEST_F(ConfigTest, PresetsSetTwelveKeys) {
  Config *c = config();
  struct Case {
    int preset;
    double ground_detail;
    const char *dim, *render, *shader;
    double roost;
  };
  const Case cases[] = {{1, 50, "64x64", "Hardware/Direct", "No", 0},
                        {2, 70, "128x128", "Shaders/Direct", "Yes", 1000},
                        {3, 90, "256x256", "Shaders/Direct", "Yes", 1000},
                        {0, 70, "64x64", "Software", "Yes", 1000}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.preset);
    ASSERT_TRUE(apply_graphics_preset(k.preset));
    EXPECT_EQ(c->ground_detail.value, k.ground_detail);
    EXPECT_STREQ(choice_text(&c->ground_texture_dim), k.dim);
    EXPECT_STREQ(choice_text(&c->render_texture), k.render);
    EXPECT_STREQ(choice_text(&c->use_shader), k.shader);
    EXPECT_EQ(c->roost_density.value, k.roost);
    EXPECT_EQ(current_graphics_preset(), k.preset);
  }
  range_set(&c->model_detail, 51);
  EXPECT_EQ(current_graphics_preset(), -1);
  EXPECT_FALSE(apply_graphics_preset(4));
  EXPECT_STREQ(graphics_preset_name(1), "Use High FPS Settings");
}

TEST_F(ConfigTest, WriteThenReadRestoresEverySetting) {
  const char *modes[] = {"Default Fullscreen", "Windowed", "800x600", "1024x768"};
  config_set_video_modes(modes, 4);
  // Move every setting away from its default through the file reader itself.
  std::string text =
      "xres=1024\nyres=768\ndraw_fps=1\ndraw_time=1\ndraw_ping=0\nspy=1\ntrack=desert\n"
      "record=Yes\nskill=Expert\nminutes=12\nlaps=3\nghost_fade_distance=20\ntime_trial_abort=No\n"
      "video_mode=800x600\nserver_name=race.example\nground_detail=33\nground_texture_detail=4\n"
      "ground_texture_dim=512x512\nground_mipmaps=No\ntexture_compress=Always\n"
      "render_texture=Shaders/Copy\nuse_shader=No\nroost_density=250\nlens_flare=No\n"
      "reflections=No\nhide_rider=Yes\nrigid_camera=Yes\nmodel_detail=10\nmodel_texture_detail=3\n"
      "fov=90\nfirst_person_height=0.5\nfirst_person_angle=12\nthird_person_height=7\n"
      "third_person_distance=15\nvolume=4\ncomp_volume=2\nplayback_mode=Race Against\n"
      "billboard_optimize_lookahead=4\nmessage_lines=9\ndemo_backups=2\n"
      "pause_key=(0.25,0.75)joystick-b-z\nstep_key=(k)F5\n"
      "bike=crf250(2009)\nname=Test Rider\nnumber=42\nstability=50\nroll_damping=66\n"
      "front_brake=Normal\nstop_wheelies=Front Only\nrider_mass_distribution=0.45\n";
  for (int g = 0; g < GATE_COUNT; g++) text += "slot" + std::string(g < 10 ? "0" : "") + std::to_string(g) + "=Robot (4 stroke)\n";
  for (int h = 0; h < SERVER_HISTORY; h++) text += "server_name_hist" + std::string(h < 10 ? "0" : "") + std::to_string(h) + "=host" + std::to_string(h) + "\n";
  read_text(text);
  const std::string first = written();
  EXPECT_NE(first.find("\nvideo_mode=800x600\n"), std::string::npos);
  EXPECT_NE(first.find("\nslot39=Robot (4 stroke)\n"), std::string::npos);
  EXPECT_NE(first.find("\nserver_name_hist15=host15\n"), std::string::npos);
  EXPECT_NE(first.find("\nroll_damping=66.000000\n"), std::string::npos);
  EXPECT_EQ(current_graphics_preset(), -1);

  config_reset_defaults();
  EXPECT_NE(written(), first);
  read_text(first);
  EXPECT_EQ(written(), first);
  EXPECT_EQ(config()->xres, 1024);
  EXPECT_STREQ(config()->track, "desert");
  EXPECT_EQ(config()->keys[PAUSE_KEY].low, 0.25f);
  EXPECT_STREQ(config()->keys[PAUSE_KEY].axis_name, "joystick-b-z");
  EXPECT_STREQ(choice_text(&bike_setup()->bike), "crf250(2009)");
}

TEST_F(ConfigTest, WrittenInTableOrderWithTheSetupBlockInside) {
  std::string out = written();
  std::vector<std::string> order = {"xres=", "yres=", "draw_fps=", "spy=", "track=", "record=",
                                    "skill=", "minutes=", "laps=", "slot00=", "slot39=",
                                    "ghost_fade_distance=", "time_trial_abort=", "bike=",
                                    "rider_mass_distribution=", "video_mode=", "server_name=",
                                    "server_name_hist00=", "server_name_hist15=", "ground_detail=",
                                    "playback_mode=", "billboard_optimize_lookahead=",
                                    "message_lines=", "demo_backups=", "throttle_key=",
                                    "screenshot_key="};
  size_t last = 0;
  for (size_t i = 0; i < order.size(); i++) {
    SCOPED_TRACE(order[i]);
    size_t p = i == 0 ? (out.rfind(order[i], 0) == 0 ? 0 : std::string::npos) : out.find("\n" + order[i]);
    ASSERT_NE(p, std::string::npos);
    if (i > 0) {
      EXPECT_GT(p, last);
    }
    last = p;
  }
  EXPECT_EQ(out.rfind("xres=640\n", 0), 0u);
  EXPECT_NE(out.find("\nscreenshot_key=(k)s\n"), std::string::npos);
}

TEST_F(ConfigTest, HomeConfigReadAndWritten) {
  EXPECT_FALSE(config_read()) << "no file: nothing changes";
  EXPECT_EQ(config()->laps.value, 5);
  config()->laps.value = 17;
  ASSERT_TRUE(config_write());
  EXPECT_NE(read_file(dir + "/home/Dirtvane/config").find("\nlaps=17.000000\n"), std::string::npos);
  config_reset_defaults();
  EXPECT_TRUE(config_read());
  EXPECT_EQ(config()->laps.value, 17);
}

TEST_F(ConfigTest, UnwritableConfigurationIsReported) {
  // A directory where the file should be: the open fails and the loss is reported.
  std::string path = dir + "/blocked";
  mkdir(path.c_str(), 0755);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(config_write_file(path.c_str()));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Configuration not saved"), std::string::npos);
  EXPECT_NE(err.find(path), std::string::npos);
  // A device that is always full: the open succeeds, the writes are lost at the flush.
  if (access("/dev/full", W_OK) == 0) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(config_write_file("/dev/full"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Configuration not saved: /dev/full"),
              std::string::npos);
  }
}

TEST_F(ConfigTest, RandomBytesAndGarbageLinesLeaveSettingsAlone) {
  const std::string before = written();
  Mt19937 mt;
  mt_seed(&mt, 20261211);
  std::string bytes;
  for (int i = 0; i < 200000; i++) bytes += (char)(mt_next(&mt) & 0xff);
  read_text(bytes);
  EXPECT_EQ(written(), before);

  // 100 000 lines naming real keys with values that do not parse or name no option.
  const char *keys[] = {"xres", "laps", "skill", "fov", "slot07", "stability", "bike",
                        "record", "render_texture", "use_fbo", "rider_mass_distribution",
                        "arcade", "message_lines", "Laps", "laps ", " xres", ""};
  const char *values[] = {"", "abc", "yes", "NO", "Expert ", " x", "-", "+", ".", "e5", "?"};
  std::string lines;
  for (int i = 0; i < 100000; i++) {
    lines += keys[mt_next(&mt) % (sizeof keys / sizeof keys[0])];
    lines += "=";
    lines += values[mt_next(&mt) % (sizeof values / sizeof values[0])];
    lines += (i % 3) ? "\n" : "\r\n";
  }
  read_text(lines);
  EXPECT_EQ(written(), before);
}

TEST_F(ConfigTest, RunDefaultsFollowTheSettings) {
  ConfigRunDefaults d = config_run_defaults();
  EXPECT_EQ(d.texture_detail, 1);
  EXPECT_EQ(d.ground_texture_detail, 1);
  EXPECT_EQ(d.roost_frequency, 1000);
  EXPECT_FLOAT_EQ(d.ground_detail, 0.7f);
  EXPECT_FLOAT_EQ(d.lod_scale, 1.0f);
  EXPECT_EQ(d.width, 640);
  EXPECT_EQ(d.draw_ping, 1);
  apply_graphics_preset(1);
  range_set(&config()->ground_detail, 0);
  d = config_run_defaults();
  EXPECT_EQ(d.texture_detail, 3);
  EXPECT_EQ(d.roost_frequency, 0);
  EXPECT_GT(d.ground_detail, 0) << "never a division by zero";
  EXPECT_FLOAT_EQ(d.lod_scale, 2.0f);
}
