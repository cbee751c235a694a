// Files as the archiver uses them: every file it creates is written under a
// unique temporary name in its final directory and renamed into place only
// when complete, so a failed run never leaves a partial file that looks good
// nor destroys what was there before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct OutFile {
    int fd = -1;
    std::string final_path;
    std::string temp_path;
    int error = 0;  // errno of the first failure
};

// Creates a temporary file beside final_path. With follow_link a final_path
// that is a symbolic link is resolved first (the archive: written where the
// link points); without it the link itself is replaced (unpacked members never
// write through a link). A device or pipe is written directly. Returns false
// (errno in f.error) when nothing can be created.
[[nodiscard]] bool out_file_create(OutFile& f, const std::string& final_path, bool follow_link);
// The library's write callback (ctx: an OutFile): 0 when every byte was
// written, -1 with errno in f.error otherwise.
int out_file_write(void* ctx, const void* data, size_t len);
// Closes and renames over final_path. Returns false (and removes
// the temporary) when any write, the close or the rename failed.
[[nodiscard]] bool out_file_commit(OutFile& f);
// Removes the temporary; the file at final_path is left untouched.
void out_file_discard(OutFile& f);
// Gives a file about to be committed the permission bits (set-user-ID,
// set-group-ID and sticky bits never) and modification time stored for it.
// A failure makes the commit fail. Devices and pipes are left as they are.
void out_file_set_attributes(OutFile& f, unsigned mode, int64_t mtime, uint32_t mtime_nsec);

// How many of a file's first bytes are kept: enough for an archive's header,
// which error messages about the header need after the library refused it.
constexpr size_t kept_head_bytes = 16;

struct InFile {
    int fd = -1;
    int error = 0;
    uint8_t head[kept_head_bytes] = {};
    size_t head_len = 0;
};

// Opens path for reading; false for a missing file, no permission or a
// directory (errno in f.error).
[[nodiscard]] bool in_file_open(InFile& f, const std::string& path);
void in_file_close(InFile& f);

// The library's read callback (ctx: an InFile): up to len bytes, 0 at the
// end of the file, -1 on a read error (errno in f.error).
ptrdiff_t in_file_read(void* ctx, void* dst, size_t len);
// The same at a given offset, leaving the file position alone.
ptrdiff_t in_file_read_at(void* ctx, void* dst, size_t len, uint64_t offset);
// The size of a regular file; UINT64_MAX for anything else (a pipe), which
// is then read front to back only.
uint64_t in_file_size(const InFile& f);

// Device and inode of a path, to tell whether two names are the same file.
struct FileId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool exists = false;
};
FileId file_id(const std::string& path);

// The permission bits a plain create would have given (0666 less the umask).
unsigned default_file_mode();
