// Fuzzes the scrambled layer: raw headers, and valid headers over fuzzed plain lengths and
// contents, alone and under the gzip layer.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/datafile_local.h"

static std::string g_root;

static void remove_all() {
  remove((g_root + "/f.scram").c_str());
  remove((g_root + "/f.gz.scram").c_str());
  rmdir(g_root.c_str());
}

static void set_up() {
  if (!g_root.empty()) return;
  g_root = "/tmp/fuzz_scram_" + std::to_string(getpid());
  mkdir(g_root.c_str(), 0700);
  setenv("XDG_DATA_HOME", g_root.c_str(), 1);
  setenv("DV_HOME", g_root.c_str(), 1);
  atexit(remove_all);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  set_up();
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
  remove((g_root + "/f.scram").c_str());
  remove((g_root + "/f.gz.scram").c_str());
  std::string path = g_root + "/f" + suffix;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(file.data(), 1, file.size(), f);
  fclose(f);
  DataFile *d = datafile_open((g_root + "/f").c_str(), "rb");
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
