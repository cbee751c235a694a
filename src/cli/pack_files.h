// The e command: the named files packed into an archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console.h"
#include "options.h"
#include "run_result.h"

struct PackOptions {
    std::string archive;  // "-": standard output
    std::vector<std::string> files;  // as given: files, folders, "-" for standard input
    std::string stdin_name = default_stdin_name;  // what standard input is stored as
    uint32_t block_size = VORB_DEFAULT_BLOCK_SIZE;
    int threads = 1;      // threads that sort blocks; the archive does not depend on it
    bool force = false;   // replace an existing file that is not an archive
    bool index = false;   // write an index after the last entry, with folders and links
    unsigned recovery = 0;  // percent of recovery record after the index; 0: none
};

// A file that cannot be opened still gets its (absent) entry; what a folder
// holds that cannot be packed is named. Either way the run goes on and ends
// with status_failed.
RunResult pack_archive(const PackOptions& opt, const Console& con);
