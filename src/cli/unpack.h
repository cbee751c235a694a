// Unpacking: every present member of an archive becomes "_" + its stored
// name, written only once it has decoded completely.
#pragma once

#include <string>

#include "console.h"
#include "file_io.h"
#include "run_result.h"

struct UnpackOptions {
    std::string archive;
    std::string directory;  // where the members go; empty: the current directory
    int threads = 1;
};

RunResult unpack_archive(const UnpackOptions& opt, const Console& con);

// Shared with test and list: opens the archive and reads its header; a
// failure carries the message to show. r is freed by the caller.
RunResult open_archive(InFile& arc, const std::string& path, int threads, vorb_reader*& r);

inline const char* const truncated_archive_message = "\nDamaged archive: it ends too early";

// The message for a failed step of reading the archive (entries, members).
std::string archive_error(vorb_status st, const InFile& arc);

// The message for a member that failed: write_errno for VORB_ERR_WRITE.
std::string member_error(vorb_status st, const std::string& shown, const InFile& arc, int write_errno);
