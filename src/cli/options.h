// Options come before the command letter and start with '-', so every form
// of the plain command line (vorb e|d ARCHIVE [FILE...]) keeps its meaning.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t max_block_mib = 127;  // the largest whole MiB below the format's limit

struct Options {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool force = false;       // -f: replace a file that is not an archive
    bool to_stdout = false;   // -c: d writes the members' bytes to standard output
    bool index = false;       // -i: packing writes an index after the last entry
    uint32_t recovery = 0;    // -r: percent of recovery record after the index; 0: none
    int threads = 0;          // 0: every core
    uint32_t block_mib = 4;   // packing block size in MiB
    uint64_t memory = 0;      // --memory: bytes unpacking may take; 0: a quarter of the machine's
    std::string directory;    // -C: where d puts the members
    int first_arg = 1;        // index of the command letter in argv
    std::string error;        // set when the options are wrong
};

// Parses argv[1..] up to the first argument that is not an option (or "--").
// Short options combine ("-qt1" is -q -t 1).
Options parse_options(int argc, const char* const* argv);

// Threads to use for a request of n (0: every core).
int resolve_threads(int n);
