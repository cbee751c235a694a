// Unpacking: every present member of an archive becomes "_" + its stored
// name, written only once it has decoded completely; or, with -c, every
// member's bytes in turn on standard output.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "file_io.h"
#include "run_result.h"
#include "selection.h"

struct ReadOptions {
    std::string archive;       // "-": standard input
    int threads = 1;
    uint64_t memory_limit = 0;  // bytes the blocks in flight may take; 0: no limit
    std::vector<std::string> names;  // members to look at; empty: every one
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

// With an index a damaged member is reported on its line and the run goes on
// to the next; only a failure to read or write, or damage without an index,
// ends it.
bool member_damage_is_local(vorb_status st, const vorb_reader* r);

// The errors found after the last entry, in the order they are reported:
// an archive whose bytes did not match the index's checksum, names that
// matched no member, bytes after the last entry, a damaged index. finished
// is what vorb_reader_finish said.
RunResult archive_end_error(vorb_reader* r, const InFile& arc, bool archive_mismatch, const Selection& sel,
                            vorb_status finished);

// With an index, compares every archive byte in front of it with its
// checksum; mismatch is set when they differ. Fails on a read error.
RunResult check_archive_bytes(vorb_reader* r, const InFile& arc, bool& mismatch);

// What was wrong with a member whose damage is local: the status's text and,
// when one block failed, that block's bytes within the member.
std::string member_damage(vorb_status st, const vorb_reader* r);

struct Replacement;
// Starts writing the member shown as `shown` (its stored name with "_" in
// front) inside the unpack folder base_fd: why it cannot be, or empty when
// target is ready for its bytes.
std::string open_member(int base_fd, const std::string& shown, Replacement& target);

// The line that says a member was not unpacked or failed its test.
void say_member_failure(const Console& con, const std::string& shown, const std::string& why);
