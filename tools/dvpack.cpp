// dvpack: builds .saf archives and writes .gz, .scram and .gz.scram data files.
#include "files/files.h"

int main(int argc, char **argv) { return dvpack_main(argc, argv); }
