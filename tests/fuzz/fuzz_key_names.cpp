// Control names from the configuration file: any text is a known name or unknown, and a
// known name's code names a control that resolves to the same code again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/velk.h"
#include "platform/velk_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string name((const char *)data, size);
  int code = 0;
  if (velk_key_code(nullptr, name.c_str(), &code)) {
    const char *back = velk_key_name(nullptr, code);
    if (!back) abort();
    int again = 0;
    if (!velk_key_code(nullptr, back, &again) || again != code) abort();
  }
  if (size >= 4) {
    int32_t any;
    memcpy(&any, data, 4);
    const char *named = velk_key_name(nullptr, any);
    if (named && strlen(named) > 1100) abort();
  }
  return 0;
}
