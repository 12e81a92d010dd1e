// Start-up and the orderly exit path.
#include "core/core.h"

#include "platform/velk.h"

int game_main(int, char **) {
  velk_log("Dirtvane starting\n");
  velk_log(nullptr);
  return 0;
}
