// The command line: every option in its separate, joined and missing-value forms, "--",
// file arguments, the messages and the exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/core.h"
#include "files/files.h"

namespace {

struct Parsed {
  int status;          // -1: go on
  std::string errors;  // standard error
  RunOptions options;
};

Parsed parse(const std::vector<std::string> &args) {
  static std::vector<std::string> keep;  // the options point into the arguments
  keep = args;
  keep.insert(keep.begin(), "dirtvane");
  std::vector<char *> argv;
  for (std::string &a : keep) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Parsed p;
  run_options_defaults(&p.options);
  p.options.mmx = true;
  testing::internal::CaptureStderr();
  p.status = parse_command_line((int)keep.size(), argv.data(), &p.options);
  p.errors = testing::internal::GetCapturedStderr();
  return p;
}

using Field = std::function<double(const RunOptions &)>;

}  // namespace

TEST(CommandLine, DefaultsBeforeAnyOption) {
  Parsed p = parse({});
  EXPECT_EQ(p.status, -1);
  EXPECT_EQ(p.errors, "");
  const RunOptions &o = p.options;
  EXPECT_FALSE(o.flat_shading || o.sound_off || o.no_vertex_arrays || o.practice || o.warp);
  EXPECT_EQ(o.debug_level, 0);
  EXPECT_EQ(o.erosion, 0);
  EXPECT_EQ(o.max_detail_distance, 70);
  EXPECT_EQ(o.detail_fade_end, 75);
  EXPECT_EQ(o.locked_fps, 0);
  EXPECT_EQ(o.fake_lag, 0);
  EXPECT_EQ(o.fake_loss, 0);
  EXPECT_TRUE(o.show_paused && o.show_hud);
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 480);
  EXPECT_EQ(o.depth, 16);
  EXPECT_EQ(o.zdepth, 16);
  EXPECT_EQ(o.draw_render_stats, 0);
  EXPECT_FLOAT_EQ(o.chase_center.y, 2.52f);
  EXPECT_FLOAT_EQ(o.chase_center.z, 0.52f);
  EXPECT_EQ(o.file, nullptr);
  EXPECT_EQ(o.track, nullptr);
}

TEST(CommandLine, FlagOptions) {
  struct Case {
    const char *option;
    Field field;
    double expected;
  };
  const Case cases[] = {
      {"--fugly", [](const RunOptions &o) { return o.flat_shading; }, 1},
      {"--nosound", [](const RunOptions &o) { return o.sound_off; }, 1},
      {"--novertexarrays", [](const RunOptions &o) { return o.no_vertex_arrays; }, 1},
      {"--learn", [](const RunOptions &o) { return o.learn_lines; }, 1},
      {"--nommx", [](const RunOptions &o) { return o.mmx; }, 0},
      {"--debug", [](const RunOptions &o) { return o.debug_level; }, 1},
      {"--super-debug", [](const RunOptions &o) { return o.debug_level; }, 2},
      {"--practice", [](const RunOptions &o) { return o.practice; }, 1},
      {"--warp", [](const RunOptions &o) { return o.warp; }, 1},
      {"--record-video", [](const RunOptions &o) { return o.record_video; }, 1},
      {"--editor", [](const RunOptions &o) { return o.editor; }, 1},
      {"--hidden-pause", [](const RunOptions &o) { return o.show_paused; }, 0},
      {"--hidden-hud", [](const RunOptions &o) { return o.show_hud; }, 0},
      {"--accurate-skip", [](const RunOptions &o) { return o.accurate_skip; }, 1},
      {"--glfinish", [](const RunOptions &o) { return o.glfinish; }, 1},
      {"--print-orientation", [](const RunOptions &o) { return o.print_orientation; }, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.option);
    Parsed p = parse({c.option});
    EXPECT_EQ(p.status, -1);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(c.field(p.options), c.expected);
    // A flag takes no value: joined to one it is not that option.
    Parsed joined = parse({std::string(c.option) + "=1"});
    EXPECT_EQ(joined.status, 1);
    EXPECT_EQ(joined.errors, "bad option '" + std::string(c.option) + "=1'\n");
  }
  Parsed p = parse({"--learn", "--nolearn"});
  EXPECT_FALSE(p.options.learn_lines);
}

