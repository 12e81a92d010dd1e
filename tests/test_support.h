// Shared test fixtures: a log the test can read back, and a home directory of its own.
#pragma once
#include <ftw.h>
#include <gtest/gtest.h>
#include <ode/ode.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"

namespace test_support {

inline std::string &log_path() {
  static std::string path;
  return path;
}

// Starts ODE for the test binary and sends the game's log to a file of its own (flushed
// after each entry), removed at the end.
class LoggedEnvironment : public ::testing::Environment {
 public:
  explicit LoggedEnvironment(const char *tag) : tag_(tag) {}
  void SetUp() override {
    dInitODE2(0);
    log_path() = "/tmp/test_" + tag_ + "_" + std::to_string(getpid()) + ".log";
    setenv("VELK_LOGFILE", log_path().c_str(), 1);
    velk_log("\x13" "FLUSH");
  }
  void TearDown() override {
    dCloseODE();
    unlink(log_path().c_str());
  }

 private:
  std::string tag_;
};

// Everything in the file at `path`; empty when it cannot be read.
inline std::string read_file(const std::string &path) {
  std::string text;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

// Writes `text` to `path`, making the directories above it first.
inline void write_file(const std::string &path, const std::string &text) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f) << path;
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

// Everything logged so far.
inline std::string log_text() { return read_file(log_path()); }

// Removes `path` and everything below it (links themselves, never what they point at).
inline bool remove_tree(const std::string &path) {
  auto remove_one = [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); };
  return nftw(path.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

// Points the data files at the starter data (DV_HOME, unless already set) and at a home
// directory of the test's own, /tmp/dv_test_<tag>_<pid>; returns the home's path.
inline std::string use_test_home(const char *tag) {
  if (!getenv("DV_HOME")) setenv("DV_HOME", DV_BINARY_DIR, 1);
  std::string home = std::string("/tmp/dv_test_") + tag + "_" + std::to_string(getpid());
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  datafile_reset_for_tests();
  return home;
}

// Each test gets a fresh directory /tmp/dv_test_XXXXXX (`dir`) holding its home (`dir`/home,
// made when the game first writes there) and data directory (`dir`/data), with an empty file
// index and the default settings; the directory goes with the test.
class TempHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/dv_test_XXXXXX";
    ASSERT_TRUE(mkdtemp(name));
    dir = name;
    ASSERT_EQ(mkdir((dir + "/data").c_str(), 0755), 0);
    setenv("XDG_DATA_HOME", (dir + "/home").c_str(), 1);
    setenv("DV_HOME", (dir + "/data").c_str(), 1);
    datafile_reset_for_tests();
    config_reset_defaults();
  }
  void TearDown() override {
    EXPECT_TRUE(remove_tree(dir)) << dir;
    datafile_reset_for_tests();
  }
  std::string dir;
};

}  // namespace test_support
