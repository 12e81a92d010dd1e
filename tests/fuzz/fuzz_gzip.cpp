// Fuzzes the gzip layer: the member header parser and raw inflate through the handle.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/datafile_local.h"

static std::string g_root;

static void remove_all() {
  remove((g_root + "/data/f.gz").c_str());
  rmdir((g_root + "/data").c_str());
  rmdir(g_root.c_str());
}

static void set_up() {
  if (!g_root.empty()) return;
  g_root = "/tmp/fuzz_gzip_" + std::to_string(getpid());
  mkdir(g_root.c_str(), 0700);
  mkdir((g_root + "/data").c_str(), 0700);
  setenv("XDG_DATA_HOME", (g_root + "/data").c_str(), 1);
  setenv("DV_HOME", (g_root + "/data").c_str(), 1);
  atexit(remove_all);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  set_up();
  gzip_header_length(data, (int)(size > 65536 ? 65536 : size));
  std::string path = g_root + "/data/f.gz";
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  // Opened without its suffix, so the gzip layer is chosen from the name.
  DataFile *d = datafile_open((g_root + "/data/f").c_str(), "rb");
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
