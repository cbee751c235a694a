// Unpacking: every present member of an archive becomes "_" + its stored
// name, written only once it has decoded completely.
#pragma once

#include <string>

#include "console.h"
#include "file_io.h"
#include "run_result.h"
#include "selection.h"

struct UnpackOptions {
    std::string archive;
    std::string directory;  // where the members go; empty: the current directory
    int threads = 1;
    std::vector<std::string> names;  // members to unpack; empty: every one
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

// With an index a damaged member is reported on its line and the run goes on
// to the next; only a failure to read or write, or damage without an index,
// ends it.
bool member_damage_is_local(vorb_status st, const vorb_reader* r);

// The errors found after the last entry, in the order they are reported:
// an archive whose bytes did not match the index's checksum, names that
// matched no member, bytes after the last entry, a damaged index.
RunResult archive_end_error(vorb_reader* r, const InFile& arc, bool archive_mismatch, const Selection& sel);

// With an index, compares every archive byte in front of it with its
// checksum; mismatch is set when they differ. Fails on a read error.
RunResult check_archive_bytes(vorb_reader* r, const InFile& arc, bool& mismatch);

// The line that says a member was not unpacked or failed its test.
void say_member_failure(const Console& con, const std::string& shown, const std::string& why);
