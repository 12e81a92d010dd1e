// Fuzz target: the "ct03" learnt-lines reader, then the analysis over what it read. The
// store has four sections, so inputs that start "ct03 4" reach the records.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "robot/robot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzz_support::scratch_dir("lines") + "/lines";
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
  return 0;
}
