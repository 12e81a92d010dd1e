// Fuzzes the .saf archive reader: the header parser, the file index built over an archive,
// and reading every member it names through the layers.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/datafile_local.h"

static std::string g_root;

static void remove_all() {
  std::string data = g_root + "/data/a.saf";
  remove(data.c_str());
  rmdir((g_root + "/data").c_str());
  rmdir((g_root + "/xdg").c_str());
  rmdir(g_root.c_str());
}

static void set_up() {
  if (!g_root.empty()) return;
  g_root = "/tmp/fuzz_archive_" + std::to_string(getpid());
  mkdir(g_root.c_str(), 0700);
  mkdir((g_root + "/data").c_str(), 0700);
  mkdir((g_root + "/xdg").c_str(), 0700);  // no Dirtvane/ inside: the home walk finds nothing
  setenv("XDG_DATA_HOME", (g_root + "/xdg").c_str(), 1);
  setenv("DV_HOME", (g_root + "/data").c_str(), 1);
  atexit(remove_all);
}

static void count_member(void *context, const char *, int32_t, int32_t) { ++*(int *)context; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  set_up();
  // The header parser alone, on a memory stream.
  if (size) {
    FILE *m = fmemopen((void *)data, size, "rb");
    if (m) {
      int members = 0;
      archive_read_header(m, count_member, &members);
      fclose(m);
    }
  }
  // The whole path: index, lookup and layered reads of every member.
  std::string path = g_root + "/data/a.saf";
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  datafile_reset_for_tests();
  const char *const *names = data_names();
  char line[256];
  for (int i = 0; data_describe_entry(i, line, sizeof line); i++) {
  }
  for (int i = 0; names[i] && i < 64; i++) {
    std::string name = std::string("@") + names[i];
    DataFile *d = datafile_open(name.c_str(), "rb");
    if (!d) continue;
    char buf[4096];
    size_t total = 0, n;
    while (total < (4u << 20) && (n = datafile_read(d, buf, sizeof buf)) > 0) total += n;
    datafile_close(d);
  }
  datafile_reset_for_tests();
  return 0;
}