TEST(CommandLine, ValueOptionsInEveryForm) {
  // Each case: option, value, the field it sets and the value expected there, and what a
  // missing value does (its message, or "" when it is no error).
  struct Case {
    const char *option;
    const char *value;
    Field field;
    double expected;
    bool missing_is_error;
  };
  auto td = [](const RunOptions &o) { return o.texture_detail; };
  auto gtd = [](const RunOptions &o) { return o.ground_texture_detail; };
  const Case cases[] = {
      {"--texture-detail", "2", td, 2, true},
      {"--texture-detail", "9", td, 4, true},
      {"--texture-detail", "-3", gtd, 0, true},
      {"--texture-detail", "9", gtd, 4, true},
      {"--ground-texture-detail", "3", gtd, 3, true},
      {"--ground-texture-detail", "7", gtd, 4, true},
      {"--roostfrequency", "1500", [](const RunOptions &o) { return o.roost_frequency; }, 1000, true},
      {"--roostfrequency", "-5", [](const RunOptions &o) { return o.roost_frequency; }, 0, true},
      {"--erode", "12.5", [](const RunOptions &o) { return o.erosion; }, 12.5, true},
      {"--erode", "250", [](const RunOptions &o) { return o.erosion; }, 100, true},
      {"--erode", "-1", [](const RunOptions &o) { return o.erosion; }, 0, true},
      {"--detail", "-7.5", [](const RunOptions &o) { return o.ground_detail; }, -7.5, true},
      {"--max-detail-distance", "100",
       [](const RunOptions &o) { return o.max_detail_distance; }, 100, true},
      {"--max-detail-distance", "100", [](const RunOptions &o) { return o.detail_fade_end; }, 105,
       true},
      {"--lod-scale", "1e9", [](const RunOptions &o) { return o.lod_scale; }, 1e6, true},
      {"--lod-scale", "0", [](const RunOptions &o) { return o.lod_scale; }, (float)1e-6, true},
      {"--lod-bias", "-2.5", [](const RunOptions &o) { return o.lod_bias; }, -2.5, true},
      {"--lock-fps", "30", [](const RunOptions &o) { return o.locked_fps; }, 30, true},
      {"--fake-lag", "250", [](const RunOptions &o) { return o.fake_lag; }, 0.25, true},
      {"--fake-lag", "5000", [](const RunOptions &o) { return o.fake_lag; }, 1, true},
      {"--fake-lag", "-10", [](const RunOptions &o) { return o.fake_lag; }, 0, true},
      {"--fake-loss", "150", [](const RunOptions &o) { return o.fake_loss; }, 100, true},
      {"--fake-loss", "20", [](const RunOptions &o) { return o.fake_loss; }, 20, true},
      {"--rotate-lineup", "3", [](const RunOptions &o) { return o.rotate_lineup; }, 3, false},
      {"--rotate-lineup", "x", [](const RunOptions &o) { return o.rotate_lineup; }, 0, false},
      {"--width", "800", [](const RunOptions &o) { return o.width; }, 800, false},
      {"--width", "wide", [](const RunOptions &o) { return o.width; }, 640, false},
      {"--width", "", [](const RunOptions &o) { return o.width; }, 640, false},
      {"--height", "600", [](const RunOptions &o) { return o.height; }, 600, false},
      {"--depth", "32", [](const RunOptions &o) { return o.depth; }, 32, false},
      {"--depth", "deep", [](const RunOptions &o) { return o.depth; }, 0, false},
      {"--zdepth", "24", [](const RunOptions &o) { return o.zdepth; }, 24, false},
      {"--draw-fps", "1", [](const RunOptions &o) { return o.draw_fps; }, 1, false},
      {"--draw-time", "1", [](const RunOptions &o) { return o.draw_time; }, 1, false},
      {"--draw-ping", "2", [](const RunOptions &o) { return o.draw_ping; }, 2, false},
      {"--draw-render-stats", "1", [](const RunOptions &o) { return o.draw_render_stats; }, 1, false},
      {"--chase-center", "1,2.5,-3", [](const RunOptions &o) { return o.chase_center.z; }, -3, true},
      {"--chase-center", "1,2.5,-3", [](const RunOptions &o) { return o.chase_center.y; }, 2.5, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.value);
    Parsed separate = parse({c.option, c.value});
    Parsed joined = parse({std::string(c.option) + "=" + c.value});
    for (const Parsed *p : {&separate, &joined}) {
      EXPECT_EQ(p->status, -1);
      EXPECT_EQ(p->errors, "");
      EXPECT_FLOAT_EQ((float)c.field(p->options), (float)c.expected);
      EXPECT_EQ(p->options.file, nullptr);  // the value is not a file argument
    }
    Parsed missing = parse({c.option});
    if (c.missing_is_error) {
      EXPECT_EQ(missing.status, 1);
      EXPECT_EQ(missing.errors, "Bad arg for " + std::string(c.option) + "\n");
    } else {
      EXPECT_EQ(missing.status, -1);
      EXPECT_EQ(missing.errors, "");
    }
  }
}

