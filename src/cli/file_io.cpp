#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


unsigned default_file_mode() {
    static const unsigned mode = [] {
        const mode_t old = ::umask(0);
        ::umask(old);
        return 0666u & ~static_cast<unsigned>(old);
    }();
    return mode;
}

bool out_file_create(OutFile& f, const std::string& final_path, bool follow_link) {
    f.final_path = final_path;
    f.error = 0;
    f.temp_path.clear();
    struct stat st;
    if (follow_link && ::lstat(final_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Write where the link points, as a plain create would.
        char* real = ::realpath(final_path.c_str(), nullptr);
        if (real) {
            f.final_path = real;
            std::free(real);
        }
    }
    // Without follow_link the name itself is looked at: a link is replaced
    // by the rename like a file, whatever it points to.
    const int found = follow_link ? ::stat(f.final_path.c_str(), &st) : ::lstat(f.final_path.c_str(), &st);
    if (found == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        // A device or pipe cannot be replaced by renaming; write to it directly.
        f.fd = ::open(f.final_path.c_str(), O_WRONLY | O_TRUNC | (follow_link ? 0 : O_NOFOLLOW));
    } else {
        std::string templ = f.final_path + ".vorbtmpXXXXXX";
        f.fd = ::mkstemp(templ.data());
        if (f.fd >= 0) {
            f.temp_path = templ;
            ::fchmod(f.fd, default_file_mode());
        }
    }
    if (f.fd < 0) {
        f.error = errno;
        return false;
    }
    return true;
}

int out_file_write(void* ctx, const void* data, size_t len) {
    OutFile& f = *static_cast<OutFile*>(ctx);
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

bool out_file_commit(OutFile& f) {
    bool ok = f.error == 0;
    if (::close(f.fd) != 0 && ok) {
        ok = false;
        if (!f.error) f.error = errno;
    }
    f.fd = -1;
    if (f.temp_path.empty()) return ok;
    if (ok && std::rename(f.temp_path.c_str(), f.final_path.c_str()) != 0) {
        ok = false;
        if (!f.error) f.error = errno;
    }
    if (!ok) ::unlink(f.temp_path.c_str());
    f.temp_path.clear();
    return ok;
}

void out_file_discard(OutFile& f) {
    if (f.fd >= 0) ::close(f.fd);
    f.fd = -1;
    if (!f.temp_path.empty()) ::unlink(f.temp_path.c_str());
    f.temp_path.clear();
}

bool in_file_open(InFile& f, const std::string& path) {
    f.error = 0;
    f.fd = ::open(path.c_str(), O_RDONLY);
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

void in_file_close(InFile& f) {
    if (f.fd >= 0) ::close(f.fd);
    f.fd = -1;
}

ptrdiff_t in_file_read_at(void* ctx, void* dst, size_t len, uint64_t offset) {
    InFile& f = *static_cast<InFile*>(ctx);
    for (;;) {
        const ssize_t r = ::pread(f.fd, dst, len, static_cast<off_t>(offset));
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
    return static_cast<uint64_t>(st.st_size);
}

void out_file_set_attributes(OutFile& f, unsigned mode, int64_t mtime, uint32_t mtime_nsec) {
    if (f.temp_path.empty() || f.fd < 0) return;
    const struct timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(mtime), static_cast<long>(mtime_nsec)}};
    if ((::fchmod(f.fd, mode & 0777) != 0 || ::futimens(f.fd, times) != 0) && !f.error) f.error = errno;
}

ptrdiff_t in_file_read(void* ctx, void* dst, size_t len) {
    InFile& f = *static_cast<InFile*>(ctx);
    for (;;) {
        const ssize_t r = ::read(f.fd, dst, len);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            f.error = errno;
            return -1;
        }
        const size_t keep = std::min(static_cast<size_t>(r), kept_head_bytes - f.head_len);
        std::memcpy(f.head + f.head_len, dst, keep);
        f.head_len += keep;
        return r;
    }
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
