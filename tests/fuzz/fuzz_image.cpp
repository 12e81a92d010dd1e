// Fuzz target: the image readers (PNG, PPM, PGM, the predictive form) and the 16-bit grey PNG.
#include <stdint.h>
#include <stdlib.h>

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
  return 0;
}
