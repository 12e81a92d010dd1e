// Shared test fixtures: a log the test can read back, and a home directory of its own.
#pragma once
#include <gtest/gtest.h>
#include <ode/ode.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

// Everything logged so far.
inline std::string log_text() {
  std::string text;
  FILE *f = fopen(log_path().c_str(), "rb");
  if (!f) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
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

}  // namespace test_support
