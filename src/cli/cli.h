// The command line: options before the command letter, then the command
// (only its first character counts), the archive and the member files.
#pragma once

int vorb_main(int argc, char** argv);
