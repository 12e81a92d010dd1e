// Fuzz target: the .shp collision shape reader.
#include <stdint.h>
#include <stdlib.h>

#include "render/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ShapeSphere *spheres;
  int count;
  if (shape_parse((const char *)data, size, &spheres, &count)) free(spheres);
  return 0;
}
