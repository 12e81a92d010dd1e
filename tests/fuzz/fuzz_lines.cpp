// Fuzz target: the "ct03" learnt-lines reader, then the analysis over what it read. The
// store has four sections, so inputs that start "ct03 4" reach the records.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "robot/robot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::string path = "/tmp/fuzz_lines_" + std::to_string(getpid());
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  allocate_lines(4);
  lines_read_file(path.c_str());
  lines_analyse();
  double best[LINE_SLOTS];
  line_chain_costs(0, 8, 3, best);
  free_lines();
  unlink(path.c_str());
  return 0;
}
