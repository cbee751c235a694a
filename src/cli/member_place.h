// Where an unpacked member goes: its folders are created inside the unpack
// folder one by one, each opened relative to the one before and never
// through a symbolic link, so no stored name can lead a file outside.
#pragma once

#include <string>

struct MemberPlace {
    int dir_fd = -1;         // the folder that holds the file (owned)
    std::string name;        // the file's name inside it
    const char* refusal = nullptr;  // why the name was refused (error is 0 then)
    int error = 0;           // errno of a failed open or create
};

// Opens the folder of relative (a path with '/' between components) inside
// base_fd, creating the missing ones. "." and empty components are passed
// over, so a leading "/" or "./" stays inside too. Returns false when the
// name is refused (refusal) or a folder cannot be opened or made (error).
[[nodiscard]] bool member_place_open(MemberPlace& p, int base_fd, const std::string& relative);
void member_place_close(MemberPlace& p);
