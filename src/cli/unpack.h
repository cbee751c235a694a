// Unpacking: every present member of an archive becomes "_" + its stored
// name, written only once it has decoded completely; or, with -c, every
// member's bytes in turn on standard output.
#pragma once

#include <string>

#include "console.h"
#include "file_io.h"
#include "run_result.h"

struct ReadOptions {
    std::string archive;       // "-": standard input
    int threads = 1;
    uint64_t memory_limit = 0;  // bytes the blocks in flight may take; 0: no limit
};

struct UnpackOptions {
    ReadOptions read;
    std::string directory;  // where the members go; empty: the current directory
    bool to_stdout = false;
};

RunResult unpack_archive(const UnpackOptions& opt, const Console& con);

// Shared with test and list: opens the archive and reads its header; a
// failure carries the message to show. r is freed by the caller.
RunResult open_archive(InFile& arc, const ReadOptions& opt, vorb_reader*& r);

inline const char* const truncated_archive_message = "\nDamaged archive: it ends too early";

// The message for a failed step of reading the archive (entries, members).
std::string archive_error(vorb_status st, const InFile& arc);

// The message for a member that failed: write_errno for VORB_ERR_WRITE, to
// the file shown as written_to.
std::string member_error(vorb_status st, const std::string& stored_name, const InFile& arc,
                         const std::string& written_to, int write_errno);
