#include "restore_nodes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "member_place.h"

namespace {

struct Folder {
    std::string shown;
    size_t depth;  // slashes in shown: deeper folders get their attributes first
    vorb_file_meta meta;
    bool has_meta;
};

struct Restore {
    int base_fd;
    const Console& con;
    int failed = 0;
};

void fail(Restore& s, const std::string& shown, const std::string& why) {
    s.failed++;
    say_error(s.con, "\n" + printable_name(shown) + ": not restored, " + why);
}

std::string errno_text(const MemberPlace& p) {
    return p.refusal ? p.refusal : std::string("can't create it: ") + std::strerror(p.error);
}

// What stands at the name when it is not what a node may replace.
const char* in_the_way(int dir_fd, const std::string& name, bool for_link) {
    struct stat st;
    if (::fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return nullptr;
    if (S_ISDIR(st.st_mode)) return for_link ? "a folder is in its place" : nullptr;
    if (!for_link) return S_ISLNK(st.st_mode) ? "a symbolic link is in its place" : "a file is in its place";
    return nullptr;
}

bool make_folder(Restore& s, const std::string& shown) {
    MemberPlace place;
    if (!member_place_open(place, s.base_fd, shown)) {
        fail(s, shown, errno_text(place));
        return false;
    }
    std::string why;
    if (::mkdirat(place.dir_fd, place.name.c_str(), 0777) != 0 && errno != EEXIST)
        why = std::string("can't create it: ") + std::strerror(errno);
    else if (const char* other = in_the_way(place.dir_fd, place.name, false))
        why = other;
    member_place_close(place);
    if (why.empty()) return true;
    fail(s, shown, why);
    return false;
}

timespec to_timespec(const vorb_file_meta& m) {
    timespec t;
    t.tv_sec = static_cast<time_t>(m.mtime);
    t.tv_nsec = static_cast<long>(m.mtime_nsec);
    return t;
}

// An existing file or link of the name is replaced, as a member replaces one.
void make_link(Restore& s, const std::string& shown, const char* target, const vorb_file_meta* meta) {
    MemberPlace place;
    if (!member_place_open(place, s.base_fd, shown)) return fail(s, shown, errno_text(place));
    const char* name = place.name.c_str();
    int made = ::symlinkat(target, place.dir_fd, name);
    if (made != 0 && errno == EEXIST) {
        if (const char* why = in_the_way(place.dir_fd, place.name, true)) {
            member_place_close(place);
            return fail(s, shown, why);
        }
        if (::unlinkat(place.dir_fd, name, 0) == 0) made = ::symlinkat(target, place.dir_fd, name);
    }
    if (made != 0) {
        fail(s, shown, std::string("can't create it: ") + std::strerror(errno));
    } else if (meta) {
        const timespec times[2] = {to_timespec(*meta), to_timespec(*meta)};
        if (::utimensat(place.dir_fd, name, times, AT_SYMLINK_NOFOLLOW) != 0)
            fail(s, shown, std::string("can't set its time: ") + std::strerror(errno));
    }
    member_place_close(place);
}

// Permission bits as a member gets them (never set-user-ID, set-group-ID or
// sticky) and the modification time; the folder is opened without following
// a link.
void set_folder_attributes(Restore& s, const Folder& f) {
    MemberPlace place;
    if (!member_place_open(place, s.base_fd, f.shown)) return fail(s, f.shown, errno_text(place));
    const int fd = ::openat(place.dir_fd, place.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    member_place_close(place);
    const timespec times[2] = {to_timespec(f.meta), to_timespec(f.meta)};
    if (fd < 0 || ::fchmod(fd, f.meta.mode & 0777) != 0 || ::futimens(fd, times) != 0)
        fail(s, f.shown, std::string("can't set its mode and time: ") + std::strerror(errno));
    if (fd >= 0) ::close(fd);
}

}  // namespace

int restore_nodes(const vorb_reader* r, int base_fd, Selection& sel, const Console& con) {
    Restore s{base_fd, con};
    std::vector<Folder> folders;
    std::vector<vorb_node> links;
    const unsigned count = vorb_reader_node_count(r);
    for (unsigned i = 0; i < count; i++) {
        vorb_node n;
        if (vorb_reader_node(r, i, &n) != VORB_OK || !selected(sel, n.path)) continue;
        const std::string shown = std::string("_") + n.path;
        if (n.kind == VORB_NODE_LINK) {
            links.push_back(n);
            continue;
        }
        if (make_folder(s, shown) && n.meta)
            folders.push_back(Folder{shown, static_cast<size_t>(std::count(shown.begin(), shown.end(), '/')),
                                     *n.meta, true});
    }
    for (const vorb_node& n : links) make_link(s, std::string("_") + n.path, n.target, n.meta);
    std::stable_sort(folders.begin(), folders.end(),
                     [](const Folder& a, const Folder& b) { return a.depth > b.depth; });
    for (const Folder& f : folders) set_folder_attributes(s, f);
    return s.failed;
}
