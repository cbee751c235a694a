// Files as the archiver uses them: every file it creates is written under a
// unique temporary name in its final directory and renamed into place only
// when complete, so a failed run never leaves a partial file that looks good
// nor destroys what was there before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "coder/byte_stream.h"

struct OutFile {
    int fd = -1;
    std::string final_path;
    std::string temp_path;
    std::vector<uint8_t> buffer;
    ByteOut out;
    int error = 0;  // errno of the first failure
};

// Creates a temporary file beside final_path. With follow_link a final_path
// that is a symbolic link is resolved first (the archive: written where the
// link points); without it the link itself is replaced (unpacked members never
// write through a link). A device or pipe is written directly. Returns false
// (errno in f.error) when nothing can be created.
[[nodiscard]] bool out_file_create(OutFile& f, const std::string& final_path, bool follow_link);
// Flushes, closes and renames over final_path. Returns false (and removes
// the temporary) when any write, the close or the rename failed.
[[nodiscard]] bool out_file_commit(OutFile& f);
// Removes the temporary; the file at final_path is left untouched.
void out_file_discard(OutFile& f);

// A sink that drops what it is given (a member decoded to nowhere).
struct NullOut {
    std::vector<uint8_t> buffer;
    ByteOut out;
};
void null_out_init(NullOut& n);

struct InFile {
    int fd = -1;
    std::vector<uint8_t> buffer;
    ByteIn in;
    int error = 0;
};

// Opens path for reading; false for a missing file, no permission or a
// directory (errno in f.error).
[[nodiscard]] bool in_file_open(InFile& f, const std::string& path);
void in_file_close(InFile& f);

// Reads up to len bytes, retrying short reads; stops only at the end of the
// file. Returns the count, or -1 on a read error (errno in f.error).
int64_t in_file_read(InFile& f, uint8_t* dst, size_t len);

// Device and inode of a path, to tell whether two names are the same file.
struct FileId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool exists = false;
};
FileId file_id(const std::string& path);

// The permission bits a plain create would have given (0666 less the umask).
unsigned default_file_mode();
