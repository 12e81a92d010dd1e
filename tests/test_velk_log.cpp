// The platform layer's log, options and aliases.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/velk.h"

static int32_t s_fake_s, s_fake_u;
static void fake_clock(int32_t *s, int32_t *u) {
  *s = s_fake_s;
  *u = s_fake_u;
}

static std::string slurp(const std::string &path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

class VelkLog : public ::testing::Test {
 protected:
  std::string path = std::string("/tmp/dv_velk_log_") + std::to_string(getpid()) + ".txt";
  void SetUp() override {
    unsetenv("VELK_LOGFILE");
    unsetenv("VELK_LOGFILE_FLAGS");
    unsetenv("VELK_OPTIONS");
    velk_reset_for_tests();
    velk_set_clock_source(fake_clock);
    s_fake_s = 3725;
    s_fake_u = 120000;
    remove(path.c_str());
  }
  void TearDown() override {
    velk_reset_for_tests();
    remove(path.c_str());
  }
};

TEST_F(VelkLog, OpenRequestPrefixAndClose) {
  velk_log("VELK_LOGFILE=%s", path.c_str());
  velk_log("hello %d\n", 7);
  velk_log("\x13" "NOFLUSH");
  velk_log("\x13" "SOMETHING");
  velk_log(nullptr);
  velk_log("VELK_LOGFILE=/tmp/other");  // never reopens
  std::string want = "[1:02:05.12] Logfile \"" + path + "\" opened\n" +
                     "[1:02:05.12] VELK 0.31\n[1:02:05.12] hello 7\n";
  EXPECT_EQ(slurp(path), want);
}

TEST_F(VelkLog, NoNameMeansNoLogEver) {
  velk_log("first\n");
  velk_log("VELK_LOGFILE=%s", path.c_str());
  FILE *f = fopen(path.c_str(), "r");
  EXPECT_EQ(f, nullptr);
  if (f) fclose(f);
}

TEST_F(VelkLog, EnvironmentNameWinsAndAppendForms) {
  {
    std::ofstream(path) << "old\n";
  }
  setenv("VELK_LOGFILE", (">>" + path).c_str(), 1);
  velk_log("VELK_LOGFILE=/tmp/not_this_one");
  velk_log(nullptr);
  std::string text = slurp(path);
  EXPECT_EQ(text.rfind("old\n", 0), 0u);
  EXPECT_NE(text.find("Logfile \"" + path + "\" opened"), std::string::npos);
  EXPECT_EQ(text.find("not_this_one"), std::string::npos);

  velk_reset_for_tests();
  velk_set_clock_source(fake_clock);
  setenv("VELK_LOGFILE", path.c_str(), 1);
  setenv("VELK_LOGFILE_FLAGS", "a", 1);
  velk_log("again\n");
  velk_log(nullptr);
  EXPECT_NE(slurp(path).find("old\n"), std::string::npos);
}

TEST_F(VelkLog, Options) {
  struct Case {
    const char *env, *name;
    int def, want;
    bool is_bool;
  } cases[] = {
      {"[sound-rate:44100]", "sound-rate", 22050, 44100, false},
      {"[sound-rate:fast]", "sound-rate", 22050, 22050, false},
      {"[sound-rate:-5]", "sound-rate", 22050, -5, false},
      {"x[fullscreen:YES]y", "fullscreen", 0, 0, true},
      {"[fullscreen:on]", "fullscreen", 0, 1, true},
      {"[threaded:no][threaded:yes]", "threaded", 1, 0, true},
      {"[dsnd:off]", "dsnd", 1, 0, true},
      {"", "waveout", 1, 1, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.env);
    velk_reset_for_tests();
    setenv("VELK_OPTIONS", c.env, 1);
    int got = c.is_bool ? velk_option_bool(c.name, c.def) : velk_option_int(c.name, c.def);
    EXPECT_EQ(got, c.want);
  }
  std::string long_name(70, 'a');
  setenv("VELK_OPTIONS", ("[" + long_name.substr(0, 60) + ":12]").c_str(), 1);
  velk_reset_for_tests();
  EXPECT_EQ(velk_option_int(long_name.c_str(), 3), 12);
}

TEST_F(VelkLog, AliasFirstWins) {
  EXPECT_EQ(velk_alias("mouse-x", "Mouse.axis[0]"), 1);
  EXPECT_EQ(velk_alias("mouse-x", "Mouse.axis[1]"), 0);
  EXPECT_STREQ(velk_resolve("mouse-x"), "Mouse.axis[0]");
  const char *name = "unaliased";
  EXPECT_EQ(velk_resolve(name), name);
}
