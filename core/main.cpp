// The game's entry point.
#include "core/core.h"

int main(int argc, char **argv) { return game_main(argc, argv); }
