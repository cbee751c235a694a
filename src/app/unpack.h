// Unpacking: every present member of an archive becomes "_" + its stored
// name, written only once it has decoded completely.
#pragma once

#include <string>

#include "app/archive_reader.h"
#include "app/console.h"
#include "app/file_io.h"
#include "app/run_result.h"

struct UnpackOptions {
    std::string archive;
    std::string directory;  // where the members go; empty: the current directory
    int threads = 1;
};

RunResult unpack_archive(const UnpackOptions& opt, const Console& con);

// Shared with test and list: opens the archive, reads its header and sets up
// the decoder; a failure carries the message to show.
RunResult open_archive(InFile& arc, const std::string& path, ArchiveHeader& h, MemberDecoder& dec);

inline const char* const truncated_archive_message = "\nDamaged archive: it ends too early";

std::string member_error(Status st, const std::string& shown, const InFile& arc, int write_errno);
