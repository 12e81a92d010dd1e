// Fuzz target: the terrain files of a track through the whole terrain load. The first byte
// picks the file the rest becomes (terrain.hf, decals, shadows.pgm or shadingx2.ppm); the
// other files are fixed and valid.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "core/frame.h"
#include "fuzz_support.h"
#include "render/texture.h"
#include "terrain/terrain.h"

static std::string s_dir;
static const char *const kFiles[] = {"terrain.hf", "decals", "shadows.pgm", "shadingx2.ppm",
                                     "shading.ppm", "texturelist", "tilemap"};

static void write_file(const char *name, const void *data, size_t size) {
  FILE *f = fopen((s_dir + "/" + name).c_str(), "wb");
  if (!f) abort();
  if (size) fwrite(data, 1, size, f);
  fclose(f);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  if (s_dir.empty()) {
    s_dir = fuzz_support::scratch_dir("heightfield");
    std::string shading = "P6 129 129 255\n" + std::string(129 * 129 * 3, 'x');
    write_file("shading.ppm", shading.data(), shading.size());
    write_file("texturelist", "dirt.png\ngrass.png\n", 19);
    std::string tiles(64 * 64, '\7');
    write_file("tilemap", tiles.data(), tiles.size());
  }
  int target = data[0] & 3;
  data++, size--;
  if (target == 0) {
    // Fields above 256 x 256 tiles are legal but too slow to fuzz.
    int n = 0;
    char head[32] = {};
    if (size) memcpy(head, data, size < sizeof head - 1 ? size : sizeof head - 1);
    if (sscanf(head, "%d", &n) == 1 && n > 7) return 0;
  } else {
    write_file("terrain.hf", "6 2 0 10\n", 9);  // flat: no terrain.png
    // Decal names are opened as they stand; names with a '/' could reach devices.
    if (target == 1 && memchr(data, '/', size)) return 0;
  }
  for (int k = 1; k < 4; k++) unlink((s_dir + "/" + kFiles[k]).c_str());
  write_file(kFiles[target], data, size);
  Terrain *t = terrain_current();
  if (terrain_load(t, s_dir.c_str(), 1 + (size & 1))) {
    terrain_height(t, 10, 10);
    int count;
    terrain_decal_query(t, 0, 0, 100, 300, &count);
    lod_error_update(t, 1000);
  }
  terrain_unload(t);
  message_log_clear();
  return 0;
}
