// Fuzz target: terrain.hf (header and inline heights) through the whole terrain load.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/frame.h"
#include "render/texture.h"
#include "terrain/terrain.h"

static std::string s_dir;

static void write_file(const std::string &name, const void *data, size_t size) {
  FILE *f = fopen((s_dir + "/" + name).c_str(), "wb");
  if (!f) abort();
  fwrite(data, 1, size, f);
  fclose(f);
}

static void cleanup() {
  for (const char *name : {"terrain.hf", "shading.ppm", "texturelist", "tilemap"})
    unlink((s_dir + "/" + name).c_str());
  rmdir(s_dir.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (s_dir.empty()) {
    s_dir = "/tmp/dvfuzz_hf_" + std::to_string(getpid());
    mkdir(s_dir.c_str(), 0700);
    atexit(cleanup);
    std::string shading = "P6 129 129 255\n" + std::string(129 * 129 * 3, 'x');
    write_file("shading.ppm", shading.data(), shading.size());
    write_file("texturelist", "dirt.png\ngrass.png\n", 19);
    std::string tiles(64 * 64, '\7');
    write_file("tilemap", tiles.data(), tiles.size());
  }
  // Fields above 256 x 256 tiles are legal but too slow to fuzz.
  int n = 0;
  char head[32] = {};
  if (size) memcpy(head, data, size < sizeof head - 1 ? size : sizeof head - 1);
  if (sscanf(head, "%d", &n) == 1 && n > 7) return 0;
  write_file("terrain.hf", data, size);
  Terrain *t = terrain_current();
  if (terrain_load(t, s_dir.c_str(), 1)) {
    terrain_height(t, 10, 10);
    lod_error_update(t, 1000);
  }
  terrain_unload(t);
  message_log_clear();
  return 0;
}
