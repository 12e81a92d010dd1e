// Fuzzes the command-line parser: the input is split at zero bytes into arguments.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/core.h"
#include "fuzz_support.h"

static void set_up() {
  static bool done = false;
  if (done) return;
  done = true;
  // --open-home makes the home directory: keep it in a directory of our own, and show it
  // to no desktop.
  setenv("XDG_DATA_HOME", fuzz_support::scratch_dir("cmdline").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  set_up();
  std::vector<std::string> args = {"dirtvane"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 64; i++) {
    if (data[i]) {
      current += (char)data[i];
    } else {
      args.push_back(current);
      current.clear();
    }
  }
  if (!current.empty() && args.size() < 64) args.push_back(current);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  RunOptions o;
  run_options_defaults(&o);
  parse_command_line((int)args.size(), argv.data(), &o);
  return 0;
}
