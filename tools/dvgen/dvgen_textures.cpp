// dvgen: procedural textures.
#include "tools/dvgen/dvgen.h"
int gen_textures() { return 1; }
