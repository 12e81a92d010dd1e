// Fuzz target: the .jm model reader (legacy and headed forms, bone weights, tangents).
#include <stdint.h>

#include "core/frame.h"
#include "render/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Model *m = model_parse((const char *)data, size, "fuzz.jm");
  model_free(m);
  message_log_clear();
  return 0;
}
