// Fuzz target: the tileinfo and legacy texturelist readers and the transition codes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "core/frame.h"
#include "files/files.h"
#include "fuzz_support.h"
#include "render/texture.h"
#include "terrain/terrain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Texture names are opened as they stand; names with a '/' could reach devices.
  if (memchr(data, '/', size)) return 0;
  static const std::string path = fuzz_support::scratch_dir("tileinfo") + "/tileinfo";
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(data, 1, size, f);
  fclose(f);
  static Terrain *t = (Terrain *)calloc(1, sizeof(Terrain));
  for (int legacy = 0; legacy < 2; legacy++) {
    DataFile *file = datafile_open(path.c_str(), "rb");
    if (!file) abort();
    t->render_method = size & 1 ? 1 : 2;
    if (legacy) texturelist_read(t, file);
    else surface_table_read(t, file);
    datafile_close(file);
    for (int i = 0; i < t->surface_count; i++) {
      friction_at(&t->surfaces[i], 12.0f);
      float a, b;
      roll_resist_at(&t->surfaces[i], 12.0f, &a, &b);
    }
  }
  message_log_clear();
  texture_reset_for_tests();
  return 0;
}
