// Fuzzes the .saf archive reader: the header parser, the file index built over an archive,
// and reading every member it names through the layers.
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/datafile_local.h"
#include "fuzz_support.h"

static void count_member(void *context, const char *, int32_t, int32_t) { ++*(int *)context; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The home has no Dirtvane/ inside: the home walk finds nothing.
  const std::string &root = fuzz_support::data_dirs("archive", "xdg", "data");
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
  std::string path = root + "/data/a.saf";
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
