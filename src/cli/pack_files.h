// The e command: the named files packed into an archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console.h"
#include "run_result.h"

struct PackOptions {
    std::string archive;  // "-": standard output
    std::vector<std::string> files;
    uint32_t block_size = VORB_DEFAULT_BLOCK_SIZE;
    int threads = 1;      // threads that sort blocks; the archive does not depend on it
    bool force = false;   // replace an existing file that is not an archive
    bool index = false;   // write an index after the last entry
    unsigned recovery = 0;  // percent of recovery record after the index; 0: none
};

// A file that cannot be opened still gets its (absent) entry: the run goes
// on and ends with status_failed.
RunResult pack_archive(const PackOptions& opt, const Console& con);
