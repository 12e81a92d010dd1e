// Fuzz target: the image readers (PNG, PPM, PGM, the predictive form), the 16-bit grey PNG,
// and texture files through the texture manager (animated .seq files, links).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "core/frame.h"
#include "fuzz_support.h"
#include "render/texture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  image_set_max_pixels(size_t(1) << 20);
  Image image = {};
  if (image_decode(data, size, &image)) image_free(&image);
  char *info = nullptr;
  if (image_decode_png(data, size, &image, &info)) {
    free(info);
    image_free(&image);
  }
  uint16_t *grey;
  int w, h;
  if (image_decode_png_grey16(data, size, &grey, &w, &h)) free(grey);
  // Whole texture files; names inside them are opened as they stand, so none with a '/'.
  if (size >= 4 && (!memcmp(data, "ANIM", 4) || !memcmp(data, "LINK", 4)) && !memchr(data, '/', size)) {
    static const std::string path = fuzz_support::scratch_dir("image") + "/texture";
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) abort();
    fwrite(data, 1, size, f);
    fclose(f);
    uint32_t id = texture_load(path.c_str());
    texture_animation_start(id, 0);
    texture_animation_step(1000);
    texture_reset_for_tests();
    message_log_clear();
  }
  return 0;
}
