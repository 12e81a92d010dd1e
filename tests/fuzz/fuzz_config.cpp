// Fuzz target: random bytes read as a configuration file and as a bike setup file, then the
// settings written out and read back.
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/config.h"
#include "files/files.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Empty home and data directories of our own, so that the texture lists scan nothing else.
  const std::string &dir = fuzz_support::data_dirs("config", "home", "data");
  std::string in = dir + "/in", out = dir + "/out";
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