TEST(CommandLine, UnreadableValuesEndWithTheOptionsMessage) {
  const char *const numeric[] = {"--texture-detail", "--ground-texture-detail", "--roostfrequency",
                                 "--erode", "--detail", "--max-detail-distance", "--lod-scale",
                                 "--lod-bias", "--lock-fps", "--fake-lag", "--fake-loss",
                                 "--chase-center"};
  for (const char *option : numeric) {
    SCOPED_TRACE(option);
    std::string expected = "Bad arg for " + std::string(option) + "\n";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{option, "abc"}, {std::string(option) + "=abc"}}) {
      Parsed p = parse(args);
      EXPECT_EQ(p.status, 1);
      EXPECT_EQ(p.errors, expected);
    }
  }
  // An empty value after '=' is a bad float, while --width keeps its value.
  EXPECT_EQ(parse({"--erode="}).errors, "Bad arg for --erode\n");
  EXPECT_EQ(parse({"--width="}).status, -1);
  // Fewer than three numbers for the chase centre; infinite and NaN floats are refused.
  EXPECT_EQ(parse({"--chase-center", "1,2"}).errors, "Bad arg for --chase-center\n");
  EXPECT_EQ(parse({"--lod-scale=nan"}).errors, "Bad arg for --lod-scale\n");
  EXPECT_EQ(parse({"--erode", "inf"}).errors, "Bad arg for --erode\n");
}

TEST(CommandLine, TextOptions) {
  Parsed p = parse({"--track", "rabbithill", "--password=secret", "--record-audio", "out.raw"});
  EXPECT_EQ(p.status, -1);
  EXPECT_STREQ(p.options.track, "rabbithill");
  EXPECT_STREQ(p.options.password, "secret");
  EXPECT_STREQ(p.options.record_audio, "out.raw");
  // A missing value leaves the setting unset.
  p = parse({"--track"});
  EXPECT_EQ(p.status, -1);
  EXPECT_EQ(p.options.track, nullptr);
  // --connect loses a leading "dirtvane:" and drops the start track.
  struct Case {
    const char *value, *expected;
  };
  for (Case c : {Case{"dirtvane:race.example.org:19800", "race.example.org:19800"},
                 Case{"race.example.org", "race.example.org"}, Case{"Dirtvane:x", "Dirtvane:x"},
                 Case{"dirtvane:", ""}}) {
    SCOPED_TRACE(c.value);
    p = parse({"--track", "rabbithill", "--connect", c.value});
    EXPECT_STREQ(p.options.connect, c.expected);
    EXPECT_EQ(p.options.track, nullptr);
  }
  // --bikes says it does nothing, takes its value and goes on.
  p = parse({"--bikes", "5", "demo.dvdemo"});
  EXPECT_EQ(p.status, -1);
  EXPECT_EQ(p.errors, "--bikes doesn't do anything anymore\n");
  EXPECT_STREQ(p.options.file, "demo.dvdemo");
  // A value in the next argument is taken whatever it looks like.
  p = parse({"--width", "--debug"});
  EXPECT_EQ(p.options.debug_level, 0);
  EXPECT_EQ(p.options.width, 640);
}

