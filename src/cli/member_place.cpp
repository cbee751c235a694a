#include "member_place.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens one folder below dir, making it when it is missing.
int open_or_make_folder(int dir, const std::string& part, MemberPlace& p) {
    int fd = ::openat(dir, part.c_str(), folder_flags);
    if (fd < 0 && errno == ENOENT) {
        // Another run may make it at the same moment: EEXIST is fine then.
        if (::mkdirat(dir, part.c_str(), 0777) != 0 && errno != EEXIST) {
            p.error = errno;
            return -1;
        }
        fd = ::openat(dir, part.c_str(), folder_flags);
    }
    if (fd >= 0) return fd;
    const int err = errno;
    struct stat st;
    if (::fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
            p.refusal = "a folder in its name is a symbolic link";
            return -1;
        }
        if (!S_ISDIR(st.st_mode)) {
            p.refusal = "a folder in its name is not a folder";
            return -1;
        }
    }
    p.error = err;
    return -1;
}

}  // namespace

bool member_place_open(MemberPlace& p, int base_fd, const std::string& relative) {
    p.refusal = nullptr;
    p.error = 0;
    p.name.clear();
    std::vector<std::string> folders;
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        std::string part = relative.substr(start, slash == std::string::npos ? slash : slash - start);
        // Checked for every component before any folder is made.
        if (part == "..") p.refusal = "name leads out of the unpack directory";
        if (slash == std::string::npos) {
            if (!p.refusal && (part.empty() || part == ".")) p.refusal = "name does not end in a file name";
            p.name = std::move(part);
            break;
        }
        if (!part.empty() && part != ".") folders.push_back(std::move(part));
        start = slash + 1;
    }
    if (p.refusal) return false;
    int dir = ::fcntl(base_fd, F_DUPFD_CLOEXEC, 0);
    if (dir < 0) {
        p.error = errno;
        return false;
    }
    for (const std::string& folder : folders) {
        const int next = open_or_make_folder(dir, folder, p);
        ::close(dir);
        if (next < 0) return false;
        dir = next;
    }
    p.dir_fd = dir;
    return true;
}

void member_place_close(MemberPlace& p) {
    if (p.dir_fd >= 0) ::close(p.dir_fd);
    p.dir_fd = -1;
}
