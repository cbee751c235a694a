#include "replace_file.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "signal_cleanup.h"

namespace {

// Hops through symbolic links before giving up, as the kernel's own limit.
constexpr int max_link_hops = 40;
// ".vorb" and six random characters fit wherever a name of 11 characters
// does, so any target name that fits its folder has a temporary that fits.
constexpr int temp_random_chars = 6;
constexpr int temp_attempts = 100;

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name a plain create of path would write: for a link to a file, the
// file; for a link that points nowhere yet, the last link's target. A link
// to a device or FIFO stays as it is and is opened through. False (errno) on
// a loop or an unreadable link.
bool resolve_named(std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return true;
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) return false;
        path = real;
        std::free(real);
        return true;
    }
    if (errno != ENOENT) return false;
    for (int hop = 0; hop < max_link_hops; hop++) {
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return false;
        target.resize(static_cast<size_t>(n));
        path = target[0] == '/' ? target : folder_of(path) + "/" + target;
    }
    errno = ELOOP;
    return false;
}

std::string random_temp_name() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[temp_random_chars];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // Too early in boot for the pool: the clock and pid differ between runs.
        uint64_t x = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                     (static_cast<uint64_t>(::getpid()) << 32);
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(x);
            x = x * 6364136223846793005u + 1442695040888963407u;
        }
    }
    std::string name = ".vorb";
    for (unsigned char b : bytes) name += letters[b % (sizeof letters - 1)];
    return name;
}

bool fail(Replacement& r, int err) {
    r.error = err;
    replacement_discard(r);
    return false;
}

bool refuse(Replacement& r, const char* why) {
    r.refusal = why;
    replacement_discard(r);
    return false;
}

// Opens an existing FIFO without waiting for a reader; the bytes then block
// as usual. Nobody reading gives ENXIO.
bool open_fifo(Replacement& r, int open_flags) {
    r.fd = ::openat(r.dir_fd, r.name.c_str(), open_flags | O_NONBLOCK);
    if (r.fd < 0) {
        if (errno == ENXIO) return refuse(r, "it is a FIFO that nobody reads");
        return fail(r, errno);
    }
    const int flags = ::fcntl(r.fd, F_GETFL);
    if (flags < 0 || ::fcntl(r.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(r, errno);
    return true;
}

bool open_temporary(Replacement& r, const struct stat* replaced) {
    for (int attempt = 0; attempt < temp_attempts; attempt++) {
        std::string temp = random_temp_name();
        r.fd = ::openat(r.dir_fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (r.fd >= 0) {
            r.temp_name = std::move(temp);
            break;
        }
        if (errno != EEXIST) return fail(r, errno);
    }
    if (r.fd < 0) return fail(r, EEXIST);
    r.cleanup_slot = signal_cleanup_remember(r.dir_fd, r.temp_name.c_str());
    unsigned mode = default_file_mode();
    if (replaced) {
        mode = replaced->st_mode & 0777;
        // Only root may give a file away; the owner goes first since a
        // change of owner clears set-id bits that fchmod then sets.
        if (::geteuid() == 0 && ::fchown(r.fd, replaced->st_uid, replaced->st_gid) != 0) return fail(r, errno);
    }
    if (::fchmod(r.fd, mode) != 0) return fail(r, errno);
    return true;
}

}  // namespace

unsigned default_file_mode() {
    static const unsigned mode = [] {
        const mode_t old = ::umask(0);
        ::umask(old);
        return 0666u & ~static_cast<unsigned>(old);
    }();
    return mode;
}

bool replacement_begin(Replacement& r, int dir_fd, const std::string& name, TargetUse use) {
    r = Replacement{};
    r.name = name;
    if (name.empty() || name == "." || name == "..") return fail(r, EISDIR);
    if (name.find('/') != std::string::npos) return fail(r, EINVAL);
    r.dir_fd = ::fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
    if (r.dir_fd < 0) return fail(r, errno);
    // A named target left as a link points at a device or FIFO: look through it.
    const int stat_flags = use == TargetUse::member ? AT_SYMLINK_NOFOLLOW : 0;
    const int open_flags = O_WRONLY | O_CLOEXEC | (use == TargetUse::member ? O_NOFOLLOW : 0);
    struct stat st;
    if (::fstatat(r.dir_fd, name.c_str(), &st, stat_flags) != 0) {
        if (errno != ENOENT) return fail(r, errno);
        return open_temporary(r, nullptr);
    }
    r.target_existed = true;
    r.target_dev = st.st_dev;
    r.target_ino = st.st_ino;
    if (S_ISREG(st.st_mode)) return open_temporary(r, &st);
    // A member's name that is a link is replaced by a file, never written through.
    if (S_ISLNK(st.st_mode) && use == TargetUse::member) return open_temporary(r, nullptr);
    if (S_ISDIR(st.st_mode)) return fail(r, EISDIR);
    if (S_ISFIFO(st.st_mode)) return open_fifo(r, open_flags);
    if ((S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) && use == TargetUse::named) {
        r.fd = ::openat(r.dir_fd, name.c_str(), open_flags);
        return r.fd >= 0 || fail(r, errno);
    }
    return refuse(r, "it is not a regular file");
}

bool replacement_begin_path(Replacement& r, const std::string& path, TargetUse use) {
    std::string target = path;
    if (use == TargetUse::named && !resolve_named(target)) {
        const int err = errno;
        r = Replacement{};
        r.error = err;
        return false;
    }
    const int dir = ::open(folder_of(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        const int err = errno;
        r = Replacement{};
        r.error = err;
        return false;
    }
    const std::string base = base_of(target);
    // "folder/" names a folder, not a file in it: refused as one.
    const bool ok = replacement_begin(r, dir, base, use);
    ::close(dir);
    return ok;
}

void replacement_set_attributes(Replacement& r, unsigned mode, int64_t mtime, uint32_t mtime_nsec) {
    if (r.temp_name.empty() || r.fd < 0) return;
    const struct timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(mtime), static_cast<long>(mtime_nsec)}};
    if ((::fchmod(r.fd, mode & 0777) != 0 || ::futimens(r.fd, times) != 0) && !r.error) r.error = errno;
}

bool replacement_target_changed(const Replacement& r) {
    struct stat st;
    if (::fstatat(r.dir_fd, r.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;  // nothing there
    return !r.target_existed || st.st_dev != r.target_dev || st.st_ino != r.target_ino;
}

bool replacement_commit(Replacement& r) {
    bool ok = r.error == 0;  // a failed attribute change counts as a failed write
    if (r.fd >= 0 && ::close(r.fd) != 0) {
        ok = false;
        if (!r.error) r.error = errno;
    }
    r.fd = -1;
    if (ok && !r.temp_name.empty()) {
        if (::renameat(r.dir_fd, r.temp_name.c_str(), r.dir_fd, r.name.c_str()) == 0)
            r.temp_name.clear();
        else {
            ok = false;
            if (!r.error) r.error = errno;
        }
    }
    replacement_discard(r);
    return ok;
}

void replacement_discard(Replacement& r) {
    if (r.fd >= 0) ::close(r.fd);
    r.fd = -1;
    if (!r.temp_name.empty()) ::unlinkat(r.dir_fd, r.temp_name.c_str(), 0);
    r.temp_name.clear();
    signal_cleanup_forget(r.cleanup_slot);
    r.cleanup_slot = -1;
    if (r.dir_fd >= 0) ::close(r.dir_fd);
    r.dir_fd = -1;
}
