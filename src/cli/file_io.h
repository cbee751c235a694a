// Files as the library reads and writes them, through its callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes written to a file descriptor: a replacement in progress
// (replace_file.h) or standard output.
struct FdOut {
    int fd = -1;
    int error = 0;  // errno of the first failure
};

// The library's write callback (ctx: an FdOut): 0 when every byte was
// written, -1 with errno in error otherwise.
int fd_out_write(void* ctx, const void* data, size_t len);

// How many of a file's first bytes are kept: enough for an archive's header,
// which error messages about the header need after the library refused it.
constexpr size_t kept_head_bytes = 16;

struct InFile {
    int fd = -1;
    int error = 0;
    uint64_t base = 0;  // where the file's data starts: standard input's offset when handed over
    uint8_t head[kept_head_bytes] = {};
    size_t head_len = 0;
};

// Opens path for reading; false for a missing file, no permission or a
// directory (errno in f.error).
[[nodiscard]] bool in_file_open(InFile& f, const std::string& path);
// Opens a file found inside a folder: never through a link, never a FIFO or
// device, and only when it is still the file (dev, ino) the walk saw; else
// false, with errno in f.error or the reason in refusal.
[[nodiscard]] bool in_file_open_found(InFile& f, const std::string& path, uint64_t dev, uint64_t ino,
                                      const char*& refusal);
// Reads standard input instead (an archive given as "-"), from where it
// stands: a caller may hand it over part-way through a file.
void in_file_use_stdin(InFile& f);
// Closes the file (standard input stays open).
void in_file_close(InFile& f);

// The library's read callback (ctx: an InFile): up to len bytes, 0 at the
// end of the file, -1 on a read error (errno in f.error).
ptrdiff_t in_file_read(void* ctx, void* dst, size_t len);
// The same at a given offset from base, leaving the file position alone.
ptrdiff_t in_file_read_at(void* ctx, void* dst, size_t len, uint64_t offset);
// The size of a regular file from base on; UINT64_MAX for anything else (a
// pipe), which is then read front to back only.
uint64_t in_file_size(const InFile& f);
// Whether the archive is read at offsets (its index used) rather than
// front to back as a stream (its index checked at the end).
bool in_file_seekable(const InFile& f);

// Device and inode of a path, to tell whether two names are the same file.
struct FileId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool exists = false;
};
FileId file_id(const std::string& path);
