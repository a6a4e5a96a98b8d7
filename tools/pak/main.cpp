#include "tools/pak/pak.h"

int main(int argc, char **argv) { return pak_main(argc, argv); }
