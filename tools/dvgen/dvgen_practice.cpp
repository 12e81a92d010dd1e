// dvgen: practice track.
#include "tools/dvgen/dvgen.h"
int gen_practice() { return 1; }
