// Fuzzes the gzip layer: the member header parser and raw inflate through the handle.
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/datafile_local.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &root = fuzz_support::data_dirs("gzip", "data", "data");
  gzip_header_length(data, (int)(size > 65536 ? 65536 : size));
  std::string path = root + "/data/f.gz";
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  // Opened without its suffix, so the gzip layer is chosen from the name.
  DataFile *d = datafile_open((root + "/data/f").c_str(), "rb");
  if (!d) return 0;
  // Byte reads, a pushback, then large reads straight into the buffer.
  size_t total = 0;
  for (int i = 0; i < 100 && datafile_getc(d) >= 0; i++) total++;
  datafile_ungetc(d, 'x');
  char buf[5000];
  size_t n;
  while (total < (8u << 20) && (n = datafile_read(d, buf, sizeof buf)) > 0) total += n;
  datafile_close(d);
  return 0;
}
