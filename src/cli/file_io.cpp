#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>


int fd_out_write(void* ctx, const void* data, size_t len) {
    FdOut& f = *static_cast<FdOut*>(ctx);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (len > 0) {
        const ssize_t w = ::write(f.fd, p, len);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (!f.error) f.error = errno;
            return -1;
        }
        p += w;
        len -= static_cast<size_t>(w);
    }
    return 0;
}

bool in_file_open(InFile& f, const std::string& path) {
    f.error = 0;
    f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
        f.error = errno;
        return false;
    }
    struct stat st;
    const bool stat_ok = ::fstat(f.fd, &st) == 0;
    if (!stat_ok || S_ISDIR(st.st_mode)) {
        f.error = stat_ok ? EISDIR : errno;
        ::close(f.fd);
        f.fd = -1;
        return false;
    }
    f.head_len = 0;
    return true;
}

bool in_file_open_found(InFile& f, const std::string& path, uint64_t dev, uint64_t ino, const char*& refusal) {
    f.error = 0;
    refusal = nullptr;
    // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
    f.fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (f.fd < 0) {
        f.error = errno;
        if (f.error == ELOOP) refusal = "it became a symbolic link";
        return false;
    }
    struct stat st;
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != dev || st.st_ino != ino) {
        refusal = "it was replaced while the folder was packed";
        ::close(f.fd);
        f.fd = -1;
        return false;
    }
    f.head_len = 0;
    return true;
}

void in_file_use_stdin(InFile& f) {
    f.error = 0;
    f.fd = STDIN_FILENO;
    f.head_len = 0;
    const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
    f.base = at > 0 ? static_cast<uint64_t>(at) : 0;
}

// A regular file, standard input too (tar hands over the archive that way),
// is read at offsets, so its index is used; a pipe is read front to back.
bool in_file_seekable(const InFile& f) { return in_file_size(f) != UINT64_MAX; }

void in_file_close(InFile& f) {
    if (f.fd > STDIN_FILENO) ::close(f.fd);
    f.fd = -1;
}

ptrdiff_t in_file_read_at(void* ctx, void* dst, size_t len, uint64_t offset) {
    InFile& f = *static_cast<InFile*>(ctx);
    for (;;) {
        const ssize_t r = ::pread(f.fd, dst, len, static_cast<off_t>(f.base + offset));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            f.error = errno;
            return -1;
        }
        // The header's bytes, for messages about a header the library refused.
        if (offset < kept_head_bytes && offset == f.head_len) {
            const size_t keep = std::min(static_cast<size_t>(r), kept_head_bytes - f.head_len);
            std::memcpy(f.head + f.head_len, dst, keep);
            f.head_len += keep;
        }
        return r;
    }
}

uint64_t in_file_size(const InFile& f) {
    struct stat st;
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return UINT64_MAX;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    return size > f.base ? size - f.base : 0;
}

namespace {

// How long a read that has some bytes waits for more: a writer that was only
// off its core (cat feeding a pipe on a busy machine) catches up well inside
// it, and one that waits for our output before it writes again is held up
// by no more than this.
constexpr int more_wait_ms = 10;

bool more_comes_soon(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, more_wait_ms) > 0;
}

}  // namespace

ptrdiff_t in_file_read(void* ctx, void* dst, size_t len) {
    InFile& f = *static_cast<InFile*>(ctx);
    // A pipe hands over at most its capacity (64 KiB) a read; filling the
    // buffer while the writer keeps up spares the library's reader, and on
    // threads its decoder, most of its refills.
    uint8_t* const to = static_cast<uint8_t*>(dst);
    size_t got = 0;
    while (got < len) {
        if (got > 0 && !more_comes_soon(f.fd)) break;
        const ssize_t r = ::read(f.fd, to + got, len - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            // The bytes before the failure are handed on; the failure comes
            // again at the next call, with nothing before it.
            if (got > 0) break;
            f.error = errno;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    if (f.head_len < kept_head_bytes) {
        const size_t keep = std::min(got, kept_head_bytes - f.head_len);
        std::memcpy(f.head + f.head_len, to, keep);
        f.head_len += keep;
    }
    return static_cast<ptrdiff_t>(got);
}

FileId file_id(const std::string& path) {
    FileId id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.exists = true;
    }
    return id;
}
