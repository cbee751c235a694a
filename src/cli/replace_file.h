// Writing a file that may replace another: the bytes go to a short
// temporary name in the same folder, which is renamed over the target only
// when complete, so a failed or interrupted run never leaves a partial file
// that looks good nor destroys what was there. The new file keeps the
// permission bits (and, as root, the owner and group) of the file it replaces.
#pragma once

#include <cstdint>
#include <string>

// Who chose the target decides what may stand in its place.
enum class TargetUse {
    named,   // the user named it: a device or terminal is written directly,
             // a symbolic link is followed (also one that points nowhere yet)
    member,  // derived from a stored name: only a file, a link (replaced,
             // never followed) or a FIFO someone reads from
};

struct Replacement {
    int dir_fd = -1;            // folder of the target (owned)
    std::string name;           // target's name inside dir_fd
    std::string temp_name;      // empty when the bytes go straight to the target
    int fd = -1;                // where the bytes go
    int cleanup_slot = -1;      // the temporary's entry for removal on a signal
    const char* refusal = nullptr;  // why the target was refused (error is 0 then)
    int error = 0;              // errno of the first failure
    // What stood at the target when writing began: nothing, or this file.
    bool target_existed = false;
    uint64_t target_dev = 0;
    uint64_t target_ino = 0;
};

// Starts writing name inside dir_fd (which the caller keeps; it is duplicated).
[[nodiscard]] bool replacement_begin(Replacement& r, int dir_fd, const std::string& name, TargetUse use);
// The same for a path: relative to the current folder, or absolute.
[[nodiscard]] bool replacement_begin_path(Replacement& r, const std::string& path, TargetUse use);
// Whether the target is no longer what stood there when writing began (a
// file appeared, or another took its place), so whoever renames over it can
// ask again whether that may be replaced.
bool replacement_target_changed(const Replacement& r);
// Closes and renames the temporary over the target. False (errno in error,
// the temporary removed, the target untouched) when the close or rename failed.
[[nodiscard]] bool replacement_commit(Replacement& r);
// Removes the temporary; the target is left as it was.
void replacement_discard(Replacement& r);
// Gives a file about to be committed the permission bits (set-user-ID,
// set-group-ID and sticky bits never) and modification time stored for it.
// A failure makes the commit fail. Devices and pipes are left as they are.
void replacement_set_attributes(Replacement& r, unsigned mode, int64_t mtime, uint32_t mtime_nsec);

// The permission bits a plain create would give (0666 less the umask).
unsigned default_file_mode();
