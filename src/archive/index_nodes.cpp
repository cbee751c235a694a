#include "archive/index_nodes.h"

#include <cstring>

#include "archive/little_endian.h"
#include "archive/names.h"

namespace {

// Every field but the path and target bytes: what can be checked before
// anything is sized by the lengths.
const char* fields_fault(const IndexNode& n, size_t path_length, size_t target_length) {
    if (n.kind != index_node_folder && n.kind != index_node_link) return "unknown node kind";
    if (n.flags & ~index_flag_attributes) return "unknown node flags";
    if (n.mode & ~index_mode_mask) return "node mode beyond the permission bits";
    if (n.mtime_nsec >= nanoseconds_per_second) return "node nanoseconds of a second out of range";
    if (!(n.flags & index_flag_attributes) && (n.mode != 0 || n.mtime_sec != 0 || n.mtime_nsec != 0))
        return "node attributes where none were recorded";
    if (path_length == 0) return "node without a path";
    if (path_length > max_name_length) return "node path longer than 198 characters";
    if (n.kind == index_node_folder && target_length != 0) return "folder with a link target";
    if (n.kind == index_node_link && target_length == 0) return "link without a target";
    if (target_length > index_max_link_length) return "link target longer than 4095 bytes";
    return nullptr;
}

const char* nul_fault(const IndexNode& n) {
    if (n.path.find('\0') != std::string::npos) return "NUL in a node path";
    if (n.target.find('\0') != std::string::npos) return "NUL in a link target";
    return nullptr;
}

}  // namespace

const char* index_node_fault(const IndexNode& node) {
    const char* why = fields_fault(node, node.path.size(), node.target.size());
    return why ? why : nul_fault(node);
}

void index_nodes_build(const std::vector<IndexNode>& nodes, std::vector<uint8_t>& out) {
    put_le(out, nodes.size(), index_node_count_size);
    for (const IndexNode& n : nodes) {
        out.push_back(n.kind);
        out.push_back(n.flags);
        put_le(out, n.mode, 2);
        put_le(out, n.mtime_nsec, 4);
        put_le(out, static_cast<uint64_t>(n.mtime_sec), 8);
        put_le(out, n.path.size(), 2);
        put_le(out, n.target.size(), 2);
        out.insert(out.end(), n.path.begin(), n.path.end());
        out.insert(out.end(), n.target.begin(), n.target.end());
    }
}

Status index_nodes_parse(const uint8_t* bytes, size_t& pos, size_t end, std::vector<IndexNode>& nodes,
                         const char*& fault) {
    const auto failed = [&](const char* why) {
        fault = why;
        return Status::damaged_index;
    };
    VORB_CHECK(end - pos >= index_node_count_size, failed("index ends before its node count"));
    const uint64_t count = get_le(bytes + pos, index_node_count_size);
    pos += index_node_count_size;
    // Bounded by the bytes present before anything is sized by it.
    VORB_CHECK(count <= (end - pos) / index_node_record_size, failed("more nodes than the index holds"));
    nodes.reserve(static_cast<size_t>(count));
    for (uint64_t k = 0; k < count; k++) {
        VORB_CHECK(end - pos >= index_node_record_size, failed("index ends inside a node record"));
        const uint8_t* p = bytes + pos;
        IndexNode n;
        n.kind = p[0];
        n.flags = p[1];
        n.mode = static_cast<uint16_t>(get_le(p + 2, 2));
        n.mtime_nsec = static_cast<uint32_t>(get_le(p + 4, 4));
        n.mtime_sec = static_cast<int64_t>(get_le(p + 8, 8));
        const size_t path_length = get_le(p + 16, 2), target_length = get_le(p + 18, 2);
        const char* why = fields_fault(n, path_length, target_length);
        VORB_CHECK(!why, failed(why));
        pos += index_node_record_size;
        VORB_CHECK(end - pos >= path_length + target_length, failed("index ends inside a node's path or target"));
        n.path.assign(reinterpret_cast<const char*>(bytes + pos), path_length);
        n.target.assign(reinterpret_cast<const char*>(bytes + pos + path_length), target_length);
        pos += path_length + target_length;
        why = nul_fault(n);
        VORB_CHECK(!why, failed(why));
        nodes.push_back(std::move(n));
    }
    return Status::ok;
}
