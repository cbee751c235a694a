// Options come before the command letter and start with '-', so every form
// of the plain command line (vorb e|d ARCHIVE [FILE...]) keeps its meaning.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr uint32_t max_block_mib = 127;  // the largest whole MiB below the format's limit
// What standard input is stored as when --name gives nothing else.
inline const char* const default_stdin_name = "stdin";

struct Options {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool force = false;       // -f: replace a file that is not an archive
    bool to_stdout = false;   // -c: d writes the members' bytes to standard output
    // -i / --no-index, the last one given; unset: e writes none, filter mode one.
    std::optional<bool> index;
    bool decompress = false;  // -d: filter mode unpacks standard input to standard output
    std::string name;         // --name: the stored name of standard input; empty: default_stdin_name
    bool salvage = false;     // --salvage: d saves what damage left of every member
    uint32_t recovery = 0;    // -r: percent of recovery record after the index; 0: none
    int threads = 0;          // 0: every core
    uint32_t block_mib = 4;   // packing block size in MiB
    uint64_t memory = 0;      // --memory: bytes unpacking may take; 0: a quarter of the machine's
    std::string directory;    // -C: where d puts the members
    int first_arg = 1;        // index of the command letter in argv
    std::string error;        // set when the options are wrong
};

// Parses argv[1..] up to the first argument that is not an option (or "--").
// Short options combine ("-qt1" is -q -t 1). defaults (VORB_OPTIONS; may be
// null) is read first, split at white space, and may hold options only.
Options parse_options(int argc, const char* const* argv, const char* defaults = nullptr);

// The names after the archive, argv[from..]: the first "--" among them ends
// the options there too and is dropped, so "--" itself can follow it.
std::vector<std::string> names_after_archive(int argc, const char* const* argv, int from);

// Threads to use for a request of n (0: every core).
int resolve_threads(int n);
