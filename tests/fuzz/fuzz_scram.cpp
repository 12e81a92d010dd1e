// Fuzzes the scrambled layer: raw headers, and valid headers over fuzzed plain lengths and
// contents, alone and under the gzip layer.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/datafile_local.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &root = fuzz_support::data_dirs("scram", "", "");
  if (size < 1) return 0;
  int mode = data[0];
  std::vector<uint8_t> file;
  if ((mode & 1) == 0 || size < 5) {
    file.assign(data + 1, data + size);  // the bytes as they are
  } else {
    // A header with the fuzzed plain length, then the rest as plain blocks encrypted in
    // place (a trailing partial block stays as it is: a short block).
    uint32_t length;
    memcpy(&length, data + 1, 4);
    file.resize(SCRAM_HEADER_SIZE);
    scram_make_header(file.data(), length);
    file.insert(file.end(), data + 5, data + size);
    for (size_t at = SCRAM_HEADER_SIZE; at + 16 <= file.size(); at += 16)
      scram_encrypt_block(file.data() + at, (uint32_t)(at - SCRAM_HEADER_SIZE));
  }
  const char *suffix = (mode & 2) ? ".gz.scram" : ".scram";
  remove((root + "/f.scram").c_str());
  remove((root + "/f.gz.scram").c_str());
  std::string path = root + "/f" + suffix;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(file.data(), 1, file.size(), f);
  fclose(f);
  DataFile *d = datafile_open((root + "/f").c_str(), "rb");
  if (!d) return 0;
  size_t total = 0;
  for (int i = 0; i < 40 && datafile_getc(d) >= 0; i++) total++;
  char buf[3000];
  size_t n;
  while (total < (8u << 20) && (n = datafile_read(d, buf, (mode & 4) ? 17 : sizeof buf)) > 0)
    total += n;
  datafile_close(d);
  return 0;
}
