#include "tree_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Folders inside the tree are opened without following a link.
constexpr int inner_folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct Walk {
    PackList& list;
    bool keep_nodes;
};

vorb_file_meta meta_of(const struct stat& st) {
    return vorb_file_meta{static_cast<uint32_t>(st.st_mode & 07777), static_cast<uint32_t>(st.st_mtim.tv_nsec),
                          static_cast<int64_t>(st.st_mtim.tv_sec)};
}

void refuse(Walk& w, const std::string& path, const std::string& why) {
    w.list.refused.push_back(path + ": not packed, " + why);
}

void add_item(Walk& w, PackItem item) {
    // One past the limit is kept, so a caller sees there are too many.
    if (w.list.item_count++ <= VORB_MAX_MEMBERS) w.list.items.push_back(std::move(item));
}

// Checked for every name before anything is written; nothing under a folder
// whose name is too long can fit either, so it is not walked.
bool name_fits(Walk& w, const std::string& path) {
    if (path.size() <= VORB_MAX_NAME_LENGTH) return true;
    if (w.list.too_long.empty()) w.list.too_long = path;
    return false;
}

const char* kind_text(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link (-i keeps it in the index)";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The names in a folder, in byte order; false (errno) when it cannot be read.
bool folder_names(int fd, std::vector<std::string>& names) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* d = own < 0 ? nullptr : ::fdopendir(own);
    if (!d) {
        const int err = errno;
        if (own >= 0) ::close(own);
        errno = err;
        return false;
    }
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d);
        if (!e) {
            err = errno;
            break;
        }
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    }
    ::closedir(d);
    errno = err;
    // std::string compares as unsigned bytes, whatever the locale.
    std::sort(names.begin(), names.end());
    return err == 0;
}

void add_link(Walk& w, int dir_fd, const std::string& name, const std::string& path, const struct stat& st) {
    char text[VORB_MAX_LINK_LENGTH + 1];
    const ssize_t n = ::readlinkat(dir_fd, name.c_str(), text, sizeof text);
    if (n < 0) return refuse(w, path, std::strerror(errno));
    if (n == 0 || static_cast<size_t>(n) > VORB_MAX_LINK_LENGTH) return refuse(w, path, "a link's text out of range");
    w.list.nodes.push_back(PackNode{true, path, std::string(text, static_cast<size_t>(n)), meta_of(st)});
}

void walk_folder(Walk& w, int fd, const std::string& path) {
    struct stat st;
    std::vector<std::string> names;
    if (::fstat(fd, &st) != 0 || !folder_names(fd, names)) return refuse(w, path, std::strerror(errno));
    if (w.keep_nodes)
        w.list.nodes.push_back(PackNode{false, path, "", meta_of(st)});
    else if (names.empty())
        return refuse(w, path, "an empty folder (-i keeps it in the index)");
    for (const std::string& name : names) {
        const std::string child = joined(path, name);
        if (!name_fits(w, child)) continue;
        struct stat cs;
        if (::fstatat(fd, name.c_str(), &cs, AT_SYMLINK_NOFOLLOW) != 0) {
            refuse(w, child, std::strerror(errno));
        } else if (S_ISREG(cs.st_mode)) {
            add_item(w, PackItem{child, child, true, cs.st_dev, cs.st_ino});
        } else if (S_ISDIR(cs.st_mode)) {
            const int sub = ::openat(fd, name.c_str(), inner_folder_flags);
            if (sub < 0) {
                refuse(w, child, std::strerror(errno));
                continue;
            }
            walk_folder(w, sub, child);
            ::close(sub);
        } else if (S_ISLNK(cs.st_mode) && w.keep_nodes) {
            add_link(w, fd, name, child, cs);
        } else {
            refuse(w, child, kind_text(cs.st_mode));
        }
    }
}

// A folder as named, without the slashes at its end ("/" stays).
std::string folder_name(const std::string& given) {
    size_t end = given.size();
    while (end > 1 && given[end - 1] == '/') end--;
    return given.substr(0, end);
}

}  // namespace

void tree_walk(PackList& list, const std::vector<std::string>& given, const std::string& stdin_name,
               bool keep_nodes) {
    Walk w{list, keep_nodes};
    bool stdin_seen = false;
    for (const std::string& name : given) {
        if (name == "-") {
            list.stdin_twice = list.stdin_twice || stdin_seen;
            stdin_seen = true;
            add_item(w, PackItem{stdin_name, "-"});
            continue;
        }
        // Names on the command line are followed, as they always were; what
        // is not a folder is opened when its turn comes.
        struct stat st;
        if (::stat(name.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (name_fits(w, name)) add_item(w, PackItem{name, name});
            continue;
        }
        const std::string top = folder_name(name);
        if (!name_fits(w, top)) continue;
        const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            refuse(w, top, std::strerror(errno));
            continue;
        }
        walk_folder(w, fd, top);
        ::close(fd);
    }
}
