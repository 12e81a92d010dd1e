// Fuzz target: random bytes read as a configuration file and as a bike setup file, then the
// settings written out and read back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/config.h"
#include "files/files.h"

namespace {

std::string s_dir;

void cleanup() {
  if (s_dir.empty()) return;
  std::string cmd = "rm -rf '" + s_dir + "'";
  if (system(cmd.c_str()) != 0) fprintf(stderr, "fuzz_config: could not remove %s\n", s_dir.c_str());
}

// Empty home and data directories of our own, so that the texture lists scan nothing else.
void prepare() {
  if (!s_dir.empty()) return;
  s_dir = "/tmp/fuzz_config_" + std::to_string((long)getpid());
  std::string cmd = "mkdir -p '" + s_dir + "/home' '" + s_dir + "/data'";
  if (system(cmd.c_str()) != 0) abort();
  setenv("XDG_DATA_HOME", (s_dir + "/home").c_str(), 1);
  setenv("DV_HOME", (s_dir + "/data").c_str(), 1);
  datafile_reset_for_tests();
  atexit(cleanup);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  prepare();
  std::string in = s_dir + "/in", out = s_dir + "/out";
  FILE *f = fopen(in.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);

  config_reset_defaults();
  config_read_file(in.c_str());
  setup_read_file(in.c_str());
  if (config_write_file(out.c_str())) {
    config_reset_defaults();
    config_read_file(out.c_str());
  }
  return 0;
}
