// What e packs: the names on the command line, each folder among them
// replaced by the regular files under it, in byte order of the names within
// each folder, so the archive never depends on the order the file system
// lists them in. Inside a folder nothing is followed or opened but folders
// (without following links); what a plain archive cannot hold is named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <vorb.h>

struct PackItem {
    std::string name;     // stored name
    std::string path;     // where it is read from; "-": standard input
    bool walked = false;  // found inside a folder: it must still be this file when opened
    uint64_t dev = 0;
    uint64_t ino = 0;
};

// A folder or a symbolic link, for an index's node records.
struct PackNode {
    bool link = false;
    std::string path;
    std::string target;  // a link's text
    vorb_file_meta meta{};
};

struct PackList {
    std::vector<PackItem> items;  // only the first VORB_MAX_MEMBERS + 1 are kept
    uint64_t item_count = 0;      // all of them, for the message when there are too many
    std::vector<PackNode> nodes;  // with nodes kept: every folder walked and every link
    std::vector<std::string> refused;  // "NAME: not packed, WHY" lines, in walk order
    std::string too_long;              // the first name longer than VORB_MAX_NAME_LENGTH
    bool stdin_twice = false;
};

// keep_nodes: an index records folders and links, so they are no refusal.
void tree_walk(PackList& list, const std::vector<std::string>& given, const std::string& stdin_name,
               bool keep_nodes);
