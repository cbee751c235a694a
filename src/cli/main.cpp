#include "cli.h"

int main(int argc, char** argv) { return vorb_main(argc, argv); }