TEST(CommandLine, FileArgumentsAndDoubleDash) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char *errors;
    const char *file;  // expected file argument, null for none
  };
  const Case cases[] = {
      {{"demos/a.dvdemo"}, -1, "", "demos/a.dvdemo"},
      {{"a.dvdemo", "b.dvdemo"}, 1, "Too many files!\n", "a.dvdemo"},
      {{"-x"}, 1, "bad option '-x'\n", nullptr},
      {{"-"}, 1, "bad option '-'\n", nullptr},
      {{"--bogus", "--open-home"}, 1, "bad option '--bogus'\n", nullptr},
      {{"--", "-demo"}, -1, "", "-demo"},
      {{"--", "--debug"}, -1, "", "--debug"},
      {{"--", "--"}, -1, "", "--"},
      {{"--"}, -1, "", nullptr},
      {{"--debug", "--"}, -1, "", nullptr},
      {{"a", "--", "b"}, 1, "Too many files!\n", "a"},
      {{"--", "--width=5"}, -1, "", "--width=5"},
  };
  for (const Case &c : cases) {
    std::string what;
    for (const std::string &a : c.args) what += a + " ";
    SCOPED_TRACE(what);
    Parsed p = parse(c.args);
    EXPECT_EQ(p.status, c.status);
    EXPECT_EQ(p.errors, c.errors);
    if (c.file) EXPECT_STREQ(p.options.file, c.file);
    else EXPECT_EQ(p.options.file, nullptr);
  }
  // After "--" options no longer apply.
  Parsed p = parse({"--", "x", "--debug"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.options.debug_level, 0);
}

TEST(CommandLine, OpenHomeExitsAtOnceAheadOfBadOptions) {
  std::string root = "/tmp/dv_cmdline_" + std::to_string(getpid());
  setenv("XDG_DATA_HOME", root.c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  datafile_reset_for_tests();
  Parsed p = parse({"--open-home", "--bogus", "a", "b"});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.errors, "");
  // The home directory is made even with no desktop to show it.
  EXPECT_EQ(access((root + "/Dirtvane").c_str(), F_OK), 0);
  EXPECT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
  datafile_reset_for_tests();
}

TEST(CommandLine, MatchOption) {
  char a0[] = "--width", a1[] = "800", a2[] = "--width=9", a3[] = "--", a4[] = "--widths";
  char *argv[] = {a0, a1, a2, a3, a4};
  ArgCursor c = {5, argv, false};
  const char *v = nullptr;
  EXPECT_TRUE(match_option(&c, "--width", &v));
  EXPECT_STREQ(v, "800");
  EXPECT_EQ(c.left, 3);
  EXPECT_FALSE(match_option(&c, "--height", &v));
  EXPECT_TRUE(match_option(&c, "--width", &v));
  EXPECT_STREQ(v, "9");
  EXPECT_FALSE(match_option(&c, "--debug", nullptr));  // a flag does not end options
  EXPECT_FALSE(c.options_ended);
  EXPECT_FALSE(match_option(&c, "--width", &v));  // "--" is consumed and ends options
  EXPECT_TRUE(c.options_ended);
  EXPECT_EQ(c.left, 1);
  EXPECT_FALSE(match_option(&c, "--widths", nullptr));
  EXPECT_EQ(c.left, 1);
}
